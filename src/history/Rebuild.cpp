#include "history/Rebuild.h"

#include "history/DayWriter.h"
#include "history/HistoryDb.h"
#include "history/Reader.h"

#include <algorithm>
#include <sqlite3.h>
#include <vector>

namespace vorlen::history {

namespace fs = std::filesystem;

namespace {

// Bounds the open transaction, and with it the write-ahead log, on a folder of many days.
constexpr std::uint64_t kCommitEvery = 100'000;

fs::path WithSuffix(const fs::path& file, const char* suffix) {
    fs::path p = file;
    p += suffix;
    return p;
}

void RemoveDatabase(const fs::path& file) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(WithSuffix(file, suffix), ec);
}

// Folds the old database's log into it and tells whether anyone else has it open: replacing a
// database under a writer would hand the writer's log to the new file.
bool QuietOldDatabase(const fs::path& file, std::string& error) {
    std::error_code ec;
    if (!fs::exists(file, ec))
        return true;
    sqlite3* db = nullptr;
    bool quiet = false;
    if (sqlite3_open_v2(PathText(file).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        int logFrames = -1;
        int folded = -1;
        const int rc =
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &folded);
        // A database that is not in WAL mode has nothing to fold: SQLITE_OK with -1.
        quiet = rc == SQLITE_OK;
    }
    sqlite3_close(db);
    if (!quiet)
        error = "база " + PathText(file) +
                " занята (в эту папку пишет запущенный терминал?); она не тронута";
    return quiet;
}

} // namespace

bool RebuildHistoryDb(const fs::path& folder, const std::function<void(const TRebuildStep&)>& step,
                      std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "папка истории " + PathText(folder) + " не найдена";
        return false;
    }
    std::vector<fs::path> days;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".vrec" && e.is_regular_file(ec))
            days.push_back(e.path());
    if (ec) {
        error = "папка истории " + PathText(folder) + " не читается";
        return false;
    }
    if (days.empty()) {
        error = "в папке истории " + PathText(folder) + " нет файлов дней (*.vrec)";
        return false;
    }
    // Named by date: the order of the names is the order of the days.
    std::sort(days.begin(), days.end());

    const fs::path target = folder / "history.db";
    const fs::path fresh = folder / "history.db.rebuild";
    RemoveDatabase(fresh); // left by a rebuild that was cut short
    const auto fail = [&](const std::string& why) {
        error = why;
        RemoveDatabase(fresh);
        return false;
    };
    {
        THistoryDb db;
        if (!db.Open(fresh))
            return fail(db.Error());
        TRebuildStep at;
        at.Count = days.size();
        for (const fs::path& day : days) {
            ++at.Index;
            at.File = day;
            TRecordingReader reader;
            if (!reader.Open(day)) {
                db.Close();
                return fail(PathText(day) + ": " + reader.Error());
            }
            TRecordView record;
            std::uint64_t records = 0;
            while (reader.Next(record)) {
                ++records;
                if (!db.Take(record) || (db.Pending() >= kCommitEvery && !db.Commit()))
                    return fail(db.Error());
            }
            if (!db.Commit())
                return fail(db.Error());
            at.Records = records;
            at.Skipped = reader.SkippedFrames();
            if (step)
                step(at);
        }
        db.Close();
    }
    if (!QuietOldDatabase(target, error))
        return fail(error);
    fs::rename(fresh, target, ec);
    if (ec)
        return fail("база " + PathText(target) + " не заменена: " + ec.message());
    // The old database's log, if one outlived it, belongs to pages the new file does not have.
    for (const char* suffix : {"-wal", "-shm"})
        fs::remove(WithSuffix(target, suffix), ec);
    return true;
}

} // namespace vorlen::history

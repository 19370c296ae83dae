// A recording console against the offline exchange with the whole market's streams: through
// every fault the exchange can put in its way, the replay of the day's file dumps exactly what the
// live run dumped; and a recorder killed outright leaves a day file and a database that read back.

#include "SimHarness.h"

#if VORLEN_HISTORY

#include "history/Reader.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sqlite3.h>
#include <thread>

namespace vorlen::e2e {

namespace {

constexpr const char* kOnline = "Инструменты добавлены.";

std::vector<fs::path> Recordings(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".vrec")
            files.push_back(e.path());
    return files;
}

std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::string StreamOnline(const std::string& stream) {
    return "Поток " + stream + " Перешел в режим Он-Лайн";
}

// How many times each stream the run subscribed has come on-line so far.
std::map<std::string, int> Onlines(const TConsoleRun& run) {
    std::map<std::string, int> counts;
    const std::string head = "Поток ", tail = " Перешел в режим Он-Лайн";
    for (const std::string& t : JournalTextsFrom(run.Stdout(), head))
        if (t.size() > head.size() + tail.size() &&
            t.compare(t.size() - tail.size(), tail.size(), tail) == 0)
            ++counts[t.substr(head.size(), t.size() - head.size() - tail.size())];
    return counts;
}

// Every stream of `before` has come on-line once more since.
bool AllBackOnline(const TConsoleRun& run, const std::map<std::string, int>& before) {
    return WaitUntil([&] {
        const auto now = Onlines(run);
        return std::all_of(before.begin(), before.end(), [&](const auto& s) {
            const auto it = now.find(s.first);
            return it != now.end() && it->second > s.second;
        });
    });
}

// The rows the router's table holds; -1 when it cannot tell.
long RouterRows(const TSimInstall& inst, const std::string& stream, const std::string& table) {
    const std::string reply = inst.Control("rows " + stream + " " + table);
    return reply.rfind("OK rows=", 0) == 0 ? std::stol(reply.substr(8)) : -1;
}

// Lets the background market fill the orders log and the deals before the next step, so that
// the faults have rows to drop and the comparison has rows to compare.
bool MarketFilled(const TSimInstall& inst, long orders, long deals) {
    return WaitUntil([&] {
        return RouterRows(inst, "FORTS_ORDLOG_REPL", "orders_log") >= orders &&
               RouterRows(inst, "FORTS_DEALS_REPL", "deal") >= deals;
    });
}

} // namespace

TEST(RecordedSession, ThroughEveryFaultTheReplayDumpsWhatTheLiveRunDumped) {
    TSimInstall inst;
    const fs::path settings = WriteWholeMarketSettings(inst);
    ASSERT_FALSE(settings.empty());
    const fs::path history = inst.Root / "hist";
    const fs::path live = inst.Root / "live";
    const fs::path replayed = inst.Root / "replayed";
    TConsoleRun run(inst, {"--settings", settings.string(), "--seconds", "120", "--record",
                           "--history", history.string(), "--dump", live.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    for (const char* stream : kExtraStreams)
        ASSERT_EQ(run.CountJournal(StreamOnline(stream)), 1) << stream << run.Stdout();

    ASSERT_TRUE(MarketFilled(inst, 40, 3));

    // The connection drops: every stream is opened and sent again.
    auto before = Onlines(run);
    ASSERT_EQ(inst.Control("drop").rfind("OK dropped", 0), 0u);
    ASSERT_TRUE(AllBackOnline(run, before)) << run.Stdout();

    // Rows below a revision go; a new life number empties the whole market's orders log, whose
    // table shares its name with the trader's own.
    ASSERT_EQ(inst.Control("cleardeleted FORTS_TRADE_REPL orders_log").rfind("OK", 0), 0u);
    const int ordlog = run.CountJournal(StreamOnline("FORTS_ORDLOG_REPL"));
    ASSERT_EQ(inst.Control("lifenum FORTS_ORDLOG_REPL").rfind("OK lifenum", 0), 0u);
    ASSERT_TRUE(run.WaitForJournal(StreamOnline("FORTS_ORDLOG_REPL"), ordlog + 1)) << run.Stdout();

    // The router dies and the terminal starts another in its place.
    const std::vector<pid_t> routers = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
    ASSERT_EQ(routers.size(), 1u);
    before = Onlines(run);
    kill(routers[0], SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return ProcessGone(routers[0]); }));
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<pid_t> now = ChildrenNamed(run.Pid(), "P2MQRouter64.exe");
        return now.size() == 1 && now[0] != routers[0] && inst.Control("ping").rfind("OK", 0) == 0;
    })) << run.Stdout();
    ASSERT_TRUE(AllBackOnline(run, before)) << run.Stdout();
    ASSERT_TRUE(MarketFilled(inst, 40, 3));

    // The new router's orders log loses its oldest rows too, and a message of the exchange is
    // journalled: the dump holds it all the same.
    ASSERT_EQ(inst.Control("cleardeleted FORTS_ORDLOG_REPL orders_log").rfind("OK", 0), 0u);
    ASSERT_EQ(inst.Control("sysmsg ru Запись сессии проверена").rfind("OK sysmsg", 0), 0u);
    ASSERT_TRUE(WaitUntil([&] {
        for (const std::string& t : JournalTexts(run.Stdout()))
            if (t.find(": Запись сессии проверена") != std::string::npos)
                return true;
        return false;
    })) << run.Stdout();
    ASSERT_TRUE(MarketFilled(inst, 100, 8));
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Wait(60s).has_value()) << run.Stderr();

    const auto files = Recordings(history);
    ASSERT_EQ(files.size(), 1u) << run.Stderr();
    TConsoleRun replay(inst, {"--settings", settings.string(), "--replay-file", files[0].string(),
                              "--dump", replayed.string()});
    ASSERT_TRUE(replay.Started());
    ASSERT_EQ(replay.Wait(60s), 0) << replay.Stderr();
    EXPECT_EQ(replay.Stderr().find("missing from the recording"), std::string::npos)
        << replay.Stderr();

    const std::set<std::string> names = FileNames(live);
    ASSERT_EQ(FileNames(replayed), names);
    for (const std::string& name : names)
        // Whole files are too long to print; the name says where to look.
        EXPECT_TRUE(ReadFile(replayed / name) == ReadFile(live / name)) << name;

    // What the comparison covers: the extra streams' tables, kept apart by stream, and the
    // message the journal has already shown.
    for (const auto& [name, rows] :
         std::vector<std::pair<const char*, std::size_t>>{{"FORTS_ORDLOG_REPL.orders_log.tsv", 30},
                                                          {"FORTS_DEALS_REPL.deal.tsv", 3},
                                                          {"FORTS_COMMON_REPL.common.tsv", 1},
                                                          {"orders_log.tsv", 1},
                                                          {"grid_orders.tsv", 1}})
        EXPECT_GE(TsvRows(live / name).size(), rows + 1) << name;
    EXPECT_EQ(names.count("FORTS_TRADE_REPL.orders_log.tsv"), 0u) << "a key table keeps its name";
    EXPECT_NE(ReadFile(live / "sys_messages.tsv").find("Запись сессии проверена"),
              std::string::npos);
}

TEST(RecordedSession, AKilledRecorderLeavesADayFileAndADatabaseThatReadBack) {
    TSimInstall inst;
    const fs::path settings = WriteWholeMarketSettings(inst);
    ASSERT_FALSE(settings.empty());
    const fs::path history = inst.Root / "hist";
    TConsoleRun run(inst, {"--settings", settings.string(), "--seconds", "120", "--record",
                           "--history", history.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForJournal(kOnline)) << run.Stdout() << run.Stderr();
    // The recorder is under way once its day file has grown after the lists were built.
    std::vector<fs::path> files;
    ASSERT_TRUE(WaitUntil([&] { return (files = Recordings(history)).size() == 1; }));
    const auto grown = [&](std::uintmax_t than) {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(files[0], ec);
        return !ec && size > than;
    };
    std::error_code ec;
    const std::uintmax_t atOnline = fs::file_size(files[0], ec);
    ASSERT_TRUE(WaitUntil([&] { return grown(atOnline); }));
    // The kill lands between two writes of the day file rather than right after one.
    std::this_thread::sleep_for(600ms);
    const std::int64_t killedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
    run.Signal(SIGKILL);
    ASSERT_EQ(run.Wait(30s), 128 + SIGKILL);

    history::TRecordingReader reader;
    ASSERT_TRUE(reader.Open(files[0])) << reader.Error();
    history::TRecordView record;
    std::uint64_t records = 0;
    std::int64_t lastNs = 0;
    while (reader.Next(record)) {
        ++records;
        lastNs = std::max(lastNs, record.TimeNs);
    }
    EXPECT_GT(records, 100u);
    // Frames reach the disk at least once a second; a sanitized build may lag a little more.
    EXPECT_GE(lastNs, killedNs - 1'500'000'000) << (killedNs - lastNs) / 1'000'000 << " ms";
    EXPECT_LE(lastNs, killedNs);
    RecordProperty("last_record_before_kill_ms", std::to_string((killedNs - lastNs) / 1'000'000));

    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2((history / "history.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
        SQLITE_OK);
    const auto one = [db](const char* sql) {
        sqlite3_stmt* st = nullptr;
        std::string text;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr)
            text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return text;
    };
    EXPECT_EQ(one("PRAGMA integrity_check"), "ok");
    EXPECT_NE(one("SELECT count(*) FROM deal"), "0");
    sqlite3_close(db);
}

} // namespace vorlen::e2e

#endif

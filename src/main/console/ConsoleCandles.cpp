#include "main/console/ConsoleCandles.h"

#include "history/Candles.h"
#include "history/DayWriter.h"
#include "history/Rebuild.h"
#include "settings/SavedSettings.h"

#include <cstdint>
#include <fstream>
#include <limits>
#include <sqlite3.h>
#include <string>
#include <tuple>
#include <vector>

namespace vorlen {

int RunCandles(const TConsoleOptions& options, const std::filesystem::path& historyDir,
               std::ostream& err) {
    const auto interval =
        history::ParseInterval(options.Interval.empty() ? "1m" : options.Interval);
    std::int64_t from = std::numeric_limits<std::int64_t>::min() / 2;
    std::int64_t to = std::numeric_limits<std::int64_t>::max() / 2;
    for (const auto& [name, text, value] :
         {std::tuple{"--from", &options.From, &from}, std::tuple{"--to", &options.To, &to}}) {
        if (text->empty())
            continue;
        const auto ms = history::ParseExchangeTime(*text);
        if (!ms) {
            err << "vorlen-console: " << name << " wants \"YYYY-MM-DD HH:MM\", not \"" << *text
                << "\"\n"
                << std::flush;
            return kExitUsage;
        }
        *value = *ms;
    }
    const std::filesystem::path file = historyDir / "history.db";
    sqlite3* db = nullptr;
    // Read only: the terminal may be writing the database at the same time.
    if (!interval ||
        sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        err << "vorlen-console: --candles: " << file.string() << ": "
            << (db != nullptr ? sqlite3_errmsg(db) : "cannot be opened") << '\n'
            << std::flush;
        sqlite3_close(db);
        return kExitErrorBox;
    }
    sqlite3_busy_timeout(db, 2000);
    std::vector<history::TCandle> candles;
    std::string error;
    const auto isin = history::FindInstrument(db, options.CandlesIsin);
    const bool read = isin && history::QueryCandles(db, *isin, *interval, from, to, candles, error);
    sqlite3_close(db);
    if (!read) {
        err << "vorlen-console: --candles: "
            << (isin ? error : options.CandlesIsin + ": no such instrument in " + file.string())
            << '\n'
            << std::flush;
        return kExitErrorBox;
    }
    std::ofstream out(PathFromUtf8(options.OutFile), std::ios::binary | std::ios::trunc);
    out.precision(15);
    out << "time\topen\thigh\tlow\tclose\tvolume\n";
    const bool tick = *interval == history::TInterval::Tick;
    for (const history::TCandle& c : candles) {
        std::string when = history::FormatExchangeTime(c.StartMs);
        if (tick) {
            const auto ms = static_cast<int>(((c.StartMs % 1000) + 1000) % 1000);
            when += '.' + std::to_string(1000 + ms).substr(1);
        }
        out << when << '\t' << c.Open << '\t' << c.High << '\t' << c.Low << '\t' << c.Close << '\t'
            << c.Volume << '\n';
    }
    out.close();
    if (!out) {
        err << "vorlen-console: --out: " << options.OutFile << ": cannot be written\n"
            << std::flush;
        return kExitErrorBox;
    }
    return 0;
}

int RunRebuildHistory(const std::filesystem::path& historyDir, std::ostream& err) {
    std::string error;
    const bool rebuilt = history::RebuildHistoryDb(
        historyDir,
        [&err](const history::TRebuildStep& s) {
            err << "vorlen-console: --rebuild-history: " << s.Index << '/' << s.Count << ' '
                << history::PathText(s.File.filename()) << ": " << s.Records << " records";
            if (s.Skipped != 0)
                err << ", " << s.Skipped << " damaged places passed over";
            err << '\n' << std::flush;
        },
        error);
    if (!rebuilt) {
        err << "vorlen-console: --rebuild-history: " << error << '\n' << std::flush;
        return kExitErrorBox;
    }
    err << "vorlen-console: --rebuild-history: " << history::PathText(historyDir / "history.db")
        << " rebuilt\n"
        << std::flush;
    return 0;
}

} // namespace vorlen

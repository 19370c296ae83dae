#include "main/console/ConsoleDesk.h"

#include "book/BookKeeper.h"
#include "connector/Connector.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "store/Storage.h"

namespace vorlen {

bool LoadRiskLimits(const TConsoleOptions& options, const std::filesystem::path& dataDir,
                    orders::TLimitsBook& book, std::ostream& err) {
    const std::filesystem::path file = options.RiskFile.empty() ? dataDir / orders::kLimitsFileName
                                                                : PathFromUtf8(options.RiskFile);
    std::error_code ec;
    if (options.RiskFile.empty() &&
        !std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
        return true; // the built-in limits
    }
    std::string error;
    if (!ReadLimitsFile(file, book, error)) {
        err << "vorlen-console: " << (options.RiskFile.empty() ? "" : "--risk: ")
            << PathToUtf8(file) << ": " << error << '\n';
        return false;
    }
    return true;
}

namespace {

TTerminalDeskParts ConsoleDeskParts(TCGConnector& conn, orders::TLimitsBook limits,
                                    TJournalSink& journal, const std::filesystem::path& dataDir) {
    TTerminalDeskParts parts;
    parts.Transactions = conn.Transactions();
    parts.Store = conn.Storage();
    parts.Health = &conn.Health();
    parts.Books = conn.Books();
    parts.Dir = dataDir;
    parts.Limits = std::move(limits);
    // The strategy's orders are journalled from its expert's thread; the output is the UI
    // thread's.
    parts.Journal = [&journal](const std::string& text) {
        const std::string line = JournalLine(text);
        if (ui::IsUiThread()) {
            journal.AppendLine(line);
        } else {
            TThread::Synchronize([&] { journal.AppendLine(line); });
        }
    };
    // The console's strategy is stopped by the end of the run, not by a kill switch.
    return parts;
}

} // namespace

TConsoleDesk::TConsoleDesk(TCGConnector& conn, orders::TLimitsBook limits, TJournalSink& journal,
                           const std::filesystem::path& dataDir)
    : FStore(*conn.Storage()), FBooks(conn.Books()),
      FDesk(ConsoleDeskParts(conn, std::move(limits), journal, dataDir)) {}

} // namespace vorlen

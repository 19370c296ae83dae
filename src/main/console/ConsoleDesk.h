#pragma once

// The console's one order desk, shared by its --order lines and its expert's strategy, so that
// both pass the same gate and count against the same limits: the transport over the transaction
// connection, the replica's facts, the order log file, the health monitor's judgement of both
// links and the book keeper's best prices.

#include "main/TerminalDesk.h"
#include "main/console/ConsoleOptions.h"
#include "platform/Journal.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

namespace vorlen {

class TBookKeeper;
class TCGStorage;
class TCGTRConnection;
class TCGConnector;

// The limits of --risk FILE, else of the file beside the saved settings, else the built-in
// ones. False, with the reason on `err`, for a file that cannot be read or is damaged.
bool LoadRiskLimits(const TConsoleOptions& options, const std::filesystem::path& dataDir,
                    orders::TLimitsBook& book, std::ostream& err);

class TConsoleDesk {
public:
    // `conn` must have its transaction connection and store; all must outlive the desk's use.
    // Journal lines written off the UI thread reach `journal` through it.
    TConsoleDesk(TCGConnector& conn, orders::TLimitsBook limits, TJournalSink& journal,
                 const std::filesystem::path& dataDir);
    TConsoleDesk(const TConsoleDesk&) = delete;
    TConsoleDesk& operator=(const TConsoleDesk&) = delete;

    orders::TOrderDesk& Desk() { return FDesk.Desk(); }
    TCGStorage& Store() { return FStore; }
    TBookKeeper* Books() { return FBooks; }
    // Both links on-line as the gate judges them.
    bool Online() const { return FDesk.Online(); }

private:
    TCGStorage& FStore;
    TBookKeeper* FBooks;
    TTerminalDesk FDesk;
};

} // namespace vorlen

#pragma once

// The console's one order desk, shared by its --order lines and its expert's strategy, so that
// both pass the same gate and count against the same limits: the transport over the transaction
// connection, the replica's facts, the order log file, the health monitor's judgement of both
// links and the book keeper's best prices.

#include "health/HealthMonitor.h"
#include "main/console/ConsoleOptions.h"
#include "orders/OrderDesk.h"
#include "orders/TrTransport.h"
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

// The best price an order on `side` would trade against, in the gate's units; none without a
// live book or with that side empty.
std::optional<std::int64_t> BestOppositeUnits(const TBookKeeper& books, std::int32_t isinId,
                                              orders::TSide side);

class TConsoleDesk {
public:
    // `conn` must have its transaction connection and store; all must outlive the desk's use.
    // Journal lines written off the UI thread reach `journal` through it.
    TConsoleDesk(TCGConnector& conn, orders::TLimitsBook limits, TJournalSink& journal,
                 const std::filesystem::path& dataDir);
    TConsoleDesk(const TConsoleDesk&) = delete;
    TConsoleDesk& operator=(const TConsoleDesk&) = delete;

    orders::TOrderDesk& Desk() { return *FDesk; }
    TCGStorage& Store() { return FStore; }
    TBookKeeper* Books() { return FBooks; }
    // Both links on-line as the gate judges them.
    bool Online();

private:
    orders::TLinkHealth Link(THealthLink link) const;

    TCGStorage& FStore;
    TBookKeeper* FBooks;
    const THealthMonitor* FHealth;
    orders::TTrTransport FTransport;
    orders::TStoreReader FReader;
    // The reference facts of the desk's last read, for the book's lookups (the desk's lock
    // covers both).
    std::shared_ptr<const orders::TRefFacts> FRef;
    orders::TOrderLogFile FLog;
    std::unique_ptr<orders::TOrderDesk> FDesk;
};

} // namespace vorlen

#pragma once

// The program's order desk while the transaction connection runs: the desk over that connection,
// the store's facts, both links' health as the health monitor judges them, the book keeper's best
// prices, the limits file and the order log beside the saved settings.

#include "health/HealthMonitor.h"
#include "orders/OrderDesk.h"
#include "orders/TrTransport.h"
#include "platform/FileLock.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vorlen {

class TBookKeeper;
class TCGStorage;
class TCGTRConnection;

// The gate's view of one link: the monitor's judgement, so a link that claims to be active while
// the exchange has gone silent counts as stale.
orders::TLinkHealth DeskLinkHealth(const THealthMonitor* health, THealthLink link);

// The best price an order on `side` would trade against, in the gate's units; none without a
// live book or with that side empty.
std::optional<std::int64_t> BestOppositeUnits(const TBookKeeper& books, std::int32_t isinId,
                                              orders::TSide side);

struct TTerminalDeskParts {
    TCGTRConnection* Transactions = nullptr;
    TCGStorage* Store = nullptr;
    const THealthMonitor* Health = nullptr;
    const TBookKeeper* Books = nullptr; // may be null: no distance rule then
    std::filesystem::path Dir;          // the limits file and the order logs
    // Limits read elsewhere (the console's --risk); none: the limits file of `Dir`.
    std::optional<orders::TLimitsBook> Limits;
    // Called from whichever thread used the desk.
    std::function<void(const std::string& text)> Journal;
    std::function<void()> StopStrategies;
};

class TTerminalDesk {
public:
    // Reads the limits file of `parts.Dir`; a damaged one is reported in the journal and no order
    // goes until the trader sets limits again. Takes the data folder's lock: without it (another
    // terminal trades from the folder) every order is refused.
    explicit TTerminalDesk(TTerminalDeskParts parts);
    TTerminalDesk(const TTerminalDesk&) = delete;
    TTerminalDesk& operator=(const TTerminalDesk&) = delete;
    orders::TOrderDesk& Desk() { return *FDesk; }
    // Both links on-line as the gate judges them.
    bool Online() const;

private:
    std::optional<std::int64_t> BestOpposite(const std::string& isin, orders::TSide side);

    TTerminalDeskParts FParts;
    std::unique_ptr<orders::TStoreReader> FReader;
    orders::TOrderLogFile FLog;
    platform::TFileLock FFolderLock;
    // The reference rows of the last read (the desk reads the facts before it asks for a price,
    // both under its own lock).
    std::shared_ptr<const orders::TRefFacts> FRef;
    std::unique_ptr<orders::TTrTransport> FTransport;
    std::unique_ptr<orders::TOrderDesk> FDesk;
};

// Held by the terminal that trades from a data folder; a second one there refuses its orders.
inline constexpr const char* kFolderLockName = "vorlen.lock";

// Where the limits file and the order logs live: $VORLEN_DATA_DIR when set (made absolute),
// else `fallback`. Tests and benches set it so that no two runs share a day's order log.
std::filesystem::path TradingDataDir(const std::filesystem::path& fallback);
// A limits file: false with `error` (the book unchanged) for anything but a readable regular
// file of at most 1 MB that parses whole.
bool ReadLimitsFile(const std::filesystem::path& file, orders::TLimitsBook& book,
                    std::string& error);
// The limits file of `dir`: the built-in limits when there is none; false with `error` when it
// cannot be read or is not a limits file (the book is then unchanged).
bool LoadLimitsFile(const std::filesystem::path& dir, orders::TLimitsBook& book,
                    std::string& error);
// What the limits dialog starts from: the file as it is, or the built-in limits written out.
std::string LimitsFileText(const std::filesystem::path& dir);
// The question asked before limits that stop trading (TLimitsBook::Stopping) are saved; empty
// when there are none.
std::string StoppingLimitsQuestion(const std::vector<std::string>& stopping);
// Checks `text` as a limits file and writes it owner-only; false with `error` otherwise.
bool SaveLimitsFile(const std::filesystem::path& dir, const std::string& text,
                    orders::TLimitsBook& parsed, std::string& error);

} // namespace vorlen

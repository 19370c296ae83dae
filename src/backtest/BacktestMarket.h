#pragma once

// The recorded market of one instrument as a backtest trades against it: the day's replay into
// a store of the backtest's own, with a book keeper of its own following it, and what the fill
// models need taken from it — the others' levels (the live run's own resting orders, which the
// recording's orders log shows, taken out) and the market's deals (those of the live run's own
// orders left out: without those orders they would not have traded).

#include "book/Book.h"
#include "book/BookKeeper.h"
#include "history/Replay.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vorlen::backtest {

using TLevels = std::vector<std::pair<std::int64_t, std::int64_t>>; // price (1e-5), volume

struct TMarketDeal {
    std::int64_t Price = 0;
    std::int64_t Qty = 0;
    std::optional<bool> RestingBuy; // the side whose order stood in the book, when known
};

class TDayMarket {
public:
    TDayMarket();
    ~TDayMarket();
    TDayMarket(const TDayMarket&) = delete;
    TDayMarket& operator=(const TDayMarket&) = delete;

    bool Open(const std::filesystem::path& file, std::string& error);
    history::TReplay& Replay() { return *FReplay; }
    TCGStorage& Store() { return FReplay->Store(); }
    void SetIsinId(std::int32_t isinId) { FIsinId = isinId; }

    // Applies a record; true when it changed a row of the instrument.
    bool Apply(const history::TRecordView& record);
    // Reads the book again after the records applied since the last call; true when the
    // others' levels changed. Lets the store's lock go.
    bool SyncBook();
    const TLevels& Bids() const { return FBids; }
    const TLevels& Asks() const { return FAsks; }
    const TBookSnapshot& Snapshot() const { return FSnap; }
    // The deals recorded since the last call.
    std::vector<TMarketDeal> TakeDeals();

private:
    struct TTableRole {
        enum class TKind { Other, Deal, OwnLog } Kind = TKind::Other;
        const TRowLayout* Layout = nullptr;
        int Price = -1, Amount = -1, IdBuy = -1, IdSell = -1, OrderId = -1;
    };
    void Describe();
    void OnDeal(const TTableRole& role, const std::uint8_t* data, std::size_t size);

    std::unique_ptr<history::TReplay> FReplay;
    std::unique_ptr<TBookKeeper> FKeeper;
    std::int32_t FIsinId = 0;
    std::vector<std::vector<TTableRole>> FRoles; // by stream, by table
    std::vector<std::shared_ptr<TRows>> FHeld;   // keeps the layouts alive
    std::set<std::int64_t> FOwnIds;              // the live run's own orders
    std::vector<TMarketDeal> FDeals;
    TBookSnapshot FSnap;
    TLevels FBids, FAsks;
};

} // namespace vorlen::backtest

#pragma once

// The live part of a chart, read from the replica on the window's thread: the market's deals
// (FORTS_DEALS_REPL, table deal) and the trader's own (FORTS_TRADE_REPL, user_deal) of one
// instrument, and the position's average price. Deal rows only ever arrive, so each poll reads
// the rows past where the last one stopped, a bounded number at a time under one short hold of
// the store's lock; the market-data thread does nothing for it.

#include "chart/ChartData.h"
#include "store/StoreRecords.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vorlen {
class TCGStorage;
class TRows;
} // namespace vorlen

namespace vorlen::chart {

inline constexpr std::string_view kDealStream = "FORTS_DEALS_REPL";

struct TTailPoll {
    std::vector<TLiveDeal> Deals;
    std::vector<TOwnFill> Fills;
    // The deal stream is among the subscribed streams.
    bool Subscribed = false;
    // The position over all client codes, and its average price; nothing without a position.
    std::int64_t Position = 0;
    std::optional<double> AveragePrice;
};

class TDealTail {
public:
    // Rows read per table and poll: a first poll on a day's table is spread over a few polls
    // rather than keeping the market-data thread out for long.
    static constexpr std::size_t kRowsPerPoll = 50'000;

    TDealTail(TCGStorage& store, std::int32_t isinId) : FStore(store), FIsinId(isinId) {}
    // What arrived since the last poll.
    void Poll(TTailPoll& out);

private:
    // Where one table was read up to, and where its fields lie.
    struct TCursor {
        TTable Table;
        bool Found = false;
        std::uint64_t Generation = ~0ULL;
        std::size_t Next = 0;
        const void* Layout = nullptr;
        int IsinId = -1, IdDeal = -1, Sess = -1, Price = -1, Amount = -1, Moment = -1;
        int BuyOrder = -1, SellOrder = -1;
        void Resolve(const TRows& rows);
    };
    void Describe();
    template <class F>
    void ReadNew(TCursor& c, const TRows& rows, F&& take);

    TCGStorage& FStore;
    std::int32_t FIsinId;
    TCursor FDeals, FOwn, FPos;
    bool FSubscribed = false;
    int FPolls = 0;
    std::uint64_t FPosChanges = ~0ULL;
    std::int64_t FPosition = 0;
    std::optional<double> FAverage;
};

} // namespace vorlen::chart

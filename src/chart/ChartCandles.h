#pragma once

// The candles one chart shows: what history.db held when the chart opened, continued by the
// deals the market-data stream brings. Both sides see the same deals for a while (the recorder
// writes what the stream delivered, and the stream resends the session after a reconnect), so a
// deal is counted once by its id, wherever it came from.
//
// Candles are stamped as history/Candles.h stamps them: the start of the interval in exchange
// time, a day candle by the midnight of its session's last deal, a tick candle by its deal.

#include "history/Candles.h"

#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

namespace vorlen::chart {

using history::TCandle;
using history::TInterval;

// One deal of the market as the chart takes it.
struct TLiveDeal {
    std::int64_t IdDeal = 0;
    std::int32_t SessId = 0;
    std::int64_t MomentMs = 0; // UTC
    double Price = 0;
    std::int64_t Amount = 0;
};

// The start of the fixed interval `lenMs` holding `ms`, intervals counted in exchange time.
std::int64_t IntervalStart(std::int64_t ms, std::int64_t lenMs);

class TCandleCache {
public:
    explicit TCandleCache(TInterval interval) : FInterval(interval) {}

    TInterval Interval() const { return FInterval; }
    // Starts again from the history's candles (oldest first). `lastSession` is the session of
    // their last deal, which a day candle needs to tell whether a live deal continues it.
    void SetHistory(std::vector<TCandle> candles, std::int32_t lastSession = 0);
    // Deals the history has already counted: a live deal among them changes nothing.
    void AddCounted(std::span<const std::int64_t> ids);
    // Counts a live deal; false when it was counted before.
    bool Add(const TLiveDeal& deal);

    const std::vector<TCandle>& Candles() const { return FCandles; }
    // Grows with every change to the candles.
    std::uint64_t Version() const { return FVersion; }

private:
    // Which of two deals in one candle came later: by time, then by id.
    struct TKey {
        std::int64_t MomentMs;
        std::int64_t Id;
        bool operator<(const TKey& o) const {
            return MomentMs != o.MomentMs ? MomentMs < o.MomentMs : Id < o.Id;
        }
        bool operator>(const TKey& o) const { return o < *this; }
    };
    struct TOrder {
        TKey First;
        TKey Last;
        std::int32_t Sess = 0;
    };
    std::size_t Locate(const TLiveDeal& deal, const TKey& key, bool& fresh);
    void Merge(std::size_t at, const TLiveDeal& deal, const TKey& key);

    TInterval FInterval;
    std::vector<TCandle> FCandles;
    std::vector<TOrder> FOrder; // beside FCandles, index for index
    std::unordered_set<std::int64_t> FCounted;
    std::uint64_t FVersion = 0;
};

} // namespace vorlen::chart

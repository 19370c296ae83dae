#include "chart/ChartCandles.h"

#include "history/HistoryDb.h"

#include <algorithm>
#include <limits>

namespace vorlen::chart {

namespace {

constexpr std::int64_t kDayMs = 86'400'000;
constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
// A day candle's session is looked for among the last few candles only: a deal of a session
// that ended days ago does not come live.
constexpr std::size_t kSessionReach = 4;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

std::int64_t IntervalStart(std::int64_t ms, std::int64_t lenMs) {
    return FloorDiv(ms + history::kExchangeOffsetMs, lenMs) * lenMs - history::kExchangeOffsetMs;
}

void TCandleCache::SetHistory(std::vector<TCandle> candles, std::int32_t lastSession) {
    FCandles = std::move(candles);
    // What the history holds was recorded before any live deal not counted by it arrived: a
    // live deal never opens a history candle and always closes it.
    FOrder.assign(FCandles.size(), TOrder{{kLowest, kLowest}, {kLowest, kLowest}, 0});
    if (!FOrder.empty())
        FOrder.back().Sess = lastSession;
    FCounted.clear();
    ++FVersion;
}

void TCandleCache::AddCounted(std::span<const std::int64_t> ids) {
    FCounted.insert(ids.begin(), ids.end());
}

bool TCandleCache::Add(const TLiveDeal& deal) {
    if (!FCounted.insert(deal.IdDeal).second)
        return false;
    const TKey key{deal.MomentMs, deal.IdDeal};
    bool fresh = false;
    const std::size_t at = Locate(deal, key, fresh);
    if (!fresh)
        Merge(at, deal, key);
    ++FVersion;
    return true;
}

std::size_t TCandleCache::Locate(const TLiveDeal& deal, const TKey& key, bool& fresh) {
    const auto byStart = [](const TCandle& c, std::int64_t ms) { return c.StartMs < ms; };
    std::int64_t start = deal.MomentMs;
    std::size_t at = FCandles.size();
    if (FInterval == TInterval::Day1) {
        start = IntervalStart(deal.MomentMs, kDayMs);
        const std::size_t reach = std::min(FCandles.size(), kSessionReach);
        for (std::size_t i = FCandles.size(); i > FCandles.size() - reach; --i)
            if (FOrder[i - 1].Sess == deal.SessId && deal.SessId != 0)
                return i - 1;
        if (!FCandles.empty() && start < FCandles.back().StartMs)
            at = static_cast<std::size_t>(
                std::upper_bound(FCandles.begin(), FCandles.end(), start,
                                 [](std::int64_t ms, const TCandle& c) { return ms < c.StartMs; }) -
                FCandles.begin());
    } else if (FInterval == TInterval::Tick) {
        if (!FCandles.empty() && start < FCandles.back().StartMs)
            at = static_cast<std::size_t>(
                std::upper_bound(FCandles.begin(), FCandles.end(), start,
                                 [](std::int64_t ms, const TCandle& c) { return ms < c.StartMs; }) -
                FCandles.begin());
    } else {
        start = IntervalStart(deal.MomentMs, history::IntervalMs(FInterval));
        if (!FCandles.empty() && start <= FCandles.back().StartMs) {
            const auto it = std::lower_bound(FCandles.begin(), FCandles.end(), start, byStart);
            at = static_cast<std::size_t>(it - FCandles.begin());
            if (it != FCandles.end() && it->StartMs == start)
                return at;
        }
    }
    fresh = true;
    const TCandle c{start, deal.Price, deal.Price, deal.Price, deal.Price, deal.Amount};
    FCandles.insert(FCandles.begin() + static_cast<std::ptrdiff_t>(at), c);
    FOrder.insert(FOrder.begin() + static_cast<std::ptrdiff_t>(at), TOrder{key, key, deal.SessId});
    return at;
}

void TCandleCache::Merge(std::size_t at, const TLiveDeal& deal, const TKey& key) {
    TCandle& c = FCandles[at];
    TOrder& o = FOrder[at];
    c.High = std::max(c.High, deal.Price);
    c.Low = std::min(c.Low, deal.Price);
    c.Volume += deal.Amount;
    if (key < o.First) {
        o.First = key;
        c.Open = deal.Price;
    }
    if (key > o.Last) {
        o.Last = key;
        c.Close = deal.Price;
        // A session's candle carries the day of its last deal: the evening that opens a trading
        // day moves on to that day once the day's own deals come.
        if (FInterval == TInterval::Day1) {
            const std::int64_t day = IntervalStart(deal.MomentMs, kDayMs);
            const bool lastCandle = at + 1 == FCandles.size();
            if (day > c.StartMs && (lastCandle || FCandles[at + 1].StartMs >= day))
                c.StartMs = day;
        }
    }
    if (deal.SessId != 0)
        o.Sess = deal.SessId;
}

} // namespace vorlen::chart

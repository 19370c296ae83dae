// The chart's candles: history continued by live deals, each deal counted once, at the
// intervals' boundaries in exchange time, and kept across a switch of interval.

#include "chart/ChartData.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorlen::chart {
namespace {

// Exchange (Moscow) wall time to UTC ms.
std::int64_t Msk(const char* text, int ms = 0) {
    return *history::ParseExchangeTime(text) + ms;
}

TLiveDeal Deal(std::int64_t id, std::int64_t moment, double price, std::int64_t amount = 1,
               std::int32_t sess = 1) {
    return {id, sess, moment, price, amount};
}

struct TCase {
    const char* Name;
    TInterval Interval;
    std::vector<TCandle> History;
    std::int32_t LastSession;
    std::vector<std::int64_t> Counted;
    std::vector<TLiveDeal> Deals;
    std::vector<TCandle> Expected;
};

TEST(ChartCandles, LiveDealsContinueTheHistoryAtIntervalBoundaries) {
    const std::int64_t m1000 = Msk("2026-12-10 10:00");
    const std::int64_t m1005 = Msk("2026-12-10 10:05");
    const std::int64_t d9 = Msk("2026-12-09 00:00");
    const std::int64_t d10 = Msk("2026-12-10 00:00");
    const std::vector<TCase> cases = {
        {"the last millisecond and the first of the next interval",
         TInterval::Minute5,
         {},
         0,
         {},
         {Deal(1, Msk("2026-12-10 10:04:59", 999), 100), Deal(2, m1005, 101, 2)},
         {{m1000, 100, 100, 100, 100, 1}, {m1005, 101, 101, 101, 101, 2}}},
        {"an hour starts on the exchange's clock, not on UTC's",
         TInterval::Hour1,
         {},
         0,
         {},
         {Deal(1, Msk("2026-12-10 09:59:59"), 10), Deal(2, Msk("2026-12-10 10:00"), 11)},
         {{Msk("2026-12-10 09:00"), 10, 10, 10, 10, 1}, {m1000, 11, 11, 11, 11, 1}}},
        {"a late deal of an earlier moment opens the candle and does not close it",
         TInterval::Minute1,
         {},
         0,
         {},
         {Deal(5, m1000 + 30'000, 100), Deal(4, m1000 + 10'000, 98), Deal(6, m1000 + 50'000, 99)},
         {{m1000, 98, 100, 98, 99, 3}}},
        {"a deal seen again, or already counted by the history, changes nothing",
         TInterval::Minute1,
         {{m1000, 100, 102, 99, 101, 10}},
         1,
         {7},
         {Deal(7, m1000 + 1000, 150), Deal(8, m1000 + 2000, 103, 2), Deal(8, m1000 + 2000, 103, 2)},
         {{m1000, 100, 103, 99, 103, 12}}},
        {"a live deal inside the history's last interval merges into it",
         TInterval::Minute5,
         {{m1000, 100, 102, 99, 101, 10}},
         1,
         {},
         {Deal(9, m1000 + 240'000, 97, 3), Deal(10, m1005, 98)},
         {{m1000, 100, 102, 97, 97, 13}, {m1005, 98, 98, 98, 98, 1}}},
        {"a missing minute in the middle is put in its place",
         TInterval::Minute1,
         {{m1000, 1, 1, 1, 1, 1}, {m1000 + 120'000, 3, 3, 3, 3, 1}},
         1,
         {},
         {Deal(11, m1000 + 60'000, 2)},
         {{m1000, 1, 1, 1, 1, 1},
          {m1000 + 60'000, 2, 2, 2, 2, 1},
          {m1000 + 120'000, 3, 3, 3, 3, 1}}},
        {"the evening session opens a new day candle that moves to its day",
         TInterval::Day1,
         {{d9, 50, 55, 45, 52, 100}},
         1,
         {},
         {Deal(20, Msk("2026-12-09 19:05"), 53, 1, 2), Deal(21, Msk("2026-12-10 10:00"), 56, 1, 2),
          Deal(22, Msk("2026-12-09 18:40"), 51, 1, 1)},
         {{d9, 50, 55, 45, 51, 101}, {d10, 53, 56, 53, 56, 2}}},
        {"ticks are one deal each, in time order",
         TInterval::Tick,
         {{m1000, 5, 5, 5, 5, 1}},
         1,
         {},
         {Deal(31, m1000 + 20, 7), Deal(30, m1000 + 10, 6)},
         {{m1000, 5, 5, 5, 5, 1}, {m1000 + 10, 6, 6, 6, 6, 1}, {m1000 + 20, 7, 7, 7, 7, 1}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TCandleCache cache(c.Interval);
        cache.SetHistory(c.History, c.LastSession);
        cache.AddCounted(c.Counted);
        for (const TLiveDeal& d : c.Deals)
            cache.Add(d);
        EXPECT_EQ(cache.Candles(), c.Expected);
    }
}

// A history that answers from a fixed list of deals, as history.db would.
class TListHistory final : public THistorySource {
public:
    std::vector<TLiveDeal> Deals;
    int Reads = 0;
    bool Read(std::int32_t, TInterval interval, std::int64_t, std::int64_t, THistory& out,
              std::string&) override {
        ++Reads;
        TCandleCache c(interval);
        for (const TLiveDeal& d : Deals) {
            c.Add(d);
            out.Counted.push_back(d.IdDeal);
        }
        out.Candles = c.Candles();
        out.Nothing = Deals.empty();
        out.LastSession = Deals.empty() ? 0 : Deals.back().SessId;
        out.Fills.push_back({Deals.front().IdDeal, Deals.front().MomentMs, Deals.front().Price, 1,
                             TFillSide::Unknown});
        return true;
    }
};

TEST(ChartCandles, AnIntervalSwitchKeepsTheLiveDealsAndCountsEachOnce) {
    const std::int64_t t = Msk("2026-12-10 10:00");
    TListHistory source;
    source.Deals = {Deal(1, t, 100, 1), Deal(2, t + 61'000, 101, 1)};
    TChartData data(&source, 7);
    ASSERT_TRUE(data.Load(TInterval::Minute1));
    // The stream resends the recorded deals and brings two new ones.
    const std::vector<TLiveDeal> live = {Deal(1, t, 100, 1), Deal(2, t + 61'000, 101, 1),
                                         Deal(3, t + 62'000, 104, 5), Deal(4, t + 301'000, 99, 2)};
    data.AddLive(live);
    ASSERT_EQ(data.Cache().Candles().size(), 3u);
    EXPECT_EQ(data.Cache().Candles()[1], (TCandle{t + 60'000, 101, 104, 101, 104, 6}));

    ASSERT_TRUE(data.Load(TInterval::Minute5));
    EXPECT_EQ(data.Cache().Candles(),
              (std::vector<TCandle>{{t, 100, 104, 100, 104, 7}, {t + 300'000, 99, 99, 99, 99, 2}}));
    // The stream's fill names its side; the history's copy of it does not.
    const std::vector<TOwnFill> fills = {{1, t, 100, 1, TFillSide::Sell}};
    data.AddFills(fills);
    ASSERT_EQ(data.Fills().size(), 1u);
    EXPECT_EQ(data.Fills()[0].Side, TFillSide::Sell);
    EXPECT_FALSE(data.NoHistory());
}

} // namespace
} // namespace vorlen::chart

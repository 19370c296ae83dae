// The backtest's exchange and order path: the gate's time rules count the market's time, the
// terminal's cap on posts holds, latency delays what the exchange sees, and the P&L and fees of
// a few fills come out as worked by hand.

#include "backtest/BacktestDesk.h"

#include "backtest/BacktestResult.h"
#include "backtest/Sweep.h"

#include <gtest/gtest.h>

namespace vorlen::backtest {
namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kUnit = orders::kPriceScale; // one price unit in 1e-5
constexpr const char* kClient = "FZ00001";

struct TFixture {
    explicit TFixture(const std::string& limits = "", std::int32_t postsPerSecond = 0,
                      std::int64_t latencyMs = 0)
        : Desk(Setup(limits, postsPerSecond, latencyMs), Out) {
        TDeskMarket& m = Desk.Market();
        m.Instrument = orders::TInstrumentRef{7, "Si-12.26", kUnit, 0, 0, false, false};
        m.Clients = {kClient};
        m.FeePerLot = 1.75;
        m.MoneyPerUnit = 1.0 / kUnit; // a point of price is worth 1 a lot
        Desk.SetNow(1'000'000 * kMs);
    }
    static TDeskSetup Setup(const std::string& limits, std::int32_t posts, std::int64_t latency) {
        TDeskSetup s;
        s.Isin = "Si-12.26";
        std::string error;
        EXPECT_TRUE(s.Limits.Parse(limits, error)) << error;
        s.PostsPerSecond = posts;
        s.LatencyNs = latency * kMs;
        return s;
    }
    TOrderResult Order(orders::TSide side, int qty, int price) {
        return Desk.Place({"", side, qty, std::int64_t{price} * kUnit, kClient});
    }
    void Level(fills::TFillSide side, int price, int volume) {
        Desk.Engine().SetLevel(side, std::int64_t{price} * kUnit, volume);
        Desk.TakeMarketFills();
    }
    void At(std::int64_t ms) {
        Desk.SetNow(1'000'000 * kMs + ms * kMs);
        Desk.Deliver();
    }

    TBacktestResult Out;
    TBacktestDesk Desk;
};

TEST(BacktestDesk, TheGatesTimeRulesCountTheMarketsTime) {
    struct TStep {
        std::int64_t AtMs;
        int Price;
        const char* Refusal; // empty: placed
    };
    struct TCase {
        const char* Limits;
        std::int32_t Posts;
        std::vector<TStep> Steps;
    };
    const TCase cases[] = {
        // The repeat rule: an equal order within a second is refused, at a second it goes.
        {"",
         0,
         {{0, 100, ""},
          {999, 100, "Стратегия: повтор той же заявки в течение секунды."},
          {1000, 100, ""}}},
        // Orders a minute: the fourth within the minute is refused, a minute on it goes.
        {"* per_minute=3",
         0,
         {{0, 100, ""},
          {10, 101, ""},
          {20, 102, ""},
          {59'999, 103, "Превышено число заявок в минуту (3)."},
          {60'001, 103, ""}}},
        // The terminal's cap on posts: the third in a second is refused, after it one goes.
        {"",
         2,
         {{0, 100, ""},
          {500, 101, ""},
          {900, 102, "превышен лимит терминала: 2 сообщения в секунду."},
          {1001, 102, ""}}},
        // Orders a day start again with the next day.
        {"* per_day=1", 0, {{0, 100, ""}, {5000, 101, "Превышено число заявок за день (1)."}}},
    };
    for (const TCase& c : cases) {
        TFixture f(c.Limits, c.Posts);
        for (const TStep& s : c.Steps) {
            f.At(s.AtMs);
            const TOrderResult r = f.Order(orders::TSide::Buy, 1, s.Price);
            EXPECT_EQ(r.Refusal, s.Refusal) << c.Limits << " at " << s.AtMs;
            EXPECT_EQ(r.Ok(), r.Id > 0);
        }
    }
    TFixture day("* per_day=1");
    ASSERT_TRUE(day.Order(orders::TSide::Buy, 1, 100).Ok());
    day.Desk.EndDay();
    day.At(86'400'000);
    EXPECT_TRUE(day.Order(orders::TSide::Buy, 1, 101).Ok());
    ASSERT_EQ(day.Out.Orders.size(), 2u);
    EXPECT_EQ(day.Out.Orders[0].State, "cancelled") << "the session's end takes it off";
}

TEST(BacktestDesk, LotsHeldBeforeTheRunCountInTheStrategysPositionAndTheGateButNotTheResult) {
    TFixture f("* max_pos=5");
    f.Desk.SetOpening({{kClient, 4}, {"FZ00002", -1}});
    f.Level(fills::TFillSide::Sell, 100, 10);
    ASSERT_TRUE(f.Order(orders::TSide::Buy, 1, 100).Ok());
    EXPECT_EQ(f.Order(orders::TSide::Buy, 1, 101).Refusal,
              "Позиция с учётом активных заявок составит 6 (допустимо 5).");
    TPositionInfo p;
    ASSERT_TRUE(f.Desk.Position(kClient, p));
    EXPECT_EQ(p.Net, 5);
    EXPECT_EQ(p.AvgPrice, 0) << "the held lots' price is not known";
    ASSERT_TRUE(f.Desk.Position("FZ00002", p)) << "a client that only held lots has a position";
    EXPECT_EQ(p.Net, -1);
    ASSERT_TRUE(f.Desk.Position("", p));
    EXPECT_EQ(p.Net, 4);
    EXPECT_EQ(f.Desk.NetPosition(), 1);
    ASSERT_EQ(f.Out.Trades.size(), 1u);
    EXPECT_EQ(f.Out.Trades[0].Position, 1);
}

TEST(BacktestDesk, LatencyDelaysWhatTheExchangeSeesAndFillsCarryTheirFeesAndPnl) {
    TFixture f("", 0, 20);
    f.Level(fills::TFillSide::Sell, 100, 5);
    const TOrderResult buy = f.Order(orders::TSide::Buy, 3, 100);
    ASSERT_TRUE(buy.Ok());
    EXPECT_TRUE(f.Out.Trades.empty()) << "still on its way";
    f.At(19);
    EXPECT_TRUE(f.Out.Trades.empty());
    f.At(20);
    ASSERT_EQ(f.Out.Trades.size(), 1u);
    EXPECT_EQ(f.Out.Trades[0].Qty, 3);
    EXPECT_DOUBLE_EQ(f.Out.Trades[0].Fee, 3 * 1.75);

    // A sell resting at 102 and cancelled at once still fills if the market reaches it before
    // the cancel arrives.
    const TOrderResult sell = f.Order(orders::TSide::Sell, 2, 102);
    f.At(40);
    ASSERT_TRUE(f.Desk.Cancel(sell.Id).empty());
    f.At(45);
    f.Level(fills::TFillSide::Buy, 102, 10);
    f.At(60);
    ASSERT_EQ(f.Out.Trades.size(), 2u);
    // By hand: 2 lots bought at 100 sold at 102 make 2 × 2 = 4; five lots pay 5 × 1.75 = 8.75;
    // the lot still held, marked at 103, adds 3: 4 + 3 − 8.75 = −1.75.
    EXPECT_DOUBLE_EQ(f.Out.Trades[1].Realized, 4.0);
    EXPECT_TRUE(f.Out.Trades[1].Closing);
    EXPECT_DOUBLE_EQ(f.Desk.Fees(), 8.75);
    EXPECT_NEAR(f.Desk.Equity(103 * kUnit), -1.75, 1e-9);
    TPositionInfo p;
    ASSERT_TRUE(f.Desk.Position(kClient, p));
    EXPECT_EQ(p.Net, 1);
    EXPECT_DOUBLE_EQ(p.AvgPrice, 100);
    EXPECT_EQ(f.Out.Orders[1].State, "filled");
    EXPECT_NE(f.Desk.Cancel(sell.Id), "") << "a filled order is no longer the strategy's to cancel";

    TOrderEvent ev;
    std::vector<std::string> states;
    while (f.Desk.NextOrderEvent(ev))
        states.push_back(ev.State);
    EXPECT_EQ(states, (std::vector<std::string>{"filled", "filled"}));
    const TSummary s = Summarize(f.Out);
    EXPECT_EQ(s.Fills, 2);
    EXPECT_EQ(s.Wins, 1);
    EXPECT_DOUBLE_EQ(s.LargestWin, 4.0);
}

TEST(BacktestSweep, EveryCombinationRunsOnceWithItsValuesWhateverTheWorkers) {
    // Days that cannot be read: every run ends at once with the file's error, so this looks at
    // the grid and the workers alone.
    TBacktestConfig base;
    base.Days = {"/nonexistent/2026-12-10.vrec"};
    base.Isin = "Si-12.26";
    base.StrategyName = "s.lua";
    base.StrategySource = "params = { a = 1, b = 'x', c = 0 }";
    base.Params = {{"a", "9"}, {"c", "5"}};
    std::string error;
    const std::vector<TSweepAxis> axes = {*ParseSweepAxis("a=1,2,3", error),
                                          *ParseSweepAxis("b=x,y", error)};
    EXPECT_FALSE(ParseSweepAxis("a=1,,2", error));
    EXPECT_FALSE(ParseSweepAxis("=1", error));
    for (const unsigned workers : {1u, 3u, 8u}) {
        std::size_t calls = 0;
        const auto runs = RunSweep(base, axes, workers, [&](std::size_t done, std::size_t all) {
            EXPECT_EQ(done, ++calls);
            EXPECT_EQ(all, 6u);
        });
        ASSERT_EQ(runs.size(), 6u);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            // Equal results keep the grid's order: the first axis varies slowest.
            const std::vector<TParamOverride> want = {{"a", std::to_string(i / 2 + 1)},
                                                      {"b", i % 2 == 0 ? "x" : "y"}};
            EXPECT_EQ(runs[i].Params, want) << workers;
            EXPECT_FALSE(runs[i].Result.Ok);
            EXPECT_NE(runs[i].Result.Error.find("2026-12-10.vrec"), std::string::npos)
                << runs[i].Result.Error;
        }
    }
}

} // namespace
} // namespace vorlen::backtest

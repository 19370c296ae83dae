// The sample strategies of strategies/ against a world of our own: the book moves, orders come
// back, and what the samples place, replace and cancel is checked order by order.

#include "strategies/FakeWorld.h"
#include "strategies/Strategy.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace vorlen {
namespace {

using test::OwnOrder;
using test::TFakeWorld;

std::string Sample(const std::string& name) {
    std::ifstream in(std::string(VORLEN_STRATEGY_SAMPLES) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TBookSnapshot Book(double bid, double ask) {
    TBookSnapshot book;
    book.Bids = {{bid, 5}, {bid - 1, 9}};
    book.Asks = {{ask, 3}};
    return book;
}

std::vector<std::string> Quotes(const TFakeWorld& w, std::size_t from = 0) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < w.Placed.size(); ++i) {
        const orders::TOrderRequest& o = w.Placed[i];
        out.push_back((o.Side == orders::TSide::Buy ? "buy " : "sell ") + std::to_string(o.Qty) +
                      " " +
                      DecimalToString(Trimmed({o.Price, orders::kPriceDecimals}, w.Step->Scale)) +
                      " " + o.Client);
    }
    return out;
}

class SamplesTest : public ::testing::Test {
protected:
    void SetUp() override {
        World.Fields["client_code"] = std::string("C01");
        World.Step = TDecimal{5, 2};
        World.BookNow = Book(100.00, 100.50);
        World.BookRev = 1;
    }
    // Each book change is followed by a tick, as the store wakes the expert for its rows;
    // `seconds` later than the last, by default long enough for the maker to quote again.
    void MoveBook(TStrategy& s, double bid, double ask, double seconds = 5) {
        World.Clock += seconds;
        World.BookNow = Book(bid, ask);
        ++World.BookRev;
        s.Tick();
    }
    TFakeWorld World;
};

TEST_F(SamplesTest, TheMarketMakerQuotesBothSidesRequotesOnAMoveAndCancelsAllOnStop) {
    TStrategy s(World, 7, "Si-3.27");
    ASSERT_TRUE(s.Load("market_maker.lua", Sample("market_maker.lua"))) << World.Joined();
    ASSERT_TRUE(s.Start()) << World.Joined();
    // Middle 100.25, half a point each way; the bid goes down to its step, the ask up.
    EXPECT_EQ(Quotes(World), (std::vector<std::string>{"buy 1 99.75 C01", "sell 1 100.75 C01"}));

    MoveBook(s, 100.10, 100.60); // the middle moves less than `requote`
    EXPECT_EQ(World.Placed.size(), 2u);
    EXPECT_TRUE(World.Cancelled.empty());

    MoveBook(s, 101.00, 101.50);
    EXPECT_EQ(Quotes(World, 2),
              (std::vector<std::string>{"buy 1 100.75 C01", "sell 1 101.75 C01"}));
    std::vector<std::int64_t> cancelled = World.Cancelled;
    std::sort(cancelled.begin(), cancelled.end());
    EXPECT_EQ(cancelled, (std::vector<std::int64_t>{101, 102}));

    // A fill: the order is no longer ours to cancel, and the next book change quotes afresh.
    World.Events.push_back(TOrderEvent{103, "filled", 0, "", 0});
    s.OrderEvents();
    World.Positions[""] = TPositionInfo{5, 100.75};
    MoveBook(s, 101.00, 101.55);
    // At the position limit only the side that reduces it is quoted.
    EXPECT_EQ(Quotes(World, 4), (std::vector<std::string>{"sell 1 101.80 C01"}));

    World.Cancelled.clear();
    World.Active = {
        OwnOrder(200, orders::TSide::Buy, "1", 1, 1, "C01")}; // one the terminal knows of
    s.Stop();
    cancelled = World.Cancelled;
    std::sort(cancelled.begin(), cancelled.end());
    EXPECT_EQ(cancelled, (std::vector<std::int64_t>{105, 200}));
    EXPECT_EQ(s.State(), TStrategy::TState::Loaded) << World.Joined();
}

// A busy market moves the middle many times a second: the maker replaces its quotes at most once
// in min_interval, keeps a quote that rests where it wants one, and so never sends the same
// order twice within a second (the gate's repeat rule) nor spends a minute's orders at once.
TEST_F(SamplesTest, TheMarketMakerPacesItsQuotesAndKeepsOnesAlreadyInPlace) {
    TStrategy s(World, 7, "Si-3.27");
    ASSERT_TRUE(s.Load("market_maker.lua", Sample("market_maker.lua"))) << World.Joined();
    ASSERT_TRUE(s.Start()) << World.Joined();
    ASSERT_EQ(World.Placed.size(), 2u);
    struct TStep {
        double Seconds, Bid, Ask;
        std::vector<std::string> Placed; // since the step before
        std::size_t Cancelled;
    };
    const std::vector<TStep> steps = {
        // Moves within three seconds of the last quotes, however far, are let go by.
        {0.1, 101.00, 101.50, {}, 0},
        {1.0, 99.00, 99.50, {}, 0},
        {1.5, 102.00, 102.50, {}, 0},
        // The interval is over: both replaced at the market of now.
        {0.5, 102.00, 102.50, {"buy 1 101.75 C01", "sell 1 102.75 C01"}, 2},
        // Another move at once waits again, even back to where it was.
        {0.2, 100.00, 100.50, {}, 0},
    };
    for (const TStep& step : steps) {
        const std::size_t placed = World.Placed.size(), cancelled = World.Cancelled.size();
        MoveBook(s, step.Bid, step.Ask, step.Seconds);
        EXPECT_EQ(Quotes(World, placed), step.Placed) << step.Seconds << " " << step.Bid;
        EXPECT_EQ(World.Cancelled.size() - cancelled, step.Cancelled) << step.Bid;
    }
    // A fill asks for fresh quotes at an unchanged middle: the ask resting at the price wanted
    // stays, only the filled side is placed again.
    World.Events.push_back(TOrderEvent{103, "filled", 0, "", 0});
    s.OrderEvents();
    World.Cancelled.clear();
    MoveBook(s, 102.00, 102.50);
    EXPECT_EQ(Quotes(World, 4), (std::vector<std::string>{"buy 1 101.75 C01"}));
    EXPECT_TRUE(World.Cancelled.empty());
}

TEST_F(SamplesTest, TheMarketMakersParametersAndRefusalsReachItsQuotesAndJournal) {
    TStrategy s(World, 7, "Si-3.27");
    ASSERT_TRUE(s.Load("market_maker.lua", Sample("market_maker.lua")));
    std::string error;
    ASSERT_TRUE(s.SetParams({{"half_spread", "1"}, {"qty", "3"}, {"client", "C07"}}, error))
        << error;
    World.Refusal = "превышен лимит заявки";
    ASSERT_TRUE(s.Start());
    EXPECT_TRUE(World.Placed.empty());
    EXPECT_EQ(World.Lines.back(), "sell 101.25 отклонена: превышен лимит заявки");
    World.Refusal.clear();
    MoveBook(s, 102.00, 102.50);
    EXPECT_EQ(Quotes(World), (std::vector<std::string>{"buy 3 101.25 C07", "sell 3 103.25 C07"}));
}

TEST_F(SamplesTest, TheQuoteLoggerWritesTheBestPricesWhenTheyChange) {
    TStrategy s(World, 7, "Si-3.27");
    ASSERT_TRUE(s.Load("quote_logger.lua", Sample("quote_logger.lua")));
    ASSERT_TRUE(s.Start());
    World.Lines.clear();
    MoveBook(s, 100.00, 100.50);
    World.BookNow->Bids[1].Volume = 1; // deeper than the best: nothing to say
    ++World.BookRev;
    s.Tick();
    MoveBook(s, 100.05, 100.50);
    World.BookNow->Asks.clear();
    ++World.BookRev;
    s.Tick();
    EXPECT_EQ(World.Lines, (std::vector<std::string>{
                               "Si-3.27: покупка 100.0 x 5, продажа 100.5 x 3",
                               "Si-3.27: покупка 100.05 x 5, продажа 100.5 x 3",
                               "Si-3.27: покупка 100.05 x 5, продажа —",
                           }));
    EXPECT_TRUE(World.Placed.empty());
}

} // namespace
} // namespace vorlen

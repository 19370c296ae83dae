// The market's own deals as a terminal records them: they take liquidity from the book it shows,
// stay on the price grid and inside the limits, come in bursts, agree with the order log, and
// repeat exactly for the same seed.

#include "SimSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

namespace simtest {
namespace {

std::int64_t Units(double price) {
    return std::llround(price * 100000);
}

struct Deal {
    std::int64_t id = 0, isin = 0, buyOrder = 0, sellOrder = 0, amount = 0, price = 0;
    std::int64_t ns = 0, xpos = 0;
    // The futures' best prices in the book just before the deal arrived; 0 when none showed.
    std::int64_t bestBid = 0, bestAsk = 0;
    // The exchange's taker is the later order of the two.
    bool TakerBuys() const { return buyOrder > sellOrder; }
    // Without the deal's id: the options' deals, made once a second of the clock, take ids
    // from the same sequence.
    auto Key() const { return std::tie(isin, buyOrder, sellOrder, amount, price, xpos); }
};

struct Limits {
    std::int64_t step = 0, lower = 0, upper = 0;
};

struct Tape {
    std::vector<Deal> deals;
    std::map<std::int64_t, Limits> futures;
    // Order-log fills by deal: (order, direction, amount, deal price).
    std::map<std::int64_t,
             std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>>>
        fills;
};

// A router with the harness's seed, watched as the terminal watches a market (book, deals and
// order log), driven at `rate` events a second until `want` deals came; with `reprice`, the
// options are repriced (their smile shifted) as soon as it runs, as the clock does now and then.
Tape Record(std::size_t want, const char* rate, bool reprice = false) {
    OpenEnvironment();
    Router router;
    EXPECT_TRUE(router.Running());
    Session session(router.Port(), "deals");
    Lsn& ref = session.Listen("p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents");
    Lsn& aggr = session.Listen("p2repl://FORTS_AGGR5_REPL;tables=orders_aggr");
    Lsn& deal = session.Listen("p2repl://FORTS_DEALS_REPL;tables=deal");
    Lsn& log = session.Listen("p2repl://FORTS_ORDLOG_REPL;tables=orders_log");
    Tape run;
    if (!session.Pump([&] { return ref.online && aggr.online && deal.online && log.online; })) {
        ADD_FAILURE() << "streams did not come on-line";
        return run;
    }
    for (const Event* e : ref.Rows("fut_sess_contents")) {
        run.futures[Int(ref.scheme, *e, "isin_id")] = {Units(Decimal(ref.scheme, *e, "min_step")),
                                                       Units(Decimal(ref.scheme, *e, "limit_down")),
                                                       Units(Decimal(ref.scheme, *e, "limit_up"))};
    }
    EXPECT_EQ(router.Control(std::string("rate ") + rate), std::string("OK rate ") + rate);
    std::size_t repriced = 0;
    for (const auto& [isin, limits] : run.futures)
        if (reprice && router.Control("smile " + std::to_string(isin) + " 5").rfind("OK", 0) == 0)
            ++repriced;
    EXPECT_EQ(repriced > 0, reprice);
    std::size_t seen = 0, futuresDeals = 0;
    EXPECT_TRUE(session.Pump(
        [&] {
            const std::vector<const Event*> rows = deal.Rows("deal");
            for (; seen < rows.size(); ++seen) {
                futuresDeals += run.futures.count(Int(deal.scheme, *rows[seen], "isin_id"));
            }
            return futuresDeals >= want + 8;
        },
        90000));
    router.Control("rate 0");

    for (const Event* e : log.Rows("orders_log")) {
        if (const std::int64_t id = Int(log.scheme, *e, "id_deal"); id != 0) {
            run.fills[id].emplace_back(
                Int(log.scheme, *e, "public_order_id"), Int(log.scheme, *e, "dir"),
                Int(log.scheme, *e, "public_amount"), Units(Decimal(log.scheme, *e, "deal_price")));
        }
    }
    // The book replayed up to each deal: row id -> (isin, dir, price).
    std::map<std::int64_t, std::tuple<std::int64_t, std::int64_t, std::int64_t>> book;
    const std::vector<const Event*> levels = aggr.Rows("orders_aggr");
    auto next = levels.begin();
    for (const Event* e : deal.Rows("deal")) {
        for (; next != levels.end() && (*next)->arrival < e->arrival; ++next) {
            const Event& l = **next;
            const std::int64_t row = Int(aggr.scheme, l, "replID");
            if (Int(aggr.scheme, l, "replAct") != 0) {
                book.erase(row);
            } else {
                book[row] = {Int(aggr.scheme, l, "isin_id"), Int(aggr.scheme, l, "dir"),
                             Units(Decimal(aggr.scheme, l, "price"))};
            }
        }
        Deal d;
        d.id = Int(deal.scheme, *e, "id_deal");
        d.isin = Int(deal.scheme, *e, "isin_id");
        // The option series trade on a clock of their own, once a second; these tests are
        // about the futures' flow.
        if (run.futures.count(d.isin) == 0) {
            continue;
        }
        d.buyOrder = Int(deal.scheme, *e, "public_order_id_buy");
        d.sellOrder = Int(deal.scheme, *e, "public_order_id_sell");
        d.amount = Int(deal.scheme, *e, "xamount");
        d.price = Units(Decimal(deal.scheme, *e, "price"));
        d.ns = Int(deal.scheme, *e, "moment_ns");
        d.xpos = Int(deal.scheme, *e, "xpos");
        EXPECT_EQ(Int(deal.scheme, *e, "sess_id"), 7141);
        for (const auto& [id, level] : book) {
            const auto [isin, dir, price] = level;
            if (isin == d.isin && dir == 1) {
                d.bestBid = std::max(d.bestBid, price);
            } else if (isin == d.isin && dir == 2 && (d.bestAsk == 0 || price < d.bestAsk)) {
                d.bestAsk = price;
            }
        }
        run.deals.push_back(d);
    }
    return run;
}

// One long stretch at a pace where busy and quiet stretches last about a second each, shared by
// the tests below.
const Tape& Long() {
    static const Tape run = Record(4000, "5000");
    return run;
}

TEST(SimDeals, EveryDealTakesTheBookOnTheGridInsideTheLimits) {
    const Tape& run = Long();
    ASSERT_GE(run.deals.size(), 4000u);
    ASSERT_EQ(run.futures.size(), 30u);
    std::map<std::int64_t, std::set<std::int64_t>> prices;
    std::int64_t lastId = 0;
    std::size_t small = 0, large = 0;
    for (const Deal& d : run.deals) {
        SCOPED_TRACE("deal " + std::to_string(d.id));
        ASSERT_TRUE(run.futures.count(d.isin));
        const Limits& f = run.futures.at(d.isin);
        EXPECT_GT(d.id, lastId);
        lastId = d.id;
        EXPECT_EQ(d.price % f.step, 0);
        EXPECT_GE(d.price, f.lower);
        EXPECT_LE(d.price, f.upper);
        EXPECT_GT(d.amount, 0);
        EXPECT_GE(d.xpos, 0);
        // Went through the book: the taker paid the best offer or more, or got the best bid or
        // less; the other side's best was on the far side of the deal.
        if (d.TakerBuys()) {
            ASSERT_NE(d.bestAsk, 0);
            EXPECT_GE(d.price, d.bestAsk);
            EXPECT_LT(d.bestBid, d.price);
        } else {
            ASSERT_NE(d.bestBid, 0);
            EXPECT_LE(d.price, d.bestBid);
            EXPECT_GT(d.bestAsk, d.price);
        }
        prices[d.isin].insert(d.price);
        small += d.amount <= 5 ? 1 : 0;
        large += d.amount > 100 ? 1 : 0;
        if (HasFailure()) {
            return; // one bad deal tells the story; thousands would bury it
        }
    }
    for (const auto& [isin, f] : run.futures) {
        EXPECT_GT(prices[isin].size(), 1u) << "futures " << isin;
    }
    // Mostly a few contracts, sometimes a large one.
    EXPECT_GT(small * 2, run.deals.size());
    EXPECT_GT(large, 0u);
}

TEST(SimDeals, LargeTakersWalkSeveralLevelsAndTheOrderLogAgrees) {
    const Tape& run = Long();
    std::map<std::int64_t, std::set<std::int64_t>> levelsOfTaker;
    for (const Deal& d : run.deals) {
        SCOPED_TRACE("deal " + std::to_string(d.id));
        levelsOfTaker[std::max(d.buyOrder, d.sellOrder)].insert(d.price);
        ASSERT_TRUE(run.fills.count(d.id));
        const auto& fills = run.fills.at(d.id);
        ASSERT_EQ(fills.size(), 2u);
        for (const auto& [order, dir, amount, price] : fills) {
            EXPECT_EQ(order, dir == 1 ? d.buyOrder : d.sellOrder);
            EXPECT_EQ(amount, d.amount);
            EXPECT_EQ(price, d.price);
        }
        EXPECT_NE(std::get<1>(fills[0]), std::get<1>(fills[1]));
        if (HasFailure()) {
            return;
        }
    }
    std::size_t walked = 0;
    for (const auto& [taker, prices] : levelsOfTaker) {
        walked += prices.size() > 1 ? 1 : 0;
    }
    EXPECT_GT(walked, 0u);
}

TEST(SimDeals, BusySecondsAndQuietOnes) {
    const Tape& run = Long();
    std::map<std::int64_t, double> perSecond;
    for (const Deal& d : run.deals) {
        perSecond[d.ns / 1'000'000'000] += 1;
    }
    ASSERT_GE(perSecond.size(), 5u);
    // The first and the last second were only partly recorded.
    std::vector<double> counts;
    for (auto it = std::next(perSecond.begin()); it != std::prev(perSecond.end()); ++it) {
        counts.push_back(it->second);
    }
    double mean = 0;
    for (double c : counts) {
        mean += c / static_cast<double>(counts.size());
    }
    double variance = 0;
    for (double c : counts) {
        variance += (c - mean) * (c - mean) / static_cast<double>(counts.size() - 1);
    }
    // Deals at a steady chance would give a variance near the mean (Poisson).
    EXPECT_GT(variance, 10 * mean) << "mean " << mean << " variance " << variance;
    const auto [quiet, busy] = std::minmax_element(counts.begin(), counts.end());
    EXPECT_GT(*busy, 2 * *quiet);
}

TEST(SimDeals, TheSameSeedMakesTheSameDeals) {
    const Tape& first = Long();
    // Another pace and another machine load batch the events differently, and the options'
    // prices move at other moments; what the futures' flow makes does not change.
    const Tape again = Record(600, "2000", true);
    ASSERT_GE(again.deals.size(), 600u);
    for (std::size_t i = 0; i < 600; ++i) {
        ASSERT_EQ(again.deals[i].Key(), first.deals[i].Key()) << "deal " << i;
    }
}

} // namespace
} // namespace simtest

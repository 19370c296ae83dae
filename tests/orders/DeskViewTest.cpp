// The desk keeps the gate's view between orders and reads the replica's facts only when told
// they changed. Whatever it keeps, every decision must equal that of a desk that reads and
// builds everything afresh for each order: both are driven through the same day side by side.

#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vorlen::orders {
namespace {

constexpr std::int64_t P = kPriceScale;

// What the orders log and the positions show. Log rows name the desk's adds by transaction id
// (each desk puts its own ext_id on them); rows with none are orders from elsewhere.
struct TWorld {
    struct TLogged {
        std::uint32_t TrId;
        TOrderLogRow Row;
    };
    std::vector<TLogged> Log; // only ever grows, as the exchange's log does
    std::int64_t Position = 0;
};

// The kept desk reads as the terminal does (the tracker's counts, no list, only when told of a
// change); the fresh one gets the active orders listed and reads before every order.
struct TDeskUnderTest {
    TDeskUnderTest(const TWorld& world, bool keepsFacts,
                   const char* limitsText = "* max_qty=3 max_pos=6 max_active=4 per_minute=9\n")
        : World(world) {
        TDeskInputs in;
        in.Facts = [this, keepsFacts] {
            ++Reads;
            auto ref = std::make_shared<TRefFacts>();
            ref->Clients = {"FZ00001", "FZ00002"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->Instruments["RI-3.27"] = {8, "RI-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById = {{7, "Si-3.27"}, {8, "RI-3.27"}};
            for (; Fed < World.Log.size(); ++Fed) {
                TOrderLogRow r = World.Log[Fed].Row;
                if (const std::uint32_t trId = World.Log[Fed].TrId; trId != 0) {
                    r.ExtId = Transport.Posts.at(trId).ExtId;
                }
                Tracker.Add(r);
            }
            TStoreFacts f;
            f.Ref = ref;
            if (keepsFacts) {
                f.Tracker = &Tracker;
                f.ExtIdsRef = &Tracker.ExtIds();
                f.ExtIdMax = Tracker.ExtIdMax();
            } else {
                f.Own = Tracker.Orders(true);
                f.ExtIds = Tracker.ExtIds();
            }
            f.Positions[{"FZ00001", 7}] = World.Position;
            return f;
        };
        if (keepsFacts)
            in.FactsChanged = [this] { return std::exchange(Changed, false); };
        in.MarketData = [] { return TLinkHealth::Online; };
        in.NowMs = [this] { return Now; };
        TLimitsBook limits;
        std::string error;
        EXPECT_TRUE(limits.Parse(limitsText, error)) << error;
        Desk =
            std::make_unique<TOrderDesk>(Transport, limits, in, TOrderDesk::TJournalFn{}, nullptr);
        Transport.AnswerAddsWith = 0;
    }

    const TWorld& World;
    TScriptedTransport Transport;
    TOwnOrderTracker Tracker;
    std::size_t Fed = 0;
    std::unique_ptr<TOrderDesk> Desk;
    std::int64_t Now = 1'000'000;
    bool Changed = false;
    int Reads = 0;
};

// The log rows of an add as the exchange would write them: placed, then (if so) traded out.
TOrderLogRow AddRow(std::uint32_t trId, const TAddOrderParams& p, int action) {
    TOrderLogRow r;
    r.OrderId = 1000 + trId;
    r.IsinId = p.isin_id;
    r.Client = std::string(p.broker_code) + p.client_code;
    r.Side = p.dir == 2 ? TSide::Sell : TSide::Buy;
    r.Action = action;
    r.Amount = p.amount;
    r.Rest = action == 1 ? p.amount : 0;
    r.DealId = action == 2 ? trId : 0;
    return r;
}

TEST(DeskView, KeptFactsAndViewDecideExactlyAsAFreshReadForEveryOrder) {
    TWorld world;
    TDeskUnderTest kept(world, true), fresh(world, false);
    struct TStep {
        TOrderRequest Order;
        bool Collect; // take the exchange's answers first
        int Logged;   // the log shows the first N adds (-1: as before)...
        int Filled;   // ...the first M of them filled
        std::int64_t Position;
        std::int64_t Ms; // time passed
        int Foreign = 0; // orders from elsewhere on FZ00001's Si buys that the log shows now
    };
    const auto buy = [](std::int64_t qty, std::int64_t price, const char* client = "FZ00001",
                        const char* isin = "Si-3.27") {
        return TOrderRequest{isin, TSide::Buy, qty, price * P, client, false};
    };
    const auto sell = [](std::int64_t qty, std::int64_t price) {
        return TOrderRequest{"Si-3.27", TSide::Sell, qty, price * P, "FZ00001", false};
    };
    const std::vector<TStep> day = {
        {buy(2, 95), false, -1, 0, 0, 0},
        {buy(2, 95), false, -1, 0, 0, 10}, // the same order again within a second
        {buy(2, 96), false, -1, 0, 0, 10}, // pending 4: a position of 6 at most
        {buy(3, 97), false, -1, 0, 0, 10}, // 7 would be over
        {sell(3, 99), true, -1, 0, 0, 10}, // answers taken: accepted, not yet in the log
        {buy(1, 97), false, 2, 0, 0, 10},  // the log shows both buys now
        {buy(1, 97, "FZ00002"), false, -1, 0, 0, 10},
        {buy(1, 98), false, 2, 1, 2, 1200},                     // one buy filled
        {buy(3, 94, "FZ00001", "RI-3.27"), true, -1, 0, 2, 10}, // active orders: the limit
        {sell(1, 100), false, 4, 2, 4, 10},
        {buy(1, 93), true, -1, 0, 4, 10},
        {buy(1, 92), false, -1, 0, 4, 10},      // per minute: over
        {buy(1, 91), false, -1, 0, 4, 61'000},  // a minute later
        {buy(1, 90), true, 9, 9, 4, 10},        // everything answered, logged and filled
        {buy(1, 91), false, -1, 0, 4, 10, 1},   // an order from elsewhere counts at once
        {buy(1, 92), false, -1, 0, 4, 1200, 2}, // two more from elsewhere: 4 active
    };
    int allowed = 0, refused = 0;
    std::vector<std::uint32_t> logged, filled;
    std::int64_t foreignIds = 5000;
    for (std::size_t i = 0; i < day.size(); ++i) {
        const TStep& step = day[i];
        const std::size_t before = world.Log.size();
        for (const auto& [trId, post] : kept.Transport.Posts) {
            const auto n =
                static_cast<int>(std::find(logged.begin(), logged.end(), trId) - logged.begin());
            if (post.Cancel) {
                continue;
            }
            const TAddOrderParams& p = kept.Transport.Adds.at(trId);
            if (n == static_cast<int>(logged.size()) && n < step.Logged) {
                logged.push_back(trId);
                world.Log.push_back({trId, AddRow(trId, p, 1)});
            }
            if (n < step.Filled && std::count(filled.begin(), filled.end(), trId) == 0) {
                filled.push_back(trId);
                world.Log.push_back({trId, AddRow(trId, p, 2)});
            }
        }
        for (int f = 0; f < step.Foreign; ++f) {
            TOrderLogRow r;
            r.OrderId = ++foreignIds;
            r.IsinId = 7;
            r.Client = "FZ00001";
            r.Action = 1;
            r.Amount = r.Rest = 1;
            world.Log.push_back({0, r});
        }
        if (world.Log.size() != before || step.Position != world.Position) {
            world.Position = step.Position;
            kept.Changed = true;
        }
        for (TDeskUnderTest* d : {&kept, &fresh}) {
            d->Now += step.Ms;
            if (step.Collect)
                d->Desk->Collect();
        }
        const TPlaceResult a = kept.Desk->Place(step.Order);
        const TPlaceResult b = fresh.Desk->Place(step.Order);
        EXPECT_EQ(a.Status, b.Status) << "step " << i << ": " << a.Reason << " / " << b.Reason;
        EXPECT_EQ(a.Reason, b.Reason) << "step " << i;
        if (i == 1) { // the same order again within a second
            EXPECT_NE(a.Reason.find("меньше секунды"), std::string::npos) << a.Reason;
        }
        (a.Status == TPlaceStatus::Posted ? allowed : refused) += 1;
    }
    // The orders from elsewhere were seen by the kept desk as soon as they were logged.
    EXPECT_NE(kept.Desk->Place(buy(1, 93)).Reason.find("Активных заявок уже 4"), std::string::npos);
    // The day went through both kinds of decision, and the kept desk read the facts only
    // when they had changed.
    EXPECT_GE(allowed, 5);
    EXPECT_GE(refused, 4);
    EXPECT_LT(kept.Reads, fresh.Reads / 2);
}

// An answer that takes an order off the book (a refusal, a confirmed cancel) takes it out of the
// counts at once, also for the desk that has no new facts to read: with max_pos=6, each order
// below is let through only if the one before it no longer counts.
TEST(DeskView, AnswersTakeOrdersOutOfTheCountsAtOnce) {
    TWorld world;
    TDeskUnderTest kept(world, true), fresh(world, false);
    for (TDeskUnderTest* d : {&kept, &fresh}) {
        const auto buy = [&](std::int64_t qty, std::int64_t price) {
            d->Now += 10;
            return d->Desk->Place({"Si-3.27", TSide::Buy, qty, price * P, "FZ00001", false});
        };
        const TPlaceResult first = buy(2, 95);
        d->Desk->Collect();               // accepted, not yet in the log
        d->Transport.AnswerAddsWith = 31; // the exchange refuses the next add
        EXPECT_EQ(buy(2, 96).Status, TPlaceStatus::Posted);
        d->Transport.AnswerAddsWith = 0;
        d->Desk->Collect();
        EXPECT_EQ(buy(3, 97).Status, TPlaceStatus::Posted) << "2 + 3 rest";
        ASSERT_TRUE(d->Desk->Cancel(1000 + first.TrId));
        d->Transport.ReplyAll(0);
        d->Desk->Collect();
        EXPECT_EQ(buy(3, 98).Status, TPlaceStatus::Posted) << "3 + 3 rest";
        EXPECT_NE(buy(1, 99).Reason.find("Позиция"), std::string::npos);
    }
}

// An add the transport did not take was never sent: it counts for nothing, neither as a repeat
// nor in the minute, nor as active or resting. Each limit below lets one order through.
TEST(DeskView, AnAddThatDidNotGoCountsForNothing) {
    const char* limits = "* max_qty=3 max_pos=3 max_active=1 per_minute=1\n";
    TWorld world;
    TDeskUnderTest kept(world, true, limits), fresh(world, false, limits);
    for (TDeskUnderTest* d : {&kept, &fresh}) {
        const TOrderRequest buy{"Si-3.27", TSide::Buy, 3, 95 * P, "FZ00001", false};
        d->Transport.Accepting = false;
        EXPECT_EQ(d->Desk->Place(buy).Status, TPlaceStatus::Failed);
        EXPECT_EQ(d->Desk->Pending(), 0u);
        d->Transport.Accepting = true;
        d->Now += 10;
        const TPlaceResult r = d->Desk->Place(buy);
        EXPECT_EQ(r.Status, TPlaceStatus::Posted) << r.Reason;
        d->Now += 10;
        EXPECT_EQ(d->Desk->Place(buy).Status, TPlaceStatus::Refused) << "the one sent counts";
    }
}

// The orders log tells the desk's orders apart by ext_id, and may hold ones an earlier run gave:
// the next ones this run would give among them. Each is stepped over, also by the desk that
// reads the log only when told it changed.
TEST(DeskView, ExtIdsTheLogHoldsAreSteppedOver) {
    TWorld world;
    TDeskUnderTest d(world, true);
    const TOrderRequest buy{"Si-3.27", TSide::Buy, 1, 95 * P, "FZ00001", false};
    const std::int32_t first = d.Transport.Adds.at(d.Desk->Place(buy).TrId).ext_id;
    for (const std::int32_t taken : {first + 1, first + 2, first + 4}) {
        TOrderLogRow r;
        r.OrderId = 9000 + taken;
        r.IsinId = 7;
        r.Client = "FZ00002";
        r.ExtId = taken;
        world.Log.push_back({0, r}); // cancelled long ago: action 0
    }
    d.Changed = true;
    std::vector<std::int32_t> given;
    for (int i = 0; i < 2; ++i) {
        d.Now += 1'001;
        const std::int32_t ext = d.Transport.Adds.at(d.Desk->Place(buy).TrId).ext_id; // packed
        given.push_back(ext);
    }
    EXPECT_EQ(given, (std::vector<std::int32_t>{first + 3, first + 5}));
}

// A fast run: the desk forgets old sends as it goes, and must never forget one the rules still
// count. 120 distinct orders, then each again: refused as repeats within the second, let through
// after it, then refused again; the minute holds 241 until its first 120 are a minute old.
TEST(DeskView, RepeatsAndTheMinuteHoldThroughALongRun) {
    TWorld world;
    TDeskUnderTest d(world, true,
                     "* max_qty=3 max_pos=100000 max_active=100000 per_minute=241 per_day=9999\n");
    const auto order = [](int i) {
        return TOrderRequest{"Si-3.27",      i / 60 == 0 ? TSide::Buy : TSide::Sell,
                             1 + i / 20 % 3, (90 + i % 20) * P,
                             "FZ00001",      false};
    };
    const std::int64_t start = d.Now;
    const auto all = [&](const char* what, bool posted) {
        for (int i = 0; i < 120; ++i) {
            ++d.Now;
            const TPlaceResult r = d.Desk->Place(order(i));
            ASSERT_EQ(r.Status == TPlaceStatus::Posted, posted) << what << ", order " << i;
            if (!posted) {
                ASSERT_NE(r.Reason.find("меньше секунды"), std::string::npos) << r.Reason;
            }
        }
    };
    all("first", true);
    all("again at once", false);
    d.Now += 1'000;
    all("a second later", true);
    all("and again at once", false);
    const TOrderRequest other{"RI-3.27", TSide::Buy, 1, 95 * P, "FZ00001", false};
    EXPECT_EQ(d.Desk->Place(other).Status, TPlaceStatus::Posted);
    const TOrderRequest next{"RI-3.27", TSide::Buy, 1, 96 * P, "FZ00001", false};
    EXPECT_NE(d.Desk->Place(next).Reason.find("в минуту"), std::string::npos);
    d.Now = start + 60'000; // the first is not yet a minute old
    EXPECT_NE(d.Desk->Place(next).Reason.find("в минуту"), std::string::npos);
    d.Now = start + 120 + 60'000; // the first 120 are
    EXPECT_EQ(d.Desk->Place(next).Status, TPlaceStatus::Posted);
}

} // namespace
} // namespace vorlen::orders

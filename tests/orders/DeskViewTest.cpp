// The desk keeps the gate's view between orders and reads the replica's facts only when told
// they changed. Whatever it keeps, every decision must equal that of a desk that reads and
// builds everything afresh for each order: both are driven through the same day side by side.

#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"

#include <gtest/gtest.h>

namespace vorlen::orders {
namespace {

constexpr std::int64_t P = kPriceScale;

// What the orders log and the positions show, in terms of the adds each desk posted.
struct TWorld {
    struct TLogged {
        std::uint32_t TrId;
        std::int64_t Rest;
    };
    std::vector<TLogged> Log;
    std::int64_t Position = 0;
};

struct TDeskUnderTest {
    TDeskUnderTest(const TWorld& world, bool keepsFacts) : World(world) {
        TDeskInputs in;
        in.Facts = [this] {
            ++Reads;
            auto ref = std::make_shared<TRefFacts>();
            ref->Clients = {"FZ00001", "FZ00002"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->Instruments["RI-3.27"] = {8, "RI-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById = {{7, "Si-3.27"}, {8, "RI-3.27"}};
            TStoreFacts f;
            f.Ref = ref;
            for (const TWorld::TLogged& l : World.Log) {
                const auto post = Transport.Posts.find(l.TrId);
                if (post == Transport.Posts.end())
                    continue; // the two desks have parted already; the test says where
                TOwnOrder o;
                o.OrderId = 1000 + l.TrId;
                o.IsinId = 7;
                o.Client = "FZ00001";
                o.Rest = o.Amount = l.Rest;
                o.ExtId = post->second.ExtId;
                o.State = l.Rest > 0 ? TOrderState::Placed : TOrderState::Filled;
                f.ExtIds.insert(o.ExtId);
                if (o.Active())
                    f.Own.push_back(o);
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
        EXPECT_TRUE(limits.Parse("* max_qty=3 max_pos=6 max_active=4 per_minute=9\n", error))
            << error;
        Desk =
            std::make_unique<TOrderDesk>(Transport, limits, in, TOrderDesk::TJournalFn{}, nullptr);
        Transport.AnswerAddsWith = 0;
    }

    const TWorld& World;
    TScriptedTransport Transport;
    std::unique_ptr<TOrderDesk> Desk;
    std::int64_t Now = 1'000'000;
    bool Changed = false;
    int Reads = 0;
};

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
        {buy(1, 92), false, -1, 0, 4, 10},     // per minute: over
        {buy(1, 91), false, -1, 0, 4, 61'000}, // a minute later
    };
    int allowed = 0, refused = 0;
    for (std::size_t i = 0; i < day.size(); ++i) {
        const TStep& step = day[i];
        if (step.Logged >= 0 || step.Position != world.Position) {
            if (step.Logged >= 0) {
                world.Log.clear();
                for (const auto& [trId, post] : kept.Transport.Posts) {
                    const int n = static_cast<int>(world.Log.size());
                    if (!post.Cancel && n < step.Logged)
                        world.Log.push_back({trId, n < step.Filled ? 0 : 2});
                }
            }
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
        (a.Status == TPlaceStatus::Posted ? allowed : refused) += 1;
    }
    // The day went through both kinds of decision, and the kept desk read the facts only
    // when they had changed.
    EXPECT_GE(allowed, 5);
    EXPECT_GE(refused, 4);
    EXPECT_LT(kept.Reads, fresh.Reads / 2);
}

} // namespace
} // namespace vorlen::orders

// A strategy's orders through the real desk over a scripted transport: what the script is given
// back, whose orders it may see and cancel, and what it is told as its orders change.

#include "strategies/DeskPorts.h"

#include "orders/ScriptedTransport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vorlen {
namespace {

constexpr std::int64_t P = orders::kPriceScale;

class DeskPorts : public ::testing::Test {
protected:
    DeskPorts() {
        orders::TDeskInputs in;
        in.Facts = [this] {
            auto ref = std::make_shared<orders::TRefFacts>();
            ref->Clients = {"FZ00001"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById[7] = "Si-3.27";
            orders::TStoreFacts f;
            f.Ref = ref;
            for (const orders::TOwnOrder& o : Log) {
                f.ExtIds.insert(o.ExtId);
                if (o.Active())
                    f.Own.push_back(o);
            }
            return f;
        };
        in.MarketData = [] { return orders::TLinkHealth::Online; };
        Desk = std::make_unique<orders::TOrderDesk>(Transport, orders::TLimitsBook{}, in,
                                                    orders::TOrderDesk::TJournalFn{}, nullptr);
        Ports = std::make_unique<TDeskOrders>(
            *Desk,
            [this](std::int64_t id, orders::TOwnOrder& out) {
                Asked.push_back(id);
                const auto o =
                    std::find_if(Log.begin(), Log.end(),
                                 [&](const orders::TOwnOrder& x) { return x.OrderId == id; });
                if (o != Log.end())
                    out = *o;
                return o != Log.end();
            },
            std::chrono::milliseconds(0));
        Ports->SetIsin("Si-3.27");
    }

    TOrderResult Buy(std::int32_t qty, const std::string& price) {
        return Ports->Place(
            {"", orders::TSide::Buy, qty, orders::ParsePrice(price).value_or(0), "FZ00001"});
    }
    // The orders log now shows the add posted as `trId`.
    void Logged(std::uint32_t trId, orders::TOrderState state, std::int64_t rest) {
        orders::TOwnOrder o;
        o.OrderId = 1000 + trId;
        o.IsinId = 7;
        o.Client = "FZ00001";
        o.Price = 95 * P;
        o.Amount = 2;
        o.Rest = rest;
        o.ExtId = Transport.Posts.at(trId).ExtId;
        o.State = state;
        std::erase_if(Log, [&](const orders::TOwnOrder& x) { return x.OrderId == o.OrderId; });
        Log.push_back(o);
    }
    std::vector<std::string> Events() {
        std::vector<std::string> out;
        TOrderEvent ev;
        while (Ports->NextOrderEvent(ev))
            out.push_back(std::to_string(ev.Id) + " " + ev.State + " " + std::to_string(ev.Rest));
        return out;
    }

    std::vector<orders::TOwnOrder> Log;
    // The order ids the orders log was asked about, in turn.
    std::vector<std::int64_t> Asked;
    orders::TScriptedTransport Transport;
    std::unique_ptr<orders::TOrderDesk> Desk;
    std::unique_ptr<TDeskOrders> Ports;
};

TEST_F(DeskPorts, TheScriptGetsTheExchangesIdOrTheReasonAndSeesOnlyItsOwnOrders) {
    Transport.AnswerAddsWith = 0;
    const TOrderResult placed = Buy(2, "95.00");
    ASSERT_TRUE(placed.Ok()) << placed.Refusal;
    EXPECT_EQ(placed.Id, 1001);

    // The gate's reason, nothing posted; then the exchange's own refusal.
    EXPECT_NE(Buy(11, "95").Refusal.find("больше допустимого"), std::string::npos);
    EXPECT_EQ(Transport.Posts.size(), 1u);
    Transport.AnswerAddsWith = 31;
    const TOrderResult refused = Buy(1, "96");
    EXPECT_EQ(refused.Id, 0);
    EXPECT_EQ(refused.Refusal.rfind("биржа отклонила заявку: ", 0), 0u) << refused.Refusal;

    // The trader's own order on the same instrument is neither listed nor cancellable.
    orders::TOwnOrder manual;
    manual.OrderId = 555;
    manual.IsinId = 7;
    manual.Client = "FZ00001";
    manual.Rest = 1;
    Log.push_back(manual);
    const std::vector<orders::TOwnOrder> mine = Ports->ActiveOrders();
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].OrderId, 1001);
    EXPECT_EQ(mine[0].Price, 95 * P);
    EXPECT_FALSE(Ports->Cancel(555).empty());
    EXPECT_TRUE(Ports->Cancel(1001).empty());
    ASSERT_EQ(Transport.Cancels(), 1u);
    EXPECT_EQ(Transport.Posts.rbegin()->second.OrderId, 1001);

    // Its life as the orders log tells it: partly filled, then the rest cancelled.
    Logged(1, orders::TOrderState::PartlyFilled, 1);
    EXPECT_EQ(Events(), (std::vector<std::string>{"1001 partly_filled 1"}));
    EXPECT_TRUE(Events().empty());
    Logged(1, orders::TOrderState::Cancelled, 1);
    EXPECT_EQ(Events(), (std::vector<std::string>{"1001 cancelled 1"}));
    EXPECT_TRUE(Ports->ActiveOrders().empty());
}

TEST_F(DeskPorts, AnOrderAnsweredTooLateIsStillTheStrategysAndHaltingRefusesEverything) {
    const TOrderResult unanswered = Buy(2, "95");
    EXPECT_EQ(unanswered.Id, 0);
    EXPECT_NE(unanswered.Refusal.find("нет ответа биржи"), std::string::npos);

    // Accepted after all: the script hears of it and can take it off.
    Transport.ReplyAll();
    EXPECT_EQ(Events(), (std::vector<std::string>{"1001 active 2"}));
    ASSERT_EQ(Ports->ActiveOrders().size(), 1u);
    EXPECT_TRUE(Ports->Cancel(1001).empty());
    Logged(1, orders::TOrderState::Filled, 0);
    EXPECT_EQ(Events(), (std::vector<std::string>{"1001 filled 0"}));

    EXPECT_TRUE(Ports->HaltReason().empty());
    Desk->KillSwitch();
    EXPECT_EQ(Ports->HaltReason(), orders::kHaltedRefusal);
    EXPECT_EQ(Buy(1, "95").Refusal, orders::kHaltedRefusal);
}

// A strategy is woken by every row of its instrument, the orders log's too: a tick must cost
// what its own orders need, not the day's orders. The log is asked only about an order that left
// the active ones, once, however long the day has been.
TEST_F(DeskPorts, TheOrdersLogIsAskedOnlyAboutTheStrategysOrdersThatLeftTheActiveOnes) {
    Transport.AnswerAddsWith = 0;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Buy(2, std::to_string(95 + i)).Ok());
    // A long day of the trader's other orders, all finished.
    for (std::int64_t id = 1; id <= 2000; ++id) {
        orders::TOwnOrder done;
        done.OrderId = 50'000 + id;
        done.IsinId = 7;
        done.Client = "FZ00001";
        done.State = orders::TOrderState::Cancelled;
        Log.push_back(done);
    }
    const struct {
        std::uint32_t TrId;
        orders::TOrderState State;
        std::int64_t Rest;
        std::vector<std::string> Events;
        std::vector<std::int64_t> Asked;
    } steps[] = {
        {1, orders::TOrderState::Placed, 2, {}, {}},
        {2, orders::TOrderState::Cancelled, 2, {"1002 cancelled 2"}, {1002}},
        {3, orders::TOrderState::Filled, 0, {"1003 filled 0"}, {1003}},
        {1, orders::TOrderState::PartlyFilled, 1, {"1001 partly_filled 1"}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.TrId);
        Asked.clear();
        Logged(step.TrId, step.State, step.Rest);
        EXPECT_EQ(Events(), step.Events);
        EXPECT_EQ(Asked, step.Asked);
        // Told once; nothing asked again.
        Asked.clear();
        EXPECT_TRUE(Events().empty());
        EXPECT_TRUE(Asked.empty());
    }
}

} // namespace
} // namespace vorlen

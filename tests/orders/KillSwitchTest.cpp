// The kill switch's sequence through the desk, over a transport whose replies the test releases
// or withholds.

#include "gateway/AddOrderMessage.h"
#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"

#include <gtest/gtest.h>
#include <set>

namespace vorlen::orders {
namespace {

constexpr std::int64_t P = kPriceScale;

class KillSwitch : public ::testing::Test {
protected:
    KillSwitch() {
        TDeskInputs in;
        in.Facts = [] {
            auto ref = std::make_shared<TRefFacts>();
            ref->Clients = {"FZ00001"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById[7] = "Si-3.27";
            TStoreFacts f;
            f.Ref = ref;
            return f;
        };
        in.MarketData = [] { return TLinkHealth::Online; };
        in.NowMs = [this] { return Now; };
        in.StopStrategies = [this] { ++StrategyStops; };
        in.KillTimeoutMs = 5000;
        Inputs = in;
        MakeDesk(TLimitsBook{});
    }

    void MakeDesk(const TLimitsBook& limits) {
        Desk = std::make_unique<TOrderDesk>(
            Transport, limits, Inputs, [this](const std::string& t) { Lines.push_back(t); },
            nullptr);
    }

    void PlaceThree() {
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(
                Desk->Place({"Si-3.27", TSide::Buy, 1, (95 + i) * P, "FZ00001", false}).Status,
                TPlaceStatus::Posted);
        }
    }
    bool Said(const std::string& piece) const {
        for (const std::string& l : Lines)
            if (l.find(piece) != std::string::npos)
                return true;
        return false;
    }

    TDeskInputs Inputs;
    std::int64_t Now = 1'000'000;
    int StrategyStops = 0;
    std::vector<std::string> Lines;
    TScriptedTransport Transport;
    std::unique_ptr<TOrderDesk> Desk;
};

TEST_F(KillSwitch, CancelsEveryAcceptedOrderAndReportsDoneOnlyWhenAllAreConfirmed) {
    PlaceThree();
    Transport.ReplyAll();
    Desk->Collect();
    Desk->KillSwitch();
    EXPECT_EQ(StrategyStops, 1);
    EXPECT_EQ(Transport.Cancels(), 3u);
    EXPECT_EQ(Desk->KillPhase(), TKillPhase::Cancelling);

    // One confirmed, one "already gone": still one that may trade.
    Transport.Replies[4] = {0, 1001};
    Transport.Replies[5] = {14, 1002};
    Transport.Answered = {1, 2, 3, 4, 5};
    Desk->Collect();
    EXPECT_EQ(Desk->KillPhase(), TKillPhase::Cancelling);
    EXPECT_FALSE(Desk->LastKillReport());

    Transport.ReplyAll();
    Desk->Collect();
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_TRUE(Desk->LastKillReport()->AllGone);
    EXPECT_EQ(Desk->KillPhase(), TKillPhase::Halted);
    EXPECT_TRUE(Said("Все заявки сняты"));

    // Latched: orders are refused until a confirmed re-arm.
    EXPECT_EQ(Desk->Place({"Si-3.27", TSide::Buy, 1, 99 * P, "FZ00001", false}).Status,
              TPlaceStatus::Refused);
    EXPECT_FALSE(Desk->Rearm(false));
    EXPECT_TRUE(Desk->Rearm(true));
    EXPECT_EQ(Desk->Place({"Si-3.27", TSide::Buy, 1, 99 * P, "FZ00001", false}).Status,
              TPlaceStatus::Posted);
}

TEST_F(KillSwitch, WithheldRepliesLeaveItHaltedWithTheUnconfirmedCount) {
    PlaceThree();
    Transport.ReplyAll();
    Desk->Collect();
    Desk->KillSwitch();
    EXPECT_FALSE(Desk->Rearm(true)); // not while cancels are outstanding
    Now += 4999;
    Desk->Collect();
    EXPECT_FALSE(Desk->LastKillReport());
    Now += 1;
    Desk->Collect();
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_FALSE(Desk->LastKillReport()->AllGone);
    EXPECT_EQ(Desk->LastKillReport()->Unconfirmed, 3u);
    EXPECT_TRUE(Said("Снятие не подтверждено для заявок: 3."));
    EXPECT_FALSE(Said("Все заявки сняты"));
    EXPECT_EQ(Desk->KillPhase(), TKillPhase::Halted);
}

TEST_F(KillSwitch, OrdersStillWithoutReplyAreAwaitedAndCancelledOnceAccepted) {
    PlaceThree(); // no replies yet: each may be resting
    Desk->KillSwitch();
    EXPECT_EQ(Transport.Cancels(), 0u);
    Transport.ReplyAll(); // the three adds are accepted now
    Desk->Collect();
    EXPECT_EQ(Transport.Cancels(), 3u);
    EXPECT_FALSE(Desk->LastKillReport());
    Transport.ReplyAll();
    Desk->Collect();
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_TRUE(Desk->LastKillReport()->AllGone);
}

TEST_F(KillSwitch, ACancelThatCouldNotBePostedIsNeverReportedGone) {
    PlaceThree();
    Transport.ReplyAll();
    Desk->Collect();
    Transport.Accepting = false;
    Desk->KillSwitch();
    Now += 5000;
    Desk->Collect();
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_EQ(Desk->LastKillReport()->Unconfirmed, 3u);
}

TEST_F(KillSwitch, ModifyPlacesTheReplacementOnlyAfterTheCancelIsConfirmed) {
    ASSERT_EQ(Desk->Place({"Si-3.27", TSide::Buy, 1, 95 * P, "FZ00001", false}).Status,
              TPlaceStatus::Posted);
    Transport.ReplyAll();
    Desk->Collect();
    ASSERT_TRUE(Desk->Modify(1001, {"Si-3.27", TSide::Buy, 1, 96 * P, "FZ00001", false}));
    EXPECT_EQ(Transport.Posts.size(), 2u); // the cancel only
    Transport.ReplyAll();
    Desk->Collect();
    ASSERT_EQ(Transport.Posts.size(), 3u);
    EXPECT_FALSE(Transport.Posts[3].Cancel);

    // Already gone (code 14): the replacement is not placed.
    Transport.ReplyAll();
    Desk->Collect();
    ASSERT_TRUE(Desk->Modify(1003, {"Si-3.27", TSide::Buy, 1, 97 * P, "FZ00001", false}));
    Transport.ReplyAll(14);
    Desk->Collect();
    EXPECT_EQ(Transport.Posts.size(), 4u);
}

// The orders log tells the desk's own orders apart by ext_id: one given twice would make a live
// order look logged, and the kill switch would not wait for it.
TEST_F(KillSwitch, EveryOrderOfALongRunGetsItsOwnExtId) {
    TLimitsPatch many;
    many.MaxActive = many.MaxPerMinute = many.MaxPerDay = many.MaxPosition = 100'000;
    TLimitsBook limits;
    limits.SetAll(many);
    MakeDesk(limits);
    std::set<std::int32_t> extIds;
    for (int i = 0; i < 1'200; ++i) {
        Now += 1'001; // apart from the one before, so none is a repeat to confirm
        ASSERT_EQ(
            Desk->Place({"Si-3.27", TSide::Buy, 1, (95 + i % 10) * P, "FZ00001", false}).Status,
            TPlaceStatus::Posted)
            << i;
    }
    for (const auto& [trId, add] : Transport.Adds) {
        const std::int32_t ext = add.ext_id; // a copy: the message's fields are packed
        extIds.insert(ext);
    }
    EXPECT_EQ(extIds.size(), Transport.Adds.size());
}

} // namespace
} // namespace vorlen::orders

// The kill switch's sequence through the desk, over a transport whose replies the test releases
// or withholds.

#include "gateway/AddOrderMessage.h"
#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>

namespace vorlen::orders {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t P = kPriceScale;

class KillSwitch : public ::testing::Test {
protected:
    KillSwitch() {
        TDeskInputs in;
        in.Facts = [this] {
            auto ref = std::make_shared<TRefFacts>();
            ref->Clients = {"FZ00001"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById[7] = "Si-3.27";
            TStoreFacts f;
            f.Ref = ref;
            f.Own = Own;
            for (const TOwnOrder& o : Own) {
                f.ExtIds.insert(o.ExtId);
            }
            return f;
        };
        in.MarketData = [] { return TLinkHealth::Online; };
        in.NowMs = [this] { return Now; };
        in.StopStrategies = [this] { ++StrategyStops; };
        in.KillTimeoutMs = 5000;
        Inputs = in;
        Transport.Clock = [this] { return Now; };
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
    // `n` orders resting on the book, as the orders log shows them: 5001, 5002, ...
    void Resting(int n) {
        for (int i = 1; i <= n; ++i) {
            TOwnOrder o;
            o.OrderId = 5000 + i;
            o.IsinId = 7;
            o.Client = "FZ00001";
            o.Amount = o.Rest = 1;
            o.ExtId = 70'000 + i;
            Own.push_back(o);
        }
    }
    // The orders cancels were posted for, each once however often it was posted.
    std::set<std::int64_t> Cancelled() const {
        std::set<std::int64_t> ids;
        for (const auto& [trId, post] : Transport.Posts) {
            if (post.Cancel) {
                ids.insert(post.OrderId);
            }
        }
        return ids;
    }
    // Collect on a 50 ms timer for `ms`, the exchange answering every cancel with `code` as it
    // comes.
    void Run(std::int64_t ms, std::optional<std::int32_t> code = 0) {
        for (std::int64_t t = 0; t < ms && !Desk->LastKillReport(); t += 50) {
            if (code) {
                Transport.ReplyAll(*code);
            }
            Now += 50;
            Desk->Collect();
        }
    }
    std::size_t Count(const std::string& piece) const {
        std::size_t n = 0;
        for (const std::string& l : Lines)
            n += l.find(piece) != std::string::npos ? 1 : 0;
        return n;
    }
    bool Said(const std::string& piece) const {
        for (const std::string& l : Lines)
            if (l.find(piece) != std::string::npos)
                return true;
        return false;
    }

    // The orders log's own active orders, as the replica shows them.
    std::vector<TOwnOrder> Own;
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

// The terminal's own cap (30 posts a second) is far below what hundreds of resting orders need
// at once: the kill switch must pace its cancels and keep at it until every one is confirmed.
TEST_F(KillSwitch, HundredsOfOrdersAreCancelledUnderTheCapUntilEveryOneIsConfirmed) {
    Transport.Cap = 30;
    Resting(261);
    Desk->KillSwitch();
    EXPECT_EQ(Transport.Cancels(), 30u);
    Run(60'000);
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_TRUE(Desk->LastKillReport()->AllGone);
    EXPECT_EQ(Cancelled().size(), 261u);
    EXPECT_EQ(Transport.Cancels(), 261u); // each answered at once: none posted twice
    EXPECT_EQ(Transport.ThrottledPosts, 0u);
    EXPECT_EQ(Count("Все заявки сняты, торговля остановлена."), 1u);
    EXPECT_FALSE(Said("Снятие не подтверждено"));
}

TEST_F(KillSwitch, UnansweredCancelsKeepBeingPostedUntilTheDeadlineThenEachIsNamed) {
    const fs::path dir = fs::path(::testing::TempDir()) / "kill_report";
    fs::remove_all(dir);
    fs::create_directories(dir);
    TOrderLogFile log(dir);
    Desk = std::make_unique<TOrderDesk>(
        Transport, TLimitsBook{}, Inputs, [this](const std::string& t) { Lines.push_back(t); },
        &log);
    Transport.Cap = 30;
    Resting(261);
    Desk->KillSwitch();
    Run(10'000, std::nullopt); // no answer at all
    EXPECT_FALSE(Desk->LastKillReport()) << "hundreds of orders need longer than the floor";
    EXPECT_EQ(Cancelled().size(), 261u);
    Run(60'000, std::nullopt);
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_FALSE(Desk->LastKillReport()->AllGone);
    EXPECT_EQ(Desk->LastKillReport()->Orders.size(), 261u);
    EXPECT_GT(Transport.Cancels(), 261u); // the unanswered ones went again
    EXPECT_EQ(Transport.ThrottledPosts, 0u);
    EXPECT_EQ(Count("Снятие не подтверждено для заявок: 261. Торговля остановлена."), 1u);
    EXPECT_EQ(Count("Снятие не подтверждено, заявки: 5001, 5002, 5003, 5004, 5005, 5006, 5007, "
                    "5008, 5009, 5010 и ещё 251 (все номера в журнале заявок)."),
              1u);
    EXPECT_EQ(Count("Снятие не подтверждено, заявки: "), 1u); // the full list is the log's only
    std::string logged;
    {
        // Closed before the folder goes: Windows deletes no file that is open.
        std::ifstream in(log.FileFor(std::chrono::system_clock::now()));
        logged.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(logged.find(", 5260, 5261."), std::string::npos);
    EXPECT_EQ(Desk->KillPhase(), TKillPhase::Halted);
    EXPECT_EQ(Desk->Place({"Si-3.27", TSide::Buy, 1, 99 * P, "FZ00001", false}).Status,
              TPlaceStatus::Refused);
    fs::remove_all(dir);
}

// What can keep a cancel from being confirmed the first time: each is retried until it is.
enum class TTrouble { NoAnswer, ErrorAnswer, NotTaken, LinkDown, KilledTwice };

class KillSwitchTrouble : public KillSwitch, public ::testing::WithParamInterface<TTrouble> {};

TEST_P(KillSwitchTrouble, EveryOrderIsConfirmedOnceTheTroubleIsOver) {
    const TTrouble trouble = GetParam();
    Transport.Cap = 30;
    Resting(40);
    Transport.Accepting = trouble != TTrouble::NotTaken;
    Transport.Link = trouble == TTrouble::LinkDown ? TLinkHealth::Offline : TLinkHealth::Online;
    Desk->KillSwitch();
    for (int t = 0; t < 1'000; t += 50) {
        if (trouble == TTrouble::NoAnswer) {
            for (const auto& [trId, post] : Transport.Posts) {
                Transport.Answered.insert(trId); // lost on the way
            }
        } else if (trouble == TTrouble::ErrorAnswer) {
            Transport.ReplyAll(3);
        }
        Now += 50;
        Desk->Collect();
        if (trouble == TTrouble::KilledTwice && t == 500) {
            Desk->KillSwitch();
        }
    }
    EXPECT_FALSE(Desk->LastKillReport());
    // A connection that takes nothing is tried again now and then, not on every tick.
    EXPECT_LE(Count(" не отправлено: "), 3u);
    Transport.Accepting = true;
    Transport.Link = TLinkHealth::Online;
    Run(30'000);
    ASSERT_TRUE(Desk->LastKillReport());
    EXPECT_TRUE(Desk->LastKillReport()->AllGone);
    EXPECT_EQ(Cancelled().size(), 40u);
    EXPECT_EQ(Transport.ThrottledPosts, 0u);
    if (trouble == TTrouble::KilledTwice) {
        EXPECT_EQ(Transport.Cancels(), 40u); // none of those on their way went twice
    }
    EXPECT_EQ(Count("Все заявки сняты, торговля остановлена."), 1u);
}

std::string TroubleName(const ::testing::TestParamInfo<TTrouble>& info) {
    const char* const names[] = {"NoAnswer", "ErrorAnswer", "NotTaken", "LinkDown", "KilledTwice"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Troubles, KillSwitchTrouble,
                         ::testing::Values(TTrouble::NoAnswer, TTrouble::ErrorAnswer,
                                           TTrouble::NotTaken, TTrouble::LinkDown,
                                           TTrouble::KilledTwice),
                         TroubleName);

TEST_F(KillSwitch, TheCapsRefusalsSayItIsTheTerminalsLimitAndAFloodIsOneLineASecond) {
    TLimitsPatch many;
    many.MaxActive = many.MaxPerMinute = many.MaxPerDay = many.MaxPosition = 100'000;
    TLimitsBook limits;
    limits.SetAll(many);
    MakeDesk(limits);
    Transport.Cap = 30;
    Resting(5);
    std::size_t posted = 0;
    for (int i = 0; i < 100; ++i) {
        const TPlaceResult r =
            Desk->Place({"Si-3.27", TSide::Buy, 1 + i / 19, (91 + i % 19) * P, "FZ00001", false});
        if (r.Status == TPlaceStatus::Posted) {
            ++posted;
        } else {
            EXPECT_EQ(r.Reason, "превышен лимит терминала: 30 сообщений в секунду.") << i;
        }
    }
    for (std::int64_t id = 5001; id <= 5005; ++id) {
        EXPECT_FALSE(Desk->Cancel(id));
    }
    EXPECT_EQ(posted, 30u);
    EXPECT_EQ(Count("Заявка не отправлена: превышен лимит терминала: 30 сообщений в секунду."), 1u);
    EXPECT_EQ(Count("превышен лимит терминала"), 1u);
    EXPECT_FALSE(Said("не приняло"));
    Now += 999;
    Desk->Collect();
    EXPECT_EQ(Count("превышен лимит терминала"), 1u);
    Now += 1;
    Desk->Collect();
    Desk->Collect();
    EXPECT_EQ(Count("За секунду не отправлено заявок и снятий: 75 (превышен лимит терминала: 30 "
                    "сообщений в секунду)."),
              1u);
    // The posts' two lines each, the first refusal, the summary, the kill switch's and the line
    // that counts the day's earlier orders (the five resting ones).
    EXPECT_LE(Lines.size(), 30u * 2 + 4);
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

// The orders log may show adds the kill switch waits for before their replies come; cancelling
// them must not trip over the pending list it adds the cancels to, however full it was.
TEST_F(KillSwitch, AddsTheLogShowsBeforeTheirRepliesAreCancelledWhileThePendingListGrows) {
    for (const int n : {8, 16}) { // a full vector at either size: the next cancel regrows it
        SCOPED_TRACE(n);
        Own.clear();
        TScriptedTransport transport;
        auto desk =
            std::make_unique<TOrderDesk>(transport, TLimitsBook{}, Inputs, nullptr, nullptr);
        for (int i = 0; i < n; ++i) {
            Now += 1'001;
            ASSERT_EQ(
                desk->Place({"Si-3.27", TSide::Buy, 1, (91 + i % 8) * P, "FZ00001", false}).Status,
                TPlaceStatus::Posted);
        }
        desk->KillSwitch();
        EXPECT_EQ(transport.Cancels(), 0u);
        for (const auto& [trId, add] : transport.Adds) {
            TOwnOrder o;
            o.OrderId = 1000 + trId;
            o.IsinId = 7;
            o.Client = "FZ00001";
            o.Amount = o.Rest = 1;
            o.ExtId = add.ext_id;
            Own.push_back(o);
        }
        desk->Collect();
        std::set<std::int64_t> cancelled;
        for (int round = 0; round < 10 && !desk->LastKillReport(); ++round) {
            for (const auto& [trId, post] : transport.Posts) {
                if (post.Cancel) {
                    cancelled.insert(post.OrderId);
                }
            }
            transport.ReplyAll();
            Now += 100;
            desk->Collect();
        }
        EXPECT_EQ(cancelled.size(), static_cast<std::size_t>(n));
        ASSERT_TRUE(desk->LastKillReport());
        EXPECT_TRUE(desk->LastKillReport()->AllGone);
    }
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

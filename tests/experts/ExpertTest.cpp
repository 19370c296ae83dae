#include "experts/Expert.h"

#include "connections/ErrorCode.h"
#include "connections/GatewayRecords.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>

namespace vorlen {
namespace {

using test::TRowBytes;
using test::TTestScheme;

class FakeReplies : public TOrderReplies {
public:
    bool GetReplData(std::uint32_t Key, TReplData& Data) override {
        if (OnAsk)
            OnAsk();
        std::lock_guard lock(FLock);
        ++Asked;
        const auto it = Replies.find(Key);
        if (it == Replies.end())
            return false;
        Data = std::move(it->second);
        Replies.erase(it);
        return true;
    }
    void Put(std::uint32_t key, const TValue* code) {
        std::lock_guard lock(FLock);
        TReplData r;
        r.MsgName = "FORTS_MSG101";
        r.Fields["message"] = TField{"c255", std::string("text")};
        if (code != nullptr)
            r.Fields["code"] = TField{"i4", *code};
        Replies[key] = std::move(r);
    }
    std::size_t Pending() {
        std::lock_guard lock(FLock);
        return Replies.size();
    }
    int Asked = 0;
    std::function<void()> OnAsk; // runs at every request, before it is served

private:
    std::mutex FLock;
    std::map<std::uint32_t, TReplData> Replies;
};

// Counts the strategy's calls; the first one can run something while it is under way.
class CountingExpert : public TExpert {
public:
    using TExpert::TExpert;
    std::function<void()> DuringFirstTick;

    void WaitForTicks(int n) {
        std::unique_lock lock(FLock);
        FCond.wait(lock, [&] { return FTicks >= n; });
    }
    int Ticks() {
        std::lock_guard lock(FLock);
        return FTicks;
    }

protected:
    void ProcessTick() override {
        if (Ticks() == 0 && DuringFirstTick)
            DuringFirstTick();
        std::lock_guard lock(FLock);
        ++FTicks;
        FCond.notify_all();
    }

private:
    std::mutex FLock;
    std::condition_variable FCond;
    int FTicks = 0;
};

class Expert : public ::testing::Test {
protected:
    void SetUp() override {
        SetFormatSettings(RussianFormatSettings());
        ui::MarkUiThread();
        Part.Table("part", test::ReplFields({{"client_code", "c8", 8}, {"money_free", "i8", 8}}));
        Trade.Table("fut_trades", test::ReplFields({{"isin_id", "i4", 4}, {"price", "i8", 8}}));
        Store.SetStreams({"FORTS_PART_REPL", "FORTS_TRADE_REPL"});
        Lsn.resize(2);
        Lsn[0].sName = "FORTS_PART_REPL";
        Lsn[1].sName = "FORTS_TRADE_REPL";
        Lsn[1].Pos = 1;
        Store.SetTblsDesc(0, Lsn[0], Part.Desc());
        Store.SetTblsDesc(1, Lsn[1], Trade.Desc());
        TRowBytes account(Part, "part");
        account.Key(1).Text("client_code", "A01").Int("money_free", 5000);
        Store.UpdStrMsg(account.Msg(), Lsn[0]);
    }
    void TearDown() override { ui::UnmarkUiThread(); }

    void Trade_(std::int64_t id, std::int32_t isin) {
        TRowBytes r(Trade, "fut_trades");
        r.Key(id).Int("isin_id", isin).Int("price", 100 + id);
        Store.UpdStrMsg(r.Msg(), Lsn[1]);
    }

    std::unique_ptr<CountingExpert> Make(std::int32_t isin = 42) {
        auto e = std::make_unique<CountingExpert>(Store, &Replies);
        e->isin_id = isin;
        e->Futisin = "Si-12.26";
        e->Memo = &Memo;
        return e;
    }

    // Signals the order event with `code` (null: a reply without "code"), then lets the expert
    // end; returns the lines it wrote.
    std::vector<std::string> Reply(const TValue* code) {
        auto e = Make();
        e->TransId = 77;
        Replies.Put(77, code);
        e->OrderEvent().Set();
        e->ExitEvent().Set();
        e->Start();
        e->WaitFor();
        EXPECT_EQ(Replies.Pending(), 0u); // the reply is taken whatever it says
        return Memo.Lines;
    }

    static std::string Tail(const std::string& line) { return line.substr(line.find(" --> ")); }

    TTestScheme Part, Trade;
    TCGStorage Store;
    std::vector<TStreamData> Lsn;
    FakeReplies Replies;
    TMemoryJournal Memo;
};

TEST_F(Expert, CreationBuildsTheFieldMapFromTheStore) {
    auto e = Make();
    EXPECT_EQ(ValueToStr(e->DataBase.GetField("money_free").Data), "5000");
    EXPECT_EQ(e->DataBase.GetField("isin_id").FType, nullptr);
    EXPECT_EQ(e->TransId, 0u);
}

TEST_F(Expert, ABurstOfTicksDuringATickGivesOneMoreTickNotOnePerMessage) {
    auto e = Make();
    e->DuringFirstTick = [&] {
        for (int i = 0; i < 20; ++i)
            Trade_(100 + i, 42);
    };
    ASSERT_TRUE(e->RegisterAndStart());
    Trade_(1, 42);
    Trade_(2, 43); // another instrument: no tick for this expert
    e->WaitForTicks(2);
    // Only the exit event: a tick still pending would be served before it.
    e->ExitEvent().Set();
    e->WaitFor();
    EXPECT_EQ(e->Ticks(), 2);
    EXPECT_TRUE(Memo.Lines.empty());
}

TEST_F(Expert, AFailedOrderWritesTheReasonOfItsCode) {
    const TValue five{std::int32_t{5}};
    const auto lines = Reply(&five);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_FALSE(GetReplyText(5).empty());
    EXPECT_EQ(Tail(lines[0]),
              " --> Ошибка отправки ордера Si-12.26. Причина: " + std::string(GetReplyText(5)));
}

TEST_F(Expert, SuccessNotFoundAndNoCodeWriteNothing) {
    const TValue zero{std::int32_t{0}}, fourteen{std::int32_t{14}};
    EXPECT_TRUE(Reply(&zero).empty());
    EXPECT_TRUE(Reply(&fourteen).empty());
    EXPECT_TRUE(Reply(nullptr).empty());
}

TEST_F(Expert, AnUnknownCodeGivesAnEmptyReason) {
    const TValue unknown{std::int32_t{987654}};
    ASSERT_TRUE(GetReplyText(987654).empty());
    const auto lines = Reply(&unknown);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Tail(lines[0]), " --> Ошибка отправки ордера Si-12.26. Причина: ");
}

TEST_F(Expert, AnOrderEventWithoutAReplyAndTheSpareEventsChangeNothing) {
    auto e = Make();
    e->TransId = 5;
    e->OrderEvent().Set();
    e->TradeEvent().Set();
    e->ErrorEvent().Set();
    e->ExitEvent().Set();
    e->Start();
    e->WaitFor();
    EXPECT_EQ(Replies.Asked, 1);
    EXPECT_TRUE(Memo.Lines.empty());
    EXPECT_EQ(e->Ticks(), 0);
}

TEST_F(Expert, AClosedExpertEndsPromptlyAndIsNeverSignalledAgain) {
    auto e = Make();
    ASSERT_TRUE(e->RegisterAndStart());
    Trade_(1, 42);
    e->WaitForTicks(1);
    e->Stop();
    EXPECT_TRUE(e->Finished());
    e.reset();
    // The store must have dropped the freed expert's event (a sanitizer build sees the use).
    Trade_(2, 42);

    // An expert whose registration never happened is never started; closing it cannot hang.
    auto idle = Make();
    idle->Stop();
    EXPECT_FALSE(idle->Started());
}

TEST_F(Expert, StoppingWithdrawsAPendingReply) {
    auto e = Make();
    e->TransId = 9;
    const TValue code{std::int32_t{5}};
    Replies.Put(9, &code);
    ASSERT_TRUE(e->RegisterAndStart());
    e->Stop();
    // Nobody would fetch it any more, and its event is about to be freed.
    EXPECT_EQ(Replies.Pending(), 0u);
    EXPECT_TRUE(Memo.Lines.empty());
}

TEST_F(Expert, APendingReplyIsWithdrawnOnlyAfterTheThreadHasEnded) {
    auto e = Make();
    e->TransId = 9;
    const TValue code{std::int32_t{5}};
    Replies.Put(9, &code);
    std::vector<bool> finishedWhenAsked;
    Replies.OnAsk = [&] { finishedWhenAsked.push_back(e->Finished()); };
    ASSERT_TRUE(e->RegisterAndStart());
    Trade_(1, 42);
    e->WaitForTicks(1);
    e->Stop();
    Replies.OnAsk = nullptr;
    EXPECT_EQ(finishedWhenAsked, std::vector<bool>{true});
    EXPECT_EQ(Replies.Pending(), 0u);
}

} // namespace
} // namespace vorlen

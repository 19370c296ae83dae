// The order books kept beside the store: fed through the store's own apply step, so every case
// also checks that the store tells the keeper what it did.

#include "book/BookKeeper.h"

#include "book/BookRunTimes.h"
#include "book/BookView.h"
#include "gateway/Cgate.h"
#include "platform/FormatSettings.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace vorlen::test {

namespace {

constexpr std::int32_t kIsin = 7;
constexpr std::int32_t kOther = 8;

// Streams in listener order.
enum { kAggr, kTrade, kPos, kRef, kVm, kStreamCount };

// One step of a scenario on the aggregated table.
struct TStep {
    enum { Put, Del, LifeNumber, ClearBelow, Redescribe } Op;
    std::int64_t Id = 0;
    int Dir = 1;
    std::int64_t Price = 0; // in 1e-5
    std::int64_t Volume = 0;
    std::int64_t Rev = 1;
    std::int32_t Isin = kIsin;
};

TStep Put(std::int64_t id, int dir, std::int64_t price, std::int64_t volume, std::int64_t rev = 1,
          std::int32_t isin = kIsin) {
    return {TStep::Put, id, dir, price * 100000, volume, rev, isin};
}
TStep Del(std::int64_t id) {
    return {TStep::Del, id};
}

using TLevels = std::vector<std::pair<double, std::int64_t>>; // price, volume; best first

struct TCase {
    const char* Name;
    std::vector<TStep> Steps;
    TLevels Bids;
    TLevels Asks;
    bool Crossed = false;
};

class BookKeeperTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = TestBcdGet;
        SetFormatSettings(RussianFormatSettings());
        Aggr.Table("orders_aggr", ReplFields({{"isin_id", "i4", 4},
                                              {"price", "d16.5", 9},
                                              {"volume", "i8", 8},
                                              {"dir", "i1", 1}}));
        Trade.Table("orders_log", ReplFields({{"public_order_id", "i8", 8},
                                              {"isin_id", "i4", 4},
                                              {"public_amount_rest", "i8", 8},
                                              {"price", "d16.5", 9},
                                              {"dir", "i1", 1}}));
        Pos.Table("position", ReplFields({{"client_code", "c7", 7},
                                          {"isin_id", "i4", 4},
                                          {"xpos", "i8", 8},
                                          {"waprice", "d16.5", 9}}));
        Ref.Table("fut_sess_contents", ReplFields({{"isin_id", "i4", 4},
                                                   {"min_step", "d16.5", 9},
                                                   {"step_price", "d16.5", 9}}));
        Vm.Table("fut_vm",
                 ReplFields({{"isin_id", "i4", 4}, {"client_code", "c7", 7}, {"vm", "d16.5", 9}}));
        Store.SetObserver(&Books);
        Choose(Names);
    }
    void TearDown() override { CG() = FSavedCG; }

    void Choose(const std::vector<std::string>& names) {
        Store.SetStreams(names);
        Lsn.assign(names.size(), TStreamData{});
        for (std::size_t i = 0; i < names.size(); ++i) {
            Lsn[i].Pos = static_cast<std::int32_t>(i);
            Lsn[i].sName = names[i];
        }
    }
    void Open(int s) {
        TTestScheme* schemes[] = {&Aggr, &Trade, &Pos, &Ref, &Vm};
        Store.SetTblsDesc(s, Lsn[static_cast<std::size_t>(s)], schemes[s]->Desc());
    }
    void OpenAll() {
        for (int s = 0; s < kStreamCount; ++s)
            Open(s);
    }
    void Send(int s, const TRowBytes& row) {
        if (Run)
            Run->UpdStrMsg(row.Msg(), Lsn[static_cast<std::size_t>(s)]);
        else
            Store.UpdStrMsg(row.Msg(), Lsn[static_cast<std::size_t>(s)]);
    }
    void Apply(const TStep& st) {
        TRowBytes r(Aggr, "orders_aggr");
        switch (st.Op) {
        case TStep::Put:
            r.Key(st.Id, st.Rev)
                .Int("isin_id", st.Isin)
                .Decimal("price", st.Price, 5)
                .Int("volume", st.Volume)
                .Int("dir", st.Dir);
            Send(kAggr, r);
            break;
        case TStep::Del:
            r.Key(st.Id, st.Rev, 1);
            Send(kAggr, r);
            break;
        case TStep::LifeNumber:
            Store.LNClearTables(kAggr);
            break;
        case TStep::ClearBelow: {
            cg_data_cleardeleted_t clear{};
            clear.table_idx = 0;
            clear.table_rev = st.Rev;
            Store.ClearDeleted(kAggr, &clear, sizeof clear);
            break;
        }
        case TStep::Redescribe:
            Open(kAggr);
            break;
        }
    }
    void Order(std::int64_t replId, std::int64_t order, int dir, std::int64_t price,
               std::int64_t rest) {
        TRowBytes r(Trade, "orders_log");
        r.Key(replId)
            .Int("public_order_id", order)
            .Int("isin_id", kIsin)
            .Int("public_amount_rest", rest)
            .Decimal("price", price * 100000, 5)
            .Int("dir", dir);
        Send(kTrade, r);
    }
    TBookSnapshot Snap(std::int32_t isin = kIsin) {
        TBookSnapshot s;
        Books.Snapshot(isin, s);
        return s;
    }
    static TLevels Levels(const std::vector<TBookLevel>& side) {
        TLevels out;
        for (const TBookLevel& l : side)
            out.emplace_back(l.Price, l.Volume);
        return out;
    }

    std::vector<std::string> Names = {"FORTS_AGGR5_REPL", "FORTS_TRADE_REPL", "FORTS_POS_REPL",
                                      "FORTS_REFDATA_REPL", "FORTS_VM_REPL"};
    TTestScheme Aggr, Trade, Pos, Ref, Vm;
    TCGStorage Store;
    TBookKeeper Books{Store.Mutex()};
    std::vector<TStreamData> Lsn;
    // Messages go in runs that share a hold of the store's lock while this is set.
    std::unique_ptr<TCGStorage::TBatch> Run;
    TCGateEntryPoints FSavedCG;
};

TEST_F(BookKeeperTest, LadderFollowsTheAggregatedRows) {
    const std::vector<TCase> cases = {
        {"inserts come out sorted, best first",
         {Put(1, 1, 99, 5), Put(2, 2, 101, 3), Put(3, 1, 100, 4), Put(4, 2, 102, 6)},
         {{100, 4}, {99, 5}},
         {{101, 3}, {102, 6}}},
        {"a changed row moves its volume and its level",
         {Put(1, 1, 99, 5), Put(2, 1, 98, 1), Put(1, 1, 97, 8), Put(2, 1, 98, 2)},
         {{98, 2}, {97, 8}},
         {}},
        {"a row may change side", {Put(1, 1, 99, 5), Put(1, 2, 101, 5)}, {}, {{101, 5}}},
        {"a row may leave for another instrument and come back",
         {Put(1, 1, 99, 5), Put(2, 1, 98, 1), Put(1, 1, 99, 5, 1, kOther), Put(3, 2, 101, 2),
          Put(1, 2, 102, 4)},
         {{98, 1}},
         {{101, 2}, {102, 4}}},
        {"deletion removes a level, an unknown key changes nothing",
         {Put(1, 1, 99, 5), Put(2, 1, 98, 1), Del(1), Del(42)},
         {{98, 1}},
         {}},
        {"rows at one price make one level of their sum, and stay when one goes",
         {Put(1, 2, 101, 5), Put(2, 2, 101, 2), Put(3, 2, 102, 1), Del(1)},
         {},
         {{101, 2}, {102, 1}}},
        {"each side is cut at the stream's depth",
         {Put(1, 1, 91, 1), Put(2, 1, 92, 1), Put(3, 1, 93, 1), Put(4, 1, 94, 1), Put(5, 1, 95, 1),
          Put(6, 1, 96, 1), Put(7, 1, 97, 1)},
         {{97, 1}, {96, 1}, {95, 1}, {94, 1}, {93, 1}},
         {}},
        {"a crossed book is shown as the exchange sent it",
         {Put(1, 1, 101, 1), Put(2, 2, 100, 2)},
         {{101, 1}},
         {{100, 2}},
         true},
        {"rows without volume or direction, and other instruments, are no levels here",
         {Put(1, 1, 99, 0), Put(2, 3, 98, 4), Put(3, 1, 97, 2, 1, kOther), Put(4, 2, 103, 1)},
         {},
         {{103, 1}}},
        {"a life-number change empties the book, which then rebuilds from new rows",
         {Put(1, 1, 99, 5), Put(2, 2, 101, 3), {TStep::LifeNumber}, Put(3, 1, 98, 7)},
         {{98, 7}},
         {}},
        {"clear-deleted removes the rows below the revision",
         {Put(1, 1, 99, 5, 10),
          Put(2, 1, 98, 1, 20),
          Put(3, 2, 101, 1, 30),
          {TStep::ClearBelow, 0, 1, 0, 0, 20}},
         {{98, 1}},
         {{101, 1}}},
        {"clear-deleted at the largest revision empties the book",
         {Put(1, 1, 99, 5, 10),
          {TStep::ClearBelow, 0, 1, 0, 0, std::numeric_limits<std::int64_t>::max()}},
         {},
         {}},
        {"a listener that reopens starts an empty book",
         {Put(1, 1, 99, 5), {TStep::Redescribe}, Put(2, 2, 101, 1)},
         {},
         {{101, 1}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        OpenAll();
        for (const TStep& st : c.Steps)
            Apply(st);
        const TBookSnapshot s = Snap();
        EXPECT_EQ(s.Status, TBookStatus::Live);
        EXPECT_EQ(Levels(s.Bids), c.Bids);
        EXPECT_EQ(Levels(s.Asks), c.Asks);
        EXPECT_EQ(s.Crossed(), c.Crossed);
    }
}

// Long random runs against a model that sums the live rows per price: inserts, changes,
// moves between instruments, deletions (of unknown rows too), clear-deleted and life-number
// changes. The messages come in runs of the store's of every length, as the market-data
// connection gives them, so changes the books put off meet deletions, moves and the run's end.
TEST_F(BookKeeperTest, RandomRunsEqualTheSumsOfTheLiveRows) {
    struct TModelRow {
        std::int32_t Isin;
        int Dir;
        std::int64_t Price, Volume, Rev;
    };
    std::mt19937 rng(1209);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    OpenAll();
    std::map<std::int64_t, TModelRow> model;
    std::int64_t rev = 0;
    for (int step = 0; step < 6000; ++step) {
        const int dice = pick(1000);
        const std::int64_t id = 1 + pick(300);
        if (dice >= 990 || pick(150) == 0 || step % 97 == 0)
            Run.reset(); // the store's lock is let go before anything else takes it
        else if (!Run)
            Run = std::make_unique<TCGStorage::TBatch>(Store);
        if (dice < 600) {
            const TModelRow r{pick(4) == 0 ? kOther : kIsin, 1 + pick(3), 90 + pick(20), pick(6),
                              ++rev};
            Apply(Put(id, r.Dir, r.Price, r.Volume, r.Rev, r.Isin));
            model[id] = r;
        } else if (dice < 990) {
            Apply(Del(id));
            model.erase(id);
        } else if (dice < 997) {
            const std::int64_t below = rev - pick(200);
            Apply({TStep::ClearBelow, 0, 1, 0, 0, below});
            std::erase_if(model, [&](const auto& kv) { return kv.second.Rev < below; });
        } else {
            Apply({TStep::LifeNumber});
            model.clear();
        }
        if (step % 97 != 0)
            continue;
        for (const std::int32_t isin : {kIsin, kOther}) {
            std::map<std::int64_t, std::int64_t> sums[2];
            for (const auto& [key, r] : model)
                if (r.Isin == isin && r.Volume > 0 && (r.Dir == 1 || r.Dir == 2))
                    sums[r.Dir - 1][r.Price] += r.Volume;
            TLevels bids, asks;
            for (auto it = sums[0].rbegin(); it != sums[0].rend() && bids.size() < 5; ++it)
                bids.emplace_back(static_cast<double>(it->first), it->second);
            for (auto it = sums[1].begin(); it != sums[1].end() && asks.size() < 5; ++it)
                asks.emplace_back(static_cast<double>(it->first), it->second);
            const TBookSnapshot s = Snap(isin);
            ASSERT_EQ(Levels(s.Bids), bids) << "step " << step << ", instrument " << isin;
            ASSERT_EQ(Levels(s.Asks), asks) << "step " << step << ", instrument " << isin;
            // What the gate reads without a copy is what the copy shows.
            ASSERT_EQ(Books.BestPrice(isin, false), s.BestBid()) << "step " << step;
            ASSERT_EQ(Books.BestPrice(isin, true), s.BestAsk()) << "step " << step;
        }
    }
}

TEST_F(BookKeeperTest, OwnRestingOrdersAreMarkedAtTheirLevelsByTheirLatestAction) {
    OpenAll();
    Apply(Put(1, 1, 99, 10));
    Apply(Put(2, 1, 98, 4));
    Apply(Put(3, 2, 101, 6));
    Order(1, 500, 1, 99, 3);  // rests 3 at the best bid
    Order(2, 501, 2, 101, 2); // rests 2 at the best ask
    Order(3, 502, 1, 98, 1);
    Order(4, 502, 1, 98, 0); // then filled: no longer resting
    Order(5, 500, 1, 99, 2); // partly filled
    Order(0, 500, 1, 99, 9); // an older action arriving late changes nothing
    Order(6, 503, 1, 97, 5); // below the book's levels: no level to mark
    const TBookSnapshot s = Snap();
    ASSERT_EQ(s.Bids.size(), 2u);
    EXPECT_EQ(s.Bids[0], (TBookLevel{99, 10, 2}));
    EXPECT_EQ(s.Bids[1], (TBookLevel{98, 4, 0}));
    ASSERT_EQ(s.Asks.size(), 1u);
    EXPECT_EQ(s.Asks[0], (TBookLevel{101, 6, 2}));
    // Every resting price, the one beyond the levels too, for a ladder that draws it.
    EXPECT_EQ(s.OwnOrders, (std::vector<TOwnLevel>{{1, 97, 5}, {1, 99, 2}, {2, 101, 2}}));

    // The trade stream's new life number forgets the orders; the book stays.
    Store.LNClearTables(kTrade);
    EXPECT_EQ(Snap().Bids[0], (TBookLevel{99, 10, 0}));
}

TEST_F(BookKeeperTest, StatusSaysWhetherTheBookStreamIsChosenAndDescribed) {
    Choose({"FORTS_TRADE_REPL", "FORTS_POS_REPL"});
    EXPECT_EQ(Snap().Status, TBookStatus::NotSubscribed);
    EXPECT_EQ(Books.BestPrice(kIsin, true), std::nullopt);
    Choose(Names);
    EXPECT_EQ(Snap().Status, TBookStatus::Waiting);
    Open(kAggr);
    const TBookSnapshot s = Snap();
    EXPECT_EQ(s.Status, TBookStatus::Live);
    EXPECT_EQ(s.Depth, 5);
    EXPECT_FALSE(s.LastUpdate);
}

TEST_F(BookKeeperTest, SnapshotCopiesOnlyWhenItsInstrumentChanged) {
    OpenAll();
    Apply(Put(1, 1, 99, 5));
    TBookSnapshot s;
    EXPECT_TRUE(Books.Snapshot(kIsin, s));
    EXPECT_FALSE(Books.Snapshot(kIsin, s));
    Apply(Put(2, 1, 98, 1, 1, kOther));
    EXPECT_FALSE(Books.Snapshot(kIsin, s)) << "another instrument's level";
    // A level's volume changing is not told to the books, yet it is an update, and when.
    const auto before = std::chrono::system_clock::now();
    Apply(Put(1, 1, 99, 6, 2));
    EXPECT_TRUE(Books.Snapshot(kIsin, s));
    EXPECT_EQ(s.Bids[0].Volume, 6);
    ASSERT_TRUE(s.LastUpdate);
    EXPECT_GE(*s.LastUpdate, before);
    TBookSnapshot other;
    EXPECT_TRUE(Books.Snapshot(kOther, other));
    EXPECT_EQ(Levels(other.Bids), (TLevels{{98, 1}}));
}

TEST_F(BookKeeperTest, HeaderValuesEachClientsPositionAtTheMark) {
    OpenAll();
    TRowBytes ref(Ref, "fut_sess_contents");
    // Minimum step 0.25 is worth 0.5 money units.
    ref.Key(1).Int("isin_id", kIsin).Decimal("min_step", 25, 2).Decimal("step_price", 5, 1);
    Send(kRef, ref);
    const auto position = [&](std::int64_t id, const char* client, std::int64_t pos,
                              std::int64_t waprice) {
        TRowBytes r(Pos, "position");
        r.Key(id).Text("client_code", client).Int("isin_id", kIsin).Int("xpos", pos);
        r.Decimal("waprice", waprice, 2);
        Send(kPos, r);
    };
    position(1, "002", -1, 9200500); // short 1 at 92005
    position(2, "001", 4, 9200025);  // long 4 at 92000.25
    TRowBytes vm(Vm, "fut_vm");
    vm.Key(1).Int("isin_id", kIsin).Text("client_code", "001").Decimal("vm", -1250, 2);
    Send(kVm, vm);
    Apply(Put(1, 1, 92009, 1)); // mark 92010: the mid of 92009 and 92011
    Apply(Put(2, 2, 92011, 1));

    const auto rows = PositionRows(Snap());
    ASSERT_EQ(rows.size(), 2u);
    // (92010 - 92000.25) * 4 * 0.5 / 0.25 = 78; (92010 - 92005) * -1 * 2 = -10.
    const std::vector<std::vector<std::string>> want = {
        {"001", "4", "92000,25", "92010", "78,00 ₽", "-12,50 ₽"},
        {"002", "-1", "92005", "92010", "-10,00 ₽", ""},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPositionRow& r = rows[i];
        EXPECT_EQ(
            (std::vector<std::string>{r.Client, r.Pos, r.AvgPrice, r.Mark, r.OpenPnl, r.VarMargin}),
            want[i]);
    }

    // Without the margin stream the header says so rather than showing a zero; with one side
    // of the book gone and no deal known there is no mark and no P&L.
    Choose({"FORTS_AGGR5_REPL", "FORTS_TRADE_REPL", "FORTS_POS_REPL", "FORTS_REFDATA_REPL"});
    for (int s = 0; s < kVm; ++s)
        Open(s);
    position(2, "001", 4, 9200025);
    Apply(Put(2, 2, 92011, 1));
    const auto alone = PositionRows(Snap());
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0].VarMargin, kVmNotSubscribedText);
    EXPECT_EQ(alone[0].Mark, "");
    EXPECT_EQ(alone[0].OpenPnl, "");
}

// The last deal's price comes from the deal stream, one record per instrument however many deals
// the day has; a deal arriving late does not take the place of a newer one.
TEST_F(BookKeeperTest, TheLastDealIsTheNewestDealsPrice) {
    TTestScheme deals;
    deals.Table("deal", ReplFields({{"isin_id", "i4", 4}, {"price", "d16.5", 9}}));
    Choose({"FORTS_AGGR5_REPL", "FORTS_DEALS_REPL"});
    Open(kAggr);
    Store.SetTblsDesc(1, Lsn[1], deals.Desc());
    const auto deal = [&](std::int64_t id, std::int32_t isin, std::int64_t price) {
        TRowBytes r(deals, "deal");
        r.Key(id).Int("isin_id", isin).Decimal("price", price, 0);
        Send(1, r);
    };
    EXPECT_FALSE(Snap().LastDeal);
    deal(10, kIsin, 92001);
    deal(11, kIsin + 1, 5);
    deal(12, kIsin, 92003);
    deal(9, kIsin, 91000); // older than what is kept
    EXPECT_EQ(Snap().LastDeal, 92003.0);
    EXPECT_EQ(Snap(kIsin + 1).LastDeal, 5.0);
}

// A row changed in place is not told to the books; its time comes from the table's revisions by
// run. Runs close together and far apart (up to hours of silence): the time found for any row
// is never before the run that stored it and late by at most the finest grain or a twentieth of
// the row's age, however many runs went by.
TEST(BookRunTimes, ARowsTimeIsNeverEarlyAndLateByLittleForItsAge) {
    using TClock = std::chrono::system_clock;
    book_detail::TRunTimes times;
    std::mt19937 rng(1209);
    TClock::time_point at = TClock::time_point{} + std::chrono::hours(24);
    std::vector<std::pair<std::int64_t, TClock::time_point>> runs; // highest revision, end
    std::int64_t rev = 0;
    for (int i = 0; i < 120000; ++i) {
        const unsigned gap = rng() % 1000;
        at += gap < 990 ? std::chrono::microseconds(50 + rng() % 3000)
                        : std::chrono::microseconds(std::int64_t{1} << (rng() % 34));
        if (rng() % 8 != 0) // a run that stored nothing new notes nothing new
            rev += 1 + rng() % 5;
        runs.emplace_back(rev, at);
        times.Note(rev, at);
    }
    EXPECT_EQ(times.Highest(), rev);
    EXPECT_FALSE(times.When(rev + 1)) << "no run has reached it";
    for (std::int64_t r = 1; r <= rev; r += 1 + static_cast<std::int64_t>(rng() % 13)) {
        const auto came =
            std::lower_bound(runs.begin(), runs.end(), r, [](const auto& run, std::int64_t x) {
                return run.first < x;
            })->second;
        const auto found = times.When(r);
        ASSERT_TRUE(found) << r;
        ASSERT_GE(*found, came) << r;
        const auto late = *found - came;
        ASSERT_TRUE(late <= book_detail::TRunTimes::kFinest || late * 20 <= at - came)
            << r << ": late by " << std::chrono::duration<double>(late).count() << " s";
    }
    times.Clear();
    EXPECT_FALSE(times.When(1));
}

// What a sum of doubles leaves behind is no figure for a trader: roubles to the kopeck, prices to
// the instrument's decimals, each with the locale's separator.
TEST(BookFigures, MoneyAndPricesAreRoundedForDisplay) {
    SetFormatSettings(RussianFormatSettings());
    const std::vector<std::pair<double, std::string>> money = {
        {-48.7999999999738, "-48,80 ₽"},
        {78, "78,00 ₽"},
        {0.004, "0,00 ₽"},
        {-0.004, "0,00 ₽"},
        {-0.0051, "-0,01 ₽"},
        {1234567.8951, "1234567,90 ₽"},
    };
    for (const auto& [roubles, text] : money)
        EXPECT_EQ(MoneyText(roubles), text) << roubles;
    const std::vector<std::tuple<double, std::optional<double>, std::string>> prices = {
        {92000.2500000001, 0.25, "92000,25"}, {92010.0, 0.01, "92010"},
        {1.2345678, 0.001, "1,235"},          {1.2345678, std::nullopt, "1,23457"},
        {75.0000000002, 1.0, "75"},
    };
    for (const auto& [price, step, text] : prices)
        EXPECT_EQ(PriceText(price, step), text) << price;
}

TEST(BookFigures, MarkAndOpenPnl) {
    struct TMarkCase {
        std::vector<TBookLevel> Bids, Asks;
        std::optional<double> LastDeal, Mark;
    };
    const std::vector<TMarkCase> marks = {
        {{{100, 1, 0}}, {{102, 1, 0}}, 50.0, 101.0},
        {{{100, 1, 0}}, {}, 50.0, 50.0},
        {{}, {{102, 1, 0}}, std::nullopt, std::nullopt},
    };
    for (const TMarkCase& c : marks) {
        TBookSnapshot s;
        s.Bids = c.Bids;
        s.Asks = c.Asks;
        s.LastDeal = c.LastDeal;
        EXPECT_EQ(MarkPrice(s), c.Mark);
    }
    EXPECT_DOUBLE_EQ(*OpenPnl(92010.0, 92000.25, 4, 12.5, 10.0), 48.75);
    EXPECT_DOUBLE_EQ(*OpenPnl(92010.0, 92000.25, -4, 12.5, 10.0), -48.75);
    EXPECT_FALSE(OpenPnl(92010.0, 92000.25, 4, 12.5, 0.0)) << "no step, no value";
    EXPECT_FALSE(OpenPnl(std::nullopt, 92000.25, 4, 12.5, 10.0));
}

TEST(BookView, LadderOrderAndFreshness) {
    TBookSnapshot s;
    s.Status = TBookStatus::Live;
    s.Bids = {{100, 5, 2}, {99.75, 1, 0}};
    s.Asks = {{101, 3, 0}, {102.00001, 4, 1}};
    const std::vector<TLadderRow> want = {
        {"", NumberText(102.00001), "4", "1", false, true, 10200001},
        {"", "101", "3", "", true, true, 10100000},
        {"5", "100", "", "2", true, false, 10000000},
        {"1", NumberText(99.75), "", "", false, false, 9975000},
    };
    EXPECT_EQ(LadderRows(s), want);

    // Without a health state the age decides; with one, only the connection does: a quiet
    // on-line book is not stale, a frozen or lost connection makes even a fresh one stale.
    const auto now = std::chrono::system_clock::now();
    using H = THealthState;
    struct TFreshCase {
        TBookStatus Status;
        std::optional<std::chrono::seconds> Age;
        std::optional<H> Health;
        std::string Starts;
        bool Stale;
    };
    const std::string live = "обновлено ";
    const std::vector<TFreshCase> cases = {
        {TBookStatus::NotSubscribed, {}, {}, std::string(kBookNotSubscribedText), true},
        {TBookStatus::Waiting, {}, {}, std::string(kBookWaitingText), true},
        {TBookStatus::Live, std::chrono::seconds(1), {}, live, false},
        {TBookStatus::Live, std::chrono::seconds(6), {}, live, true},
        {TBookStatus::Live, std::chrono::seconds(60), H::Online, "на связи; " + live, false},
        {TBookStatus::Live, std::chrono::seconds(1), H::Stale, "нет данных; " + live, true},
        {TBookStatus::Live, std::chrono::seconds(1), H::Reconnecting, "переподключение; " + live,
         true},
        {TBookStatus::Live, std::chrono::seconds(1), H::Disconnected, "отключено; " + live, true},
        {TBookStatus::Live, {}, H::Connecting, "подключение; заявок", true},
        {TBookStatus::Live, {}, H::Online, "на связи; заявок", false},
        {TBookStatus::NotSubscribed,
         {},
         H::Online,
         "на связи; " + std::string(kBookNotSubscribedText),
         true},
    };
    for (const TFreshCase& c : cases) {
        s.Status = c.Status;
        s.LastUpdate.reset();
        if (c.Age)
            s.LastUpdate = now - *c.Age;
        const TBookStatusLine line = BookStatusLine(s, now, c.Health);
        EXPECT_EQ(line.Text.rfind(c.Starts, 0), 0u) << line.Text;
        EXPECT_EQ(line.Stale, c.Stale) << line.Text;
        EXPECT_EQ(line.Health, c.Health) << line.Text;
    }
    s.Status = TBookStatus::Live;
    s.LastUpdate = now;
    s.Bids = {{103, 1, 0}};
    EXPECT_NE(BookStatusLine(s, now).Text.find("не ниже"), std::string::npos) << "crossed";
}

} // namespace

} // namespace vorlen::test

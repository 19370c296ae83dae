#include "store/StoreFixture.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorlen::test {
namespace {

using StorageTest = StoreFixture;

constexpr unsigned kOrdersEvent = 1;
constexpr unsigned kDealsEvent = 3;
constexpr unsigned kMessagesEvent = 6;

std::vector<std::int64_t> Ids(const TRows& rows) {
    std::vector<std::int64_t> ids;
    for (const TRowView row : rows)
        ids.push_back(row.ReplId());
    return ids;
}

TEST_F(StorageTest, SameIdTwiceKeepsOneRowWithTheSecondValuesAndSignalsEachChange) {
    Send(kTrade, Order(10, 7, 5).Text("comment", "first"));
    EXPECT_EQ(Drain(Grid), std::set<unsigned>{kOrdersEvent});
    // A row changed in place must reach its grid too.
    Send(kTrade, Order(10, 7, 9).Text("comment", "second"));
    EXPECT_EQ(Drain(Grid), std::set<unsigned>{kOrdersEvent});

    const auto rows = RowsOf(kTrade, "orders_log");
    ASSERT_EQ(rows->Size(), 1u);
    const TRowView row = rows->Find(10);
    EXPECT_EQ(Int(row, "amount"), 9);
    EXPECT_EQ(Text(row, "comment"), "second");
    EXPECT_STREQ(row.Field("comment").FType, "c20");
    EXPECT_EQ(row.Field("missing").FType, nullptr);
}

TEST_F(StorageTest, EachKeyTableSignalsItsOwnEventOnANewRow) {
    TRowBytes deal(Trade, "user_deal");
    deal.Key(1).Int("isin_id", 7);
    Send(kTrade, deal);
    TRowBytes message(Ref, "sys_messages");
    message.Key(1).Text("lang_code", "ru").Text("text", "hello");
    Send(kRef, message);
    TRowBytes plain(Trade, "plain");
    plain.Key(1);
    Send(kTrade, plain);
    EXPECT_EQ(Drain(Grid), (std::set<unsigned>{kDealsEvent, kMessagesEvent}));

    TTable table;
    Store.GetTable(kDealsEvent, table);
    EXPECT_EQ(table.tName, "user_deal");
    EXPECT_EQ(table.tIdx, static_cast<std::int64_t>(Trade.Index("user_deal")));
    EXPECT_EQ(table.Values, RowsOf(kTrade, "user_deal"));
}

// A fill changes position and money rows in place: their grids must hear of it as of a new
// row. Whatever happens to a row of a key table wakes that table's grid, once per burst; a
// message that changes nothing, or a table that is not a key table, wakes none.
TEST_F(StorageTest, EveryChangeToAKeyTableRowSignalsItsGridAndBurstsCoalesce) {
    TRowBytes plain(Trade, "plain");
    plain.Key(1);
    struct Step {
        const char* what;
        std::vector<TRowBytes> msgs;
        std::set<unsigned> events;
    };
    const std::vector<Step> steps = {
        {"new row", {Order(1)}, {kOrdersEvent}},
        {"changed in place", {Order(1, 7, 6)}, {kOrdersEvent}},
        {"burst of changes", {Order(1, 7, 2), Order(1, 7, 3), Order(1, 7, 4)}, {kOrdersEvent}},
        {"unknown row deleted", {Order(42, 7, 1, 1)}, {}},
        {"known row deleted", {Order(1, 7, 1, 1)}, {kOrdersEvent}},
        {"plain table, new and changed", {plain, plain}, {}},
    };
    for (const Step& step : steps) {
        for (const TRowBytes& msg : step.msgs)
            Send(kTrade, msg);
        EXPECT_EQ(Drain(Grid), step.events) << step.what;
    }
}

TEST_F(StorageTest, DeletionRemovesAKnownRowAndIgnoresAnUnknownOne) {
    Send(kTrade, Order(1));
    Send(kTrade, Order(2));
    Drain(Grid);
    const auto rows = RowsOf(kTrade, "orders_log");

    Send(kTrade, Order(99, 7, 1, /*act=*/1));
    EXPECT_EQ(Ids(*rows), (std::vector<std::int64_t>{1, 2}));
    EXPECT_TRUE(Drain(Grid).empty()) << "an unknown row's deletion changes nothing";
    Send(kTrade, Order(1, 7, 1, /*act=*/5));
    EXPECT_EQ(Ids(*rows), (std::vector<std::int64_t>{2}));
    EXPECT_FALSE(rows->Find(1));
    EXPECT_EQ(Drain(Grid), std::set<unsigned>{kOrdersEvent});

    // A table of two fields has no deletion mark: every message stores.
    TRowBytes pair(Trade, "pair");
    pair.Int("replID", 4).Int("replRev", 3);
    Send(kTrade, pair);
    EXPECT_EQ(RowsOf(kTrade, "pair")->Size(), 1u);
}

TEST_F(StorageTest, ArrivalOrderSurvivesDeletesReinsertsAndCompaction) {
    std::vector<std::int64_t> expected;
    for (std::int64_t id = 1; id <= 300; ++id)
        Send(kTrade, Order(id));
    // Delete all but every tenth row: enough holes to make the next insert compact.
    for (std::int64_t id = 1; id <= 300; ++id) {
        if (id % 10 == 0)
            expected.push_back(id);
        else
            Send(kTrade, Order(id, 7, 1, 1));
    }
    Send(kTrade, Order(5));
    Send(kTrade, Order(1000));
    Send(kTrade, Order(20, 7, 42)); // an update stays where it was
    expected.push_back(5);
    expected.push_back(1000);

    const auto rows = RowsOf(kTrade, "orders_log");
    EXPECT_EQ(Ids(*rows), expected);
    EXPECT_EQ(rows->Keys(), expected);
    EXPECT_EQ(rows->Size(), expected.size());
    EXPECT_EQ(Int(rows->Find(20), "amount"), 42);
}

TEST_F(StorageTest, HeartbeatKeepsOnlyItsLatestRowAndSignalsNoGridEvent) {
    for (std::int64_t id : {3, 8, 5}) {
        TRowBytes beat(Trade, "heartbeat");
        beat.Key(id);
        Send(kTrade, beat);
    }
    const auto rows = RowsOf(kTrade, "heartbeat");
    EXPECT_EQ(Ids(*rows), std::vector<std::int64_t>{5});
    EXPECT_TRUE(Drain(Grid).empty());
}

TEST_F(StorageTest, ClearDeletedRemovesRowsBelowTheRevisionAndTheLargestEmptiesTheTable) {
    for (std::int64_t id = 1; id <= 4; ++id) {
        TRowBytes r = Order(id);
        r.Int("replRev", id * 10);
        Send(kTrade, r);
    }
    const auto t = static_cast<std::uint32_t>(Trade.Index("orders_log"));
    cg_data_cleardeleted_t clear{t, 30, 0};
    Store.ClearDeleted(kTrade, &clear, sizeof clear);
    const auto rows = RowsOf(kTrade, "orders_log");
    EXPECT_EQ(Ids(*rows), (std::vector<std::int64_t>{3, 4}));

    TMarketData md;
    Store.GetData(md);
    EXPECT_EQ(md.Streams[kTrade].Tables[t].Rev, 30);

    clear.table_rev = std::numeric_limits<std::int64_t>::max();
    Store.ClearDeleted(kTrade, &clear, sizeof clear);
    EXPECT_TRUE(rows->Empty());
    Store.GetData(md);
    EXPECT_EQ(md.Streams[kTrade].Tables[t].Rev, 0);
}

TEST_F(StorageTest, ClearDeletedIgnoresShortRecordsAndTablesOutsideTheStream) {
    Send(kTrade, Order(1));
    const auto rows = RowsOf(kTrade, "orders_log");
    cg_data_cleardeleted_t clear{static_cast<std::uint32_t>(Trade.Index("orders_log")), 100, 0};
    Store.ClearDeleted(kTrade, &clear, sizeof clear - 1);
    Store.ClearDeleted(kTrade, nullptr, sizeof clear);
    Store.ClearDeleted(7, &clear, sizeof clear);
    Store.ClearDeleted(-1, &clear, sizeof clear);
    clear.table_idx = 1000;
    Store.ClearDeleted(kTrade, &clear, sizeof clear);
    EXPECT_EQ(rows->Size(), 1u);
}

TEST_F(StorageTest, LifeNumberClearEmptiesOneStreamOnly) {
    Send(kTrade, Order(1));
    TRowBytes fut(Ref, "fut_sess_contents");
    fut.Key(1).Text("isin", "Si-3.25");
    Send(kRef, fut);
    Drain(Grid);

    Store.LNClearTables(kTrade);
    Store.LNClearTables(9); // no such stream: nothing happens
    EXPECT_TRUE(RowsOf(kTrade, "orders_log")->Empty());
    EXPECT_EQ(RowsOf(kRef, "fut_sess_contents")->Size(), 1u);
    EXPECT_EQ(Drain(Grid), std::set<unsigned>{kOrdersEvent}) << "the grid must drop its rows";

    // The table still takes rows, and they still count as new.
    Send(kTrade, Order(1));
    EXPECT_EQ(Drain(Grid), std::set<unsigned>{kOrdersEvent});
}

TEST_F(StorageTest, GetTableOutsideTheKeyTablesOrBeforeAnyRowLeavesTheRecordAlone) {
    TTable table;
    table.tName = "mine";
    table.Rev = 77;
    for (std::int32_t no : {7, 100, -1, 0, static_cast<int>(kOrdersEvent)}) {
        Store.GetTable(no, table);
        EXPECT_EQ(table.tName, "mine");
        EXPECT_EQ(table.Rev, 77);
        EXPECT_EQ(table.Values, nullptr);
    }
}

TEST_F(StorageTest, ExpertEventFollowsTheLastIsinIdOfEveryMessage) {
    Store.RegEvent(7, Experts.Event(0));
    Store.RegEvent(8, Experts.Event(1));

    Send(kTrade, Order(1, 7));
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});
    Send(kTrade, Order(1, 7, 3)); // update
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});
    Send(kTrade, Order(1, 8, 3, 1)); // deletion of a row, about instrument 8
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{1});
    Send(kTrade, Order(50, 7, 3, 1)); // deletion of an unknown row
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});

    // Rows without isin_id wake the expert of the last instrument seen.
    TRowBytes beat(Trade, "heartbeat");
    beat.Key(1);
    Send(kTrade, beat);
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});
    TRowBytes msg(Ref, "sys_messages");
    msg.Key(2);
    Send(kRef, msg);
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{0});

    Send(kTrade, Order(2, 9));
    EXPECT_TRUE(Drain(Experts).empty());
}

TEST_F(StorageTest, TwoExpertsOnOneInstrumentAreBothWokenUntilOneWithdraws) {
    Store.RegEvent(7, Experts.Event(0));
    Store.RegEvent(7, Experts.Event(1));
    Send(kTrade, Order(1, 7));
    EXPECT_EQ(Drain(Experts), (std::set<unsigned>{0, 1}));

    Store.UnregEvent(7, Experts.Event(0));
    Store.UnregEvent(8, Experts.Event(1)); // not registered under 8: nothing withdrawn
    Send(kTrade, Order(1, 7));
    EXPECT_EQ(Drain(Experts), std::set<unsigned>{1});

    Store.UnregEvent(7, Experts.Event(1));
    Send(kTrade, Order(1, 7));
    EXPECT_TRUE(Drain(Experts).empty());
}

// A reader asking for the store mid-batch gets it only once a woken expert's instrument's rows
// have ended, and from a batch that woke nobody only at its end.
TEST_F(StorageTest, ABatchLetsReadersInWhereAWokenExpertsRowsEnd) {
    using namespace std::chrono_literals;
    Store.RegEvent(7, Experts.Event(0));
    const auto rows = RowsOf(kTrade, "orders_log");
    for (const std::int32_t followed : {8, 7}) {
        SCOPED_TRACE(followed);
        const std::size_t before = rows->Size();
        const std::int64_t id = std::int64_t{10} * followed;
        TCGStorage::TBatch run(Store);
        run.UpdStrMsg(Order(id, 9).Msg(), Lsn[kTrade]);
        std::size_t seen = 0;
        auto reader = std::async(std::launch::async, [&] {
            const TCGStorage::TAccess access(Store);
            seen = rows->Size();
        });
        run.UpdStrMsg(Order(id + 1, followed).Msg(), Lsn[kTrade]);
        run.UpdStrMsg(Order(id + 2, followed).Msg(), Lsn[kTrade]);
        EXPECT_EQ(reader.wait_for(20ms), std::future_status::timeout);
        run.UpdStrMsg(Order(id + 3, 9).Msg(), Lsn[kTrade]);
        if (followed == 7) {
            EXPECT_EQ(reader.wait_for(10s), std::future_status::ready);
            EXPECT_EQ(seen, before + 4);
        } else {
            EXPECT_EQ(reader.wait_for(20ms), std::future_status::timeout);
        }
        run.UpdStrMsg(Order(id + 4, 9).Msg(), Lsn[kTrade]);
        run.Release();
        reader.get();
        EXPECT_EQ(seen, before + (followed == 7 ? 4 : 5));
        EXPECT_EQ(rows->Size(), before + 5);
    }
}

TEST_F(StorageTest, MessagesOutsideTheDescribedTablesAreIgnored) {
    Store.RegEvent(7, Experts.Event(0));
    const auto rows = RowsOf(kTrade, "orders_log");
    const TRowBytes order = Order(1, 7);

    cg_msg_streamdata_t msg = order.Msg();
    msg.msg_index = Trade.Count(); // past the scheme
    Store.UpdStrMsg(msg, Lsn[kTrade]);
    msg.msg_index = std::numeric_limits<std::size_t>::max();
    Store.UpdStrMsg(msg, Lsn[kTrade]);

    TStreamData foreign = Lsn[kTrade];
    foreign.Pos = 5; // no such stream
    Store.UpdStrMsg(order.Msg(), foreign);
    foreign.Pos = -1;
    Store.UpdStrMsg(order.Msg(), foreign);

    // Shorter than the key, no data at all, or a description the table was not built from.
    Store.UpdStrMsg(order.Msg(7), Lsn[kTrade]);
    msg = order.Msg();
    msg.data = nullptr;
    Store.UpdStrMsg(msg, Lsn[kTrade]);
    TStreamData stale = Lsn[kTrade];
    stale.TableDecs[Trade.Index("orders_log")] =
        const_cast<cg_message_desc_t*>(&Trade.Message(Trade.Index("user_deal")));
    Store.UpdStrMsg(order.Msg(), stale);
    stale.TableDecs[Trade.Index("orders_log")] = nullptr;
    Store.UpdStrMsg(order.Msg(), stale);

    // A stream not yet described, or not of fixed-layout records.
    TStreamData plain = Lsn[kTrade];
    plain.SchemType = 2;
    Store.UpdStrMsg(order.Msg(), plain);
    plain.SchemType = CG_SCHEME_BIN;
    plain.TableDecs.clear();
    Store.UpdStrMsg(order.Msg(), plain);

    EXPECT_TRUE(rows->Empty());
    EXPECT_TRUE(Drain(Grid).empty());
    EXPECT_TRUE(Drain(Experts).empty());
}

TEST_F(StorageTest, FieldsPastTheEndOfAShortMessageAreEmpty) {
    TRowBytes order = Order(1, 7, 5);
    order.Text("comment", "cut");
    // Data up to and including "amount": comment, price and moment lie beyond it.
    const std::size_t upToAmount = order.Field("amount").offset + 4;
    Store.UpdStrMsg(order.Msg(upToAmount), Lsn[kTrade]);
    const auto rows = RowsOf(kTrade, "orders_log");
    TRowView row = rows->Find(1);
    ASSERT_TRUE(row);
    EXPECT_EQ(Int(row, "amount"), 5);
    EXPECT_STREQ(row.Field("comment").FType, "c20");
    EXPECT_TRUE(IsEmpty(row.Field("comment").Data));
    EXPECT_TRUE(IsEmpty(row.Field("price").Data));

    // The whole message again: the cut fields come back; then a short one empties them again.
    Send(kTrade, order);
    EXPECT_EQ(Text(rows->Find(1), "comment"), "cut");
    Store.UpdStrMsg(order.Msg(upToAmount), Lsn[kTrade]);
    EXPECT_TRUE(IsEmpty(rows->Find(1).Field("comment").Data));
}

TEST_F(StorageTest, ReopeningAListenerDropsItsRowsButSnapshotsStayLive) {
    Send(kTrade, Order(1));
    TMarketData md;
    Store.GetData(md);
    const auto t = Trade.Index("orders_log");
    ASSERT_EQ(md.Streams[kTrade].Tables[t].Values->Size(), 1u);

    Open(kTrade, Trade);
    EXPECT_TRUE(md.Streams[kTrade].Tables[t].Values->Empty());
    Send(kTrade, Order(2, 7, 6));
    EXPECT_EQ(Int(md.Streams[kTrade].Tables[t].Values->Find(2), "amount"), 6);
}

TEST_F(StorageTest, SetTblsDescSizesByTheMessagesTheSchemeReallyLists) {
    TTestScheme scheme;
    scheme.Table("fut_sess_contents", ReplFields({})).Table("heartbeat", ReplFields({}));
    scheme.Desc().num_messages = 5; // promises more than the list holds
    TStreamData lsn;
    lsn.Pos = kRef;
    Store.SetTblsDesc(kRef, lsn, scheme.Desc());
    EXPECT_EQ(lsn.TableDecs.size(), 2u);
    EXPECT_EQ(lsn.SchemType, CG_SCHEME_BIN);

    TMarketData md;
    Store.GetData(md);
    EXPECT_EQ(md.Streams[kRef].Tables.size(), 2u);
    EXPECT_EQ(md.FutSPos, kRef);
    EXPECT_EQ(md.FutTpos, 0);

    // A stream index outside the replica still describes the listener, and nothing else.
    TStreamData other;
    Store.SetTblsDesc(4, other, scheme.Desc());
    EXPECT_EQ(other.TableDecs.size(), 2u);
    Store.GetData(md);
    EXPECT_EQ(md.Streams.size(), 2u);
}

TEST_F(StorageTest, JournalPassTakesRowsOutOfTheStoresOwnTable) {
    for (std::int64_t id : {7, 3, 5}) {
        TRowBytes msg(Ref, "sys_messages");
        msg.Key(id).Text("lang_code", "ru").Text("text", "m" + std::to_string(id));
        Send(kRef, msg);
    }
    TTable table;
    Store.GetTable(kMessagesEvent, table);
    std::vector<std::string> texts;
    {
        TCGStorage::TAccess access(Store);
        std::vector<std::int64_t> keys = access.Rows(table).Keys();
        std::sort(keys.begin(), keys.end());
        for (std::int64_t key : keys) {
            texts.push_back(Text(access.Rows(table).Find(key), "text"));
            EXPECT_TRUE(access.Remove(table, key));
        }
        EXPECT_FALSE(access.Remove(table, 3));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"m3", "m5", "m7"}));
    EXPECT_TRUE(RowsOf(kRef, "sys_messages")->Empty());

    TRowBytes msg(Ref, "sys_messages");
    msg.Key(9);
    Send(kRef, msg);
    EXPECT_TRUE(Store.RemoveRow(kMessagesEvent, 9));
    EXPECT_FALSE(Store.RemoveRow(kMessagesEvent, 9));
    EXPECT_FALSE(Store.RemoveRow(kOrdersEvent, 9)); // no orders yet: no position
}

// A follower that fails while a run's messages still wait fails the run, not the store: the lock
// is let go, what came before the failure stays applied, and the store takes messages again.
TEST_F(StorageTest, AFollowerThatFailsLetsTheStoreGoOn) {
    struct TFailing final : TStoreObserver {
        void OnStreams(const std::vector<std::string>&) override {}
        TFollow OnTableDescribed(std::int32_t, std::int32_t, const cg_message_desc_t&,
                                 const std::shared_ptr<const TRows>&) override {
            return {};
        }
        void OnRowsStored(std::int32_t, std::int32_t, std::span<const TStoredRow>,
                          TRowView) override {}
        void OnRow(std::int32_t, std::int32_t, const TRowChange& c) override {
            if (c.ReplId == 30002)
                throw std::runtime_error("follower failed");
        }
        void OnRunApplied() noexcept override {}
        void OnStreamCleared(std::int32_t) override {}
        void OnDeletedCleared(std::int32_t, std::int32_t, std::int64_t) override {}
    } follower;
    {
        // Enough rows that a run's messages wait to be applied; each message's bytes are gone
        // as soon as the call returns.
        TCGStorage::TBatch run(Store);
        for (std::int64_t id = 1; id <= 20000; ++id)
            run.UpdStrMsg(Order(id).Msg(), Lsn[kTrade]);
    }
    Store.SetObserver(&follower);
    TCGStorage::TBatch run(Store);
    for (std::int64_t id : {30001, 30002, 30003})
        run.UpdStrMsg(Order(id).Msg(), Lsn[kTrade]);
    EXPECT_THROW(run.Release(), std::runtime_error);
    Store.SetObserver(nullptr); // takes the lock: it would wait for ever had the failure kept it

    const auto rows = RowsOf(kTrade, "orders_log");
    EXPECT_EQ(rows->Size(), 20001u);
    EXPECT_TRUE(rows->Contains(30001));
    EXPECT_FALSE(rows->Contains(30002));
    Send(kTrade, Order(30004));
    EXPECT_TRUE(rows->Contains(30004));
}

} // namespace
} // namespace vorlen::test

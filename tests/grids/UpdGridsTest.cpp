#include "grids/UpdGrids.h"

#include "grids/OrderMenus.h"
#include "platform/CodePage.h"
#include "platform/Thread.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <new>
#include <string>
#include <tuple>
#include <vector>

namespace vorlen {
namespace {

using test::TFieldSpec;
using test::TRowBytes;
using test::TTestScheme;

// A table with every field of a grid: integers, except the few whose kind matters here.
std::vector<TFieldSpec> GridFields(const TGridLayout& layout, const char* actionType = "i4") {
    std::vector<TFieldSpec> fields;
    for (const auto& column : layout.Columns) {
        const std::string name(column.Field);
        if (name.empty())
            continue;
        if (name == "private_action")
            fields.push_back({name, actionType, std::string(actionType) == "i2" ? 2u : 4u});
        else if (name == "moment")
            fields.push_back({name, "t", sizeof(cg_time_t)});
        else if (name == "client_code")
            fields.push_back({name, "c8", 8});
        else
            fields.push_back({name, "i8", 8});
    }
    return test::ReplFields(fields);
}

cg_time_t Time(int h, int m, int s, int ms) {
    cg_time_t t{};
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    t.hour = static_cast<std::uint8_t>(h);
    t.minute = static_cast<std::uint8_t>(m);
    t.second = static_cast<std::uint8_t>(s);
    t.msec = static_cast<std::uint16_t>(ms);
    return t;
}

// Counts the passes that reached it, and can run something at the start of one.
class WatchedGrid : public TModelGridSink {
public:
    explicit WatchedGrid(const TGridLayout& layout) : TModelGridSink(layout) {}
    void BeginUpdate() override {
        ++Passes;
        if (OnPass)
            OnPass(Passes.load());
        TModelGridSink::BeginUpdate();
    }
    std::atomic<int> Passes{0};
    std::function<void(int)> OnPass;
};

class UpdGrids : public ::testing::Test {
protected:
    enum { kPart, kTrade, kPos, kRef };

    void SetUp() override {
        SetFormatSettings(RussianFormatSettings());
        Part.Table("part", GridFields(GridLayout(kAccGrid)));
        Trade.Table("orders_log", GridFields(GridLayout(kOrdersGrid)))
            .Table("multileg_orders_log", GridFields(GridLayout(kMLOrdersGrid), "i2"))
            .Table("user_deal", test::ReplFields({{"sess_id", "i4", 4}, {"isin_id", "i4", 4}}));
        Pos.Table("position", GridFields(GridLayout(kPositionsGrid)));
        Ref.Table("sys_messages", test::ReplFields({{"id", "i4", 4},
                                                    {"sess_id", "i4", 4},
                                                    {"lang_code", "c8", 8},
                                                    {"moment", "t", sizeof(cg_time_t)},
                                                    {"text", "c255", 255}}));
        Store.SetStreams(
            {"FORTS_PART_REPL", "FORTS_TRADE_REPL", "FORTS_POS_REPL", "FORTS_REFDATA_REPL"});
        Lsn.resize(4);
        TTestScheme* schemes[] = {&Part, &Trade, &Pos, &Ref};
        const char* names[] = {"FORTS_PART_REPL", "FORTS_TRADE_REPL", "FORTS_POS_REPL",
                               "FORTS_REFDATA_REPL"};
        for (int i = 0; i < 4; ++i) {
            Lsn[i].Pos = i;
            Lsn[i].sName = names[i];
            Store.SetTblsDesc(i, Lsn[i], schemes[i]->Desc());
        }
        for (int g = 0; g < kGridCount; ++g)
            Updater.SetGrid(g, &Grid(g));
        Updater.SetMemo(&Memo);
    }

    TModelGridSink& Grid(int g) {
        static_assert(kGridCount == 6);
        TModelGridSink* grids[] = {&AccGrid,   &OrdersGrid,  &MLOrdersGrid,
                                   &DealsGrid, &MLDealsGrid, &PosGrid};
        return *grids[g];
    }

    void Send(int stream, const TRowBytes& row) { Store.UpdStrMsg(row.Msg(), Lsn[stream]); }

    void Order(const char* table, std::int64_t id, std::int64_t action, std::int64_t act = 0) {
        TRowBytes r(Trade, table);
        r.Key(id, 1, act).Int("public_order_id", id).Int("private_action", action);
        Send(kTrade, r);
    }

    // The message's own id is its replication id unless given.
    void Message(std::int64_t id, const std::string& lang, const cg_time_t& moment,
                 const std::string& text, std::int32_t msgId = -1, std::int32_t sess = 1) {
        TRowBytes r(Ref, "sys_messages");
        r.Key(id)
            .Int("id", msgId < 0 ? id : msgId)
            .Int("sess_id", sess)
            .Text("lang_code", lang)
            .Time("moment", moment)
            .Text("text", platform::Utf8ToCp1251(text));
        Send(kRef, r);
    }

    // Runs the pass of key table `no` on this thread, as the updater would.
    void Pass(int no) {
        Updater.FTable = TTable{};
        Store.GetTable(no, Updater.FTable);
        switch (no) {
        case 1:
            Updater.UpdOrdersGrid();
            break;
        case 2:
            Updater.UpdMLOrdersGrid();
            break;
        case 3:
            Updater.UpdDealsGrid();
            break;
        case 5:
            Updater.UpdPosGrid();
            break;
        case 6:
            Updater.UpdJournal();
            break;
        default:
            FAIL() << "no pass " << no;
        }
    }

    static std::vector<std::string> Column(const TModelGridSink& grid, int col) {
        std::vector<std::string> cells;
        cells.reserve(static_cast<std::size_t>(std::max(grid.RowCount(), 0)));
        for (int r = 0; r < grid.RowCount(); ++r)
            cells.push_back(grid.Cell(r, col));
        return cells;
    }

    std::size_t Remaining(int no) {
        TTable t;
        Store.GetTable(no, t);
        TCGStorage::TAccess access(Store);
        return access.Rows(t).Size();
    }

    TTestScheme Part, Trade, Pos, Ref;
    TCGStorage Store;
    std::vector<TStreamData> Lsn;
    std::int32_t Orders = kFilterActive;
    std::int32_t MLOrders = kFilterActive;
    TModelGridSink AccGrid{GridLayout(kAccGrid)};
    TModelGridSink OrdersGrid{GridLayout(kOrdersGrid)};
    TModelGridSink MLOrdersGrid{GridLayout(kMLOrdersGrid)};
    TModelGridSink DealsGrid{GridLayout(kDealsGrid)};
    TModelGridSink MLDealsGrid{GridLayout(kMLDealsGrid)};
    WatchedGrid PosGrid{GridLayout(kPositionsGrid)};
    TMemoryJournal Memo;
    TUpdateGrids Updater{Store, Orders, MLOrders};
};

TEST_F(UpdGrids, AnEmptiedTableLeavesTheHeaderAndOneEmptyRow) {
    Order("orders_log", 10, 1);
    Order("orders_log", 11, 1);
    Pass(1);
    ASSERT_EQ(OrdersGrid.RowCount(), 2);
    EXPECT_EQ(OrdersGrid.Cell(1, 0), "11");

    Order("orders_log", 10, 1, /*deleted*/ 1);
    Order("orders_log", 11, 1, 1);
    Pass(1);
    EXPECT_EQ(OrdersGrid.RowCount(), 1);
    for (int c = 0; c < OrdersGrid.ColCount(); ++c)
        EXPECT_TRUE(OrdersGrid.Cell(0, c).empty()) << c;
    EXPECT_EQ(OrdersGrid.Captions()[0], "ID заявки");
    EXPECT_EQ(OrdersGrid.ColCount(), 31);
}

TEST_F(UpdGrids, OrderFiltersOverPrivateAction) {
    for (std::int64_t action : {0, 1, 2, 3})
        Order("orders_log", 100 + action, action);
    Pass(1);
    EXPECT_EQ(Column(OrdersGrid, 0), (std::vector<std::string>{"101", "103"}));
    // The private_action column shows the raw value, 3 included.
    EXPECT_EQ(Column(OrdersGrid, 29), (std::vector<std::string>{"1", "3"}));

    TOrderMenus menus([&](std::int32_t f) { Orders = f; }, [&](std::int32_t f) { MLOrders = f; });
    menus.DoneOrdersClick();
    // A menu with no updater to ask starts no pass: the grid shows the old filter until the
    // next one.
    EXPECT_EQ(Column(OrdersGrid, 0), (std::vector<std::string>{"101", "103"}));
    Pass(1);
    EXPECT_EQ(Column(OrdersGrid, 0), (std::vector<std::string>{"102"}));

    menus.AllOrdersClick();
    Pass(1);
    EXPECT_EQ(Column(OrdersGrid, 0), (std::vector<std::string>{"100", "101", "102", "103"}));
}

TEST_F(UpdGrids, ActionsThatAreNotFourByteIntegersShowOnlyUnderAll) {
    Order("multileg_orders_log", 7, 1);
    Order("multileg_orders_log", 8, 2);
    Pass(2);
    EXPECT_EQ(MLOrdersGrid.RowCount(), 1);
    EXPECT_TRUE(MLOrdersGrid.Cell(0, 0).empty());
    MLOrders = kFilterDone;
    Pass(2);
    EXPECT_TRUE(MLOrdersGrid.Cell(0, 0).empty());

    MLOrders = kFilterAll;
    Pass(2);
    ASSERT_EQ(MLOrdersGrid.RowCount(), 2);
    EXPECT_EQ(MLOrdersGrid.Cell(1, 0), "8");
    EXPECT_EQ(MLOrdersGrid.Cell(1, 31), "2");
    // The two columns without a field stay empty; the next column holds client_code.
    EXPECT_TRUE(MLOrdersGrid.Cell(1, 14).empty());
    EXPECT_TRUE(MLOrdersGrid.Cell(1, 15).empty());
    EXPECT_EQ(MLOrdersGrid.Cell(1, 13), "0"); // deal_price
}

TEST_F(UpdGrids, ATableWithoutAListedFieldShowsOnePartialRow) {
    // user_deal here has sess_id and isin_id only: the deals grid's third column is missing.
    for (std::int64_t id : {1, 2, 3}) {
        TRowBytes r(Trade, "user_deal");
        r.Key(id).Int("sess_id", 40 + id).Int("isin_id", 70 + id);
        Send(kTrade, r);
    }
    Pass(3);
    ASSERT_EQ(DealsGrid.RowCount(), 1);
    EXPECT_EQ(DealsGrid.Cell(0, 0), "41");
    EXPECT_EQ(DealsGrid.Cell(0, 1), "71");
    EXPECT_TRUE(DealsGrid.Cell(0, 2).empty());
}

TEST_F(UpdGrids, JournalInAscendingIdsOnceAndOnlyInRussian) {
    Message(7, "ru", Time(10, 20, 30, 0), "седьмое");
    Message(3, "ru", Time(9, 0, 0, 500), "третье");
    Message(5, "ru", Time(0, 0, 0, 0), "пятое");
    Message(4, "RU", Time(9, 0, 0, 0), "не то");
    Message(6, "en", Time(9, 0, 0, 0), "english");
    Pass(6);
    ASSERT_EQ(Memo.Lines.size(), 3u);
    const auto tail = [](const std::string& line) { return line.substr(line.find(" --> ")); };
    EXPECT_EQ(tail(Memo.Lines[0]), " --> 05.03.2024 09:00:00: третье");
    // Exactly midnight: the date alone between the arrow and the colon.
    EXPECT_EQ(tail(Memo.Lines[1]), " --> 05.03.2024: пятое");
    EXPECT_EQ(tail(Memo.Lines[2]), " --> 05.03.2024 10:20:30: седьмое");
    // The journal's own date and time lead the line: "dd.mm.yyyy hh:mm:ss.zzz".
    ASSERT_GE(Memo.Lines[0].size(), 23u);
    EXPECT_EQ(Memo.Lines[0][2], '.');
    EXPECT_EQ(Memo.Lines[0][10], ' ');
    EXPECT_EQ(Memo.Lines[0][19], '.');

    // The rows stay in the replica, the unshown ones too, and a later pass writes only what is
    // new, even when an old row comes again with nothing changed.
    EXPECT_EQ(Remaining(6), 5u);
    Message(3, "ru", Time(9, 0, 0, 500), "третье");
    Message(8, "ru", Time(11, 0, 0, 0), "восьмое");
    Pass(6);
    ASSERT_EQ(Memo.Lines.size(), 4u);
    EXPECT_EQ(tail(Memo.Lines[3]), " --> 05.03.2024 11:00:00: восьмое");
}

// Each reconnection resends the message table, and a new life number resends it under new
// replication ids: the journal shows each message of the exchange once per run all the same.
TEST_F(UpdGrids, ResentMessagesReachTheJournalOncePerRun) {
    const auto t = Time(9, 30, 0, 0);
    struct Step {
        const char* what;
        bool newLife;
        std::vector<std::tuple<std::int64_t, std::int32_t, std::int32_t, const char*>> msgs;
        std::vector<std::string> added;
        std::size_t kept; // rows the replica holds after the step
    };
    const std::vector<Step> steps = {
        {"first snapshot", false, {{1, 11, 1, "один"}, {2, 12, 1, "два"}}, {"один", "два"}, 2},
        {"reconnection", false, {{1, 11, 1, "один"}, {2, 12, 1, "два"}}, {}, 2},
        {"new life number", true, {{70, 11, 1, "один"}, {71, 13, 1, "три"}}, {"три"}, 2},
        {"same text, own id", false, {{72, 14, 1, "один"}}, {"один"}, 3},
        {"same id, next session", false, {{73, 11, 2, "один"}}, {"один"}, 4},
        // A message changed in place under its replication id is looked at again; it is still
        // the same message of the exchange.
        {"changed in place", false, {{73, 11, 2, "один!"}}, {}, 4},
        {"replaced in place", false, {{73, 15, 2, "пять"}}, {"пять"}, 4},
    };
    std::size_t before = 0;
    for (const Step& step : steps) {
        if (step.newLife)
            Store.LNClearTables(kRef);
        for (const auto& [repl, id, sess, text] : step.msgs)
            Message(repl, "ru", t, text, id, sess);
        Pass(6);
        std::vector<std::string> added;
        for (std::size_t i = before; i < Memo.Lines.size(); ++i)
            added.push_back(Memo.Lines[i].substr(Memo.Lines[i].rfind(": ") + 2));
        EXPECT_EQ(added, step.added) << step.what;
        EXPECT_EQ(Remaining(6), step.kept) << step.what;
        before = Memo.Lines.size();
    }
}

class UpdGridsThread : public UpdGrids {
protected:
    void SetUp() override {
        UpdGrids::SetUp();
        ui::MarkUiThread();
    }
    void TearDown() override {
        Updater.Stop();
        ui::UnmarkUiThread();
    }
    void Position(std::int64_t id) {
        TRowBytes r(Pos, "position");
        r.Key(id).Int("isin_id", id);
        Send(kPos, r);
    }
    // Serves the queue of calls onto this (UI) thread until `done`; false when a minute passed.
    static bool DrainUntil(const std::function<bool()>& done) {
        return ui::WaitAndDrainFor(done, std::chrono::minutes(1));
    }
};

TEST_F(UpdGridsThread, PositionsAndExitTogetherGiveOnePassThenTheEnd) {
    Position(1);
    Updater.Event(TUpdateGrids::kExitEvent).Set();
    Updater.Start();
    Updater.WaitFor();
    EXPECT_TRUE(Updater.Finished());
    EXPECT_EQ(PosGrid.Passes, 1);
    EXPECT_EQ(PosGrid.Cell(0, 1), "1");
}

TEST_F(UpdGridsThread, ABurstDuringAPassGivesExactlyOneMorePass) {
    PosGrid.OnPass = [&](int pass) {
        if (pass == 1)
            for (std::int64_t id = 10; id < 20; ++id)
                Position(id);
    };
    Position(1);
    Updater.Start();
    ASSERT_TRUE(DrainUntil([&] { return PosGrid.Passes >= 2; }));
    // Only the exit event now, without the terminated mark: anything still pending would be
    // served before it.
    Updater.Event(TUpdateGrids::kExitEvent).Set();
    Updater.WaitFor();
    EXPECT_EQ(PosGrid.Passes, 2);
    EXPECT_EQ(PosGrid.RowCount(), 11);
}

// Without a single new row: a filter choice and a position changed by a fill both show.
TEST_F(UpdGridsThread, AFilterChoiceAndARowChangedInPlaceShowWithoutANewRow) {
    Order("orders_log", 1, 1);
    Order("orders_log", 2, 2);
    Position(5);
    Updater.Start();
    DrainUntil([&] { return OrdersGrid.Cell(0, 0) == "1" && PosGrid.Passes == 1; });

    TOrderMenus menus([&](std::int32_t f) { Orders = f; }, [&](std::int32_t f) { MLOrders = f; },
                      [&](int grid) { Updater.Event(static_cast<unsigned>(grid)).Set(); });
    menus.AllOrdersClick();
    DrainUntil([&] { return Column(OrdersGrid, 0) == std::vector<std::string>{"1", "2"}; });

    TRowBytes r(Pos, "position");
    r.Key(5).Int("isin_id", 6);
    Send(kPos, r);
    DrainUntil([&] { return PosGrid.Cell(0, 1) == "6"; });
    EXPECT_EQ(PosGrid.RowCount(), 1);
}

TEST_F(UpdGridsThread, AnEventForATableWithoutRowsRunsNoPass) {
    Updater.Start();
    Order("orders_log", 1, 1);
    ASSERT_TRUE(DrainUntil([&] { return OrdersGrid.Cell(0, 0) == "1"; }));
    // The positions table has no row yet, so the store hands nothing over; the orders table of
    // the pass before must not be shown in the positions grid.
    Updater.Event(kPositionsGrid).Set();
    Updater.Event(TUpdateGrids::kExitEvent).Set();
    Updater.WaitFor();
    EXPECT_EQ(PosGrid.Passes, 0);
}

TEST_F(UpdGridsThread, AFreedUpdaterIsNeverSignalledAgain) {
    // The updater lives in memory of the test's own; once it is gone the memory is overwritten,
    // so a store that still signalled its events would lock a mutex made of that pattern and
    // fail loudly (sanitizer builds also report the use itself).
    alignas(TUpdateGrids) unsigned char memory[sizeof(TUpdateGrids)];
    auto* other = new (memory) TUpdateGrids(Store, Orders, MLOrders);
    other->Start();
    other->Stop();
    other->~TUpdateGrids();
    std::memset(memory, 0xA5, sizeof memory);

    Position(1);
    Order("orders_log", 1, 1);
    EXPECT_TRUE(std::all_of(std::begin(memory), std::end(memory),
                            [](unsigned char b) { return b == 0xA5; }));
    // The rows themselves still arrive.
    TTable positions;
    Store.GetTable(kPositionsGrid, positions);
}

} // namespace
} // namespace vorlen

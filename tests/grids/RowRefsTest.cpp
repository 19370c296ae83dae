#include "grids/RowRefs.h"

#include "gateway/Cgate.h"
#include "grids/ChangeFeed.h"
#include "grids/GridPass.h"
#include "grids/GridSink.h"
#include "grids/OrderMenus.h"
#include "grids/UpdGrids.h"
#include "platform/CodePage.h"
#include "platform/Thread.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using test::TFieldSpec;
using test::TRowBytes;
using test::TTestScheme;

// Every field of a grid, in the kinds whose texts differ most: numbers, times, decimals, text.
std::vector<TFieldSpec> Fields(const TGridLayout& layout, const std::string& without = {}) {
    std::vector<TFieldSpec> fields;
    for (const auto& column : layout.Columns) {
        const std::string name(column.Field);
        if (name.empty() || name == without)
            continue;
        if (name == "private_action")
            fields.push_back({name, "i4", 4});
        else if (name == "moment")
            fields.push_back({name, "t", sizeof(cg_time_t)});
        else if (name == "price")
            fields.push_back({name, "d16.5", 9});
        else if (name == "comment" || name == "client_code")
            fields.push_back({name, "c20", 20});
        else
            fields.push_back({name, "i8", 8});
    }
    return test::ReplFields(fields);
}

class RowRefs : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedCG = CG();
        CG().cg_bcd_get = test::TestBcdGet;
        SetFormatSettings(RussianFormatSettings());
        Trade.Table("orders_log", Fields(GridLayout(kOrdersGrid)));
        Pos.Table("position", Fields(GridLayout(kPositionsGrid), "xpos"));
        Store.SetStreams({"FORTS_TRADE_REPL", "FORTS_POS_REPL"});
        Lsn.resize(2);
        Lsn[0].sName = "FORTS_TRADE_REPL";
        Lsn[1].sName = "FORTS_POS_REPL";
        Lsn[1].Pos = 1;
        Store.SetTblsDesc(0, Lsn[0], Trade.Desc());
        Store.SetTblsDesc(1, Lsn[1], Pos.Desc());
    }
    void TearDown() override { CG() = FSavedCG; }

    void Order(std::int64_t id, std::int32_t action, const std::string& comment,
               std::int64_t act = 0) {
        TRowBytes r(Trade, "orders_log");
        cg_time_t t{2024, 3, 5, 10, static_cast<std::uint8_t>(id % 60), 7, 0, 250};
        r.Key(id, id, act)
            .Int("public_order_id", id * 3)
            .Int("private_action", action)
            .Decimal("price", id * 1234567, static_cast<std::int8_t>(id % 6))
            .Time("moment", t)
            .Text("comment", comment)
            .Text("client_code", "C" + std::to_string(id % 7));
        Store.UpdStrMsg(r.Msg(), Lsn[0]);
    }

    // What a full pass shows and what the grid by reference shows, cell by cell.
    void ExpectSame(int grid, int keyTable, std::optional<std::int32_t> filter) {
        TTable table;
        Store.GetTable(keyTable, table);
        TModelGridSink full(GridLayout(grid));
        TGridPass(GridLayout(grid)).Run(Store, table, full, filter);

        TModelGridSink byRef(GridLayout(grid));
        byRef.AttachRowRefs(std::make_shared<TRowRefs>(Store, GridLayout(grid)));
        byRef.ShowRowRefs(CollectRows(Store, table, GridLayout(grid), filter));

        ASSERT_EQ(byRef.RowCount(), full.RowCount());
        // Read from the end as well as in order, so the texts are made more than once.
        for (int r = full.RowCount() - 1; r >= 0; r -= 97)
            ASSERT_EQ(byRef.Row(r), full.Row(r)) << "row " << r;
        for (int r = 0; r < full.RowCount(); ++r)
            for (int c = 0; c < full.ColCount(); ++c)
                ASSERT_EQ(byRef.Cell(r, c), full.Cell(r, c)) << "row " << r << " col " << c;
        EXPECT_LT(byRef.HeldBytes(), full.HeldBytes());
    }

    TTestScheme Trade, Pos;
    TCGStorage Store;
    std::vector<TStreamData> Lsn;
    TCGateEntryPoints FSavedCG;
};

TEST_F(RowRefs, ShowWhatAFullPassShowsUnderEveryFilter) {
    std::mt19937 rng(99);
    const std::string cyrillic = platform::Utf8ToCp1251("снять заявку");
    // More rows than one hold of the lock reads, with holes left by deletions and rows changed
    // in place after they arrived.
    for (std::int64_t id = 1; id <= 9000; ++id) {
        const auto action = static_cast<std::int32_t>(rng() % 5);
        Order(id, action == 4 ? 7 : action, id % 5 == 0 ? cyrillic : "c" + std::to_string(id));
        if (id % 7 == 0)
            Order(id - 3, 2, "changed");
        if (id % 11 == 0)
            Order(id - 5, 0, "", /*act=*/1);
    }
    for (const std::optional<std::int32_t> filter :
         {std::optional<std::int32_t>(kFilterActive), std::optional<std::int32_t>(kFilterDone),
          std::optional<std::int32_t>(kFilterAll), std::optional<std::int32_t>()}) {
        SCOPED_TRACE(filter ? *filter : -1);
        ExpectSame(kOrdersGrid, 1, filter);
    }
}

TEST_F(RowRefs, ShowWhatAFullPassShowsForEmptyAndIncompleteTables) {
    Order(1, 1, "one");
    Order(1, 1, "", /*act=*/1);
    ExpectSame(kOrdersGrid, 1, kFilterAll); // one empty row
    for (std::int64_t id = 1; id <= 3; ++id) {
        TRowBytes r(Pos, "position");
        r.Key(id).Int("isin_id", id * 10);
        Store.UpdStrMsg(r.Msg(), Lsn[1]);
    }
    ExpectSame(kPositionsGrid, 5, std::nullopt); // the first row only, cut at "xpos"
}

TEST_F(RowRefs, ARowRemovedAfterThePassShowsEmptyUntilTheNext) {
    Order(1, 1, "one");
    Order(2, 1, "two");
    TTable table;
    Store.GetTable(1, table);
    TRowRefs refs(Store, GridLayout(kOrdersGrid));
    refs.Show(CollectRows(Store, table, GridLayout(kOrdersGrid), kFilterActive));
    Order(1, 1, "", /*act=*/1);
    ASSERT_EQ(refs.RowCount(), 2);
    EXPECT_EQ(refs.Cell(0, 0), "");
    EXPECT_EQ(refs.Cell(1, 0), "6");
    EXPECT_EQ(refs.Cell(2, 0), "");
    EXPECT_EQ(refs.Cell(1, 99), "");
}

std::vector<std::int64_t> Ids(const TRowKeys& keys) {
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < keys.Size(); ++i)
        ids.push_back(keys[i]);
    return ids;
}

// A collector that follows the store's changes lists, after every kind of change, what a whole
// pass lists at that moment; the lists it handed out earlier stay as they were; and it looks at
// the whole table only when it must.
TEST_F(RowRefs, ACollectorFollowingChangesListsWhatAWholePassLists) {
    TGridChangeFeed feed(nullptr);
    Store.SetObserver(&feed);
    TRowCollector collector(Store, GridLayout(kOrdersGrid), kOrdersGrid, &feed);
    std::mt19937 rng(5);
    std::optional<std::int32_t> filter = kFilterActive;
    std::vector<std::pair<TRowRefList, std::vector<std::int64_t>>> handed;
    std::int64_t next = 1;
    const int rounds = 300;
    for (int round = 0; round < rounds; ++round) {
        const unsigned kind = rng() % 100;
        for (unsigned k = rng() % 40; k > 0; --k)
            Order(next++, static_cast<std::int32_t>(rng() % 4), "n");
        const std::int64_t some = 1 + static_cast<std::int64_t>(rng() % next);
        if (kind < 15)
            Order(some, 1, "changed"); // in place; may also bring a deleted row back at the end
        else if (kind < 20)
            Order(some, static_cast<std::int32_t>(rng() % 4), "changed");
        else if (kind < 35)
            Order(some, 0, "", /*act=*/1);
        else if (kind < 37)
            filter = kind == 35 ? std::optional<std::int32_t>(kFilterDone) : std::nullopt;
        else if (kind == 37)
            Store.LNClearTables(0);
        else if (kind < 45) {
            Order(some, 0, "", /*act=*/1); // removed and back, now at the end, in one pass
            Order(some, 1, "back");
        }
        TTable table;
        Store.GetTable(1, table);
        TRowRefList got = collector.Pass(table, filter);
        const TRowRefList whole = CollectRows(Store, table, GridLayout(kOrdersGrid), filter);
        ASSERT_EQ(Ids(got.Keys), Ids(whole.Keys)) << "round " << round;
        if (round % 10 == 0) {
            std::vector<std::int64_t> ids = Ids(got.Keys);
            handed.emplace_back(std::move(got), std::move(ids));
        }
    }
    for (const auto& [list, ids] : handed)
        ASSERT_EQ(Ids(list.Keys), ids);
    EXPECT_LT(collector.WholePasses(), static_cast<std::size_t>(rounds / 5));
    EXPECT_GT(collector.WholePasses(), 3U);
    Store.SetObserver(nullptr);
}

// Through the updater's thread: a change in place reaches the grid, and once the updater is
// gone the grid no longer reads the store.
TEST_F(RowRefs, TheUpdaterShowsChangesInPlaceAndDetachesWhenFreed) {
    ui::MarkUiThread();
    std::int32_t orders = kFilterActive, mlOrders = kFilterActive;
    TModelGridSink grid(GridLayout(kOrdersGrid));
    grid.SetWantsRowRefs(true);
    {
        TUpdateGrids updater(Store, orders, mlOrders);
        updater.SetGrid(kOrdersGrid, &grid);
        updater.Start();
        Order(1, 1, "first");
        ui::WaitAndDrainUntil([&] { return grid.Cell(0, 0) == "3"; });
        const int comment = 16;
        ASSERT_EQ(GridLayout(kOrdersGrid).Columns[comment].Field, "comment");
        Order(1, 1, "second");
        ui::WaitAndDrainUntil([&] { return grid.Cell(0, comment) == "second"; });
        Order(2, 1, "two");
        ui::WaitAndDrainUntil([&] { return grid.RowCount() == 2; });
        EXPECT_EQ(grid.Cell(1, comment), "two");
        updater.Stop();
    }
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.Cell(0, 0), "");
    ui::UnmarkUiThread();
}

// The same through the updater following the store: new rows, rows changed in place and rows
// removed reach the grid, and the follower it stood in for hears every change.
TEST_F(RowRefs, TheUpdaterFollowingChangesShowsEveryKindOfChange) {
    struct TCount final : TStoreObserver {
        void OnStreams(const std::vector<std::string>&) override {}
        TFollow OnTableDescribed(std::int32_t, std::int32_t, const cg_message_desc_t&,
                                 const std::shared_ptr<const TRows>&) override {
            return {};
        }
        void OnRowsStored(std::int32_t, std::int32_t, std::span<const TStoredRow>,
                          TRowView) override {}
        void OnRow(std::int32_t, std::int32_t, const TRowChange&) override { ++Rows; }
        void OnRunApplied() noexcept override {}
        void OnStreamCleared(std::int32_t) override { ++Clears; }
        void OnDeletedCleared(std::int32_t, std::int32_t, std::int64_t) override {}
        int Rows = 0, Clears = 0;
    } books;
    ui::MarkUiThread();
    std::int32_t orders = kFilterActive, mlOrders = kFilterActive;
    TModelGridSink grid(GridLayout(kOrdersGrid));
    grid.SetWantsRowRefs(true);
    const int comment = 16;
    {
        TUpdateGrids updater(Store, orders, mlOrders);
        updater.FollowChanges(&books);
        updater.SetGrid(kOrdersGrid, &grid);
        updater.Start();
        for (std::int64_t id = 1; id <= 3; ++id)
            Order(id, 1, "c" + std::to_string(id));
        ui::WaitAndDrainUntil([&] { return grid.RowCount() == 3; });
        Order(2, 1, "second");
        ui::WaitAndDrainUntil([&] { return grid.Cell(1, comment) == "second"; });
        Order(1, 0, "", /*act=*/1);
        Order(4, 1, "c4");
        ui::WaitAndDrainUntil(
            [&] { return grid.RowCount() == 3 && grid.Cell(2, comment) == "c4"; });
        EXPECT_EQ(grid.Cell(0, comment), "second");
        Store.LNClearTables(0);
        Order(5, 1, "c5");
        ui::WaitAndDrainUntil(
            [&] { return grid.RowCount() == 1 && grid.Cell(0, comment) == "c5"; });
        updater.Stop();
    }
    EXPECT_EQ(books.Rows, 7);
    EXPECT_EQ(books.Clears, 1);
    ui::UnmarkUiThread();
}

} // namespace
} // namespace vorlen

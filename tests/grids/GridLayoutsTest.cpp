#include "grids/GridLayouts.h"

#include "TableData.h"
#include "grids/GridSink.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace vorlen {
namespace {

// Every grid, every column, in order, against the table of the grids kept in tests/data: a
// changed caption, field, column order, page caption or table fails here.
TEST(GridLayouts, MatchTheGridTableColumnByColumn) {
    const auto rows = test::ReadTableData("grid_columns.tsv");
    ASSERT_FALSE(rows.empty());
    const auto& grids = GridLayouts();
    int grid = -1;
    std::size_t column = 0;
    const auto columnsChecked = [&] {
        if (grid >= 0) {
            EXPECT_EQ(column, grids[static_cast<std::size_t>(grid)].Columns.size())
                << grids[static_cast<std::size_t>(grid)].Name;
        }
    };
    for (const test::TDataRow& row : rows) {
        if (row.at(0) == "grid") {
            columnsChecked();
            ++grid;
            column = 0;
            ASSERT_LT(grid, kGridCount);
            const TGridLayout& g = grids[static_cast<std::size_t>(grid)];
            EXPECT_EQ(g.Name, row.at(1));
            EXPECT_EQ(g.PageCaption, row.at(2));
            EXPECT_EQ(g.Stream, row.at(3));
            EXPECT_EQ(g.Table, row.at(4));
            EXPECT_EQ(g.Columns.size(), std::stoul(row.at(5))) << g.Name;
            continue;
        }
        ASSERT_GE(grid, 0);
        const TGridLayout& g = grids[static_cast<std::size_t>(grid)];
        ASSERT_EQ(row.at(1), std::to_string(column));
        ASSERT_LT(column, g.Columns.size()) << g.Name;
        const TGridColumn& c = g.Columns[column];
        EXPECT_EQ(c.Caption, row.at(2)) << g.Name << " column " << column;
        EXPECT_EQ(c.Field, row.at(3) == "-" ? std::string() : row.at(3))
            << g.Name << " column " << column;
        ++column;
    }
    columnsChecked();
    EXPECT_EQ(grid, kGridCount - 1);
}

TEST(GridLayouts, PagesTablesAndColumnCounts) {
    const auto& grids = GridLayouts();
    const int counts[kGridCount] = {15, 31, 33, 33, 35, 11};
    const char* tables[kGridCount] = {"part",      "orders_log",         "multileg_orders_log",
                                      "user_deal", "user_multileg_deal", "position"};
    for (int g = 0; g < kGridCount; ++g) {
        SCOPED_TRACE(std::string(grids[g].Name));
        EXPECT_EQ(static_cast<int>(grids[g].Columns.size()), counts[g]);
        EXPECT_EQ(grids[g].Table, tables[g]);
        EXPECT_EQ(grids[g].KeyTable, g);
        for (const auto& column : grids[g].Columns)
            EXPECT_FALSE(column.Caption.empty());
    }
    EXPECT_EQ(grids[kAccGrid].Stream, "FORTS_PART_REPL");
    EXPECT_EQ(grids[kPositionsGrid].Stream, "FORTS_POS_REPL");
    EXPECT_EQ(grids[kOrdersGrid].Filter, TGridFilter::Orders);
    EXPECT_EQ(grids[kMLOrdersGrid].Filter, TGridFilter::MLOrders);
    EXPECT_EQ(grids[kDealsGrid].Filter, TGridFilter::None);

    const auto pages = PageCaptions();
    const char* expected[] = {"Счет",    "Ордера", "Составные ордера", "Сделки", "Составные сделки",
                              "Позиции", "Журнал"};
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(pages[i], expected[i]);
}

TEST(GridLayouts, OnlyTheTwoMultiLegColumnsHaveNoField) {
    for (const auto& grid : GridLayouts()) {
        for (std::size_t c = 0; c < grid.Columns.size(); ++c) {
            const bool noField = grid.Name == "MLOrdersGrid" && (c == 14 || c == 15);
            EXPECT_EQ(grid.Columns[c].Field.empty(), noField) << grid.Name << " column " << c;
        }
    }
    const auto& ml = GridLayout(kMLOrdersGrid).Columns;
    EXPECT_EQ(ml[14].Caption, "Ставка заявки. (Поле не используется)");
    EXPECT_EQ(ml[15].Caption, "Своп-цена заявки");
    EXPECT_EQ(ml[13].Field, "deal_price");
    EXPECT_EQ(ml[16].Field, "client_code");
    EXPECT_EQ(ml[32].Field, "reason");
}

TEST(GridLayouts, RepeatedCaptionsAndSpotChecks) {
    const auto& cols = GridLayout(kOrdersGrid).Columns;
    EXPECT_EQ(cols[3].Caption, "Кол-во контр. в операции");
    EXPECT_EQ(cols[25].Caption, cols[3].Caption);
    EXPECT_EQ(cols[3].Field, "public_amount");
    EXPECT_EQ(cols[25].Field, "private_amount");
    EXPECT_EQ(cols[12].Caption, "Действие с заявкой");
    EXPECT_EQ(cols[29].Caption, cols[12].Caption);
    EXPECT_EQ(cols[12].Field, "public_action");
    EXPECT_EQ(cols[29].Field, "private_action");
    EXPECT_EQ(cols[23].Caption,
              "ID пользователя. Для заявок, поданных от SMA-логина - ID MASTER-логина");
    EXPECT_EQ(GridLayout(kAccGrid).Columns[14].Caption, "Сумм. оцен. стоим. опционов");
    EXPECT_EQ(GridLayout(kDealsGrid).Columns[0].Caption, "ID торговой сессии");
    EXPECT_EQ(GridLayout(kMLDealsGrid).Columns[4].Field, "duration");
    EXPECT_EQ(GridLayout(kPositionsGrid).Columns[3].Caption, "Кол-о купл. контр. в ходе сессии");
}

TEST(GridLayouts, FieldNamesAreUniqueWithinEachGrid) {
    // A field written into two columns would be a copying slip in the tables.
    for (const auto& grid : GridLayouts()) {
        std::set<std::string_view> seen;
        for (const auto& column : grid.Columns)
            if (!column.Field.empty()) {
                EXPECT_TRUE(seen.insert(column.Field).second) << grid.Name << " " << column.Field;
            }
    }
}

TEST(GridLayouts, ColumnWidthMeasuresTheCaptionFollowedByTwoOnes) {
    std::vector<std::string> measured;
    const TTextWidthFn measure = [&](std::string_view text) {
        measured.emplace_back(text);
        return static_cast<int>(text.size()) * 7;
    };
    const auto widths = ColumnWidths(GridLayout(kAccGrid), measure);
    ASSERT_EQ(widths.size(), 15u);
    EXPECT_EQ(measured[1], "Своб. средства11");
    EXPECT_EQ(widths[1], static_cast<int>(std::string("Своб. средства11").size()) * 7);
}

TEST(GridLayouts, SetupGridShowsCaptionsAndOneEmptyRow) {
    for (const auto& layout : GridLayouts()) {
        TModelGridSink grid(layout);
        ASSERT_EQ(grid.ColCount(), static_cast<int>(layout.Columns.size()));
        EXPECT_EQ(grid.Captions().front(), layout.Columns.front().Caption);
        EXPECT_EQ(grid.Captions().back(), layout.Columns.back().Caption);
        EXPECT_EQ(grid.RowCount(), kGridInitialRows - 1);
        for (int c = 0; c < grid.ColCount(); ++c)
            EXPECT_TRUE(grid.Cell(0, c).empty());
    }
}

} // namespace
} // namespace vorlen

#include "grids/GridSink.h"

#include "grids/MomentText.h"
#include "grids/OrderMenus.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorlen {
namespace {

class CountingSink : public TModelGridSink {
public:
    int Repaints = 0;

protected:
    void Updated() override { ++Repaints; }
};

TEST(ModelGridSink, RowsComeBackEmptyAfterShrinking) {
    CountingSink grid;
    const std::string_view captions[] = {"a", "b", "c"};
    grid.SetCaptions(captions);
    std::vector<std::string> row{"1", "2", "3"};
    grid.SetRow(0, row);
    row = {"4", "5", "6"};
    grid.SetRow(1, row);
    ASSERT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(1, 2), "6");

    grid.SetRowCount(1);
    grid.SetRowCount(2);
    EXPECT_EQ(grid.Cell(0, 0), "1");
    EXPECT_TRUE(grid.Cell(1, 0).empty());
    EXPECT_TRUE(grid.Cell(1, 2).empty());
    EXPECT_TRUE(grid.Cell(5, 0).empty());
}

TEST(ModelGridSink, SetRowHandsBackTheReplacedStringsAndKeepsTheColumnCount) {
    TModelGridSink grid;
    const std::string_view captions[] = {"a", "b"};
    grid.SetCaptions(captions);
    std::vector<std::string> row{"first", "row"};
    grid.SetRow(0, row);
    row = {"second", "row", "extra"};
    grid.SetRow(0, row);
    EXPECT_EQ(grid.Row(0), (std::vector<std::string>{"second", "row"}));
    EXPECT_EQ(row, (std::vector<std::string>{"first", "row"}));

    std::vector<std::string> shorter{"x"};
    grid.SetRow(3, shorter); // rows in between appear empty
    EXPECT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.Cell(3, 0), "x");
    EXPECT_TRUE(grid.Cell(3, 1).empty());
    EXPECT_TRUE(grid.Cell(2, 0).empty());
    grid.SetCell(9, 0, "ignored");
    grid.SetCell(0, 9, "ignored");
    EXPECT_EQ(grid.RowCount(), 4);
}

TEST(ModelGridSink, RepaintsOnceAtTheOutermostEndUpdate) {
    CountingSink grid;
    grid.BeginUpdate();
    grid.BeginUpdate();
    grid.EndUpdate();
    EXPECT_EQ(grid.Repaints, 0);
    EXPECT_TRUE(grid.Updating());
    grid.EndUpdate();
    EXPECT_EQ(grid.Repaints, 1);
    grid.EndUpdate(); // unbalanced: ignored
    EXPECT_EQ(grid.Repaints, 1);
    EXPECT_FALSE(grid.Updating());
}

TEST(SelectedCellsText, RowsOfTabSeparatedCellsAcrossTheSelectionsColumns) {
    TModelGridSink grid(GridLayout(kDealsGrid));
    grid.SetRowCount(3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            grid.SetCell(r, c, std::string(1, static_cast<char>('a' + 3 * r + c)));
    grid.SetCell(2, 2, "tab\there\nline");
    using Cells = std::vector<std::pair<int, int>>;
    const struct {
        const char* What;
        Cells Selected;
        std::string Text;
    } cases[] = {
        {"nothing", {}, ""},
        {"one cell", {{1, 1}}, "e\n"},
        {"a block, given in any order, twice over",
         {{1, 1}, {0, 0}, {1, 0}, {0, 1}, {0, 0}},
         "a\tb\nd\te\n"},
        {"an uneven selection; a row without a selected cell is left out",
         {{0, 0}, {2, 2}},
         "a\t\t\n\t\ttab here line\n"},
        {"a cell past the grid reads as empty", {{0, 2}, {7, 2}}, "c\n\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SelectedCellsText(grid, c.Selected), c.Text) << c.What;
}

TEST(OrderMenus, HandlersSetTheirOwnFilterAndMoveTheCheckMark) {
    std::int32_t orders = kFilterActive;
    std::int32_t mlOrders = kFilterActive;
    TOrderMenus menus([&](std::int32_t f) { orders = f; }, [&](std::int32_t f) { mlOrders = f; });
    EXPECT_TRUE(menus.PopupMenu1.Checked(TOrderMenuItem::Active));
    EXPECT_TRUE(menus.PopupMenu2.Checked(TOrderMenuItem::Active));

    menus.DoneOrdersClick();
    EXPECT_EQ(orders, 2);
    EXPECT_EQ(mlOrders, 1);
    EXPECT_TRUE(menus.PopupMenu1.Checked(TOrderMenuItem::Done));
    EXPECT_FALSE(menus.PopupMenu1.Checked(TOrderMenuItem::Active));
    EXPECT_FALSE(menus.PopupMenu1.Checked(TOrderMenuItem::All));

    menus.AllMLOrdersClick();
    EXPECT_EQ(mlOrders, 4);
    EXPECT_EQ(orders, 2);
    menus.ActiveOrdersClick();
    EXPECT_EQ(orders, 1);
    menus.DoneMLOrdersClick();
    EXPECT_EQ(mlOrders, 2);
    menus.AllOrdersClick();
    menus.ActiveMLOrdersClick();
    EXPECT_EQ(orders, 4);
    EXPECT_EQ(mlOrders, 1);
    EXPECT_EQ(kOrderMenuCaptions[1], "Исполненные заявки");
}

TEST(OrderMenus, TheCheckedItemChangesNothing) {
    std::int32_t orders = kFilterActive;
    TOrderFilterMenu menu([&](std::int32_t f) { orders = f; });
    // Someone else changed the field; choosing the checked item must not overwrite it.
    orders = 42;
    EXPECT_FALSE(menu.Click(TOrderMenuItem::Active));
    EXPECT_EQ(orders, 42);
    EXPECT_TRUE(menu.Click(TOrderMenuItem::All));
    EXPECT_FALSE(menu.Click(TOrderMenuItem::All));
    EXPECT_EQ(orders, 4);
}

TEST(MomentText, MidnightShowsTheDateAlone) {
    const auto fs = RussianFormatSettings();
    // 5 March 2024 is day 45356 since 30 December 1899.
    EXPECT_EQ(MomentText(TDateTime{45356.0}, fs), "05.03.2024");
    EXPECT_EQ(MomentText(TDateTime{45356.5}, fs), "05.03.2024 12:00:00");
    const double t = 45356.0 + (10 * 3600 + 20 * 60 + 30) / 86400.0;
    EXPECT_EQ(MomentText(TDateTime{t}, fs), "05.03.2024 10:20:30");
    // One millisecond after midnight is not midnight.
    EXPECT_EQ(MomentText(TDateTime{45356.0 + 1 / 86400000.0}, fs), "05.03.2024 00:00:00");
    // A value that rounds up to the next midnight belongs to the next day.
    EXPECT_EQ(MomentText(TDateTime{45356.0 - 1e-10}, fs), "05.03.2024");
}

TEST(MomentText, OtherKindsAndFormats) {
    auto fs = RussianFormatSettings();
    EXPECT_EQ(MomentText(TValue{std::int32_t{45356}}, fs), "05.03.2024");
    EXPECT_EQ(MomentText(TValue{std::string("завтра")}, fs), "завтра");
    EXPECT_EQ(MomentText(TValue{}, fs), "");
    EXPECT_EQ(MomentText(TDateTime{1e300}, fs), "");
    fs.ShortDateFormat = "yyyy-MM-dd";
    fs.LongTimeFormat = "H:mm:ss.zzz";
    const double t = 45356.0 + (7 * 3600 + 5 * 60 + 9) / 86400.0 + 0.25 / 86400.0;
    EXPECT_EQ(MomentText(TDateTime{t}, fs), "2024-03-05 7:05:09.250");
    // Before the epoch the fraction still counts forward from the start of the day.
    EXPECT_EQ(MomentText(TDateTime{-1.25}, RussianFormatSettings()), "29.12.1899 06:00:00");
}

} // namespace
} // namespace vorlen

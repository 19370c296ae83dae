#include "grids/GridPass.h"

#include "store/TestScheme.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using test::TTestScheme;

// Rows that, unlike the store's, need not share one layout: the failure rule for a row lacking
// a field can only be seen with them.
struct FakeRow {
    const TRowLayout* LayoutPtr = nullptr;
    std::vector<TValue> Values;
};

class FakeRowView {
public:
    FakeRowView() = default;
    explicit FakeRowView(const FakeRow* row) : FRow(row) {}
    explicit operator bool() const { return FRow != nullptr; }
    const TRowLayout& Layout() const { return *FRow->LayoutPtr; }
    void Get(int pos, TField& out) const {
        out.FType = FRow->LayoutPtr->Type(static_cast<std::size_t>(pos));
        out.Data = FRow->Values[static_cast<std::size_t>(pos)];
    }

private:
    const FakeRow* FRow = nullptr;
};

struct FakeRows {
    std::vector<std::int64_t> Order;
    std::map<std::int64_t, FakeRow> Rows;
    std::vector<std::int64_t> Keys() const { return Order; }
    FakeRowView Find(std::int64_t key) const {
        const auto it = Rows.find(key);
        return it == Rows.end() ? FakeRowView() : FakeRowView(&it->second);
    }
};

class GridPass : public ::testing::Test {
protected:
    void SetUp() override {
        // Position grid fields, complete and without "xpos" (its third column).
        std::vector<test::TFieldSpec> full, shorter;
        for (const auto& column : GridLayout(kPositionsGrid).Columns) {
            full.push_back({std::string(column.Field), "i4", 4});
            if (column.Field != "xpos")
                shorter.push_back(full.back());
        }
        Scheme.Table("full", full).Table("short", shorter);
        Full = std::make_unique<TRowLayout>(Scheme.Message(0));
        Short = std::make_unique<TRowLayout>(Scheme.Message(1));
    }

    void Add(std::int64_t key, const TRowLayout& layout, std::int32_t base) {
        FakeRow row{&layout, {}};
        for (std::size_t i = 0; i < layout.Count(); ++i)
            row.Values.emplace_back(static_cast<std::int32_t>(base + static_cast<int>(i)));
        Table.Rows[key] = row;
        Table.Order.push_back(key);
    }

    void Run(TGridPass& pass, std::function<void(int)> perLock = {}) {
        int locks = 0;
        pass.RunOn(
            [&](const auto& fn) {
                if (perLock)
                    perLock(locks);
                ++locks;
                fn(Table);
            },
            Grid, std::nullopt, RussianFormatSettings());
    }

    TTestScheme Scheme;
    std::unique_ptr<TRowLayout> Full, Short;
    FakeRows Table;
    TModelGridSink Grid{GridLayout(kPositionsGrid)};
};

TEST_F(GridPass, ASecondRowLackingAFieldEndsThePassAfterItsEarlierCells) {
    Add(1, *Full, 100);
    Add(2, *Short, 200);
    Add(3, *Full, 300);
    TGridPass pass(GridLayout(kPositionsGrid));
    Run(pass);
    ASSERT_EQ(Grid.RowCount(), 2);
    EXPECT_EQ(Grid.Cell(0, 0), "100");
    EXPECT_EQ(Grid.Cell(0, 10), "110");
    EXPECT_EQ(Grid.Cell(1, 0), "200");
    EXPECT_EQ(Grid.Cell(1, 1), "201");
    for (int c = 2; c < Grid.ColCount(); ++c)
        EXPECT_TRUE(Grid.Cell(1, c).empty()) << c;

    // The next pass starts again from a cleared grid.
    Table.Rows.erase(2);
    Run(pass);
    ASSERT_EQ(Grid.RowCount(), 2);
    EXPECT_EQ(Grid.Cell(1, 0), "300");
    EXPECT_EQ(Grid.Cell(1, 2), "302");
}

TEST_F(GridPass, ManyRowsKeepTheirOrderAcrossLockHolds) {
    const int n = static_cast<int>(TGridPass::kChunkRows) * 2 + 7;
    for (int i = 0; i < n; ++i)
        Add(1000 - i, *Full, i * 100);
    TGridPass pass(GridLayout(kPositionsGrid));
    int holds = 0;
    Run(pass, [&](int lock) { holds = lock + 1; });
    ASSERT_EQ(Grid.RowCount(), n);
    EXPECT_EQ(holds, 1 + 3); // the order, then three chunks
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(Grid.Cell(i, 0), std::to_string(i * 100)) << i;
}

TEST_F(GridPass, RowsRemovedBetweenLockHoldsAreLeftOut) {
    const int n = static_cast<int>(TGridPass::kChunkRows) + 10;
    for (int i = 0; i < n; ++i)
        Add(i, *Full, i);
    TGridPass pass(GridLayout(kPositionsGrid));
    Run(pass, [&](int lock) {
        if (lock == 2) // before the second chunk is read
            Table.Rows.erase(static_cast<std::int64_t>(n - 1));
    });
    ASSERT_EQ(Grid.RowCount(), n - 1);
    EXPECT_EQ(Grid.Cell(n - 2, 0), std::to_string(n - 2));
}

} // namespace
} // namespace vorlen

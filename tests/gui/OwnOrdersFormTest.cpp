// "Мои заявки" while orders flow: a refresh touches the rows of the orders the log named and no
// other, and the grid shows what a window opened now would, under each sort and filter.

#include "gui/OwnOrdersForm.h"

#include "GuiSupport.h"
#include "gateway/Cgate.h"
#include "orders/OrdersLogStore.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <map>
#include <random>
#include <set>

namespace vorlen::test {
namespace {

std::vector<std::vector<std::string>> GridTexts(const QTableWidget& grid) {
    std::vector<std::vector<std::string>> out;
    for (int r = 0; r < grid.rowCount(); ++r) {
        out.emplace_back();
        for (int c = 0; c < grid.columnCount(); ++c)
            out.back().push_back(grid.item(r, c) ? grid.item(r, c)->text().toStdString() : "");
    }
    return out;
}

std::string OrderAt(const QTableWidget& grid, int row) {
    const QTableWidgetItem* item = grid.item(row, 0);
    return item != nullptr ? item->text().toStdString() : "?";
}

TEST(OwnOrdersForm, ARefreshTouchesOnlyTheRowsOfTheOrdersTheLogNamed) {
    const TCGateEntryPoints saved = CG();
    CG().cg_bcd_get = TestBcdGet;
    TOrdersLogStore log;
    std::map<std::int64_t, std::int64_t> live; // order, rest
    std::int64_t next = 1;
    const auto place = [&] {
        log.Row(next, 1, 5);
        live[next] = 5;
        return next++;
    };
    for (int i = 0; i < 120; ++i)
        place();
    gui::TOwnOrdersForm form(&log.Store, [] { return nullptr; });
    QTableWidget& grid = *form.Grid;
    QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);
    // The orders of the rows changed, put in or taken out, as they stand when the grid hears.
    std::set<std::string> touched;
    const auto touch = [&](const QModelIndex&, int first, int last) {
        for (int r = first; r <= last; ++r)
            touched.insert(OrderAt(grid, r));
    };
    QObject::connect(
        grid.model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& a, const QModelIndex& b) { touch({}, a.row(), b.row()); });
    QObject::connect(grid.model(), &QAbstractItemModel::rowsAboutToBeRemoved, touch);

    std::mt19937 rng(3);
    // No sort, what remains (it moves rows as orders trade), the state (a text), placed.
    const struct {
        int Column;
        bool ActiveOnly;
    } views[] = {{-1, false}, {-1, true}, {7, true}, {8, false}, {1, false}};
    for (const auto& view : views) {
        SCOPED_TRACE(::testing::Message()
                     << "column " << view.Column << ", active only " << view.ActiveOnly);
        form.ActiveOnlyBox->setChecked(view.ActiveOnly);
        form.SortBy(view.Column, true);
        grid.selectRow(3);
        const std::string selected = OrderAt(grid, 3);
        for (int burst = 0; burst < 25; ++burst) {
            std::set<std::string> named;
            for (int n = static_cast<int>(rng() % 4); n >= 0; --n) {
                if (live.empty() || rng() % 3 == 0) {
                    named.insert(std::to_string(place()));
                    continue;
                }
                const auto order = std::next(live.begin(), static_cast<long>(rng() % live.size()));
                named.insert(std::to_string(order->first));
                // Traded one lot, or cancelled.
                order->second = rng() % 2 == 0 ? order->second - 1 : 0;
                log.Row(order->first, order->second > 0 ? 2 : 0, order->second);
                if (order->second == 0)
                    live.erase(order);
            }
            touched.clear();
            form.Refresh();
            EXPECT_EQ(reset.count(), 0);
            for (const std::string& id : touched)
                EXPECT_EQ(named.count(id), 1U) << "order " << id << ", burst " << burst;
            gui::TOwnOrdersForm anew(&log.Store, [] { return nullptr; });
            anew.ActiveOnlyBox->setChecked(view.ActiveOnly);
            anew.SortBy(view.Column, true);
            ASSERT_EQ(GridTexts(grid), GridTexts(*anew.Grid)) << "burst " << burst;
            // The selection stays with its order while the order is shown.
            std::set<std::string> now;
            for (const QModelIndex& index : grid.selectionModel()->selectedRows())
                now.insert(OrderAt(grid, index.row()));
            EXPECT_TRUE(now.empty() || now == std::set<std::string>{selected});
        }
    }
    CG() = saved;
}

} // namespace
} // namespace vorlen::test

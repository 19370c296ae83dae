#pragma once

// The context menus of the two orders grids: active, done or all orders. They set the
// connector's filter, move the check mark and ask for a pass of their grid, so the choice shows
// at once rather than with the next new order.

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace vorlen {

// Filter values as the order passes read them.
constexpr std::int32_t kFilterActive = 1;
constexpr std::int32_t kFilterDone = 2;
constexpr std::int32_t kFilterAll = 4;

enum class TOrderMenuItem { Active = 0, Done = 1, All = 2 };

inline constexpr std::array<std::string_view, 3> kOrderMenuCaptions{
    "Активные заявки", "Исполненные заявки", "Все заявки"};

// One menu bound to one filter of the connector through its setter. The first item carries the
// check mark when the main window opens, matching the filters' starting value.
class TOrderFilterMenu {
public:
    using TSetFilter = std::function<void(std::int32_t)>;
    // `changed` runs after a click that changed the filter.
    explicit TOrderFilterMenu(TSetFilter setFilter, std::function<void()> changed = {})
        : FSetFilter(std::move(setFilter)), FChanged(std::move(changed)) {}

    // Returns whether anything changed: choosing the checked item does nothing.
    bool Click(TOrderMenuItem item);
    bool Checked(TOrderMenuItem item) const { return item == FChecked; }
    static std::int32_t FilterValue(TOrderMenuItem item);

private:
    TSetFilter FSetFilter;
    std::function<void()> FChanged;
    TOrderMenuItem FChecked = TOrderMenuItem::Active;
};

// Both menus, with the handlers under the names the main window wires its items to.
// PopupMenu1 belongs to the orders grid, PopupMenu2 to the page control (and with it the
// multi-leg orders grid). Everything here runs on the user-interface thread, as do the passes
// that read the filters, so no lock is needed.
class TOrderMenus {
public:
    // `refresh(grid)` asks for a pass of the orders grid (kOrdersGrid) or the multi-leg one
    // (kMLOrdersGrid) after its filter changed.
    TOrderMenus(TOrderFilterMenu::TSetFilter setOrders, TOrderFilterMenu::TSetFilter setMLOrders,
                const std::function<void(int grid)>& refresh = {});

    void ActiveOrdersClick() { PopupMenu1.Click(TOrderMenuItem::Active); }
    void DoneOrdersClick() { PopupMenu1.Click(TOrderMenuItem::Done); }
    void AllOrdersClick() { PopupMenu1.Click(TOrderMenuItem::All); }
    void ActiveMLOrdersClick() { PopupMenu2.Click(TOrderMenuItem::Active); }
    void DoneMLOrdersClick() { PopupMenu2.Click(TOrderMenuItem::Done); }
    void AllMLOrdersClick() { PopupMenu2.Click(TOrderMenuItem::All); }

    TOrderFilterMenu PopupMenu1;
    TOrderFilterMenu PopupMenu2;
};

// Whether an order row with this private_action passes the filter. A value that is not a 32-bit
// integer arrives as -919191 and passes only "all".
bool OrderPassesFilter(std::int32_t filter, std::int32_t privateAction);

} // namespace vorlen

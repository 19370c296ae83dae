#include "grids/OrderMenus.h"

#include "grids/GridLayouts.h"

namespace vorlen {

std::int32_t TOrderFilterMenu::FilterValue(TOrderMenuItem item) {
    switch (item) {
    case TOrderMenuItem::Active:
        return kFilterActive;
    case TOrderMenuItem::Done:
        return kFilterDone;
    case TOrderMenuItem::All:
        return kFilterAll;
    }
    return kFilterActive;
}

bool TOrderFilterMenu::Click(TOrderMenuItem item) {
    if (item == FChecked)
        return false;
    if (FSetFilter)
        FSetFilter(FilterValue(item));
    FChecked = item;
    if (FChanged)
        FChanged();
    return true;
}

namespace {
std::function<void()> RefreshOf(const std::function<void(int)>& refresh, int grid) {
    if (!refresh)
        return {};
    return [refresh, grid] { refresh(grid); };
}
} // namespace

TOrderMenus::TOrderMenus(TOrderFilterMenu::TSetFilter setOrders,
                         TOrderFilterMenu::TSetFilter setMLOrders,
                         const std::function<void(int grid)>& refresh)
    : PopupMenu1(std::move(setOrders), RefreshOf(refresh, kOrdersGrid)),
      PopupMenu2(std::move(setMLOrders), RefreshOf(refresh, kMLOrdersGrid)) {}

bool OrderPassesFilter(std::int32_t filter, std::int32_t privateAction) {
    // The exchange's action 3 belongs with the active orders, as 1 does.
    const std::int32_t action = privateAction == 3 ? kFilterActive : privateAction;
    return filter == kFilterAll || filter == action;
}

} // namespace vorlen

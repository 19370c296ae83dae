#include "grids/OrderMenus.h"

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
    FFilter = FilterValue(item);
    FChecked = item;
    return true;
}

bool OrderPassesFilter(std::int32_t filter, std::int32_t privateAction) {
    // The exchange's action 3 belongs with the active orders, as 1 does.
    const std::int32_t action = privateAction == 3 ? kFilterActive : privateAction;
    return filter == kFilterAll || filter == action;
}

} // namespace vorlen

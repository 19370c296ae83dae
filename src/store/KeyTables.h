#pragma once

// The seven key tables, in the store's numbering (GetTable, the grid updater's events and the
// main window's grids all count them this way). The one list of them: the store, the grid layouts
// and the console's dump read it from here.

#include <array>
#include <string_view>

namespace vorlen {

struct TKeyTableRef {
    std::string_view Stream;
    std::string_view Table;
};

inline constexpr int kKeyTablePart = 0;
inline constexpr int kKeyTableOrders = 1;
inline constexpr int kKeyTableMLOrders = 2;
inline constexpr int kKeyTableDeals = 3;
inline constexpr int kKeyTableMLDeals = 4;
inline constexpr int kKeyTablePositions = 5;
inline constexpr int kKeyTableSysMessages = 6;

inline constexpr std::array<TKeyTableRef, 7> kKeyTableRefs{{
    {"FORTS_PART_REPL", "part"},
    {"FORTS_TRADE_REPL", "orders_log"},
    {"FORTS_TRADE_REPL", "multileg_orders_log"},
    {"FORTS_TRADE_REPL", "user_deal"},
    {"FORTS_TRADE_REPL", "user_multileg_deal"},
    {"FORTS_POS_REPL", "position"},
    {"FORTS_REFDATA_REPL", "sys_messages"},
}};

} // namespace vorlen

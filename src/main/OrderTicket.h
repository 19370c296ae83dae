#pragma once

// The trader's order windows without the windows: what the ticket makes of its fields, what it
// asks and answers, and the own-orders window's rows.

#include "orders/OrderDesk.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

// The ticket's fields as the trader left them.
struct TTicketInput {
    std::string Isin;   // from the instrument chooser; empty: none chosen
    int Side = 0;       // 1 buy, 2 sell, 0 none chosen
    std::string Price;  // as typed
    std::string Qty;    // as typed
    std::string Client; // chosen from the account table; empty: none chosen
};

// The order the ticket stands for, or nothing with the reason in `error`. Only the form of the
// fields is checked here; every limit is the gate's.
std::optional<orders::TOrderRequest> TicketOrder(const TTicketInput& in, std::string& error);

// The confirmation question naming everything the order carries.
std::string TicketConfirmText(const orders::TOrderRequest& order);
// What the ticket shows once the desk has taken the order (refused, not sent, or posted).
std::string PlaceOutcomeText(const orders::TPlaceResult& result);
// The gate refused the order only because an equal one went a moment ago.
bool IsRepeatRefusal(const orders::TPlaceResult& result);
bool IsRepeatRefusal(const orders::TGateDecision& decision);
// A price as the trader's fields show it: with the locale's decimal separator.
std::string TicketPriceText(std::int64_t units);
inline constexpr const char* kRepeatQuestion =
    "Такая же заявка отправлена меньше секунды назад. Отправить ещё одну?";
// What the ticket shows once the exchange has answered.
std::string ReplyOutcomeText(const orders::TReply& reply);

// The status bar's word on the kill switch: empty while trading is allowed.
std::string TradingStateText(orders::TKillPhase phase,
                             const std::optional<orders::TKillReport>& report);

inline constexpr std::size_t kOwnOrderColumns = 10;
// "Номер", "Время", "Инструмент", "Клиент", "Операция", "Цена", "Кол-во", "Остаток", "Состояние",
// "Изменена": the time is when the order was placed, "Изменена" when its last event came.
const std::array<const char*, kOwnOrderColumns>& OwnOrderCaptions();
inline constexpr std::size_t kOwnOrderChangedColumn = 9;

struct TOwnOrderRow {
    std::int64_t OrderId = 0;
    bool Active = false;
    bool Buy = false;
    std::array<std::string, kOwnOrderColumns> Cells;
    // What the columns sort by where their text would not: times, price and quantities.
    std::int64_t PlacedNs = 0, ChangedNs = 0, Price = 0, Amount = 0, Rest = 0;
};

// Own orders as the orders log tells them, the latest placed first (by number when placed at
// the same moment), so a row stays where it is while its order fills or is cancelled;
// `activeOnly` leaves out the filled and cancelled ones.
std::vector<TOwnOrderRow> OwnOrderRows(const orders::TStoreFacts& facts, bool activeOnly);
// One order's row; `ref` names its instrument ("?" without it).
TOwnOrderRow OwnOrderRow(const orders::TOwnOrder& order, const orders::TRefFacts* ref);
// Whether `a` stands above `b` once sorted by `column` (past the last: no column), rows the
// column does not tell apart in their order without one: what OwnOrderRows and then
// SortOwnOrderRows make of a set of rows, as one order that tells any two rows apart.
bool OwnOrderRowBefore(const TOwnOrderRow& a, const TOwnOrderRow& b, std::size_t column,
                       bool ascending);

// Sorts by a column, numbers and times by value; rows that the column does not tell apart keep
// their order, so a refresh never shuffles them.
void SortOwnOrderRows(std::vector<TOwnOrderRow>& rows, std::size_t column, bool ascending);

} // namespace vorlen

#pragma once

// The trader's own orders as the orders log tells them: one entry per order, whatever order the
// log's rows came in and however often one was repeated.

#include "orders/RiskGate.h"
#include "store/FlatHash.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vorlen::orders {

// What one orders-log row says, in the exchange's terms.
struct TOrderLogRow {
    std::int64_t OrderId = 0;
    std::int32_t IsinId = 0;
    std::string Client;
    TSide Side = TSide::Buy;
    std::int64_t Price = 0;
    int Action = 0; // 0 cancelled, 1 placed, 2 traded
    std::int64_t Amount =
        0;                 // placed: the order's quantity; traded: the deal's; cancelled: the rest
    std::int64_t Rest = 0; // what remained after this row's event
    std::int64_t DealId = 0;
    std::int64_t MomentNs = 0;
    std::int64_t ExtId = 0; // the poster's own number: this terminal puts its transaction id there
    std::string Login;      // who placed the order
    std::int32_t SessId = 0;
};

enum class TOrderState { Placed, PartlyFilled, Filled, Cancelled };

struct TOwnOrder {
    std::int64_t OrderId = 0;
    std::int32_t IsinId = 0;
    std::string Client;
    TSide Side = TSide::Buy;
    std::int64_t Price = 0;
    std::int64_t Amount = 0;
    std::int64_t Filled = 0;
    std::int64_t Rest = 0;
    std::int64_t LastMomentNs = 0;
    // When it was placed, as near as its rows tell: the earliest of their times.
    std::int64_t FirstMomentNs = 0;
    std::int64_t ExtId = 0;
    std::string Login;
    std::int32_t SessId = 0;
    TOrderState State = TOrderState::Placed;
    bool Active() const {
        return State == TOrderState::Placed || State == TOrderState::PartlyFilled;
    }
};

// The active orders' part on one client code: how many, and their rest by instrument and side.
struct TClientActive {
    std::int64_t Count = 0;
    std::map<std::pair<std::int32_t, TSide>, std::int64_t> Rest; // by (isin_id, side)
    bool operator==(const TClientActive&) const = default;
};
using TActiveByClient = std::map<std::string, TClientActive, std::less<>>;
// Adds an active order's part (sign 1) or takes it away (sign -1); what falls to nothing goes.
void CountActive(TActiveByClient& counts, const TOwnOrder& order, int sign);

// Orders by id. The remaining quantity only ever falls and a cancel is final, so the lowest rest
// seen and any cancel row decide, whatever their order; deals count once per deal id.
std::vector<TOwnOrder> DeriveOwnOrders(const std::vector<TOrderLogRow>& rows);

// The same, fed one row at a time, so a reader that sees the log grow pays only for new rows.
class TOwnOrderTracker {
public:
    void Add(const TOrderLogRow& row);
    std::vector<TOwnOrder> Orders(bool activeOnly = false) const;
    // The order as its rows tell it; false when none of them has come.
    bool Find(std::int64_t orderId, TOwnOrder& out) const;
    const TFlatSet<std::int64_t>& ExtIds() const { return FExtIds; }
    // The highest ext_id in ExtIds (0 with none): an id past it needs no look-up.
    std::int64_t ExtIdMax() const { return FExtIdMax; }
    // The active orders' parts, kept as rows come: what CountActive makes of Orders(true).
    const TActiveByClient& Active() const { return FActiveCounts; }
    // Every ext_id in the order it was first seen; a reader that remembers how far it read
    // learns which are new. Starts again empty after Clear, which Clears() counts.
    const std::vector<std::int64_t>& ExtIdOrder() const { return FExtIdOrder; }
    // The order of every row taken, in the order they came: a reader that remembers how far it
    // read learns which orders may have changed since. Starts again empty after Clear.
    const std::vector<std::int64_t>& ChangeOrder() const { return FChangeOrder; }
    // How many orders are active: the size of Orders(true).
    std::size_t ActiveCount() const { return FActive.size(); }
    std::uint64_t Clears() const { return FClears; }
    void Clear() {
        const std::uint64_t clears = FClears + 1;
        *this = TOwnOrderTracker{};
        FClears = clears;
    }

private:
    struct TAcc {
        TOwnOrder Order;
        bool Placed = false;
        bool Cancelled = false;
        std::int64_t MinRest = -1;
        std::set<std::int64_t> Deals;
    };
    static TOwnOrder Finish(const TAcc& a);
    std::map<std::int64_t, TAcc> FAcc;
    std::set<std::int64_t> FActive; // ids of the orders that may still trade
    // Asked for every order placed (is this ext_id the log's?): hashed, not a tree walk.
    TFlatSet<std::int64_t> FExtIds;
    std::vector<std::int64_t> FExtIdOrder;
    std::vector<std::int64_t> FChangeOrder;
    std::int64_t FExtIdMax = 0;
    TActiveByClient FActiveCounts;
    std::uint64_t FClears = 0;
};

// "выставлена", "частично исполнена", "исполнена", "снята".
const char* StateText(TOrderState state);

} // namespace vorlen::orders

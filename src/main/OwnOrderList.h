#pragma once

// The own-orders window's rows kept between refreshes. The orders log only grows, and an order's
// row changes only when a row of the log names it, so a refresh looks at the orders named since
// the last one and says which rows to take out, put in or change; the window then touches those
// rows alone, however many orders the day has.

#include "main/OrderTicket.h"
#include "orders/OwnOrders.h"
#include "store/FlatHash.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vorlen {

class TOwnOrderList {
public:
    // One change to the rows, at a row number as it stands after the steps before it; a row
    // put in or changed comes with what it shows then (a later step may move it).
    struct TStep {
        enum class TKind { Remove, Insert, Change };
        TKind Kind = TKind::Change;
        std::size_t Row = 0;
        TOwnOrderRow Shown;
    };

    // Brings Rows() to what OwnOrderRows, then SortOwnOrderRows by `column` (past the last: no
    // column), make of `tracker`'s orders now. Returns false when the rows were made anew (the
    // first time, after the tracker was cleared or another one given, new reference rows, another
    // filter or sort, or more orders changed than are worth following): the window then shows
    // them whole. Otherwise `steps` (cleared first) lists what changed.
    bool Update(const orders::TOwnOrderTracker& tracker,
                const std::shared_ptr<const orders::TRefFacts>& ref, bool activeOnly,
                std::size_t column, bool ascending, std::vector<TStep>& steps);

    // Newest first at the top; a deque, so that a new order costs no move of the others.
    const std::deque<TOwnOrderRow>& Rows() const { return FRows; }

private:
    void Rebuild(const orders::TOwnOrderTracker& tracker);
    bool Before(const TOwnOrderRow& a, const TOwnOrderRow& b) const {
        return OwnOrderRowBefore(a, b, FColumn, FAscending);
    }
    // Where `row` stands, or would stand, among the rows.
    std::size_t Place(const TOwnOrderRow& row) const;
    // False when the rows turn out not to be as the list remembers them.
    bool Follow(const orders::TOwnOrder& order, std::vector<TStep>& steps);
    void Remember(const TOwnOrderRow& row);

    // What places a shown order's row: the fields the sort reads, the column's text when it
    // sorts by text. The row itself is found by them.
    struct TPlace {
        std::int64_t Placed = 0, Changed = 0, Price = 0, Amount = 0, Rest = 0;
        std::string Text;
    };

    std::deque<TOwnOrderRow> FRows;
    TFlatMap<std::int64_t, TPlace> FPlaces; // by order id, the orders shown
    const orders::TOwnOrderTracker* FTracker = nullptr;
    std::uint64_t FClears = 0;
    std::size_t FRead = 0; // how far into the tracker's ChangeOrder the rows are
    std::shared_ptr<const orders::TRefFacts> FRef;
    bool FActiveOnly = false;
    std::size_t FColumn = kOwnOrderColumns;
    bool FAscending = true;
};

} // namespace vorlen

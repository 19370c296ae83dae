#include "main/OwnOrderList.h"

#include <algorithm>

namespace vorlen {

namespace {

// With more orders named than this, or than a quarter of the rows, making the rows anew costs
// no more than following them one by one.
constexpr std::size_t kFollowMost = 256;

bool SortsByText(std::size_t column) {
    return column == 2 || column == 3 || column == 4 || column == 8;
}

} // namespace

void TOwnOrderList::Remember(const TOwnOrderRow& row) {
    TPlace& p = FPlaces[row.OrderId];
    p = {row.PlacedNs, row.ChangedNs, row.Price, row.Amount, row.Rest, {}};
    if (FColumn < kOwnOrderColumns && SortsByText(FColumn))
        p.Text = row.Cells[FColumn];
}

void TOwnOrderList::Rebuild(const orders::TOwnOrderTracker& tracker) {
    orders::TStoreFacts facts;
    facts.Own = tracker.Orders(FActiveOnly);
    facts.Ref = FRef;
    std::vector<TOwnOrderRow> rows = OwnOrderRows(facts, FActiveOnly);
    SortOwnOrderRows(rows, FColumn, FAscending);
    FRows.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    FPlaces.clear();
    for (const TOwnOrderRow& row : FRows)
        Remember(row);
}

std::size_t TOwnOrderList::Place(const TOwnOrderRow& row) const {
    return static_cast<std::size_t>(
        std::lower_bound(
            FRows.begin(), FRows.end(), row,
            [this](const TOwnOrderRow& a, const TOwnOrderRow& b) { return Before(a, b); }) -
        FRows.begin());
}

bool TOwnOrderList::Follow(const orders::TOwnOrder& order, std::vector<TStep>& steps) {
    using TKind = TStep::TKind;
    TOwnOrderRow row = OwnOrderRow(order, FRef.get());
    const bool shown = !FActiveOnly || row.Active;
    if (const auto it = FPlaces.find(order.OrderId); it != FPlaces.end()) {
        // The row as it was placed, enough of it for the sort to find it.
        TOwnOrderRow was;
        was.OrderId = order.OrderId;
        was.PlacedNs = it->second.Placed;
        was.ChangedNs = it->second.Changed;
        was.Price = it->second.Price;
        was.Amount = it->second.Amount;
        was.Rest = it->second.Rest;
        if (FColumn < kOwnOrderColumns)
            was.Cells[FColumn] = it->second.Text;
        const std::size_t at = Place(was);
        // Rows that no longer hold the order they were placed in: only making them anew helps.
        if (at >= FRows.size() || FRows[at].OrderId != order.OrderId)
            return false;
        // Still between its neighbours: changed where it stands.
        if (shown && (at == 0 || Before(FRows[at - 1], row)) &&
            (at + 1 == FRows.size() || Before(row, FRows[at + 1]))) {
            const TOwnOrderRow& old = FRows[at];
            if (old.Cells != row.Cells || old.Active != row.Active || old.Buy != row.Buy)
                steps.push_back({TKind::Change, at, row});
            FRows[at] = std::move(row);
            Remember(FRows[at]);
            return true;
        }
        FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(at));
        FPlaces.erase(it);
        steps.push_back({TKind::Remove, at, {}});
    }
    if (!shown)
        return true;
    const std::size_t at = Place(row);
    FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    Remember(FRows[at]);
    steps.push_back({TKind::Insert, at, FRows[at]});
    return true;
}

bool TOwnOrderList::Update(const orders::TOwnOrderTracker& tracker,
                           const std::shared_ptr<const orders::TRefFacts>& ref, bool activeOnly,
                           std::size_t column, bool ascending, std::vector<TStep>& steps) {
    steps.clear();
    column = std::min(column, kOwnOrderColumns);
    const std::vector<std::int64_t>& named = tracker.ChangeOrder();
    // The reference rows are read again every second; only the instruments' names show.
    const bool sameNames =
        FRef == ref || (FRef != nullptr && ref != nullptr && FRef->IsinById == ref->IsinById);
    bool follow = FTracker == &tracker && FClears == tracker.Clears() && sameNames &&
                  FActiveOnly == activeOnly && FColumn == column && FAscending == ascending &&
                  FRead <= named.size();
    std::vector<std::int64_t> ids;
    if (follow) {
        ids.assign(named.begin() + static_cast<std::ptrdiff_t>(FRead), named.end());
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        follow = ids.size() <= std::max(kFollowMost, FRows.size() / 4);
    }
    FTracker = &tracker;
    FClears = tracker.Clears();
    FRead = named.size();
    FRef = ref;
    FActiveOnly = activeOnly;
    FColumn = column;
    FAscending = ascending;
    orders::TOwnOrder order;
    for (std::size_t i = 0; follow && i < ids.size(); ++i)
        follow = !tracker.Find(ids[i], order) || Follow(order, steps);
    if (!follow) {
        steps.clear();
        Rebuild(tracker);
    }
    return follow;
}

} // namespace vorlen

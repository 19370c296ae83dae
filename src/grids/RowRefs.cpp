#include "grids/RowRefs.h"

#include "grids/OrderMenus.h"
#include "store/FieldConversion.h"
#include "store/KeyTables.h"
#include "store/Storage.h"

#include <algorithm>
#include <vector>

namespace vorlen {

namespace {

// Rows looked at per hold of the store's lock by a pass: well under a millisecond.
constexpr std::size_t kScanRows = 4096;
// Passes that start again because the table's positions moved under them, before one takes the
// lock for the whole table.
constexpr int kRestarts = 3;

const std::string kEmptyCell;
const std::vector<std::string> kNoRow;

// Field positions of the layout's columns: -1 for a field the table lacks, -2 for a column that
// shows no field.
constexpr int kNoField = -2;

void Resolve(const TGridLayout& grid, const TRowLayout& layout, std::vector<int>& pos) {
    pos.resize(grid.Columns.size());
    for (std::size_t c = 0; c < pos.size(); ++c) {
        const std::string_view field = grid.Columns[c].Field;
        pos[c] = field.empty() ? kNoField : layout.IndexOf(field);
    }
}

// Whether the grid shows `row` under `filter`; `actionPos` is the position of the field the
// filter reads, -1 when the table lacks it.
bool Passes(const TRowView& row, std::optional<std::int32_t> filter, int actionPos,
            TField& action) {
    if (!filter)
        return true;
    if (actionPos < 0)
        return false;
    row.Get(actionPos, action);
    return OrderPassesFilter(*filter, VarAsInteger(action.Data));
}

} // namespace

TRowRefList CollectRows(TCGStorage& store, const TTable& table, const TGridLayout& layout,
                        std::optional<std::int32_t> filter) {
    TRowRefList list;
    list.Table = table;
    std::vector<int> pos;
    TField action;
    for (int attempt = 0;; ++attempt) {
        const bool whole = attempt >= kRestarts;
        list.Keys.Clear();
        list.Cut = layout.Columns.size();
        std::size_t at = 0;
        std::uint64_t generation = 0;
        bool moved = false, done = false;
        while (!done && !moved) {
            const TCGStorage::TAccess access(store);
            const TRows& rows = access.Rows(table);
            if (at == 0) {
                generation = rows.Generation();
                list.Generation = generation;
            } else if (rows.Generation() != generation) {
                moved = true;
                break;
            }
            const TRowLayout* rowLayout = rows.Layout();
            if (rowLayout == nullptr)
                break;
            Resolve(layout, *rowLayout, pos);
            const int actionPos = rowLayout->IndexOf("private_action");
            const std::size_t end =
                whole ? rows.Positions() : std::min(rows.Positions(), at + kScanRows);
            for (; at < end; ++at) {
                const TRowView row = rows.AtPosition(at);
                if (!row)
                    continue;
                if (!Passes(row, filter, actionPos, action))
                    continue;
                list.Keys.PushBack(row.ReplId());
                // A listed field this table lacks ends the pass after the first row shown.
                const auto missing = std::find(pos.begin(), pos.end(), -1);
                if (missing != pos.end()) {
                    list.Cut = static_cast<std::size_t>(missing - pos.begin());
                    done = true;
                    break;
                }
            }
            list.Seen = at;
            done = done || at >= rows.Positions();
        }
        if (!moved)
            return list;
    }
}

TRowRefList TRowCollector::Pass(const TTable& table, std::optional<std::int32_t> filter) {
    {
        const TCGStorage::TAccess access(FStore);
        const TRows& rows = access.Rows(table);
        TGridChangeFeed::TChanges changes;
        if (FFeed != nullptr && FGrid >= 0 && FGrid < kKeyTableCount)
            changes = FFeed->Take(FGrid, kKeyTableRefs[static_cast<std::size_t>(FGrid)].Stream,
                                  table.tIdx);
        // A list cut at a missing field shows one row, which a whole pass finds as cheaply.
        const bool same = FValid && !changes.All && table.Values == FList.Table.Values &&
                          rows.Generation() == FList.Generation && rows.Layout() == FRowLayout &&
                          filter == FFilter && FList.Cut == FLayout.Columns.size();
        if (same && Follow(rows, changes))
            return Handout();
        FRowLayout = rows.Layout();
    }
    // What changes from here on is recorded for the next pass, which looks at it again.
    ++FWholePasses;
    FList = CollectRows(FStore, table, FLayout, filter);
    FFilter = filter;
    FValid = true;
    return Handout();
}

TRowRefList TRowCollector::Handout() {
    TRowRefList out;
    out.Table = FList.Table;
    out.Keys = FList.Keys;
    out.Cut = FList.Cut;
    out.Generation = FList.Generation;
    out.Seen = FList.Seen;
    return out;
}

bool TRowCollector::Follow(const TRows& rows, TGridChangeFeed::TChanges& changes) {
    const TRowLayout* layout = rows.Layout();
    if (layout == nullptr)
        return false;
    const int actionPos = layout->IndexOf("private_action");
    TField action;
    // Rows that arrived stand after every row listed; they are added once the listed rows that
    // changed have been dealt with, since a row removed and stored again under the same id
    // leaves its old place and arrives anew.
    const std::size_t end = rows.Positions();
    std::vector<std::pair<std::int64_t, bool>> arrived; // id, shown
    for (std::size_t at = FList.Seen; at < end; ++at)
        if (const TRowView row = rows.AtPosition(at))
            arrived.emplace_back(row.ReplId(), Passes(row, FFilter, actionPos, action));
    FList.Seen = end;

    // A listed row that was removed, or no longer passes, leaves; a row changed in place that
    // now passes must already be listed, or it belongs somewhere among the others.
    std::vector<std::int64_t>& drop = changes.Removed;
    std::vector<std::int64_t> keep;
    if (!changes.Stored.empty()) {
        std::vector<std::int64_t> fresh;
        fresh.reserve(arrived.size());
        for (const auto& a : arrived)
            fresh.push_back(a.first);
        std::sort(fresh.begin(), fresh.end());
        for (const std::int64_t id : changes.Stored) {
            if (std::binary_search(fresh.begin(), fresh.end(), id))
                continue;
            const TRowView row = rows.Find(id);
            if (!row || !Passes(row, FFilter, actionPos, action))
                drop.push_back(id);
            else if (FFilter) // without a filter every row still here was listed on arrival
                keep.push_back(id);
        }
    }
    std::sort(drop.begin(), drop.end());
    std::sort(keep.begin(), keep.end());
    keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
    std::size_t found = 0;
    if (!drop.empty() || !keep.empty()) {
        FList.Keys.RemoveIf([&](std::int64_t id) {
            if (std::binary_search(keep.begin(), keep.end(), id))
                ++found;
            return std::binary_search(drop.begin(), drop.end(), id);
        });
    }
    for (const auto& [id, shown] : arrived)
        if (shown)
            FList.Keys.PushBack(id);
    return found == keep.size();
}

TRowRefs::TRowRefs(TCGStorage& store, const TGridLayout& layout, const TFormatSettings& fs)
    : FStore(store), FLayout(layout), FFs(fs) {}

void TRowRefs::Show(TRowRefList&& list) {
    FList = std::move(list);
    FFirst = -1;
}

int TRowRefs::RowCount() const {
    return std::max<int>(1, static_cast<int>(FList.Keys.Size()));
}

const std::vector<std::string>& TRowRefs::Row(int row) const {
    if (row < 0 || row >= RowCount())
        return kNoRow;
    if (FFirst < 0 || row < FFirst || row >= FFirst + static_cast<int>(FTexts.size()))
        Fill(row);
    return FTexts[static_cast<std::size_t>(row - FFirst)];
}

const std::string& TRowRefs::Cell(int row, int col) const {
    const std::vector<std::string>& cells = Row(row);
    if (col < 0 || static_cast<std::size_t>(col) >= cells.size())
        return kEmptyCell;
    return cells[static_cast<std::size_t>(col)];
}

void TRowRefs::Fill(int row) const {
    // A view paints downwards and scrolls either way: start a little above the row asked for.
    const int count = RowCount();
    const int first = std::max(0, std::min(row - kWindowRows / 4, count - kWindowRows));
    const int last = std::min(count, first + kWindowRows);
    const std::size_t cols = FLayout.Columns.size();
    FTexts.resize(static_cast<std::size_t>(last - first));
    for (auto& cells : FTexts) {
        cells.resize(cols);
        for (auto& cell : cells)
            cell.clear();
    }
    FFirst = first;
    if (FList.Keys.Empty())
        return;
    const TCGStorage::TAccess access(FStore);
    const TRows& rows = access.Rows(FList.Table);
    const TRowLayout* layout = rows.Layout();
    if (layout == nullptr)
        return;
    std::vector<int> pos;
    Resolve(FLayout, *layout, pos);
    const std::size_t cut = std::min(FList.Cut, cols);
    for (int r = first; r < last; ++r) {
        // A row removed since the pass shows empty until the pass its removal brings.
        const TRowView view = rows.Find(FList.Keys[static_cast<std::size_t>(r)]);
        if (!view)
            continue;
        auto& cells = FTexts[static_cast<std::size_t>(r - first)];
        for (std::size_t c = 0; c < cut; ++c) {
            if (pos[c] < 0)
                continue;
            view.Get(pos[c], FField);
            AppendValueText(cells[c], FField.Data, FFs);
        }
    }
}

std::size_t TRowRefs::HeldBytes() const {
    std::size_t bytes = FList.Keys.HeldBytes();
    for (const auto& cells : FTexts) {
        bytes += cells.capacity() * sizeof(std::string);
        for (const auto& cell : cells)
            if (cell.capacity() > 15)
                bytes += cell.capacity() + 1;
    }
    return bytes;
}

} // namespace vorlen

#include "grids/RowRefs.h"

#include "grids/OrderMenus.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <algorithm>

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

} // namespace

TRowRefList CollectRows(TCGStorage& store, const TTable& table, const TGridLayout& layout,
                        std::optional<std::int32_t> filter) {
    TRowRefList list;
    list.Table = table;
    std::vector<int> pos;
    TField action;
    for (int attempt = 0;; ++attempt) {
        const bool whole = attempt >= kRestarts;
        list.Keys.clear();
        list.Cut = layout.Columns.size();
        std::size_t at = 0;
        std::uint64_t generation = 0;
        bool moved = false, done = false;
        while (!done && !moved) {
            const TCGStorage::TAccess access(store);
            const TRows& rows = access.Rows(table);
            if (at == 0)
                generation = rows.Generation();
            else if (rows.Generation() != generation) {
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
                if (filter) {
                    if (actionPos < 0)
                        continue;
                    row.Get(actionPos, action);
                    if (!OrderPassesFilter(*filter, VarAsInteger(action.Data)))
                        continue;
                }
                list.Keys.push_back(row.ReplId());
                // A listed field this table lacks ends the pass after the first row shown.
                const auto missing = std::find(pos.begin(), pos.end(), -1);
                if (missing != pos.end()) {
                    list.Cut = static_cast<std::size_t>(missing - pos.begin());
                    done = true;
                    break;
                }
            }
            done = done || at >= rows.Positions();
        }
        if (!moved)
            return list;
    }
}

TRowRefs::TRowRefs(TCGStorage& store, const TGridLayout& layout, const TFormatSettings& fs)
    : FStore(store), FLayout(layout), FFs(fs) {}

void TRowRefs::Show(TRowRefList&& list) {
    FList = std::move(list);
    FFirst = -1;
}

int TRowRefs::RowCount() const {
    return std::max<int>(1, static_cast<int>(FList.Keys.size()));
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
    if (FList.Keys.empty())
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
    std::size_t bytes = FList.Keys.capacity() * sizeof(std::int64_t);
    for (const auto& cells : FTexts) {
        bytes += cells.capacity() * sizeof(std::string);
        for (const auto& cell : cells)
            if (cell.capacity() > 15)
                bytes += cell.capacity() + 1;
    }
    return bytes;
}

} // namespace vorlen

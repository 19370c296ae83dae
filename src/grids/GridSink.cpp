#include "grids/GridSink.h"

#include <algorithm>
#include <utility>

namespace vorlen {

namespace {
const std::string kEmptyCell;
}

TModelGridSink::TModelGridSink(const TGridLayout& layout) {
    SetupGrid(*this, layout);
}

void TModelGridSink::SetCaptions(std::span<const std::string_view> captions) {
    FCaptions.assign(captions.begin(), captions.end());
    for (auto& row : FRows)
        row.resize(FCaptions.size());
}

void TModelGridSink::EndUpdate() {
    if (FUpdating == 0)
        return;
    if (--FUpdating == 0)
        Updated();
}

void TModelGridSink::AttachRowRefs(std::shared_ptr<TRowRefs> refs) {
    FRefs = std::move(refs);
    RowRefsShown();
}

void TModelGridSink::ShowRowRefs(TRowRefList&& list) {
    if (!FRefs)
        return;
    FRefs->Show(std::move(list));
    RowRefsShown();
}

std::size_t TModelGridSink::HeldBytes() const {
    if (FRefs)
        return FRefs->HeldBytes();
    std::size_t bytes = FRows.capacity() * sizeof(FRows[0]);
    for (const auto& row : FRows) {
        bytes += row.capacity() * sizeof(std::string);
        for (const auto& cell : row)
            if (cell.capacity() > 15)
                bytes += cell.capacity() + 1;
    }
    return bytes;
}

const std::vector<std::string>& TModelGridSink::Row(int row) const {
    static const std::vector<std::string> kNoRow;
    if (FRefs)
        return FRefs->Row(row);
    if (row < 0 || static_cast<std::size_t>(row) >= FCount)
        return kNoRow;
    return FRows[static_cast<std::size_t>(row)];
}

void TModelGridSink::EnsureStorage(std::size_t rows) {
    if (FRows.size() >= rows)
        return;
    if (FRows.capacity() < rows)
        FRows.reserve(std::max(rows, FRows.capacity() * 2));
    while (FRows.size() < rows)
        FRows.emplace_back(FCaptions.size());
}

void TModelGridSink::SetRowCount(int rows) {
    const auto n = rows < 0 ? std::size_t{0} : static_cast<std::size_t>(rows);
    EnsureStorage(n);
    // Rows that come back into view must not show what they held before they were dropped.
    for (std::size_t r = FCount; r < n; ++r)
        for (auto& cell : FRows[r])
            cell.clear();
    FCount = n;
}

void TModelGridSink::SetRow(int row, std::vector<std::string>& cells) {
    if (row < 0)
        return;
    // A row never changes the column count, whatever the caller handed over.
    cells.resize(FCaptions.size());
    const auto r = static_cast<std::size_t>(row);
    if (r == FCount) {
        // The next row is replaced whole, so there is nothing to clear first.
        EnsureStorage(r + 1);
        FCount = r + 1;
    } else if (r > FCount) {
        SetRowCount(row + 1);
    }
    FRows[static_cast<std::size_t>(row)].swap(cells);
}

void TModelGridSink::SetCell(int row, int col, std::string_view text) {
    if (row < 0 || static_cast<std::size_t>(row) >= FCount || col < 0 ||
        static_cast<std::size_t>(col) >= FCaptions.size())
        return;
    FRows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].assign(text);
}

const std::string& TModelGridSink::Cell(int row, int col) const {
    if (FRefs)
        return FRefs->Cell(row, col);
    if (row < 0 || static_cast<std::size_t>(row) >= FCount || col < 0 ||
        static_cast<std::size_t>(col) >= FCaptions.size())
        return kEmptyCell;
    return FRows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void SetupGrid(TGridSink& grid, const TGridLayout& layout) {
    std::vector<std::string_view> captions;
    captions.reserve(layout.Columns.size());
    for (const auto& column : layout.Columns)
        captions.push_back(column.Caption);
    grid.BeginUpdate();
    grid.SetCaptions(captions);
    grid.SetRowCount(0);
    grid.SetRowCount(1);
    grid.EndUpdate();
}

std::string SelectedCellsText(const TModelGridSink& grid, std::vector<std::pair<int, int>> cells) {
    if (cells.empty())
        return {};
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    int first = cells.front().second;
    int last = first;
    for (const auto& [row, col] : cells) {
        first = std::min(first, col);
        last = std::max(last, col);
    }
    std::string text;
    for (std::size_t i = 0; i < cells.size();) {
        const int row = cells[i].first;
        int col = first;
        for (; i < cells.size() && cells[i].first == row; ++i) {
            for (; col < cells[i].second; ++col)
                text += '\t';
            for (const char c : grid.Cell(row, col))
                text += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
            if (col < last)
                text += '\t';
            ++col;
        }
        for (; col < last; ++col)
            text += '\t';
        text += '\n';
    }
    return text;
}

} // namespace vorlen

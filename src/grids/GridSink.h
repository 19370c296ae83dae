#pragma once

// Where a grid pass writes: the string grid of a window, or a plain table in tests and in the
// console. Rows are data rows; the header row with the captions is kept apart, so row 0 here is
// the first row under the header.

#include "grids/GridLayouts.h"
#include "grids/RowRefs.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen {

class TGridSink {
public:
    virtual ~TGridSink() = default;

    // Fixes the header row and with it the column count; set once, when the window is built.
    virtual void SetCaptions(std::span<const std::string_view> captions) = 0;
    virtual int ColCount() const = 0;
    virtual int RowCount() const = 0;

    // Brackets a batch of changes; the view repaints once, at the outermost EndUpdate.
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

    // Rows added are empty; rows beyond the new count are dropped.
    virtual void SetRowCount(int rows) = 0;
    // Replaces data row `row` (growing the grid when it is the next row) with `cells`, which
    // holds exactly ColCount() strings. The sink may take the strings and leave the replaced
    // row's strings in `cells`, so a caller that refills the same vector reuses their storage.
    virtual void SetRow(int row, std::vector<std::string>& cells) = 0;
    virtual void SetCell(int row, int col, std::string_view text) = 0;

    // A grid that shows rows by reference (grids/RowRefs.h) instead of holding their texts says
    // so here. The grid updater then attaches a TRowRefs, hands it each pass's rows with
    // ShowRowRefs on the user-interface thread, and detaches it (null) before the store goes.
    virtual bool WantsRowRefs() const { return false; }
    // By value: the sinks that take the rows keep their own share.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void AttachRowRefs(std::shared_ptr<TRowRefs>) {}
    virtual void ShowRowRefs(TRowRefList&&) {}
};

// A grid kept as rows of strings, or showing rows by reference once the grid updater attaches
// them. The Qt model wraps one of these; tests and the console read it directly. Row storage
// outlives the rows shown, so a pass that rebuilds 100k rows reuses the strings of the previous
// pass instead of allocating them again.
class TModelGridSink : public TGridSink {
public:
    TModelGridSink() = default;
    explicit TModelGridSink(const TGridLayout& layout);

    void SetCaptions(std::span<const std::string_view> captions) override;
    int ColCount() const override { return static_cast<int>(FCaptions.size()); }
    int RowCount() const override { return FRefs ? FRefs->RowCount() : static_cast<int>(FCount); }
    void BeginUpdate() override { ++FUpdating; }
    void EndUpdate() override;
    void SetRowCount(int rows) override;
    void SetRow(int row, std::vector<std::string>& cells) override;
    void SetCell(int row, int col, std::string_view text) override;

    bool WantsRowRefs() const override { return FWantsRefs; }
    void AttachRowRefs(std::shared_ptr<TRowRefs> refs) override;
    void ShowRowRefs(TRowRefList&& list) override;
    // Whether the grid updater should show rows here by reference.
    void SetWantsRowRefs(bool on) { FWantsRefs = on; }
    // Whether it does now: the rows shown are those ShowRowRefs handed over, not the texts.
    bool ShowsRowRefs() const { return FRefs != nullptr; }
    // Heap the rows shown hold (texts, or references and the texts made for the view).
    std::size_t HeldBytes() const;

    bool Updating() const { return FUpdating > 0; }
    const std::vector<std::string>& Captions() const { return FCaptions; }
    // Out-of-range cells read as empty, as an unwritten cell of a string grid does.
    const std::string& Cell(int row, int col) const;
    // An out-of-range row reads as no cells.
    const std::vector<std::string>& Row(int row) const;

protected:
    // Called at the outermost EndUpdate; the Qt model resets its view here.
    virtual void Updated() {}
    // Called after rows by reference were attached, detached or shown.
    virtual void RowRefsShown() {}

private:
    void EnsureStorage(std::size_t rows);

    std::vector<std::string> FCaptions;
    std::vector<std::vector<std::string>> FRows; // storage; only the first FCount are shown
    std::size_t FCount = 0;
    int FUpdating = 0;
    bool FWantsRefs = false;
    // While set, the rows shown are these and the texts above wait.
    std::shared_ptr<TRowRefs> FRefs;
};

// A grid as the main window creates it: the layout's captions and one empty data row.
void SetupGrid(TGridSink& grid, const TGridLayout& layout);

// The selected cells of a grid as text for the clipboard, as a spreadsheet pastes it: one line
// per row that has a selected cell, from the leftmost to the rightmost selected column of the
// whole selection, cells separated by tabs; a cell left out of an uneven selection is empty.
// Tabs and line breaks inside a cell become blanks so they cannot shift the table. Each cell is
// (row, column).
std::string SelectedCellsText(const TModelGridSink& grid, std::vector<std::pair<int, int>> cells);

} // namespace vorlen

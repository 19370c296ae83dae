#pragma once

// A grid that shows the rows of a store table by reference.
//
// A pass (CollectRows) finds which rows the grid shows, in arrival order, reading only what the
// filter needs; it runs on the grid updater's thread and holds the store's lock a few thousand
// rows at a time. Between such whole passes a TRowCollector keeps the list and looks only at the
// rows that arrived, changed or left since its last pass. The user-interface thread then only
// swaps the new list in (TRowRefs::Show).
// A cell's text is made when the view asks for it: the rows around it, one screenful, are
// formatted under one short hold of the store's lock and kept until the next pass. So neither
// the time a pass takes on the user-interface thread nor the memory a grid holds grows with the
// texts of the whole table.
//
// What the grid shows is what a full pass (TGridPass) writes: the same columns and texts, the
// same filter, one empty row when no row passes, and, for a table that lacks a listed field,
// its first row only, cut at that field.

#include "grids/ChangeFeed.h"
#include "grids/GridLayouts.h"
#include "grids/RowKeys.h"
#include "platform/FormatSettings.h"
#include "store/StoreRecords.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

class TCGStorage;
class TRowLayout;
class TRows;

// The outcome of one pass.
struct TRowRefList {
    TTable Table;        // the rows' table; its row set is shared with the store
    TRowKeys Keys;       // replication ids of the rows shown, in arrival order
    std::size_t Cut = 0; // columns shown; the rest stay empty
    // Where the pass stopped looking: the table's positions [0, Seen) of generation Generation.
    std::uint64_t Generation = 0;
    std::size_t Seen = 0;
};

// Rows of `table` that a grid of `layout` shows with `filter` (see TGridPass::Run). Takes the
// store's lock itself, a chunk of rows at a time; call it with no lock held.
TRowRefList CollectRows(TCGStorage& store, const TTable& table, const TGridLayout& layout,
                        std::optional<std::int32_t> filter);

// One grid's passes on the grid updater's thread: the first, and any after a change the feed
// could not follow or a new filter, is CollectRows; the others start from the last list and
// look at the new rows and the rows the feed names. Either way the list is what CollectRows
// would give at that moment.
class TRowCollector {
public:
    // `feed` may be null: every pass is then a whole one.
    TRowCollector(TCGStorage& store, const TGridLayout& layout, int grid, TGridChangeFeed* feed)
        : FStore(store), FLayout(layout), FGrid(grid), FFeed(feed) {}

    TRowRefList Pass(const TTable& table, std::optional<std::int32_t> filter);
    // Passes that looked at the whole table, for tests and figures.
    std::size_t WholePasses() const { return FWholePasses; }

private:
    // Brings the list up to date from what changed; false when only a whole pass can.
    bool Follow(const TRows& rows, TGridChangeFeed::TChanges& changes);
    // A copy of the list for the user-interface thread: it shares the list's chunks.
    TRowRefList Handout();

    TCGStorage& FStore;
    const TGridLayout& FLayout;
    const int FGrid;
    TGridChangeFeed* const FFeed;
    TRowRefList FList;
    std::optional<std::int32_t> FFilter;
    const TRowLayout* FRowLayout = nullptr;
    bool FValid = false;
    std::size_t FWholePasses = 0;
};

class TRowRefs {
public:
    // Rows formatted per hold of the store's lock: a screenful and some.
    static constexpr int kWindowRows = 64;

    TRowRefs(TCGStorage& store, const TGridLayout& layout,
             const TFormatSettings& fs = FormatSettings());

    // On the user-interface thread, like everything below.
    void Show(TRowRefList&& list);
    // The rows shown; one empty row when no row passes.
    int RowCount() const;
    // Out-of-range cells read as empty. Takes the store's lock when the row is not among the
    // texts made last; never call it with the lock held.
    const std::string& Cell(int row, int col) const;
    const std::vector<std::string>& Row(int row) const;
    // Heap the grid holds for its rows (the list and the texts made), for the figures.
    std::size_t HeldBytes() const;

private:
    void Fill(int first) const;

    TCGStorage& FStore;
    const TGridLayout& FLayout;
    const TFormatSettings FFs;
    TRowRefList FList;
    // Texts of rows [FFirst, FFirst + FTexts.size()), each with every column.
    mutable int FFirst = -1;
    mutable std::vector<std::vector<std::string>> FTexts;
    mutable TField FField;
};

} // namespace vorlen

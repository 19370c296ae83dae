#pragma once

// One grid pass: rebuilds a grid from the rows of its table, and the journal pass that moves the
// exchange's Russian system messages into the journal.
//
// A pass never holds the store's lock while it formats text or touches the grid. It takes the
// table's row order once, then reads the rows in chunks: under the lock it copies the values of
// the grid's fields into reused slots; without it, it turns them into text and hands the grid
// whole rows. Rows added after the order was taken wait for the next pass (their arrival signals
// one); rows removed meanwhile are simply not shown.

#include "grids/GridLayouts.h"
#include "grids/GridSink.h"
#include "grids/OrderMenus.h"
#include "platform/FormatSettings.h"
#include "platform/Journal.h"
#include "store/FieldConversion.h"
#include "store/Rows.h"
#include "store/StoreRecords.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vorlen {

class TCGStorage;

class TGridPass {
public:
    // Rows read per hold of the store's lock: short enough that the market-data thread never
    // waits long, long enough that taking the lock costs nothing next to the reading.
    static constexpr std::size_t kChunkRows = 256;

    explicit TGridPass(const TGridLayout& layout);
    const TGridLayout& Layout() const { return FLayout; }

    // Rebuilds `grid` from the store's rows of `table`. With a filter, only order rows whose
    // "private_action" passes it are shown (OrderPassesFilter).
    void Run(TCGStorage& store, const TTable& table, TGridSink& grid,
             std::optional<std::int32_t> filter, const TFormatSettings& fs = FormatSettings());

    // The same over any row set. `withRows(fn)` holds the rows' lock while it calls fn(rows);
    // Rows offers Keys() in display order and Find(key), whose view offers an explicit bool,
    // Layout() (a TRowLayout) and Get(pos, TField&).
    template <class WithRows>
    void RunOn(WithRows&& withRows, TGridSink& grid, std::optional<std::int32_t> filter,
               const TFormatSettings& fs);

private:
    template <class Rows>
    void ReadChunk(const Rows& rows, std::size_t first, std::optional<std::int32_t> filter);
    template <class Row>
    void ReadRow(const Row& row, std::optional<std::int32_t> filter);
    void Resolve(const TRowLayout& layout);
    // Formats the slots read so far into grid rows from `row` on; returns the next row.
    int WriteChunk(TGridSink& grid, int row, const TFormatSettings& fs);
    void Begin(TGridSink& grid);
    void End(TGridSink& grid, int rows);

    const TGridLayout& FLayout;
    const std::size_t FCols;

    std::vector<std::int64_t> FKeys;
    // kChunkRows slots of FCols values each; strings keep their storage from chunk to chunk.
    std::vector<TField> FValues;
    std::vector<std::size_t> FCut; // per slot, the columns read; fewer than FCols ends the pass
    std::size_t FFilled = 0;
    bool FStop = false;
    TField FAction;

    // Field positions for the layout last seen under the current hold of the lock; -1 for a
    // field the table does not have, -2 for a column that shows no field.
    const TRowLayout* FResolved = nullptr;
    std::vector<int> FPos;
    int FActionPos = -1;

    std::vector<std::string> FCells; // the row being handed to the grid
};

template <class WithRows>
void TGridPass::RunOn(WithRows&& withRows, TGridSink& grid, std::optional<std::int32_t> filter,
                      const TFormatSettings& fs) {
    Begin(grid);
    withRows([&](const auto& rows) { FKeys = rows.Keys(); });
    int written = 0;
    for (std::size_t first = 0; first < FKeys.size() && !FStop; first += kChunkRows) {
        withRows([&](const auto& rows) { ReadChunk(rows, first, filter); });
        written = WriteChunk(grid, written, fs);
    }
    End(grid, written);
}

template <class Rows>
void TGridPass::ReadChunk(const Rows& rows, std::size_t first, std::optional<std::int32_t> filter) {
    // Positions are only trusted while the lock is held: between chunks the table may have been
    // described again and a new layout may sit where the old one was.
    FResolved = nullptr;
    FFilled = 0;
    const std::size_t last = std::min(FKeys.size(), first + kChunkRows);
    for (std::size_t i = first; i < last && !FStop; ++i) {
        const auto row = rows.Find(FKeys[i]);
        if (row)
            ReadRow(row, filter);
    }
}

template <class Row>
void TGridPass::ReadRow(const Row& row, std::optional<std::int32_t> filter) {
    const TRowLayout& layout = row.Layout();
    if (&layout != FResolved)
        Resolve(layout);
    if (filter) {
        if (FActionPos < 0)
            return;
        row.Get(FActionPos, FAction);
        if (!OrderPassesFilter(*filter, VarAsInteger(FAction.Data)))
            return;
    }
    TField* slot = FValues.data() + FFilled * FCols;
    std::size_t c = 0;
    for (; c < FCols; ++c) {
        const int pos = FPos[c];
        if (pos == -1)
            break; // a listed field this row lacks ends the whole pass after this row
        if (pos >= 0)
            row.Get(pos, slot[c]);
    }
    FCut[FFilled++] = c;
    if (c < FCols)
        FStop = true;
}

// The exchange messages journalled so far in this run. A reconnection or a new life number
// resends the whole message table, with new replication ids after the latter, so a message is
// known by its session and its own id ("sess_id", "id"); a table without an "id" field falls
// back to the moment and the text.
//
// The rows stay in the replica (a dump of it shows the day's messages), so each pass would meet
// every message again: the bytes each row held at the last pass are remembered too, and a row
// that still holds them is passed over without being read.
class TSeenMessages {
public:
    // True the first time a key is offered.
    bool Insert(std::string key) { return FKeys.insert(std::move(key)).second; }
    std::size_t Size() const { return FKeys.size(); }

    // Whether the row held these same bytes when the last pass looked at it. A pass offers
    // every row present, then calls EndRows, which forgets the rows that have gone.
    bool Looked(std::int64_t replId, std::string_view bytes);
    void EndRows();

private:
    std::unordered_set<std::string> FKeys;
    std::unordered_map<std::int64_t, std::size_t> FRows, FNext;
};

// Journals, in ascending replication id, every row of the "sys_messages" table that is in
// Russian, has a moment and a text, and has not been journalled before in this run (`seen`).
// The rows stay in the table. Returns the number of lines written. `memo` may be null: the rows
// are still taken as seen.
int JournalSysMessages(TCGStorage& store, const TTable& table, TJournalSink* memo,
                       TSeenMessages& seen, const TFormatSettings& fs = FormatSettings());

} // namespace vorlen

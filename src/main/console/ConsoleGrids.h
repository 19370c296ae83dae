#pragma once

// The six grids of the main window kept as plain tables, so that the grid updater has somewhere
// to write in the console, and their contents as tab-separated files at the end of a run.

#include "grids/GridLayouts.h"
#include "grids/GridSink.h"
#include "main/console/StoreDump.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

class TConsoleGrids {
public:
    // Every grid starts as the window builds it: its captions and one empty data row. Like the
    // window's grids, they show the store's rows by reference once the grid updater has them,
    // so that a pass costs this thread what changed, not the texts of the whole table.
    TConsoleGrids();

    // Back to that initial state; the window does the same when it is created.
    void Setup();
    std::array<TGridSink*, kGridCount> Sinks();
    const TModelGridSink& Grid(int grid) const { return FGrids[static_cast<std::size_t>(grid)]; }
    TModelGridSink& Grid(int grid) { return FGrids[static_cast<std::size_t>(grid)]; }

private:
    std::array<TModelGridSink, kGridCount> FGrids;
};

// "grid_" + the component name without its "Grid" suffix, in lower case with "_" between words:
// "OrdersGrid" → "grid_orders.tsv", "MLOrdersGrid" → "grid_ml_orders.tsv".
std::string GridFileName(std::string_view componentName);

// The captions line, then the data rows the last pass wrote. A grid whose only row is empty
// shows that no pass wrote a row, so it gives the captions line alone.
std::string GridTsv(const TModelGridSink& grid);

// One file per grid. Run on the UI thread: the passes write the grids there.
std::vector<TDumpFile> CollectGridDump(const TConsoleGrids& grids);

// Rebuilds every grid that has a table from the store's rows, as the updater's passes do: a
// grid showing rows by reference gets the list of rows a whole pass finds, any other the texts.
// `orders` and `mlOrders` are the orders grids' filters (kFilterActive and the others). Run on
// the thread that owns the grids.
void PassGrids(TCGStorage& store, TConsoleGrids& grids, std::int32_t orders, std::int32_t mlOrders);

// The dump of a replica that no longer changes: its tables (CollectDump), then its grids after a
// last pass over those same rows. A live run and a replay dump through here alike.
std::vector<TDumpFile> CollectReplicaDump(TCGStorage& store, TConsoleGrids& grids,
                                          std::int32_t orders, std::int32_t mlOrders);

} // namespace vorlen

#pragma once

// The six grids of the main window kept as plain tables, so that the grid updater has somewhere
// to write in the console, and their contents as tab-separated files at the end of a run.

#include "grids/GridLayouts.h"
#include "grids/GridSink.h"
#include "main/console/StoreDump.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

class TConsoleGrids {
public:
    // Every grid starts as the window builds it: its captions and one empty data row.
    TConsoleGrids();

    // Back to that initial state; the window does the same when it is created.
    void Setup();
    std::array<TGridSink*, kGridCount> Sinks();
    const TModelGridSink& Grid(int grid) const { return FGrids[static_cast<std::size_t>(grid)]; }

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

} // namespace vorlen

#include "main/console/ConsoleGrids.h"

#include "grids/GridPass.h"
#include "grids/RowRefs.h"
#include "store/Storage.h"

#include <algorithm>
#include <cctype>

namespace vorlen {

namespace {

bool IsUpper(char c) {
    return std::isupper(static_cast<unsigned char>(c)) != 0;
}

bool IsLower(char c) {
    return std::islower(static_cast<unsigned char>(c)) != 0;
}

void AppendRow(std::string& text, const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
        text += c == 0 ? "" : "\t";
        text += TsvCell(cells[c]);
    }
    text += '\n';
}

} // namespace

TConsoleGrids::TConsoleGrids() {
    for (TModelGridSink& grid : FGrids)
        grid.SetWantsRowRefs(true);
    Setup();
}

void TConsoleGrids::Setup() {
    for (int g = 0; g < kGridCount; ++g) {
        TModelGridSink& grid = FGrids[static_cast<std::size_t>(g)];
        SetupGrid(grid, GridLayout(g));
        // The rows by reference would still show through the texts set up: a grid drawn anew
        // holds none until the updater hands it the next pass's rows.
        if (grid.ShowsRowRefs())
            grid.ShowRowRefs(TRowRefList{});
    }
}

std::array<TGridSink*, kGridCount> TConsoleGrids::Sinks() {
    std::array<TGridSink*, kGridCount> sinks{};
    for (std::size_t g = 0; g < sinks.size(); ++g)
        sinks[g] = &FGrids[g];
    return sinks;
}

std::string GridFileName(std::string_view componentName) {
    std::string_view name = componentName;
    constexpr std::string_view kSuffix = "Grid";
    if (name.size() > kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix)
        name.remove_suffix(kSuffix.size());
    std::string out = "grid_";
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        // A word starts at a capital after a small letter ("MLOrders" at "O"), or at the last
        // capital of an abbreviation that a small letter follows ("ML" + "Orders").
        const bool wordStart =
            i > 0 && IsUpper(c) &&
            (IsLower(name[i - 1]) || (i + 1 < name.size() && IsLower(name[i + 1])));
        if (wordStart)
            out += '_';
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out + ".tsv";
}

std::string GridTsv(const TModelGridSink& grid) {
    std::string text;
    AppendRow(text, grid.Captions());
    const int rows = grid.RowCount();
    if (rows == 1) {
        const auto& only = grid.Row(0);
        if (std::all_of(only.begin(), only.end(), [](const std::string& s) { return s.empty(); }))
            return text;
    }
    for (int r = 0; r < rows; ++r)
        AppendRow(text, grid.Row(r));
    return text;
}

std::vector<TDumpFile> CollectGridDump(const TConsoleGrids& grids) {
    std::vector<TDumpFile> files;
    files.reserve(kGridCount);
    for (int g = 0; g < kGridCount; ++g)
        files.push_back({GridFileName(GridLayout(g).Name), GridTsv(grids.Grid(g))});
    return files;
}

void PassGrids(TCGStorage& store, TConsoleGrids& grids, std::int32_t orders,
               std::int32_t mlOrders) {
    for (int g = 0; g < kGridCount; ++g) {
        // A grid's number is its key table's; a table that never had a row keeps its grid as
        // the window builds it, as the updater leaves it.
        TTable table;
        store.GetTable(g, table);
        if (!table.Values)
            continue;
        std::optional<std::int32_t> filter;
        if (GridLayout(g).Filter == TGridFilter::Orders)
            filter = orders;
        else if (GridLayout(g).Filter == TGridFilter::MLOrders)
            filter = mlOrders;
        TModelGridSink& grid = grids.Grid(g);
        // Texts written now would stay hidden behind the rows by reference.
        if (grid.ShowsRowRefs())
            grid.ShowRowRefs(CollectRows(store, table, GridLayout(g), filter));
        else
            TGridPass(GridLayout(g)).Run(store, table, grid, filter);
    }
}

std::vector<TDumpFile> CollectReplicaDump(TCGStorage& store, TConsoleGrids& grids,
                                          std::int32_t orders, std::int32_t mlOrders) {
    std::vector<TDumpFile> files = CollectDump(store);
    PassGrids(store, grids, orders, mlOrders);
    for (TDumpFile& f : CollectGridDump(grids))
        files.push_back(std::move(f));
    return files;
}

} // namespace vorlen

#pragma once

// The six grids of the main window's bottom pages: their page captions, the key table each one
// shows, and for every column its caption and the row field written into it. Captions and field
// names are the exchange's and the terminal's own texts; they are data, not logic.

#include <array>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace vorlen {

// A column whose Field is empty receives nothing and stays empty in every row.
struct TGridColumn {
    std::string_view Caption;
    std::string_view Field;
};

// Which connector filter an orders grid follows.
enum class TGridFilter { None, Orders, MLOrders };

struct TGridLayout {
    std::string_view Name;        // the window's component name, e.g. "OrdersGrid"
    std::string_view PageCaption; // the tab caption of its page
    std::string_view Stream;
    std::string_view Table;
    int KeyTable; // the store's key table number, which is also the updater's event index
    TGridFilter Filter;
    std::span<const TGridColumn> Columns;
};

constexpr int kGridCount = 6;
// Grid numbers: the order of the pages, of the key tables and of the updater's events.
enum TGridNo : int {
    kAccGrid = 0,
    kOrdersGrid = 1,
    kMLOrdersGrid = 2,
    kDealsGrid = 3,
    kMLDealsGrid = 4,
    kPositionsGrid = 5,
};

// Every grid starts with its header row and one empty data row, 18 pixels high.
constexpr int kGridInitialRows = 2;
constexpr int kGridDefaultRowHeight = 18;

inline constexpr std::string_view kJournalPageCaption = "Журнал";

const std::array<TGridLayout, kGridCount>& GridLayouts();
const TGridLayout& GridLayout(int grid);

// The bottom page control's tabs, left to right: the six grids, then the journal.
std::array<std::string_view, kGridCount + 1> PageCaptions();

// Width in pixels of `text` in the grid's font; the window side measures.
using TTextWidthFn = std::function<int(std::string_view text)>;

// A column is as wide as its caption followed by "11", so the header never starts out clipped
// and leaves a little air after the text.
int ColumnWidth(std::string_view caption, const TTextWidthFn& measure);
std::vector<int> ColumnWidths(const TGridLayout& layout, const TTextWidthFn& measure);

} // namespace vorlen

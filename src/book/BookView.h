#pragma once

// What a book window shows, decided without the window: the ladder's rows in screen order, the
// line that says how fresh the book is, and the header's lines.

#include "book/Book.h"

#include <chrono>
#include <string>
#include <vector>

namespace vorlen {

// A book older than this is shown as stale.
inline constexpr std::chrono::seconds kBookStaleAfter{5};

struct TLadderRow {
    std::string Bid, Price, Ask; // volumes empty on the side that has none at this price
    std::string Own;             // the trader's resting volume here; empty when none
    bool Best = false;           // the best bid or the best ask
    bool IsAsk = false;
    bool operator==(const TLadderRow&) const = default;
};

// Asks from the highest price down to the best, then bids from the best down.
std::vector<TLadderRow> LadderRows(const TBookSnapshot& book);

struct TBookStatusLine {
    std::string Text;
    bool Stale = false; // frozen data: the window shows it in warning colours
};

// "обновлено hh:mm:ss.zzz, N с назад", or why there is nothing to show. The connection's health
// state, once the terminal tracks it, belongs in this line too.
TBookStatusLine BookStatusLine(const TBookSnapshot& book,
                               std::chrono::system_clock::time_point now);

// One header line per client code: "FZ00001: позиция 4 по 92000,25, оценка 92010,
// P&L 78, ВМ -12,5"; the margin's place says when its stream is not subscribed.
std::vector<std::string> PositionLines(const TBookSnapshot& book);

} // namespace vorlen

#pragma once

// What a book window shows, decided without the window: the ladder's rows in screen order, the
// line that says how fresh the book is, and the header's lines.

#include "book/Book.h"
#include "health/HealthMachine.h"

#include <chrono>
#include <optional>
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
    std::int64_t Units = 0; // the price in 1e-5 units, as orders carry it
    // Filled in the fixed-price ladder only:
    int OwnSide{};            // whose side the own volume rests on: 1 buy, 2 sell
    bool Inside{};            // an empty price between the best bid and the best ask
    bool LastDeal{};          // the market's last deal went at this price
    std::string Cumulative{}; // the side's volume from its best price to this one
    bool operator==(const TLadderRow&) const = default;
};

// Asks from the highest price down to the best, then bids from the best down.
std::vector<TLadderRow> LadderRows(const TBookSnapshot& book);

struct TBookStatusLine {
    std::string Text;
    bool Stale = false; // frozen data: the window shows it in warning colours
    // The market-data connection's state when it is known; the window colours the line by it.
    std::optional<THealthState> Health;
};

// "на связи; обновлено hh:mm:ss.zzz, N с назад", or why there is nothing to show.
// `marketData` is the market-data connection's health state. Known, it alone decides whether
// the levels are stale: any state but on-line freezes them, while an on-line book that has not
// moved for a while is only a quiet market (the health monitor already watches the exchange's
// heartbeat). Unknown, the book is stale once older than kBookStaleAfter.
TBookStatusLine BookStatusLine(const TBookSnapshot& book, std::chrono::system_clock::time_point now,
                               std::optional<THealthState> marketData = std::nullopt);

// One header line per client code: "FZ00001: позиция 4 по 92000,25, оценка 92010,
// доход 78,00 ₽, ВМ -12,5"; the margin's place says when its stream is not subscribed.
std::vector<std::string> PositionLines(const TBookSnapshot& book);

} // namespace vorlen

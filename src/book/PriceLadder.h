#pragma once

// The book window's fixed-price ladder: a row for every price step in a window of prices that
// stays where it is while the market moves inside it, so the price under the trader's cursor is
// the price that was there a moment ago. The window moves (re-centres on the market) only when
// asked to, or when a best price would leave the rows shown, since a ladder that hides the
// market is worse than one that moves.

#include "book/BookView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

class TFixedLadder {
public:
    // `count` rows one price step apart, the highest price first: empty levels included, own
    // resting volume at its price whatever the subscribed depth, the last deal's price marked.
    // Empty when the instrument's price step is not known (no fixed grid to draw) or when there
    // is nothing yet to centre on.
    std::vector<TLadderRow> Rows(const TBookSnapshot& book, int count);
    // The next Rows centres on the market again.
    void Recentre() { FCentre.reset(); }
    // Whether the last Rows moved the window of prices.
    bool Moved() const { return FMoved; }
    // The centre row's price in 1e-5 units; none before the first centring.
    std::optional<std::int64_t> Centre() const { return FCentre; }

private:
    std::optional<std::int64_t> FCentre;
    std::int64_t FStep = 0;
    bool FMoved = false;
};

// Writes each row's cumulative volume: asks summed from the best ask up, bids from the best bid
// down, carried through empty levels. Rows in screen order, highest price first.
void AddCumulative(std::vector<TLadderRow>& rows);

// "спред 2 шага" (in price steps when the step is known, else as a price); empty while a side
// is missing.
std::string SpreadText(const TBookSnapshot& book);

// A price step in 1e-5 units; 0 when unknown or not positive.
std::int64_t StepUnits(const TBookSnapshot& book);

} // namespace vorlen

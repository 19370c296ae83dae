#pragma once

// What the board of one futures reads from the replica: its option series (the options'
// reference table), their books and the futures' own (the order books kept beside the store),
// open interest (the common table), positions, and the exchange's volatility and theoretical
// price (the volatility stream). Whatever is not subscribed is named in Missing, so the board
// can say what to tick instead of showing a board that looks merely quiet.

#include "options/Board.h"

#include <string>
#include <vector>

namespace vorlen {
class TCGStorage;
class TBookKeeper;
} // namespace vorlen

namespace vorlen::options {

struct TBoardSource {
    bool Found = false; // the futures is in the futures' reference table
    TBoardInput Input;
    // Streams or tables the board needs and the settings do not give, as "STREAM table"; the
    // volatility stream's entry is there when it is absent, though the board works without it.
    std::vector<std::string> Missing;
};

// Reads the board of the futures `isin` under short holds of the store's lock.
TBoardSource ReadBoardSource(TCGStorage& store, const TBookKeeper& books, const std::string& isin);

// The sentence the board shows for Missing; empty when nothing is.
std::string MissingText(const std::vector<std::string>& missing);

} // namespace vorlen::options

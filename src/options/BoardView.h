#pragma once

// What the board's window shows of one expiry, as texts: rows by strike with the call on the
// left and the put on the right, the header, the risk line and the smile's points. Worked out
// here, off the UI thread, so the window only copies strings into cells.

#include "options/Board.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::options {

// How the IV column reads: the bid's and the ask's ("21,3 / 22,1"), or the mid's alone.
enum class TIvShow { BidAsk, Mid };

// The columns, calls mirrored around the strike.
enum TBoardColumn {
    kCallPosition,
    kCallOpenInterest,
    kCallDelta,
    kCallIv,
    kCallBid,
    kCallAsk,
    kStrikeColumn,
    kPutBid,
    kPutAsk,
    kPutIv,
    kPutDelta,
    kPutOpenInterest,
    kPutPosition,
    kBoardColumnCount
};

struct TBoardCell {
    std::string Text;
    std::string Tip; // why a cell is empty ("—"), when it is
};

struct TBoardLine {
    double Strike = 0;
    bool Atm = false;
    std::array<TBoardCell, kBoardColumnCount> Cells;
    // What a click on a price cell orders: the series and the price in 1e-5 units.
    std::string CallIsin, PutIsin;
    std::optional<std::int64_t> CallBid, CallAsk, PutBid, PutAsk;
};

// One smile point per strike: the series out of the money there (the call at or above the
// futures' price, the put below), whose prices carry the time value the smile is made of.
struct TSmilePoint {
    double Strike = 0;
    std::optional<double> Bid, Ask, Mid, Exchange; // per cent
};

struct TBoardPage {
    std::string Header; // the futures' price and its source, the time to expiry
    std::string Risk;   // "Позиция: ..." over every series of the futures
    std::vector<TBoardLine> Lines;
    int AtmLine = -1; // index into Lines; -1 without a forward
    std::vector<TSmilePoint> Smile;
    std::optional<double> Forward;
};

// The page of the expiry `expiryDays` (one of board.Expiries).
TBoardPage BuildPage(const TBoard& board, double expiryDays, TIvShow show,
                     std::chrono::system_clock::time_point now);

// An expiry as the selector shows it: "18.12.2026 (23 дн.)".
std::string ExpiryText(double expiryDays, std::chrono::system_clock::time_point now);

// Decimal comma, as every other window writes numbers; `places` digits after it.
std::string Fixed(double v, int places);

} // namespace vorlen::options

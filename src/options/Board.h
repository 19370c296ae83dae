#pragma once

// An options board of one underlying: every series' implied volatilities at bid, ask and mid,
// its greeks, and the trader's positions summed into one risk line. A pure function of what the
// replica showed at one moment, so the board's window, the console's dump and the tests compute
// exactly the same figures.

#include "options/Black76.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::options {

struct TSeriesInput {
    std::int32_t IsinId = 0;
    std::string Isin;
    double Strike = 0;
    TRight Right = TRight::Call;
    double ExpiryDays = 0; // exchange time, as ExpiryClock.h counts it
    std::optional<double> Bid, Ask;
    std::int64_t OpenInterest = 0;
    std::int64_t Position = 0; // summed over the trader's client codes
    // The exchange's own figures from its volatility stream: per cent, and a price.
    std::optional<double> ExchangeVolat, ExchangeTheor;
    bool operator==(const TSeriesInput&) const = default;
};

struct TUnderlyingInput {
    std::int32_t IsinId = 0;
    std::string Isin;
    std::optional<double> Bid, Ask, Last;
    std::int64_t Position = 0;
    bool operator==(const TUnderlyingInput&) const = default;
};

struct TBoardInput {
    TUnderlyingInput Underlying;
    std::vector<TSeriesInput> Series;
    bool operator==(const TBoardInput&) const = default;
};

// Where the futures' price came from: the mid of its book when both sides stand, else its last
// deal; without either nothing on the board can be priced.
enum class TPriceSource { None, Mid, Last };

struct TSeriesRow {
    TSeriesInput In;
    double Years = 0;
    TIvResult IvBid, IvAsk, IvMid;
    // The volatility the greeks were taken at: the mid's, else the exchange's; none: no greeks.
    std::optional<double> GreeksVol;
    TGreeks Greeks;
};

struct TRisk {
    double Delta = 0; // futures lots, the futures' own position included
    double Gamma = 0;
    double Vega = 0;  // per volatility point
    double Theta = 0; // per day
    // Positions in series that have no greeks are left out of the sums; counted here.
    int Unpriced = 0;
};

struct TBoard {
    std::optional<double> Forward;
    TPriceSource Source = TPriceSource::None;
    // By expiry, then strike, then calls before puts.
    std::vector<TSeriesRow> Rows;
    std::vector<double> Expiries; // distinct, in order
    TRisk Risk;
};

TBoard ComputeBoard(const TBoardInput& in, std::chrono::system_clock::time_point now);

// The strike nearest the forward among the rows of one expiry; none without a forward or rows.
std::optional<double> AtmStrike(const TBoard& board, double expiryDays);

} // namespace vorlen::options

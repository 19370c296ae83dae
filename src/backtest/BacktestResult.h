#pragma once

// What a backtest leaves: every order with what became of it, every fill, the equity and
// position as they went, the P&L of each day, and the figures summed up from them.

#include <cstdint>
#include <string>
#include <vector>

namespace vorlen::backtest {

struct TOrderRow {
    std::int64_t Id = 0; // 0: refused before it had one
    std::int64_t AtNs = 0;
    bool Buy = true;
    std::int64_t Qty = 0;
    std::string Price;
    std::string Client;
    std::string State; // "refused", "active", "partly_filled", "filled", "cancelled"
    std::int64_t Filled = 0;
    std::string Reason; // a refusal's text
};

struct TTradeRow {
    std::int64_t AtNs = 0;
    std::int64_t OrderId = 0;
    bool Buy = true;
    std::int64_t Qty = 0;
    std::int64_t Price = 0; // 1e-5 units
    double Fee = 0;
    double Realized = 0; // what closing lots made (0 for a fill that only opens)
    bool Closing = false;
    std::int64_t Position = 0; // net, after the fill
};

struct TEquityPoint {
    std::int64_t AtNs = 0;
    double Equity = 0; // net of fees, open position marked
    std::int64_t Position = 0;
};

struct TDayResult {
    std::string Date; // YYYY-MM-DD
    double Gross = 0;
    double Fees = 0;
    std::uint64_t Records = 0;
};

struct TBacktestResult {
    bool Ok = true;
    // Why the run ended early: a recording that cannot be read, a strategy that failed (its
    // file and line in the text).
    std::string Error;
    bool Cancelled = false; // given up on request: nothing else here then
    std::vector<TOrderRow> Orders;
    std::vector<TTradeRow> Trades;
    std::vector<TEquityPoint> Equity;
    std::vector<TDayResult> Days;
    std::vector<std::string> Journal; // the strategy's lines, each stamped with market time
    std::uint64_t Records = 0;
};

struct TSummary {
    double Net = 0, Gross = 0, Fees = 0;
    std::int64_t Orders = 0, Fills = 0, Refusals = 0;
    std::int64_t Closing = 0, Wins = 0;
    double WinRate = 0; // of the fills that closed lots
    double LargestWin = 0, LargestLoss = 0;
    double MaxDrawdown = 0;
    std::int64_t FinalPosition = 0;
    std::int64_t MaxExposure = 0; // largest absolute position held
};

TSummary Summarize(const TBacktestResult& result);

} // namespace vorlen::backtest

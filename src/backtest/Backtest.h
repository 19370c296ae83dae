#pragma once

// A strategy file run over recorded trading days, on one thread, in the market's time: each
// day's records go into a store of the backtest's own through the replay's apply path, the
// strategy's callbacks are called as the expert calls them live, and its orders go through the
// one risk gate to a simulated exchange that fills them with the shared fill models. No thread,
// timer or wall clock takes part in a result: the same inputs give the same result.
//
// When the strategy is called: after the records of one burst have been applied, once, if any of
// them changed the instrument (a row carrying its isin_id): its orders' news first (on_order),
// then on_tick, then on_book when its book changed. Live, the expert wakes once for a burst of
// such rows; here a burst is a run of records with no pause of 0.2 ms between them.

#include "backtest/BacktestResult.h"
#include "fills/FillModel.h"
#include "orders/RiskLimits.h"
#include "strategies/Strategy.h"
#include "strategies/StrategyParams.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::backtest {

struct TBacktestConfig {
    std::vector<std::filesystem::path> Days; // recordings, run in this order
    std::string Isin;                        // the futures the strategy trades
    std::string StrategyName;                // its file name: errors carry name:line
    std::string StrategySource;
    std::vector<TParamOverride> Params;
    orders::TLimitsBook Limits;
    fills::TFillModel Fill = fills::TFillModel::Touch;
    std::int64_t LatencyMs = 0;
    // Money per lot where the recording holds no fee table for the instrument.
    double FeePerLot = 0;
    // The client code of the orders; empty: the first of the recording's account table.
    std::string Client;
    // The terminal's cap on posts a second (orders and cancels); 0: none.
    std::int32_t PostsPerSecond = 0;
    // The part of each day the strategy runs, in minutes of the exchange's day (Moscow time):
    // started at From (or once the streams are on-line), stopped at To (or the day's end).
    std::optional<int> FromMinute, ToMinute;
    TStrategyLimits Budget;
    // Told now and then how far the run has come (0..1) and how many records it applied; on the
    // running thread, and it has no effect on the result.
    std::function<void(double done, std::uint64_t records)> Progress;
    // Set from any thread to give the run up: it is looked at before each record, and a run
    // given up returns no result (Cancelled, and a text saying so), whatever it had done.
    const std::atomic<bool>* Cancel = nullptr;
};

TBacktestResult RunBacktest(const TBacktestConfig& config);

// The parameters the script declares (its top level run once, alone, as a backtest would load
// it); false with `error` (its file and line) when it does not load.
bool ReadScriptParams(const std::string& name, const std::string& source, TStrategyParams& out,
                      std::string& error);

// The recordings of a folder (its *.vrec, by name: by date), or the one file named.
std::vector<std::filesystem::path> DayFiles(const std::filesystem::path& fileOrFolder);

} // namespace vorlen::backtest

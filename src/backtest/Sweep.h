#pragma once

// A sweep: the same backtest over every combination of a few parameters' values, each run on a
// worker thread of its own (its own store, Lua state and exchange), ranked by net P&L. A run's
// result does not depend on how many workers there are or which one ran it.

#include "backtest/Backtest.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::backtest {

struct TSweepAxis {
    std::string Name;
    std::vector<std::string> Values;
};

// "name=a,b,c"; nothing (with `error`) for anything else.
std::optional<TSweepAxis> ParseSweepAxis(const std::string& text, std::string& error);

struct TSweepRun {
    std::vector<TParamOverride> Params; // this combination's values
    TBacktestResult Result;
    double Net = 0;
};

// Every combination of the axes' values (the first axis varying slowest), run on `workers`
// threads (0: one per core), best net P&L first; equal ones keep the grid's order. `done` is
// called after each run with how many have finished, from the worker that finished it, one call
// at a time.
std::vector<TSweepRun> RunSweep(const TBacktestConfig& base, const std::vector<TSweepAxis>& axes,
                                unsigned workers,
                                const std::function<void(std::size_t done, std::size_t all)>& done);

} // namespace vorlen::backtest

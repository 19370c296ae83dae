#pragma once

// A backtest's report as files: trades.tsv, orders.tsv, summary.tsv, journal.txt and
// report.html (self-contained: the equity curve, the drawdown and the position drawn as inline
// SVG). Every figure is written the same way on every machine, so two runs of the same backtest
// give the same bytes.

#include "backtest/BacktestResult.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vorlen::backtest {

// What the report says about the run itself: "strategy", "isin", "fill", ... in this order.
using TRunFacts = std::vector<std::pair<std::string, std::string>>;

// Money as the report writes it: two decimals, a point.
std::string Money(double value);

// The summary as name/value rows (summary.tsv's, the console's).
std::vector<std::pair<std::string, std::string>> SummaryRows(const TBacktestResult& result);

// False with `error` when the folder or a file cannot be written.
bool WriteReport(const std::filesystem::path& dir, const TRunFacts& facts,
                 const TBacktestResult& result, std::string& error);

} // namespace vorlen::backtest

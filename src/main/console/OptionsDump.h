#pragma once

// The console's options board: options_<FUTURES>.tsv, one line per series with its quotes,
// implied volatilities (per cent; empty where the price has none), greeks and the exchange's
// volatility, and options_risk_<FUTURES>.tsv, the trader's positions summed into greeks.

#include "main/console/StoreDump.h"
#include "options/Board.h"

#include <string>
#include <vector>

namespace vorlen {

class TBookKeeper;

std::string OptionsTsv(const options::TBoard& board, const std::string& underlying);
std::string OptionsRiskTsv(const options::TBoard& board, const std::string& underlying);

// Both files for the futures `isin`; `error` says why there are none (an unknown futures), or
// with files, which streams the settings left out.
std::vector<TDumpFile> CollectOptionsDump(TCGStorage& store, const TBookKeeper& books,
                                          const std::string& isin, std::string& error);

} // namespace vorlen

#pragma once

// vorlen-console --candles: candles of one instrument from the history database, written as a
// table, with no router and no connection.

#include "main/console/ConsoleOptions.h"

#include <filesystem>
#include <ostream>

namespace vorlen {

int RunCandles(const TConsoleOptions& options, const std::filesystem::path& historyDir,
               std::ostream& err);

// vorlen-console --rebuild-history: history.db made again from the folder's day files, one
// progress line per file on `err`.
int RunRebuildHistory(const std::filesystem::path& historyDir, std::ostream& err);

} // namespace vorlen

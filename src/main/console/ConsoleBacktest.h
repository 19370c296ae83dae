#pragma once

// vorlen-console --backtest: a strategy run over recorded days (or a sweep of its parameters),
// with no router and no connection, and its report written into a folder.

#include "main/console/ConsoleOptions.h"
#include "settings/SavedSettings.h"

#include <filesystem>
#include <ostream>
#include <string>

namespace vorlen {

// `values` name the gateway installation, whose library reads the decimals; `dataDir` holds
// the limits file when --risk names none; `reportDir` is absolute. The summary goes to `out`,
// the progress line (on a terminal) and complaints to `err`.
int RunBacktestCommand(const TConsoleOptions& options, const TDialogValues& values,
                       unsigned settingsTrSpeed, const std::filesystem::path& dataDir,
                       const std::string& reportDir, std::ostream& out, std::ostream& err);

} // namespace vorlen

#pragma once

// vorlen-console --replay-file: the replica rebuilt from a recording, with no router and no
// connection, and dumped as a live run dumps it.

#include "main/console/ConsoleOptions.h"
#include "settings/SavedSettings.h"

#include <ostream>
#include <string>

namespace vorlen {

// `values`: the settings that name the gateway installation, whose library reads the decimals.
// `dumpDir` is absolute.
int RunReplay(const TConsoleOptions& options, const TDialogValues& values,
              const std::string& dumpDir, std::ostream& err);

} // namespace vorlen

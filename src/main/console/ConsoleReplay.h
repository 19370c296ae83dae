#pragma once

// vorlen-console --replay-file: the replica rebuilt from a recording, with no router and no
// connection, and dumped as a live run dumps it.

#include "main/console/ConsoleOptions.h"
#include "settings/SavedSettings.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace vorlen {

// The gateway library loaded for its decimals alone: the rows keep the gateway's bytes, and
// decimals are read through its library. No environment is opened. It stays loaded until this
// goes, so it must outlive every replica read with it.
class TDecimalsLibrary {
public:
    TDecimalsLibrary() = default;
    TDecimalsLibrary(const TDecimalsLibrary&) = delete;
    TDecimalsLibrary& operator=(const TDecimalsLibrary&) = delete;
    ~TDecimalsLibrary();
    // The library of the installation `values` name; false when it is not found.
    bool Load(const TDialogValues& values);

private:
    std::uintptr_t FHandle = 0;
};

// `values`: the settings that name the gateway installation, whose library reads the decimals.
// `dumpDir` is absolute.
int RunReplay(const TConsoleOptions& options, const TDialogValues& values,
              const std::string& dumpDir, std::ostream& err);

} // namespace vorlen

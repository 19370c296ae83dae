#pragma once

// Where the trader's limits file and daily order logs live: the user's data folder, never beside
// the program, which may sit where the user cannot write and is replaced by every update. What an
// older version left beside the program is taken over once.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vorlen {

// $VORLEN_DATA_DIR when set (made absolute), else `userDir` (platform::UserDataDir), else
// `fallback` when the environment names no home at all. `fromEnvironment` tells the first case:
// a folder the trader chose takes over nothing.
std::filesystem::path TraderDataDir(const std::filesystem::path& userDir,
                                    const std::filesystem::path& fallback, bool& fromEnvironment);

struct TAdoption {
    std::vector<std::string> Texts; // journal texts: what was taken over, or why not
    // Something could not be taken over: the data folder cannot be written, so this run trades
    // from the old folder as before rather than from built-in limits and a log that goes nowhere.
    bool Failed = false;
};

// Copies the limits file and the day's order log of `oldDir` into `dataDir` (made when missing)
// when `dataDir` has none of its own, so that it happens once and `oldDir` is never read again;
// the day's log carries the orders already counted and a kill switch left thrown.
TAdoption
AdoptOldTradingFiles(const std::filesystem::path& oldDir, const std::filesystem::path& dataDir,
                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace vorlen

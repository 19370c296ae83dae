#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlen {

struct TConsoleOptions {
    // How long to run once connecting has begun; none: until a signal.
    std::optional<int> Seconds;
    // End as soon as the instrument lists are built.
    bool UntilOnline = false;
    // Folder for the tables written at the end; empty: nothing is written.
    std::string DumpDir;
    // A saved-settings file applied instead of the dialog's defaults.
    std::string SettingsFile;
    // The futures (isin) of an expert started once connected; empty: no expert.
    std::string ExpertIsin;
    // Instruments (isin) whose order books and positions --dump writes; each must be listed.
    std::vector<std::string> BookIsins;
    bool Help = false;
};

// Exit codes beyond 0: a run that ended as asked.
inline constexpr int kExitUsage = 1;     // the command line could not be read
inline constexpr int kExitErrorBox = 2;  // an error box, no futures for --expert, an unknown --book
inline constexpr int kExitNotOnline = 3; // --until-online, but the time ran out first
inline constexpr int kExitNoEnvironment = 4; // the gateway environment did not open
inline constexpr int kExitDumpFailed = 5;    // the run went well, the tables could not be written
// A signal ends the run through the shutdown order with 128 + its number, as shells expect.

// False with `error` set when the arguments make no sense.
bool ParseConsoleOptions(const std::vector<std::string>& args, TConsoleOptions& out,
                         std::string& error);

std::string ConsoleUsage();

} // namespace vorlen

#pragma once

// The settings of the market's recording in the desktop terminal: history.ini in the user's data
// folder, one key=value a line. A file of its own, so the saved-settings files keep their format
// and an older program reading them never meets these keys.
//
//   record=on|off        the terminal records what it receives (on when not said)
//   folder=PATH          where the day files and history.db go (the data folder's "history")
//   keep_days=N          day files kept, the current one included (30)
//   keep_gib=N           gibibytes the day files may take together (20)
//
// Blank lines and lines starting with '#' or ';' are comments; unknown keys are passed over, so a
// later program may add some. A value that cannot be read is reported and its default used.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr const char* kHistorySettingsFile = "history.ini";

struct THistorySettings {
    bool Record = true;
    std::filesystem::path Folder; // empty: "history" in the data folder
    unsigned KeepDays = 30;
    unsigned KeepGiB = 20;
    bool operator==(const THistorySettings&) const = default;
};

inline constexpr unsigned kMaxKeepDays = 3650;
inline constexpr unsigned kMaxKeepGiB = 100000;

struct THistorySettingsRead {
    THistorySettings Settings;
    // One journal line each ("Внимание: ..."), for what was not taken as written.
    std::vector<std::string> Problems;
};

// `dataDir` makes a relative folder absolute; `fileName` names the file in the problems.
THistorySettingsRead ParseHistorySettings(std::string_view text,
                                          const std::filesystem::path& dataDir,
                                          std::string_view fileName = kHistorySettingsFile);
// The file's text for these settings, every key written.
std::string HistorySettingsText(const THistorySettings& settings);

// The settings of `dataDir`/history.ini; a missing file is the defaults and no problem.
THistorySettingsRead LoadHistorySettings(const std::filesystem::path& dataDir);
// Writes the file (owner-only; the folder is created). False with `error` said in Russian.
bool SaveHistorySettings(const std::filesystem::path& dataDir, const THistorySettings& settings,
                         std::string& error);
// Where the recordings go under these settings.
std::filesystem::path HistoryFolder(const THistorySettings& settings,
                                    const std::filesystem::path& dataDir);

} // namespace vorlen

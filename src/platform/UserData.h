#pragma once

// The user's own data folder for this program: recordings and the settings of recording live
// there, never beside the executable (which may sit in a folder the user cannot write).
//
// Linux follows the XDG base directories: $XDG_DATA_HOME/vorlen, or ~/.local/share/vorlen when
// the variable is unset, empty or relative: a relative one would move with the current folder.
// Windows uses the local application-data folder (%LOCALAPPDATA%\Vorlen): recordings are large
// and belong to this machine, not to a roaming profile.

#include <filesystem>
#include <functional>
#include <optional>

namespace vorlen::platform {

// An environment variable's value, or nothing when it is unset or empty.
using TEnvLookup = std::function<std::optional<std::filesystem::path>(const char* name)>;

enum class TDataDirRules { Posix, Windows };

// The folder by the rules of either system, from the given environment; empty when the
// environment names no home at all.
std::filesystem::path UserDataDirFrom(const TEnvLookup& env, TDataDirRules rules);

// This system's folder from the process environment. Read it where the program starts, before
// any thread of its own could change the environment.
std::filesystem::path UserDataDir();

} // namespace vorlen::platform

#include "platform/UserData.h"

#include <cstdlib>
#include <string>

namespace vorlen::platform {

namespace fs = std::filesystem;

fs::path UserDataDirFrom(const TEnvLookup& env, TDataDirRules rules) {
    const auto named = [&](const char* name) -> std::optional<fs::path> {
        std::optional<fs::path> value = env(name);
        if (!value || value->empty())
            return std::nullopt;
        return value;
    };
    if (rules == TDataDirRules::Windows) {
        if (const auto local = named("LOCALAPPDATA"))
            return *local / "Vorlen";
        if (const auto profile = named("USERPROFILE"))
            return *profile / "AppData" / "Local" / "Vorlen";
        return {};
    }
    // A relative XDG_DATA_HOME would put the recordings wherever the program was started from.
    if (const auto xdg = named("XDG_DATA_HOME"); xdg && xdg->has_root_directory())
        return *xdg / "vorlen";
    if (const auto home = named("HOME"))
        return *home / ".local" / "share" / "vorlen";
    return {};
}

fs::path UserDataDir() {
#ifdef _WIN32
    // The wide environment: a user name outside the ANSI code page must survive.
    const TEnvLookup env = [](const char* name) -> std::optional<fs::path> {
        const std::string narrow(name);
        const std::wstring wide(narrow.begin(), narrow.end());
        const wchar_t* value = _wgetenv(wide.c_str());
        if (value == nullptr || *value == L'\0')
            return std::nullopt;
        return fs::path(value);
    };
    return UserDataDirFrom(env, TDataDirRules::Windows);
#else
    const TEnvLookup env = [](const char* name) -> std::optional<fs::path> {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): read at start, see the header.
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0')
            return std::nullopt;
        return fs::path(value);
    };
    return UserDataDirFrom(env, TDataDirRules::Posix);
#endif
}

} // namespace vorlen::platform

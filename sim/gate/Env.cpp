// The gateway environment: its settings, the log, the installation folder and the version.

#include "Env.h"

#include "Gate.h"
#include "Ini.h"
#include "Text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fs = std::filesystem;

namespace vsim::gate {

namespace {

struct EnvState {
    std::mutex mu;
    bool open = false;
    std::FILE* log = nullptr;
    Level minLevel = Level::Info;
    std::string iniPath;
    std::vector<std::pair<CG_EXIT_HANDLER, void*>> exitHandlers;
};

EnvState& Env() {
    static EnvState* env = new EnvState; // never destroyed: callers may log during exit
    return *env;
}

const char* LevelName(Level l) {
    switch (l) {
    case Level::Trace:
        return "TRACE";
    case Level::Debug:
        return "DEBUG";
    case Level::Info:
        return "INFO";
    case Level::Warning:
        return "WARN";
    default:
        return "ERROR";
    }
}

bool ParseLevel(std::string_view s, Level& out) {
    const std::string l = Lower(s);
    static const std::pair<const char*, Level> kLevels[] = {
        {"trace", Level::Trace},     {"debug", Level::Debug}, {"info", Level::Info},
        {"warning", Level::Warning}, {"error", Level::Error}, {"none", Level::None}};
    for (const auto& [name, level] : kLevels) {
        if (l == name) {
            out = level;
            return true;
        }
    }
    return false;
}

} // namespace

void LogLine(Level level, const char* fmt, ...) {
    EnvState& env = Env();
    std::lock_guard<std::mutex> lock(env.mu);
    if (env.log == nullptr || level < env.minLevel) {
        return;
    }
    std::fprintf(env.log, "[%s] ", LevelName(level));
    va_list args;
    va_start(args, fmt);
    std::vfprintf(env.log, fmt, args);
    va_end(args);
    std::fputc('\n', env.log);
    std::fflush(env.log);
}

bool EnvIsOpen() {
    EnvState& env = Env();
    std::lock_guard<std::mutex> lock(env.mu);
    return env.open;
}

std::string LibraryFolder() {
#ifdef _WIN32
    HMODULE module = nullptr;
    char path[MAX_PATH] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&LibraryFolder), &module) == 0 ||
        GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        return {};
    }
    return fs::path(path).parent_path().string();
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    return fs::absolute(fs::path(info.dli_fname), ec).parent_path().string();
#endif
}

std::string ResolvePath(const std::string& path) {
    std::error_code ec;
    const fs::path p(path);
    if (p.is_absolute()) {
        return fs::exists(p, ec) ? path : std::string();
    }
    const fs::path lib = LibraryFolder();
    const fs::path root = lib.parent_path();
    for (const fs::path& base : {fs::current_path(ec), lib, root, root / "scheme"}) {
        const fs::path candidate = base / p;
        if (fs::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return {};
}

std::uint32_t OpenEnv(const char* settings) {
    if (settings == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    std::string ini;
    std::string log;
    Level level = Level::Info;
    for (const KeyValue& kv : ParseKeyValues(settings)) {
        if (kv.key == "ini" && kv.hasValue) {
            ini = kv.value;
        } else if (kv.key == "log" && kv.hasValue) {
            log = kv.value;
        } else if (kv.key == "minloglevel" && kv.hasValue) {
            if (!kv.value.empty() && !ParseLevel(kv.value, level)) {
                return CG_ERR_INVALIDARGUMENT;
            }
        } else if ((kv.key == "subsys" || kv.key == "key") && kv.hasValue) {
            continue;
        } else {
            return CG_ERR_INVALIDARGUMENT;
        }
    }
    std::string text;
    if (ini.empty() || !ReadTextFile(ini, text)) {
        return CG_ERR_INVALIDARGUMENT;
    }
    // Log target: "p2:SECTION" names a section of the ini with a file= line, "file:PATH" a file,
    // "std" the standard error stream, "null" or nothing no log.
    std::error_code ec;
    const fs::path iniDir = fs::absolute(fs::path(ini), ec).parent_path();
    std::string logFile;
    bool toStderr = false;
    const IniFile parsed = ParseIni(text);
    if (log.rfind("p2:", 0) == 0) {
        if (const IniSection* s = parsed.Section(log.substr(3))) {
            logFile = s->Get("file");
        }
    } else if (log.rfind("file:", 0) == 0) {
        logFile = log.substr(5);
    } else if (log == "std") {
        toStderr = true;
    }
    if (!logFile.empty() && fs::path(logFile).is_relative()) {
        logFile = (iniDir / logFile).string();
    }
    EnvState& env = Env();
    std::lock_guard<std::mutex> lock(env.mu);
    if (env.open) {
        return CG_ERR_INCORRECTSTATE;
    }
    env.open = true;
    env.iniPath = fs::absolute(fs::path(ini), ec).string();
    env.minLevel = level;
    env.log = toStderr ? stderr : (logFile.empty() ? nullptr : std::fopen(logFile.c_str(), "a"));
    if (env.log != nullptr) {
        std::fprintf(env.log, "[INFO] environment opened with %s\n", env.iniPath.c_str());
        std::fflush(env.log);
    }
    return CG_ERR_OK;
}

std::uint32_t CloseEnv() {
    EnvState& env = Env();
    std::vector<std::pair<CG_EXIT_HANDLER, void*>> handlers;
    {
        std::lock_guard<std::mutex> lock(env.mu);
        if (!env.open) {
            return CG_ERR_INCORRECTSTATE;
        }
        handlers.swap(env.exitHandlers);
    }
    for (auto& [handler, data] : handlers) {
        handler(data);
    }
    std::lock_guard<std::mutex> lock(env.mu);
    if (env.log != nullptr && env.log != stderr) {
        std::fclose(env.log);
    }
    env.log = nullptr;
    env.open = false;
    return CG_ERR_OK;
}

std::uint32_t RegisterExitHandler(CG_EXIT_HANDLER handler, void* data) {
    if (handler == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    EnvState& env = Env();
    std::lock_guard<std::mutex> lock(env.mu);
    env.exitHandlers.emplace_back(handler, data);
    return CG_ERR_OK;
}

std::uint32_t ComponentVersion(const char* component, std::uint32_t* major, std::uint32_t* minor,
                               std::uint32_t* build) {
    if (component == nullptr || major == nullptr || minor == nullptr || build == nullptr ||
        Lower(component) != "cgate") {
        return CG_ERR_INVALIDARGUMENT;
    }
    std::string text = "7.0.0";
    {
        EnvState& env = Env();
        std::lock_guard<std::mutex> lock(env.mu);
        std::string ini;
        if (!env.iniPath.empty() && ReadTextFile(env.iniPath, ini)) {
            const IniFile parsed = ParseIni(ini);
            if (const IniSection* s = parsed.Section("cgate")) {
                text = s->Get("version", text);
            }
        }
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in a gateway client sets the environment
    if (const char* v = std::getenv("VORLEN_SIM_CGATE_VERSION"); v != nullptr && *v != '\0') {
        text = v;
    }
    const auto parts = Split(text, '.');
    std::int64_t n[3] = {0, 0, 0};
    if (parts.size() != 3) {
        return CG_ERR_INTERNAL;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (!ParseInt(parts[i], n[i]) || n[i] < 0 || n[i] > 0xFFFFFFFF) {
            return CG_ERR_INTERNAL;
        }
    }
    *major = static_cast<std::uint32_t>(n[0]);
    *minor = static_cast<std::uint32_t>(n[1]);
    *build = static_cast<std::uint32_t>(n[2]);
    return CG_ERR_OK;
}

} // namespace vsim::gate

#include "platform/ProcessStart.h"

#ifdef _WIN32
#include "platform/WinText.h"

#include <windows.h>
#else
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;
#endif

namespace vorlen::platform {

std::vector<std::string> SplitCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const auto blank = [&](std::size_t k) { return s[k] == ' ' || s[k] == '\t'; };

    if (s.empty()) {
        return args;
    }
    std::string program;
    if (s[0] == '"') {
        for (i = 1; i < s.size() && s[i] != '"'; ++i) {
            program.push_back(s[i]);
        }
        if (i < s.size()) {
            ++i; // the closing mark
        }
    } else {
        for (; i < s.size() && !blank(i); ++i) {
            program.push_back(s[i]);
        }
    }
    args.push_back(std::move(program));
    while (i < s.size() && blank(i)) {
        ++i;
    }

    std::string arg;
    bool inArg = false;
    int quotes = 0; // 1 inside quoting; counts marks while a run of them is read
    std::size_t backslashes = 0;
    while (i < s.size()) {
        const char c = s[i];
        if ((c == ' ' || c == '\t') && quotes == 0) {
            args.push_back(std::move(arg));
            arg.clear();
            inArg = false;
            backslashes = 0;
            while (i < s.size() && blank(i)) {
                ++i;
            }
            continue;
        }
        inArg = true;
        if (c == '\\') {
            arg.push_back(c);
            ++backslashes;
            ++i;
        } else if (c == '"') {
            if (backslashes % 2 == 0) {
                arg.resize(arg.size() - backslashes / 2);
                ++quotes;
            } else {
                arg.resize(arg.size() - backslashes / 2 - 1);
                arg.push_back('"');
            }
            ++i;
            backslashes = 0;
            while (i < s.size() && s[i] == '"') {
                if (++quotes == 3) {
                    arg.push_back('"');
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) {
                quotes = 0;
            }
        } else {
            arg.push_back(c);
            backslashes = 0;
            ++i;
        }
    }
    if (inArg) {
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(std::string_view argument, bool always) {
    if (!always && !argument.empty() &&
        argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal except before a mark: there each one is doubled, and the
        // mark itself is escaped.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    // The closing mark follows, so trailing backslashes are doubled too.
    quoted.append(2 * backslashes, '\\');
    quoted.push_back('"');
    return quoted;
}

#ifdef _WIN32

bool StartProcess(const std::string& application, const std::string& commandLine,
                  const std::string& currentDir, TProcInfo& info) {
    const std::wstring app = WideFromUtf8(application);
    std::wstring cmd = WideFromUtf8(commandLine); // CreateProcessW may write into it
    const std::wstring dir = WideFromUtf8(currentDir);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.wShowWindow = 1; // without STARTF_USESHOWWINDOW, as the router has always been started
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    const BOOL ok = CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr,
                                   dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    if (!ok) {
        return false;
    }
    info = pi;
    return true;
}

bool TerminateStartedProcess(std::uintptr_t process, std::uint32_t exitCode, int graceMs) {
    const auto handle = reinterpret_cast<HANDLE>(process);
    if (TerminateProcess(handle, exitCode) == 0) {
        // Windows refuses (access denied) to terminate a process that has ended already; it has
        // ended all the same.
        return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    }
    // TerminateProcess only starts the termination. Waiting on the handle means that the router's
    // files and listening port are released by the time the caller goes on.
    WaitForSingleObject(handle, static_cast<DWORD>(graceMs > 0 ? graceMs : 0));
    return true;
}

bool StartedProcessExited(std::uintptr_t process, TProcessExit& ended) {
    const auto handle = reinterpret_cast<HANDLE>(process);
    if (handle == nullptr || WaitForSingleObject(handle, 0) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    ended.Signalled = false;
    ended.Code = static_cast<int>(code);
    return true;
}

bool CloseProcessHandle(std::uintptr_t handle) {
    return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

std::uintptr_t ProcessHandleValue(const TProcInfo& info) {
    return reinterpret_cast<std::uintptr_t>(info.hProcess);
}
std::uintptr_t ThreadHandleValue(const TProcInfo& info) {
    return reinterpret_cast<std::uintptr_t>(info.hThread);
}
void ClearProcessHandle(TProcInfo& info) {
    info.hProcess = nullptr;
}
void ClearThreadHandle(TProcInfo& info) {
    info.hThread = nullptr;
}

#else

namespace {

struct TChild {
    bool ProcessOpen = true;
    bool ThreadOpen = true;
    bool Reaped = false;
};

std::mutex gChildrenLock;
std::map<pid_t, TChild> gChildren; // children started here whose handles are not all closed

std::uintptr_t HandleOf(pid_t pid, bool thread) {
    return kProcessHandleBase + 2 * static_cast<std::uintptr_t>(pid) + (thread ? 1 : 0);
}

bool DecodeHandle(std::uintptr_t handle, pid_t& pid, bool& thread) {
    if (handle < kProcessHandleBase) {
        return false;
    }
    const std::uintptr_t offset = handle - kProcessHandleBase;
    if (offset / 2 == 0 || offset / 2 > static_cast<std::uintptr_t>(INT32_MAX)) {
        return false;
    }
    pid = static_cast<pid_t>(offset / 2);
    thread = (offset % 2) != 0;
    return true;
}

// Reaps without blocking. True once the child is gone: exited now, or no longer ours to wait
// for (ECHILD, when something else reaped it).
bool TryReap(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        return r < 0 && errno == ECHILD;
    }
}

class TSpawnSetup {
public:
    TSpawnSetup() {
        FActionsOk = posix_spawn_file_actions_init(&FActions) == 0;
        FAttrOk = posix_spawnattr_init(&FAttr) == 0;
    }
    ~TSpawnSetup() {
        if (FActionsOk) {
            posix_spawn_file_actions_destroy(&FActions);
        }
        if (FAttrOk) {
            posix_spawnattr_destroy(&FAttr);
        }
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;

    bool Prepare(const std::string& currentDir) {
        if (!FActionsOk || !FAttrOk) {
            return false;
        }
        bool ok = posix_spawn_file_actions_addopen(&FActions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                  posix_spawn_file_actions_addopen(&FActions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                  posix_spawn_file_actions_addopen(&FActions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
                  posix_spawn_file_actions_addclosefrom_np(&FActions, 3) == 0;
        if (ok && !currentDir.empty()) {
            ok = posix_spawn_file_actions_addchdir_np(&FActions, currentDir.c_str()) == 0;
        }
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int sig :
             {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2}) {
            sigaddset(&defaults, sig);
        }
        ok = ok && posix_spawnattr_setsigmask(&FAttr, &none) == 0 &&
             posix_spawnattr_setsigdefault(&FAttr, &defaults) == 0 &&
             posix_spawnattr_setpgroup(&FAttr, 0) == 0 &&
             posix_spawnattr_setflags(&FAttr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                  POSIX_SPAWN_SETPGROUP) == 0;
        return ok;
    }

    posix_spawn_file_actions_t* Actions() { return &FActions; }
    posix_spawnattr_t* Attr() { return &FAttr; }

private:
    posix_spawn_file_actions_t FActions;
    posix_spawnattr_t FAttr;
    bool FActionsOk = false;
    bool FAttrOk = false;
};

} // namespace

bool StartProcess(const std::string& application, const std::string& commandLine,
                  const std::string& currentDir, TProcInfo& info) {
    std::vector<std::string> args = SplitCommandLine(commandLine);
    if (application.empty() || args.empty() || args[0] != application) {
        return false;
    }
    std::string program = application;
    if (program.front() != '/') {
        // Windows resolves a relative program against the caller's directory, not the child's.
        std::string cwd(4096, '\0');
        if (getcwd(cwd.data(), cwd.size()) == nullptr) {
            return false;
        }
        cwd.resize(cwd.find('\0'));
        program = cwd + "/" + program;
    }
    TSpawnSetup setup;
    if (!setup.Prepare(currentDir)) {
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    // Held across the spawn so that the new pid is in the table before anyone can ask for it.
    std::lock_guard<std::mutex> guard(gChildrenLock);
    const int rc =
        posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attr(), argv.data(), environ);
    if (rc != 0) {
        return false;
    }
    gChildren[pid] = TChild{};
    info.hProcess = HandleOf(pid, false);
    info.hThread = HandleOf(pid, true);
    info.dwProcessId = static_cast<std::uint32_t>(pid);
    info.dwThreadId = static_cast<std::uint32_t>(pid);
    return true;
}

namespace {

// The child behind an open process handle, or null; under gChildrenLock.
TChild* OpenChild(std::uintptr_t process, pid_t& pid) {
    bool thread = false;
    if (!DecodeHandle(process, pid, thread) || thread) {
        return nullptr;
    }
    const auto it = gChildren.find(pid);
    return it == gChildren.end() || !it->second.ProcessOpen ? nullptr : &it->second;
}

} // namespace

bool TerminateStartedProcess(std::uintptr_t process, std::uint32_t /*exitCode*/, int graceMs) {
    pid_t pid = 0;
    std::lock_guard<std::mutex> guard(gChildrenLock);
    TChild* found = OpenChild(process, pid);
    if (found == nullptr) {
        return false;
    }
    TChild& child = *found;
    // An unreaped child keeps its pid, so signalling it cannot hit another process; one that
    // has gone already is only reaped.
    if (!child.Reaped && !TryReap(pid)) {
        kill(pid, SIGTERM);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs > 0 ? graceMs : 0);
        bool gone = false;
        while (!(gone = TryReap(pid)) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!gone) {
            kill(pid, SIGKILL);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    child.Reaped = true;
    return true;
}

bool StartedProcessExited(std::uintptr_t process, TProcessExit& ended) {
    pid_t pid = 0;
    std::lock_guard<std::mutex> guard(gChildrenLock);
    TChild* child = OpenChild(process, pid);
    if (child == nullptr) {
        return false;
    }
    if (child->Reaped) {
        return true;
    }
    int status = 0;
    pid_t r = 0;
    while ((r = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r != pid) {
        // Still running, or reaped by someone else (ECHILD), whose status we cannot know.
        if (r < 0 && errno == ECHILD) {
            child->Reaped = true;
            ended = TProcessExit{};
            return true;
        }
        return false;
    }
    child->Reaped = true;
    ended.Signalled = WIFSIGNALED(status);
    ended.Code = ended.Signalled ? WTERMSIG(status) : WEXITSTATUS(status);
    return true;
}

bool CloseProcessHandle(std::uintptr_t handle) {
    pid_t pid = 0;
    bool thread = false;
    if (!DecodeHandle(handle, pid, thread)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(gChildrenLock);
    const auto it = gChildren.find(pid);
    if (it == gChildren.end()) {
        return false;
    }
    bool& open = thread ? it->second.ThreadOpen : it->second.ProcessOpen;
    if (!open) {
        return false;
    }
    open = false;
    if (!it->second.ProcessOpen && !it->second.ThreadOpen) {
        // As on Windows, closing the handles does not end the process; a child that has exited
        // is reaped now, one still running is left alone.
        if (!it->second.Reaped) {
            TryReap(pid);
        }
        gChildren.erase(it);
    }
    return true;
}

std::uintptr_t ProcessHandleValue(const TProcInfo& info) {
    return info.hProcess;
}
std::uintptr_t ThreadHandleValue(const TProcInfo& info) {
    return info.hThread;
}
void ClearProcessHandle(TProcInfo& info) {
    info.hProcess = 0;
}
void ClearThreadHandle(TProcInfo& info) {
    info.hThread = 0;
}

#endif

} // namespace vorlen::platform

#include "platform/Service.h"

#ifdef _WIN32
#include "platform/WinText.h"

#include <windows.h>
#else
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;
#endif

namespace vorlen::platform {

#ifdef _WIN32

bool IsServiceRunning(const std::string& machine, const std::string& name) {
    const std::wstring wmachine = WideFromUtf8(machine);
    SC_HANDLE manager =
        OpenSCManagerW(wmachine.empty() ? nullptr : wmachine.c_str(), nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    bool running = false;
    const std::wstring wname = WideFromUtf8(name);
    if (SC_HANDLE service = OpenServiceW(manager, wname.c_str(), SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        running =
            QueryServiceStatus(service, &status) != 0 && status.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

#else

namespace {

constexpr int kQueryTimeoutMs = 5000;

std::string FindSystemctl() {
    for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

} // namespace

bool IsValidUnitName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '-') {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == ':' || c == '-' || c == '_' || c == '.' ||
                        c == '\\' || c == '@';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string ServiceUnitName(const std::string& name) {
    constexpr std::string_view kSuffix = ".service";
    if (name.size() >= kSuffix.size() &&
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0) {
        return name;
    }
    return name + std::string(kSuffix);
}

bool SystemdRuns() {
    struct stat st {};
    return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool SystemdUnitActive(const std::string& systemctl, const std::string& unit, int timeoutMs) {
    if (!IsValidUnitName(unit)) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    // The caller may hold stop signals blocked for a watcher thread; the query gets none of that.
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::string program = systemctl;
    std::string a1 = "is-active", a2 = "--quiet", a3 = "--", a4 = unit;
    char* argv[] = {program.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool IsServiceRunning(const std::string& /*machine*/, const std::string& name) {
    if (!SystemdRuns()) {
        return false;
    }
    const std::string systemctl = FindSystemctl();
    if (systemctl.empty()) {
        return false;
    }
    return SystemdUnitActive(systemctl, ServiceUnitName(name), kQueryTimeoutMs);
}

#endif

} // namespace vorlen::platform

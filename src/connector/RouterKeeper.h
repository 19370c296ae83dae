#pragma once

// Keeps the router this terminal started running: a router that ends is reaped, reported and
// started again with the same command line, after a pause that grows while it keeps failing, so
// that a router that cannot live is not started more than a few times a minute. The health
// monitor asks it at every pass; nothing here blocks or waits.

#include "health/HealthMonitor.h"
#include "platform/Process.h"
#include "platform/ProcessStart.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vorlen {

// What starts the router, as it was started the first time.
struct TRouterStart {
    std::string Application;
    std::string CommandLine;
    std::string Dir;
};

struct TRouterServices {
    std::function<bool(const std::string& application, const std::string& commandLine,
                       const std::string& currentDir, TProcInfo& info)>
        StartProcess;
    std::function<bool(std::uintptr_t process, platform::TProcessExit& ended)> ProcessExited;
    std::function<bool(std::uintptr_t handle)> CloseHandle;
};

class TRouterKeeper {
public:
    // Milliseconds of a monotonic clock.
    using TClock = std::function<std::int64_t()>;

    // A router that has run this long was not failing: the next pause starts short again.
    static constexpr std::int64_t kSteadyMs = 60000;
    // How long a started router is given to listen before its silence means anything.
    static constexpr std::int64_t kStartGraceMs = 10000;
    // The pause before start number `failures` + 1 of a run of failures.
    static std::int64_t PauseMs(int failures);

    // `started`: the process already running, started at the clock's present.
    TRouterKeeper(TRouterServices services, TRouterStart start, const TProcInfo& started,
                  TClock clock);
    TRouterKeeper(const TRouterKeeper&) = delete;
    TRouterKeeper& operator=(const TRouterKeeper&) = delete;

    // One look: reaps a router that ended, starts one when its pause is over. While `served`
    // (a connection is on-line all the same: a router left by an earlier run holds the port),
    // none is started, or each would end at once and be started again for ever.
    TProcessReport Poll(bool served = false);
    // Called with the new process handle after every start, under the keeper's lock.
    void SetOnStarted(std::function<void(std::uintptr_t process)> onStarted);
    // The router running now (handles zero when none); the keeper lets go of it, so the caller
    // ends it. Called once nothing polls any more.
    TProcInfo Take();

private:
    void Start(std::int64_t now, TProcessReport& report);

    TRouterServices FServices;
    TRouterStart FStart;
    TClock FClock;
    std::mutex FLock;
    std::function<void(std::uintptr_t)> FOnStarted;
    TProcInfo FProc{};
    bool FRunning = false;
    bool FTaken = false;
    std::int64_t FStartedAt = 0;
    std::int64_t FNextStart = 0;
    int FFailures = 0;
    int FStarts = 0; // starts after the first one
    std::string FProblem;
    bool FHeldOff = false; // said once that another router serves
};

} // namespace vorlen

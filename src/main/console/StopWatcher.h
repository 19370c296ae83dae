#pragma once

// What ends a console run besides the run itself: SIGINT or SIGTERM (Ctrl+C, Ctrl+Break or the
// console window closing on Windows), and the time limit. Each wakes the UI thread's wait, so
// the run ends through the same shutdown order whatever ended it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>

namespace vorlen {

class TStopWatcher {
public:
    using TClock = std::chrono::steady_clock;

    // Call at the very start of main, before any thread exists, so that every thread inherits
    // the blocked stop signals and only the watcher receives them. Also ignores SIGPIPE: a
    // closed standard output must not kill the terminal before it has stopped its router.
    static void PrepareProcess();

    explicit TStopWatcher(std::optional<TClock::time_point> deadline);
    // A second stop signal during the shutdown ends the process at once, the usual way out of a
    // shutdown that hangs.
    ~TStopWatcher();
    TStopWatcher(const TStopWatcher&) = delete;
    TStopWatcher& operator=(const TStopWatcher&) = delete;

    // The router process this run started (a TProcInfo process handle; 0: none). A second stop
    // signal terminates it before ending the process.
    void SetRouter(std::uintptr_t process) { FRouter = process; }

    int Signal() const { return FSignal.load(); }
    bool TimedOut() const { return FTimedOut.load(); }
    bool StopRequested() const { return Signal() != 0 || TimedOut(); }

private:
    void Run();
    [[noreturn]] void EndNow(int code);

    std::optional<TClock::time_point> FDeadline;
    std::atomic<int> FSignal{0};
    std::atomic<bool> FTimedOut{false};
    std::atomic<bool> FQuit{false};
    std::atomic<std::uintptr_t> FRouter{0};
    std::thread FThread;
};

} // namespace vorlen

#include "main/console/StopWatcher.h"

#include "platform/ProcessStart.h"
#include "platform/Thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>
#endif

namespace vorlen {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

#ifdef _WIN32
std::atomic<int> gConsoleEvent{0};

BOOL WINAPI ConsoleHandler(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
        gConsoleEvent = 2; // reported as SIGINT
        break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        gConsoleEvent = 15; // reported as SIGTERM
        break;
    default:
        return FALSE;
    }
    ui::WakeUiWaiter();
    if (type == CTRL_CLOSE_EVENT) {
        // Windows ends the process when this returns; give the shutdown order its time.
        Sleep(4000);
    }
    return TRUE;
}
#else
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
#endif

} // namespace

void TStopWatcher::PrepareProcess() {
#ifdef _WIN32
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
#else
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
}

TStopWatcher::TStopWatcher(std::optional<TClock::time_point> deadline) : FDeadline(deadline) {
    FThread = std::thread([this] { Run(); });
}

TStopWatcher::~TStopWatcher() {
    FQuit = true;
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TStopWatcher::EndNow(int code) {
    // The router runs in a process group of its own, so the Ctrl+C never reached it; left alone
    // it would hold its port after the terminal is gone. Should the shutdown order be ending it
    // at this moment, this call waits for that and finds it gone.
    if (const std::uintptr_t router = FRouter.load(); router != 0) {
        platform::TerminateStartedProcess(router, 0, 500);
    }
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(code));
#else
    _exit(code);
#endif
}

void TStopWatcher::Run() {
    while (!FQuit) {
#ifdef _WIN32
        std::this_thread::sleep_for(kPoll);
        if (const int ev = gConsoleEvent.exchange(0); ev != 0) {
            if (FSignal != 0) {
                EndNow(128 + ev);
            }
            FSignal = ev;
            ui::WakeUiWaiter();
        }
#else
        const sigset_t set = StopSignals();
        timespec wait{};
        wait.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(kPoll).count();
        const int sig = sigtimedwait(&set, nullptr, &wait);
        if (sig > 0) {
            if (FSignal != 0) {
                // The second request: no more waiting for the shutdown order.
                EndNow(128 + sig);
            }
            FSignal = sig;
            ui::WakeUiWaiter();
        }
#endif
        if (FDeadline && !FTimedOut && TClock::now() >= *FDeadline) {
            FTimedOut = true;
            ui::WakeUiWaiter();
        }
    }
}

} // namespace vorlen

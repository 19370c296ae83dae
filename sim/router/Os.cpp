#include "Os.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace vsim {

namespace {
std::atomic<bool>* gStop = nullptr;
}

#ifdef _WIN32
static BOOL WINAPI OnConsole(DWORD) {
    if (gStop != nullptr) {
        gStop->store(true);
    }
    return TRUE;
}

void InstallStopHandler(std::atomic<bool>* stop) {
    gStop = stop;
    SetConsoleCtrlHandler(OnConsole, TRUE);
}
#else
extern "C" void OnSignal(int) {
    if (gStop != nullptr) {
        gStop->store(true);
    }
}

void InstallStopHandler(std::atomic<bool>* stop) {
    gStop = stop;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
#endif

} // namespace vsim

#include "platform/Mutex.h"
#include "platform/WinApi.h"

namespace vorlen {

struct TMutex::Impl {
    CRITICAL_SECTION Section;
};

TMutex::TMutex() : FSection(std::make_unique<Impl>()) {
    // A taker that finds it held spins a while before it sleeps, as on other systems: the
    // store's lock is held for a batch of market data, tens of microseconds.
    InitializeCriticalSectionAndSpinCount(&FSection->Section, 4000);
}

TMutex::~TMutex() {
    DeleteCriticalSection(&FSection->Section);
}

void TMutex::Lock() {
    EnterCriticalSection(&FSection->Section);
}

void TMutex::Unlock() {
    LeaveCriticalSection(&FSection->Section);
}

} // namespace vorlen

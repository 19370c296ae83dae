#include "platform/Mutex.h"
#include "platform/WinApi.h"

namespace vorlen {

struct TMutex::Impl {
    CRITICAL_SECTION Section;
};

// No spin count of the system's own: TMutex::Lock waits awake itself before it sleeps.
TMutex::TMutex() : FSection(std::make_unique<Impl>()) {
    InitializeCriticalSection(&FSection->Section);
}

TMutex::~TMutex() {
    DeleteCriticalSection(&FSection->Section);
}

bool TMutex::TryTake() {
    return TryEnterCriticalSection(&FSection->Section) != 0;
}

void TMutex::Take() {
    EnterCriticalSection(&FSection->Section);
}

void TMutex::Unlock() {
    LeaveCriticalSection(&FSection->Section);
}

} // namespace vorlen

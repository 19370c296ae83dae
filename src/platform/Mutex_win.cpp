#include "platform/Mutex.h"
#include "platform/WinApi.h"

namespace vorlen {

struct TMutex::Impl {
    CRITICAL_SECTION Section;
};

TMutex::TMutex() : FSection(std::make_unique<Impl>()) {
    InitializeCriticalSection(&FSection->Section);
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

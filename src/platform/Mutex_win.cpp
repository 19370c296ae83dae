#include "platform/Mutex.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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

#include "platform/Mutex.h"

#include <mutex>

namespace vorlen {

struct TMutex::Impl {
    std::mutex Section;
};

TMutex::TMutex() : FSection(std::make_unique<Impl>()) {}

TMutex::~TMutex() = default;

bool TMutex::TryTake() {
    return FSection->Section.try_lock();
}

void TMutex::Take() {
    FSection->Section.lock();
}

void TMutex::Unlock() {
    FSection->Section.unlock();
}

} // namespace vorlen

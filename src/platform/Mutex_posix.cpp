#include "platform/Compiler.h"
#include "platform/Mutex.h"

#include <chrono>
#include <mutex>

namespace vorlen {

namespace {

// The store's lock is held for a batch of market data, some tens of microseconds: a thread
// that went to sleep on it is woken only as long again after it is let go (the holder's wake-up
// call, then the scheduler), which doubles what an expert woken by that batch waits for its
// snapshot. So a taker that finds it held waits awake for up to this long first.
constexpr std::chrono::microseconds kSpin{50};

} // namespace

struct TMutex::Impl {
    std::mutex Section;
};

TMutex::TMutex() : FSection(std::make_unique<Impl>()) {}

TMutex::~TMutex() = default;

void TMutex::Lock() {
    std::mutex& m = FSection->Section;
    if (m.try_lock())
        return;
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned i = 1;; ++i) {
        platform::CpuRelax();
        // The clock costs more than a look at the lock; neither is asked on every turn.
        if (i % 16 == 0) {
            if (m.try_lock())
                return;
            if (i % 256 == 0 && std::chrono::steady_clock::now() >= until)
                break;
        }
    }
    m.lock();
}

void TMutex::Unlock() {
    FSection->Section.unlock();
}

} // namespace vorlen

#include "platform/Mutex.h"

#include "platform/Compiler.h"

namespace vorlen {

namespace {

// The store's lock is held for a batch of market data, some tens of microseconds: a thread
// that went to sleep on it is woken only as long again after it is let go (the holder's wake-up
// call, then the scheduler), which doubles what an expert woken by that batch waits for its
// snapshot. So a taker that finds it held waits awake for up to this long first.
constexpr std::chrono::microseconds kSpin{50};

} // namespace

void TMutex::Lock() {
    if (TryTake())
        return;
    FAwake.fetch_add(1, std::memory_order_relaxed);
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned i = 1;; ++i) {
        platform::CpuRelax();
        // The clock costs more than a look at the lock; neither is asked on every turn.
        if (i % 16 == 0) {
            if (TryTake()) {
                FAwake.fetch_sub(1, std::memory_order_relaxed);
                return;
            }
            if (i % 256 == 0 && std::chrono::steady_clock::now() >= until)
                break;
        }
    }
    FAwake.fetch_sub(1, std::memory_order_relaxed);
    Take();
}

bool TMutex::HandOver(std::chrono::microseconds most) const {
    const auto until = std::chrono::steady_clock::now() + most;
    for (unsigned i = 1; Awaited(); ++i) {
        platform::CpuRelax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until)
            return !Awaited();
    }
    return true;
}

} // namespace vorlen

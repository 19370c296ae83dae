#include "platform/Events.h"

#include <bit>
#include <chrono>

namespace vorlen {

namespace {
constexpr unsigned MaxEvents = 64;
}

void TEvent::Set() const {
    if (FSet != nullptr)
        FSet->Signal(FIndex);
}

// More than 64 events would need a wider mask; clamping keeps every index the set hands out
// meaningful instead of shifting past the mask's width.
TEventSet::TEventSet(unsigned count) : FCount(count < MaxEvents ? count : MaxEvents) {}

void TEventSet::Signal(unsigned index) {
    if (index >= FCount)
        return;
    std::lock_guard lock(FLock);
    FMask |= std::uint64_t{1} << index;
    // Notified under the lock: a waiter that returns may destroy the set at once, so nothing of
    // it may be touched after the lock is released.
    FCond.notify_one();
}

unsigned TEventSet::TakeLowest() {
    const auto index = static_cast<unsigned>(std::countr_zero(FMask));
    FMask &= FMask - 1;
    return index;
}

unsigned TEventSet::WaitAny() {
    std::unique_lock lock(FLock);
    FCond.wait(lock, [this] { return FMask != 0; });
    return TakeLowest();
}

unsigned TEventSet::WaitAnyFor(unsigned ms) {
    std::unique_lock lock(FLock);
    if (!FCond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FMask != 0; }))
        return FCount;
    return TakeLowest();
}

} // namespace vorlen

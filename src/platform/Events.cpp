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
    const std::uint64_t bit = std::uint64_t{1} << index;
    // Still pending: the waiter has yet to take it, and whatever it then reads was written
    // before this signal.
    if ((FMask.load() & bit) != 0)
        return;
    std::lock_guard lock(FLock);
    FMask.fetch_or(bit);
    // Notified under the lock: a waiter that returns may destroy the set at once, so nothing of
    // it may be touched after the lock is released.
    FCond.notify_one();
}

unsigned TEventSet::TakeLowest() {
    const std::uint64_t mask = FMask.load();
    const auto index = static_cast<unsigned>(std::countr_zero(mask));
    FMask.fetch_and(~(std::uint64_t{1} << index));
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

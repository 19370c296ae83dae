#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vorlen {

class TEventSet;

// A non-owning reference to one auto-reset event of a TEventSet. Signalling never blocks and
// repeated signals before a wait coalesce into one; a signal to an event still pending costs no
// lock, so a writer may signal on every change it makes. A default-constructed TEvent refers to
// nothing and Set on it does nothing.
class TEvent {
public:
    TEvent() = default;
    TEvent(TEventSet* set, unsigned index) : FSet(set), FIndex(index) {}
    void Set() const;
    explicit operator bool() const { return FSet != nullptr; }
    bool operator==(const TEvent&) const = default;

private:
    TEventSet* FSet = nullptr;
    unsigned FIndex = 0;
};

// A fixed list of up to 64 auto-reset, unnamed events that one thread waits on. The wait serves
// the lowest signalled index and resets only that one. A larger count is cut to 64, and signals
// to an index outside the set are ignored.
class TEventSet {
public:
    explicit TEventSet(unsigned count);
    TEventSet(const TEventSet&) = delete;
    TEventSet& operator=(const TEventSet&) = delete;

    unsigned Count() const { return FCount; }
    TEvent Event(unsigned index) { return TEvent(this, index); }
    void Signal(unsigned index);
    // Blocks without time-out until some event is signalled; returns its index.
    unsigned WaitAny();
    // As WaitAny, but gives up after `ms` milliseconds and returns Count() then.
    unsigned WaitAnyFor(unsigned ms);

private:
    unsigned TakeLowest(); // under FLock
    std::mutex FLock;
    std::condition_variable FCond;
    // Changed only under FLock; read without it by Signal, to skip an event already pending.
    std::atomic<std::uint64_t> FMask{0};
    unsigned FCount;
};

} // namespace vorlen

#pragma once

#include <atomic>
#include <chrono>
#include <memory>

namespace vorlen {

// The lock of the replica store and of the transaction connection's reply registry:
// non-recursive, never taken twice on one thread. A critical section on Windows. A taker that
// finds it held waits awake for some tens of microseconds before it sleeps.
class TMutex {
public:
    TMutex();
    ~TMutex();
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    void Lock();
    void Unlock();
    // For std::lock_guard / std::unique_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

    // Whether a taker waits awake for it at this moment: one that has it within moments of its
    // release, where one asleep would be woken by the scheduler only much later.
    bool Awaited() const { return FAwake.load(std::memory_order_relaxed) != 0; }
    // After Unlock: waits, up to `most`, while a taker waiting awake has not taken it yet, so
    // that a holder of a long run of short steps who lets it go between two of them does not
    // take it straight back before that taker. False when one was still waiting at the end.
    bool HandOver(std::chrono::microseconds most) const;

private:
    // The system's lock: a try that never blocks, and a take that sleeps until it succeeds.
    bool TryTake();
    void Take();

    struct Impl;
    std::unique_ptr<Impl> FSection;
    std::atomic<unsigned> FAwake{0};
};

// Holds a TMutex for the lifetime of the guard, so every path out releases it.
class TMutexGuard {
public:
    explicit TMutexGuard(TMutex& m) : FMutex(m) { FMutex.Lock(); }
    ~TMutexGuard() { FMutex.Unlock(); }
    TMutexGuard(const TMutexGuard&) = delete;
    TMutexGuard& operator=(const TMutexGuard&) = delete;

private:
    TMutex& FMutex;
};

} // namespace vorlen

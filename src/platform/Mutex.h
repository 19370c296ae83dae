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
    // Whether another thread is waiting to take it.
    bool Contended() const { return FWaiting.load(std::memory_order_relaxed) != 0; }
    // After Unlock: waits awake, up to `most`, until the threads that were waiting have taken
    // it, so that a holder of a long run of short steps who lets it go between two of them does
    // not take it straight back before them.
    void HandOver(std::chrono::microseconds most) const;
    // For std::lock_guard / std::unique_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    struct Impl;
    std::unique_ptr<Impl> FSection;
    // Takers that found it held and have not taken it yet.
    std::atomic<unsigned> FWaiting{0};
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

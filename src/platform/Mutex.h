#pragma once

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

private:
    struct Impl;
    std::unique_ptr<Impl> FSection;
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

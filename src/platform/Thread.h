#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vorlen {

// The user-interface call queue. Worker threads hand functions to the UI thread through it
// (TThread::Synchronize) and block until they have run. The UI thread is whichever thread called
// MarkUiThread (the program's main thread; a test's own thread). A window toolkit installs a
// wake-up so that its event loop drains the queue; without one, the UI thread must call
// DrainUiQueue itself.
//
// While no thread is marked, Synchronize runs the function on the calling thread, one call at a
// time across the process (so journal sinks still never see two callers at once). A program
// without an event loop therefore cannot hang on a queue that nobody drains.
namespace ui {
void MarkUiThread();
// Gives up the UI role: calls already queued run on the calling thread first, and from then on
// Synchronize behaves as when no thread is marked. For shutdown paths and test fixtures; only
// the UI thread itself may call it (elsewhere it does nothing).
void UnmarkUiThread();
bool IsUiThread();
// Called (from any thread) after a call has been queued; the Qt side posts a queued invocation
// of DrainUiQueue to its event loop. Pass an empty function to remove it.
void SetWakeup(std::function<void()> wakeup);
// Runs every queued call on the calling (UI) thread; returns how many ran. On any other thread
// it runs nothing and returns 0.
int DrainUiQueue();
// Blocks the UI thread until a call is queued or `stop` returns true; used by waits that must
// keep serving Synchronize (TThread::WaitFor on the UI thread). `stop` is evaluated on the
// calling thread, without any lock of the queue held; whoever makes it true must call
// WakeUiWaiter afterwards so that the wait re-evaluates it. Called off the UI thread, it only
// waits and drains nothing.
void WaitAndDrainUntil(const std::function<bool()>& stop);
// The same with a limit: true once `stop` returned true, false when `limit` ran out first.
bool WaitAndDrainFor(const std::function<bool()>& stop, std::chrono::milliseconds limit);
// Makes a WaitAndDrainUntil in progress evaluate its stop condition again.
void WakeUiWaiter();
} // namespace ui

// A worker thread: created suspended, started once with Start, asked to stop with Terminate.
//
// Ending a thread is its owner's job: Terminate, wake the thread where it waits, then WaitFor,
// all before the derived object is destroyed (Execute runs code of the derived class). The
// destructor only makes the same request and joins as a last resort so that a forgotten thread
// never reaches std::terminate; at that point the derived part is already gone, so a thread still
// inside Execute then is a bug of its owner.
class TThread {
public:
    TThread();
    virtual ~TThread(); // joins; a started thread must have been asked to stop
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute on a new thread; a second call does nothing. Throws std::system_error when
    // the system cannot create a thread, and the thread then counts as never started.
    void Start();
    // Runs Execute once more on a new thread after the previous run has ended: clears the
    // terminate request and waits for (joins) the old run first. A thread never started is
    // started. False, doing nothing, while a run is still going.
    bool Restart();
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // Waits for Execute to return. On the UI thread it keeps draining the UI-call queue, so a
    // thread that makes one last Synchronize after its loop still ends. Returns at once for a
    // thread never started, and when called from the thread itself (joining oneself would hang).
    void WaitFor();
    // What escaped Execute, if anything; the thread ends normally instead of taking the process
    // down. Read it after WaitFor.
    std::exception_ptr FatalException() const { return FFatal; }

    // Runs fn on the UI thread and waits for it; on the UI thread itself fn runs at once.
    // An exception thrown by fn is re-raised here.
    static void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FStarted = false;
    std::exception_ptr FFatal;
    std::mutex FEndLock; // guards the end notification and the join
    std::condition_variable FEndCond;
};

} // namespace vorlen

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace vorlen {

// The user-interface call queue. Worker threads hand functions to the UI thread through it
// (TThread::Synchronize) and block until they have run. The UI thread is whichever thread called
// MarkUiThread (the program's main thread; a test's own thread). A window toolkit installs a
// wake-up so that its event loop drains the queue; without one, the UI thread must call
// DrainUiQueue itself.
namespace ui {
void MarkUiThread();
bool IsUiThread();
// Called (from any thread) after a call has been queued; the Qt side posts a queued invocation
// of DrainUiQueue to its event loop. Pass an empty function to remove it.
void SetWakeup(std::function<void()> wakeup);
// Runs every queued call on the calling (UI) thread; returns how many ran.
int DrainUiQueue();
// Blocks the UI thread until a call is queued or `stop` returns true; used by waits that must
// keep serving Synchronize (TThread::WaitFor on the UI thread).
void WaitAndDrainUntil(const std::function<bool()>& stop);
} // namespace ui

// A worker thread: created suspended, started once with Start, asked to stop with Terminate.
class TThread {
public:
    TThread();
    virtual ~TThread(); // joins; a started thread must have been asked to stop
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // Waits for Execute to return. On the UI thread it keeps draining the UI-call queue, so a
    // thread that makes one last Synchronize after its loop still ends. Returns at once for a
    // thread never started.
    void WaitFor();

    // Runs fn on the UI thread and waits for it; on the UI thread itself fn runs at once.
    // An exception thrown by fn is re-raised here.
    static void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;

private:
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FStarted = false;
};

} // namespace vorlen

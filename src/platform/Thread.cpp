#include "platform/Thread.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace vorlen {

namespace {

// One Synchronize in flight. It lives on the waiting worker's stack: the drainer must not touch
// it once Done is set, because the worker may already have returned.
struct TUiCall {
    const std::function<void()>* Fn = nullptr;
    std::exception_ptr Error;
    bool Done = false;
};

struct TUiQueue {
    std::mutex Lock;
    // The UI thread sleeps on Queued (a call arrived, or a waiter was woken); workers sleep on
    // Ran until their own call is done.
    std::condition_variable Queued;
    std::condition_variable Ran;
    std::deque<TUiCall*> Calls;
    std::uint64_t Wakes = 0;
    std::shared_ptr<const std::function<void()>> Wakeup;
    // Written under Lock so that "is anyone the UI thread?" and "queue the call" are one step;
    // atomic so that IsUiThread, asked on every Synchronize, needs no lock.
    std::atomic<std::thread::id> UiThread{};
    // Serialises calls that run on their own thread while no UI thread is marked. Recursive: such
    // a call may itself synchronise.
    std::recursive_mutex Direct;
};

// The TThread whose Execute runs on this thread, so a thread can recognise itself without
// reading the std::thread object that another waiter may be joining.
thread_local const TThread* CurrentThread = nullptr;

TUiQueue& Queue() {
    static TUiQueue queue;
    return queue;
}

void CallWakeup(const std::shared_ptr<const std::function<void()>>& wakeup) {
    if (!wakeup || !*wakeup)
        return;
    try {
        (*wakeup)();
    } catch (...) {
        // The call is queued whatever the toolkit thinks of the poke; a WaitFor or the next
        // successful wake-up drains it. Letting this escape would abandon a queued pointer.
    }
}

// Runs queued calls one at a time, so calls queued meanwhile run too and in their order.
int RunQueuedCalls(TUiQueue& q) {
    int ran = 0;
    for (;;) {
        TUiCall* call = nullptr;
        {
            std::lock_guard lock(q.Lock);
            if (q.Calls.empty())
                break;
            call = q.Calls.front();
            q.Calls.pop_front();
        }
        std::exception_ptr error;
        try {
            (*call->Fn)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(q.Lock);
            call->Error = std::move(error);
            call->Done = true;
        }
        q.Ran.notify_all();
        ++ran;
    }
    return ran;
}

} // namespace

namespace ui {

void MarkUiThread() {
    TUiQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    q.UiThread.store(std::this_thread::get_id());
}

void UnmarkUiThread() {
    TUiQueue& q = Queue();
    if (!IsUiThread())
        return;
    // Held across the hand-over so that leftover queued calls and new direct calls never run at
    // the same time.
    std::lock_guard direct(q.Direct);
    {
        std::lock_guard lock(q.Lock);
        q.UiThread.store(std::thread::id());
    }
    RunQueuedCalls(q);
}

bool IsUiThread() {
    const std::thread::id ui = Queue().UiThread.load();
    return ui != std::thread::id() && ui == std::this_thread::get_id();
}

void SetWakeup(std::function<void()> wakeup) {
    TUiQueue& q = Queue();
    std::shared_ptr<const std::function<void()>> installed;
    bool pending = false;
    if (wakeup)
        installed = std::make_shared<const std::function<void()>>(std::move(wakeup));
    {
        std::lock_guard lock(q.Lock);
        q.Wakeup = installed;
        pending = !q.Calls.empty();
    }
    // Calls queued before the wake-up existed would otherwise wait for the next Synchronize.
    if (pending)
        CallWakeup(installed);
}

int DrainUiQueue() {
    if (!IsUiThread())
        return 0;
    return RunQueuedCalls(Queue());
}

namespace {

// Waits until `stop` or, when `deadline` is set, until then; true for `stop`.
bool DrainUntil(const std::function<bool()>& stop,
                std::optional<std::chrono::steady_clock::time_point> deadline) {
    TUiQueue& q = Queue();
    const bool ui = IsUiThread();
    for (;;) {
        if (ui)
            RunQueuedCalls(q);
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(q.Lock);
            seen = q.Wakes;
        }
        // Read after `seen`: a wake that lands after this evaluation changes Wakes, so the wait
        // below cannot miss it.
        if (stop())
            return true;
        std::unique_lock lock(q.Lock);
        const auto woken = [&] { return (ui && !q.Calls.empty()) || q.Wakes != seen; };
        if (!deadline) {
            q.Queued.wait(lock, woken);
        } else if (!q.Queued.wait_until(lock, *deadline, woken)) {
            lock.unlock();
            return stop();
        }
    }
}

} // namespace

void WaitAndDrainUntil(const std::function<bool()>& stop) {
    DrainUntil(stop, std::nullopt);
}

bool WaitAndDrainFor(const std::function<bool()>& stop, std::chrono::milliseconds limit) {
    return DrainUntil(stop, std::chrono::steady_clock::now() + limit);
}

void WakeUiWaiter() {
    TUiQueue& q = Queue();
    {
        std::lock_guard lock(q.Lock);
        ++q.Wakes;
    }
    q.Queued.notify_all();
}

} // namespace ui

TThread::TThread() = default;

TThread::~TThread() {
    if (!FThread.joinable())
        return;
    if (CurrentThread == this) {
        // Destroyed from its own Execute: nobody can join it, and std::thread must not be left
        // joinable.
        FThread.detach();
        return;
    }
    Terminate();
    WaitFor();
}

void TThread::Start() {
    if (FStarted)
        return;
    FThread = std::thread([this] { Run(); });
    FStarted = true;
}

bool TThread::Restart() {
    if (!FStarted) {
        Start();
        return true;
    }
    if (!Finished())
        return false;
    WaitFor();
    FFatal = nullptr;
    FTerminated.store(false, std::memory_order_release);
    FFinished.store(false, std::memory_order_release);
    FThread = std::thread([this] { Run(); });
    return true;
}

void TThread::Run() {
    CurrentThread = this;
    try {
        Execute();
    } catch (...) {
        FFatal = std::current_exception();
    }
    {
        std::lock_guard lock(FEndLock);
        FFinished.store(true, std::memory_order_release);
        FEndCond.notify_all();
    }
    ui::WakeUiWaiter();
}

void TThread::WaitFor() {
    if (!FStarted || CurrentThread == this)
        return;
    if (ui::IsUiThread()) {
        ui::WaitAndDrainUntil([this] { return Finished(); });
    } else {
        std::unique_lock lock(FEndLock);
        FEndCond.wait(lock, [this] { return Finished(); });
    }
    // Execute has returned, so the join is short; the lock keeps two waiters from joining twice.
    std::lock_guard lock(FEndLock);
    if (FThread.joinable())
        FThread.join();
}

void TThread::Synchronize(const std::function<void()>& fn) {
    if (!fn)
        return;
    if (ui::IsUiThread()) {
        // Queueing to ourselves would wait for a drain that can only happen after we return.
        fn();
        return;
    }
    TUiQueue& q = Queue();
    TUiCall call;
    call.Fn = &fn;
    std::shared_ptr<const std::function<void()>> wakeup;
    {
        std::unique_lock lock(q.Lock);
        if (q.UiThread.load() == std::thread::id()) {
            lock.unlock();
            std::lock_guard direct(q.Direct);
            fn();
            return;
        }
        q.Calls.push_back(&call);
        wakeup = q.Wakeup;
    }
    q.Queued.notify_all();
    CallWakeup(wakeup);
    {
        std::unique_lock lock(q.Lock);
        q.Ran.wait(lock, [&] { return call.Done; });
    }
    if (call.Error)
        std::rethrow_exception(call.Error);
}

} // namespace vorlen

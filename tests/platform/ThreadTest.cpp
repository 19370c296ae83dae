#include "platform/Thread.h"

#include "platform/Events.h"
#include "platform/Journal.h"

#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorlen {
namespace {

// A worker whose body the test supplies. Like every owner in the program, it stops and waits for
// its thread before its own members go away.
class TFnThread final : public TThread {
public:
    explicit TFnThread(std::function<void(TFnThread&)> body) : FBody(std::move(body)) {}
    ~TFnThread() override {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TFnThread&)> FBody;
};

// The test's own thread plays the UI thread.
class SynchronizeTest : public ::testing::Test {
protected:
    void SetUp() override { ui::MarkUiThread(); }
    void TearDown() override {
        ui::SetWakeup({});
        ui::UnmarkUiThread();
    }
};

TEST_F(SynchronizeTest, CallsFromSeveralThreadsRunOnTheUiThreadInOrder) {
    constexpr int Threads = 4;
    constexpr int Calls = 200;
    // Touched only inside synchronised calls: any call run off the UI thread, or two at once,
    // shows up as a wrong result here and as a race under ThreadSanitizer.
    int offUiThread = 0;
    std::vector<std::vector<int>> seen(Threads);
    std::atomic<int> returnedEarly{0};

    std::vector<std::unique_ptr<TFnThread>> workers;
    workers.reserve(Threads);
    for (int t = 0; t < Threads; ++t) {
        workers.push_back(std::make_unique<TFnThread>([&, t](TFnThread&) {
            for (int i = 0; i < Calls; ++i) {
                bool ran = false;
                TThread::Synchronize([&] {
                    ran = true;
                    if (!ui::IsUiThread())
                        ++offUiThread;
                    seen[static_cast<std::size_t>(t)].push_back(i);
                });
                if (!ran)
                    ++returnedEarly;
            }
        }));
    }
    for (auto& w : workers)
        w->Start();
    for (auto& w : workers)
        w->WaitFor();

    EXPECT_EQ(offUiThread, 0);
    EXPECT_EQ(returnedEarly.load(), 0);
    for (const auto& calls : seen) {
        ASSERT_EQ(calls.size(), static_cast<std::size_t>(Calls));
        for (int i = 0; i < Calls; ++i)
            EXPECT_EQ(calls[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(SynchronizeTest, ExceptionInsideTheCallReachesTheWorker) {
    std::string caught;
    bool laterCallRan = false;
    TFnThread worker([&](TFnThread&) {
        try {
            TThread::Synchronize([] { throw std::runtime_error("нет связи"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        // The failed call must not leave the queue stuck for the next one.
        TThread::Synchronize([&] { laterCallRan = true; });
    });
    worker.Start();
    worker.WaitFor();

    EXPECT_EQ(caught, "нет связи");
    EXPECT_TRUE(laterCallRan);
    EXPECT_EQ(worker.FatalException(), nullptr);
}

TEST_F(SynchronizeTest, OnTheUiThreadRunsAtOnceAndThrowsDirectly) {
    bool ran = false;
    TThread::Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(ui::DrainUiQueue(), 0);
    EXPECT_THROW(TThread::Synchronize([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST_F(SynchronizeTest, WaitForOnTheUiThreadServesALastCallAfterTheLoop) {
    TEventSet events(2); // 0: exit, 1: work
    TMemoryJournal journal;
    TFnThread worker([&](TFnThread& self) {
        while (!self.Terminated()) {
            if (events.WaitAny() == 0)
                break;
        }
        TThread::Synchronize([&] { journal.AppendLine("поток остановлен"); });
    });
    worker.Start();
    worker.Terminate();
    events.Signal(0);
    worker.WaitFor();

    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(journal.Lines, std::vector<std::string>{"поток остановлен"});
}

TEST_F(SynchronizeTest, WakeupIsCalledAfterEachCallIsQueued) {
    // A stand-in for the toolkit's event loop: every wake-up posts one "drain" message.
    std::mutex lock;
    std::condition_variable posted;
    int messages = 0;
    ui::SetWakeup([&] {
        std::lock_guard guard(lock);
        ++messages;
        posted.notify_one();
    });

    constexpr int Calls = 50;
    int ran = 0;
    TFnThread worker([&](TFnThread&) {
        for (int i = 0; i < Calls; ++i)
            TThread::Synchronize([&] { ++ran; });
    });
    worker.Start();
    int drained = 0;
    for (int i = 0; i < Calls; ++i) {
        {
            std::unique_lock guard(lock);
            posted.wait(guard, [&] { return messages > 0; });
            --messages;
        }
        drained += ui::DrainUiQueue();
    }
    // Had a wake-up come before its call was queued, the last drain would have found nothing.
    EXPECT_EQ(drained, Calls);
    worker.WaitFor();
    ui::SetWakeup({});
    EXPECT_EQ(ran, Calls);
}

TEST_F(SynchronizeTest, UnmarkingRunsWaitingCallsThenCallsRunOnTheirOwnThread) {
    std::promise<void> queued;
    ui::SetWakeup([&] { queued.set_value(); });
    std::thread::id firstRanOn;
    std::thread::id secondRanOn;
    std::thread::id workerId;
    TFnThread worker([&](TFnThread&) {
        workerId = std::this_thread::get_id();
        TThread::Synchronize([&] { firstRanOn = std::this_thread::get_id(); });
        TThread::Synchronize([&] { secondRanOn = std::this_thread::get_id(); });
    });
    worker.Start();
    queued.get_future().wait();
    // A wake-up installed while a call waits pokes at once; it would otherwise wait for the next.
    int pokes = 0;
    ui::SetWakeup([&] { ++pokes; });
    EXPECT_EQ(pokes, 1);
    ui::SetWakeup({});

    ui::UnmarkUiThread();
    EXPECT_FALSE(ui::IsUiThread());
    worker.WaitFor();
    EXPECT_EQ(firstRanOn, std::this_thread::get_id());
    EXPECT_EQ(secondRanOn, workerId);
}

TEST(SynchronizeWithoutUiThreadTest, RunsOnTheCallerOneCallAtATime) {
    ui::UnmarkUiThread();
    constexpr int Threads = 4;
    constexpr int Calls = 500;
    int total = 0; // unguarded on purpose: only the serialisation protects it
    std::vector<std::unique_ptr<TFnThread>> workers;
    workers.reserve(Threads);
    for (int t = 0; t < Threads; ++t) {
        workers.push_back(std::make_unique<TFnThread>([&](TFnThread&) {
            for (int i = 0; i < Calls; ++i)
                TThread::Synchronize([&] {
                    const int before = total;
                    std::this_thread::yield();
                    total = before + 1;
                });
        }));
    }
    for (auto& w : workers)
        w->Start();
    for (auto& w : workers)
        w->WaitFor();
    EXPECT_EQ(total, Threads * Calls);
}

// A thread that ignores everything but the terminate request, left running by its owner.
class TForgottenThread final : public TThread {
public:
    TForgottenThread(std::atomic<bool>& looping, std::atomic<bool>& left)
        : FLooping(looping), FLeft(left) {}

protected:
    void Execute() override {
        std::atomic<bool>& left = FLeft;
        FLooping.store(true);
        while (!Terminated())
            std::this_thread::yield();
        left.store(true);
    }

private:
    std::atomic<bool>& FLooping;
    std::atomic<bool>& FLeft;
};

TEST(ThreadLifecycleTest, CreatedSuspendedStartedOnce) {
    ui::MarkUiThread();
    std::atomic<int> runs{0};
    {
        TFnThread never([&](TFnThread&) { ++runs; });
        never.WaitFor(); // on the UI thread, then off it through the destructor
        EXPECT_FALSE(never.Started());
        EXPECT_FALSE(never.Finished());
    }
    ui::UnmarkUiThread();
    EXPECT_EQ(runs.load(), 0);

    TFnThread worker([&](TFnThread&) { ++runs; });
    worker.Start();
    worker.Start();
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(runs.load(), 1);
}

TEST(ThreadLifecycleTest, ExceptionEscapingExecuteIsKeptNotFatal) {
    TFnThread worker([](TFnThread&) { throw std::out_of_range("поле"); });
    worker.Start();
    worker.WaitFor();
    ASSERT_NE(worker.FatalException(), nullptr);
    EXPECT_THROW(std::rethrow_exception(worker.FatalException()), std::out_of_range);
}

TEST(ThreadLifecycleTest, DestroyingARunningThreadStopsAndJoinsIt) {
    std::atomic<bool> looping{false};
    std::atomic<bool> left{false};
    auto thread = std::make_unique<TForgottenThread>(looping, left);
    thread->Start();
    while (!looping.load())
        std::this_thread::yield();
    thread.reset();
    EXPECT_TRUE(left.load());
}

} // namespace
} // namespace vorlen

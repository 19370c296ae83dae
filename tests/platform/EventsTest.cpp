#include "platform/Events.h"

#include <gtest/gtest.h>
#include <thread>

namespace vorlen {
namespace {

TEST(EventSetTest, ServesLowestSignalledFirstAndCoalescesRepeats) {
    // The grid updater's shape: eight events, exit at 0 outranking the seven table events.
    TEventSet events(8);
    for (const unsigned i : {5u, 2u, 2u, 7u, 5u, 0u})
        events.Event(i).Set();
    for (const unsigned expected : {0u, 2u, 5u, 7u})
        EXPECT_EQ(events.WaitAny(), expected);
    // Each event was reset as it was served, and the repeats left nothing behind.
    EXPECT_EQ(events.WaitAnyFor(0), events.Count());
}

TEST(EventSetTest, HandlesAndIndicesOutsideTheSetDoNothing) {
    TEventSet wide(100);
    EXPECT_EQ(wide.Count(), 64u);
    wide.Signal(64);
    EXPECT_EQ(wide.WaitAnyFor(0), 64u);
    wide.Signal(63);
    EXPECT_EQ(wide.WaitAny(), 63u);

    TEvent nothing;
    EXPECT_FALSE(nothing);
    nothing.Set();
    TEventSet small(3);
    small.Event(3).Set();
    EXPECT_EQ(small.WaitAnyFor(0), 3u);
}

TEST(EventSetTest, SignalFromAnotherThreadWakesTheWaiter) {
    TEventSet events(5);
    std::thread signaller([&] { events.Signal(4); });
    EXPECT_EQ(events.WaitAny(), 4u);
    signaller.join();

    // The timed wait must return the event, not report a time-out, when the signal comes first
    // or while it waits.
    std::thread again([&] { events.Signal(1); });
    EXPECT_EQ(events.WaitAnyFor(60'000), 1u);
    again.join();
}

TEST(EventSetTest, PingPongLosesNoSignal) {
    // A lost wake-up hangs this test; a wrong index shows as a mismatch.
    constexpr int Rounds = 2000;
    TEventSet work(8); // 0 ends the exchange
    TEventSet ack(1);
    std::thread producer([&] {
        for (int i = 0; i < Rounds; ++i) {
            work.Signal(1 + static_cast<unsigned>(i % 7));
            ack.WaitAny();
        }
        work.Signal(0);
    });
    int served = 0;
    int wrong = 0;
    for (;;) {
        const unsigned index = work.WaitAny();
        if (index == 0)
            break;
        if (index != 1 + static_cast<unsigned>(served % 7))
            ++wrong;
        ++served;
        ack.Signal(0);
    }
    producer.join();
    EXPECT_EQ(served, Rounds);
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace vorlen

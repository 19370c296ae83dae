// The per-message clock agrees with the system's wall clock, before and after it has a rate, and
// while another thread calibrates it.

#include "platform/TickClock.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace vorlen::platform {
namespace {

std::int64_t SystemNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Within a few milliseconds of the system clock: a tenth of a second's calibration may be off
// by a few parts in a million, and a busy machine may stall a thread between two readings.
void ExpectNearSystem(const TTickClock& clock) {
    const std::int64_t before = SystemNs();
    const std::int64_t t = clock.NowNs();
    const std::int64_t after = SystemNs();
    EXPECT_GE(t, before - 5'000'000);
    EXPECT_LE(t, after + 5'000'000);
}

TEST(TickClock, FollowsTheWallClockThroughCalibrationsFromAnotherThread) {
    TTickClock clock;
    ExpectNearSystem(clock); // no rate yet
    clock.Calibrate();       // too soon to take one
    ExpectNearSystem(clock);

    std::atomic<bool> stop{false};
    std::thread calibrator([&] {
        while (!stop) {
            clock.Calibrate();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    std::int64_t last = clock.NowNs();
    std::int64_t backwards = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::int64_t t = clock.NowNs();
        backwards = std::max(backwards, last - t);
        last = t;
        ExpectNearSystem(clock);
    }
    stop = true;
    calibrator.join();
    // A calibration may step a reading back, by no more than the rate's error over its span.
    EXPECT_LT(backwards, 1'000'000);
    ExpectNearSystem(clock);
}

} // namespace
} // namespace vorlen::platform

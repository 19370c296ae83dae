#include "platform/TickClock.h"

#include "platform/Compiler.h"

#include <chrono>

namespace vorlen::platform {

namespace {

constexpr int kShift = 24;
// A rate measured over less than this is too rough to use.
constexpr std::int64_t kMinSpanNs = 20'000'000;
// Ticks since the anchor the product below holds without overflow at any rate of a counter
// faster than 100 MHz; a reader that finds more (calibration stopped) reads the system clock.
constexpr std::uint64_t kMaxTicks = std::uint64_t{1} << 36;

std::int64_t SystemNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t Ticks() noexcept {
    return TimeStampCounter();
}

} // namespace

TTickClock::TTickClock() : FStartNs(SystemNs()), FStartTicks(Ticks()) {}

std::int64_t TTickClock::NowNs() const noexcept {
    for (;;) {
        // Acquiring loads, not a fence, keep the second reading of the sequence after them:
        // ThreadSanitizer does not follow fences, and on x86 either is a plain load.
        const std::uint32_t seq = FSeq.load(std::memory_order_acquire);
        const std::uint64_t rate = FRate.load(std::memory_order_acquire);
        const std::int64_t baseNs = FBaseNs.load(std::memory_order_acquire);
        const std::uint64_t baseTicks = FBaseTicks.load(std::memory_order_acquire);
        if ((seq & 1u) != 0 || FSeq.load(std::memory_order_relaxed) != seq)
            continue;
        const std::uint64_t ticks = Ticks() - baseTicks;
        if (rate == 0 || ticks > kMaxTicks)
            return SystemNs();
        return baseNs + static_cast<std::int64_t>((ticks * rate) >> kShift);
    }
}

void TTickClock::Calibrate() noexcept {
    if (!VORLEN_HAS_TSC)
        return;
    // The counter is read between two readings of the system clock, and their middle taken.
    const std::int64_t before = SystemNs();
    const std::uint64_t ticks = Ticks();
    const std::int64_t now = before + (SystemNs() - before) / 2;
    const std::int64_t spanNs = now - FStartNs;
    const std::uint64_t spanTicks = ticks - FStartTicks;
    if (spanNs < kMinSpanNs || spanTicks == 0 || spanTicks > (std::uint64_t{1} << 62))
        return;
    // Nanoseconds per tick, scaled; a counter slower than 1 ns a tick is left alone.
    const auto rate = static_cast<std::uint64_t>(
        (static_cast<double>(spanNs) / static_cast<double>(spanTicks)) * (1u << kShift));
    if (rate == 0 || rate > (std::uint64_t{1} << kShift) * 10)
        return;
    const std::uint32_t seq = FSeq.load(std::memory_order_relaxed);
    // Releasing stores keep the odd sequence before them, as the readers' loads expect.
    FSeq.store(seq + 1, std::memory_order_relaxed);
    FBaseNs.store(now, std::memory_order_release);
    FBaseTicks.store(ticks, std::memory_order_release);
    FRate.store(rate, std::memory_order_release);
    FSeq.store(seq + 2, std::memory_order_release);
}

} // namespace vorlen::platform

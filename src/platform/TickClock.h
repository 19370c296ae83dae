#pragma once

// A wall clock in nanoseconds, cheap enough to read for every message a connection receives.
//
// The system's precise clock costs tens of nanoseconds a read on a virtual machine, as much as
// applying a row to the replica. Where the processor has a time stamp counter, this clock reads
// it and converts the ticks with a rate taken from the system clock: Calibrate(), called now and
// then from a thread that can afford the system clock (every tenth of a second or so), measures
// the rate over the whole time since the clock was made and re-anchors the conversion at the
// reading it just took, so an error in the rate never builds up past one calibration's span.
// Until the first rate is known, and where there is no counter, the system clock is read.
// Readings may step back by a little at a calibration; callers that need order keep it.

#include <atomic>
#include <cstdint>

namespace vorlen::platform {

class TTickClock {
public:
    TTickClock();
    // Nanoseconds since 1970 UTC; any thread.
    std::int64_t NowNs() const noexcept;
    // One thread at a time.
    void Calibrate() noexcept;

private:
    // The anchor of the conversion: ns = BaseNs + ((ticks - BaseTicks) * Rate >> kShift). A
    // sequence number, odd while a calibration writes, lets readers take the three together.
    std::atomic<std::uint32_t> FSeq{0};
    std::atomic<std::int64_t> FBaseNs{0};
    std::atomic<std::uint64_t> FBaseTicks{0};
    std::atomic<std::uint64_t> FRate{0}; // 0: not known yet
    // The first reading, which every calibration measures the rate from.
    std::int64_t FStartNs = 0;
    std::uint64_t FStartTicks = 0;
};

} // namespace vorlen::platform

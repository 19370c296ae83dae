#pragma once

// Clocks read for every order, where a few milliseconds of resolution are plenty.
//
// The precise clocks cost a tenth of a microsecond a read on a virtual machine (the time stamp
// counter and the hypervisor's clock page); these read only what the system's tick last wrote.
// Their resolution is the tick, a few milliseconds, which rules counted in seconds and minutes
// do not feel.

#include <cstdint>
#include <functional>

namespace vorlen::platform {

// Milliseconds since the epoch, as of the last tick.
std::int64_t CoarseWallMs() noexcept;
// Milliseconds of a clock that never goes back, as of the last tick.
std::int64_t CoarseSteadyMs() noexcept;

// Milliseconds of a clock that never goes back, handed to what a test wants to set the time of.
using TMsClock = std::function<std::int64_t()>;

} // namespace vorlen::platform

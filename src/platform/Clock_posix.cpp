#include "platform/Clock.h"

#include <time.h>

namespace vorlen::platform {

namespace {

// The tick's clocks are Linux's; elsewhere the precise ones stand in.
#if defined(CLOCK_REALTIME_COARSE) && defined(CLOCK_MONOTONIC_COARSE)
constexpr clockid_t kWall = CLOCK_REALTIME_COARSE, kSteady = CLOCK_MONOTONIC_COARSE;
#else
constexpr clockid_t kWall = CLOCK_REALTIME, kSteady = CLOCK_MONOTONIC;
#endif

std::int64_t Ms(clockid_t clock) noexcept {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

} // namespace

std::int64_t CoarseWallMs() noexcept {
    return Ms(kWall);
}

std::int64_t CoarseSteadyMs() noexcept {
    return Ms(kSteady);
}

} // namespace vorlen::platform

#include "platform/Clock.h"

#include <time.h>

namespace vorlen::platform {

namespace {

[[gnu::hot]] std::int64_t Read(clockid_t clock, clockid_t fallback) noexcept {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        clock_gettime(fallback, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

} // namespace

[[gnu::hot]] std::int64_t CoarseWallMs() noexcept {
#if defined(CLOCK_REALTIME_COARSE)
    return Read(CLOCK_REALTIME_COARSE, CLOCK_REALTIME);
#else
    return Read(CLOCK_REALTIME, CLOCK_REALTIME);
#endif
}

[[gnu::hot]] std::int64_t CoarseSteadyMs() noexcept {
#if defined(CLOCK_MONOTONIC_COARSE)
    return Read(CLOCK_MONOTONIC_COARSE, CLOCK_MONOTONIC);
#else
    return Read(CLOCK_MONOTONIC, CLOCK_MONOTONIC);
#endif
}

} // namespace vorlen::platform

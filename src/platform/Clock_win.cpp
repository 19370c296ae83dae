#include "platform/Clock.h"
#include "platform/WinApi.h"

namespace vorlen::platform {

std::int64_t CoarseWallMs() noexcept {
    // The system time is itself kept to the tick; 100 ns units since 1601.
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    const std::int64_t units =
        (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr std::int64_t kEpochUnits = 116'444'736'000'000'000; // 1970 in 1601's units
    return (units - kEpochUnits) / 10'000;
}

std::int64_t CoarseSteadyMs() noexcept {
    return static_cast<std::int64_t>(GetTickCount64());
}

} // namespace vorlen::platform

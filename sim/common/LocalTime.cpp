#include "LocalTime.h"

namespace vsim {

std::tm LocalTm(std::chrono::system_clock::time_point now) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &secs);
#else
    localtime_r(&secs, &tm);
#endif
    return tm;
}

Time LocalTime(std::chrono::system_clock::time_point now) {
    const std::tm tm = LocalTm(now);
    Time t;
    t.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<std::uint8_t>(tm.tm_mon + 1);
    t.day = static_cast<std::uint8_t>(tm.tm_mday);
    t.hour = static_cast<std::uint8_t>(tm.tm_hour);
    t.minute = static_cast<std::uint8_t>(tm.tm_min);
    t.second = static_cast<std::uint8_t>(tm.tm_sec);
    t.msec = static_cast<std::uint16_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return t;
}

Time LocalTimeNs(std::int64_t ns) {
    using namespace std::chrono;
    return LocalTime(
        system_clock::time_point(duration_cast<system_clock::duration>(nanoseconds(ns))));
}

} // namespace vsim

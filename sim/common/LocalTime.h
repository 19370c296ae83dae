#pragma once

// Calendar fields of a moment in the machine's time zone, as the exchange's rows carry them.

#include "Row.h"

#include <chrono>
#include <cstdint>
#include <ctime>

namespace vsim {

std::tm LocalTm(std::chrono::system_clock::time_point t);
Time LocalTime(std::chrono::system_clock::time_point t);
// The same for nanoseconds since 1970, a recording's receive times.
Time LocalTimeNs(std::int64_t ns);

} // namespace vsim

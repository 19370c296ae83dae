#pragma once

// Time to expiry as the pricing takes it: actual days over 365, from now to the series' last
// moment of trading as the exchange states it, in Moscow time (UTC+3 all year since 2014).

#include <chrono>

namespace vorlen::options {

inline constexpr int kExchangeUtcOffsetHours = 3;

// A moment of the exchange's calendar as the gateway's time fields carry it: whole days since
// 30 December 1899 and the time of day as their fraction.
double ExchangeDaysToUnixSeconds(double days);

// Years from `now` to an exchange-time moment; negative once it has passed.
double YearsUntil(double exchangeDays, std::chrono::system_clock::time_point now);

// The same moment built from its calendar fields, for callers that have them apart.
double ExchangeDays(int year, int month, int day, int hour, int minute, int second = 0) noexcept;

} // namespace vorlen::options

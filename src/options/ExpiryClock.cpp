#include "options/ExpiryClock.h"

namespace vorlen::options {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// 1 January 1970 counted from 30 December 1899.
constexpr double kUnixEpochDays = 25569.0;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

} // namespace

double ExchangeDaysToUnixSeconds(double days) {
    return (days - kUnixEpochDays) * kSecondsPerDay - kExchangeUtcOffsetHours * 3600.0;
}

double YearsUntil(double exchangeDays, std::chrono::system_clock::time_point now) {
    const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    return (ExchangeDaysToUnixSeconds(exchangeDays) - nowSeconds) / (365.0 * kSecondsPerDay);
}

double ExchangeDays(int year, int month, int day, int hour, int minute, int second) noexcept {
    const auto civil = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)));
    return kUnixEpochDays + civil + (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
}

} // namespace vorlen::options

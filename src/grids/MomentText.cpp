#include "grids/MomentText.h"

#include "store/FieldConversion.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

namespace vorlen {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// 1 January 1970 in days since 30 December 1899.
constexpr std::int64_t kUnixEpochDays = 25'569;

void AppendPadded(std::string& out, int value, std::size_t width) {
    const std::string digits = std::to_string(value < 0 ? -value : value);
    for (std::size_t n = digits.size(); n < width; ++n)
        out += '0';
    out += digits;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FormatLongTime(int hour, int minute, int second, int millisecond,
                           const TFormatSettings& fs) {
    const std::string_view format =
        fs.LongTimeFormat.empty() ? std::string_view("hh:nn:ss") : fs.LongTimeFormat;
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const char letter = Lower(c);
        if (letter == 'h' || letter == 'n' || letter == 'm' || letter == 's' || letter == 'z') {
            std::size_t run = 1;
            while (i + run < format.size() && Lower(format[i + run]) == letter)
                ++run;
            i += run;
            // In a time format "m" can only mean minutes.
            if (letter == 'h')
                AppendPadded(out, hour, run >= 2 ? 2 : 1);
            else if (letter == 'n' || letter == 'm')
                AppendPadded(out, minute, run >= 2 ? 2 : 1);
            else if (letter == 's')
                AppendPadded(out, second, run >= 2 ? 2 : 1);
            else
                AppendPadded(out, millisecond, run >= 3 ? 3 : 1);
            continue;
        }
        if (c == '\'' || c == '"') {
            const std::size_t close = format.find(c, i + 1);
            const std::size_t stop = close == std::string_view::npos ? format.size() : close;
            out.append(format.substr(i + 1, stop - i - 1));
            i = close == std::string_view::npos ? format.size() : close + 1;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

std::string MomentText(const TDateTime& moment, const TFormatSettings& fs) {
    if (!std::isfinite(moment.Days) || std::fabs(moment.Days) > 3.0e6)
        return {};
    // Whole days count from the epoch; the time of day is the fraction's size, also for dates
    // before the epoch.
    auto days = static_cast<std::int64_t>(std::trunc(moment.Days));
    auto ms = static_cast<std::int64_t>(
        std::llround(std::fabs(moment.Days - static_cast<double>(days)) * kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += moment.Days < 0 ? -1 : 1;
    }
    using namespace std::chrono;
    const year_month_day ymd{sys_days{std::chrono::days{days - kUnixEpochDays}}};
    const int year = static_cast<int>(ymd.year());
    if (year < 1 || year > 9999)
        return {};
    std::string text = FormatShortDate(year, static_cast<int>(static_cast<unsigned>(ymd.month())),
                                       static_cast<int>(static_cast<unsigned>(ymd.day())), fs);
    if (ms == 0)
        return text;
    const auto ms32 = static_cast<int>(ms);
    text += ' ';
    text += FormatLongTime(ms32 / 3'600'000, ms32 / 60'000 % 60, ms32 / 1000 % 60, ms32 % 1000, fs);
    return text;
}

std::string MomentText(const TValue& moment, const TFormatSettings& fs) {
    return std::visit(
        [&](const auto& x) -> std::string {
            using X = std::decay_t<decltype(x)>;
            // A flag is no moment, though it is arithmetic.
            if constexpr (std::is_same_v<X, TDateTime>)
                return MomentText(x, fs);
            else if constexpr (std::is_arithmetic_v<X> && !std::is_same_v<X, bool>)
                return MomentText(TDateTime{static_cast<double>(x)}, fs);
            else
                return ValueToStr(moment, fs);
        },
        moment);
}

} // namespace vorlen

#include "store/FieldConversion.h"

#include "gateway/Cgate.h"
#include "platform/CodePage.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace vorlen {

// Gateway integers are little-endian and read with a plain copy.
static_assert(std::endian::native == std::endian::little);

namespace {

// Day number of 30 December 1899, the zero of a date-time, counted from 1 January 1970.
constexpr std::int64_t kDateTimeEpoch = -25569;
// Date-times whose whole part is a day of the years 1..9999 lie strictly between these: before
// the epoch the time of day runs away from zero, so 1 January 0001 reaches down to -693593.999...
constexpr double kDateTimeBelowRange = -693594;
constexpr double kDateTimeAboveRange = 2958466;

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's civil-day algorithm).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivilDate {
    std::int64_t Year;
    unsigned Month;
    unsigned Day;
};

constexpr TCivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return {y, m, d};
}

constexpr bool IsLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr unsigned DaysInMonth(unsigned y, unsigned m) {
    constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The gateway's time record as a date-time; empty when the parts are not a real date and time
// of day (an unset time field arrives as all zeros).
TValue TimeToValue(const cg_time_t& t) {
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
        t.msec > 999)
        return {};
    const auto date = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) - kDateTimeEpoch);
    const double time =
        (((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.msec) / 86400000.0;
    // Before the epoch the fraction counts away from zero, so the whole part stays the date.
    return TDateTime{date >= 0 ? date + time : date - time};
}

// Exact powers of ten; beyond 1e22 a double cannot hold them exactly anyway.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double ApplyScale(std::int64_t mantissa, std::int8_t scale) {
    const auto m = static_cast<double>(mantissa);
    const int s = scale < 0 ? -scale : scale;
    const double p = s < static_cast<int>(std::size(kPow10)) ? kPow10[s] : std::pow(10.0, s);
    return scale >= 0 ? m / p : m * p;
}

template <class T>
TValue ReadScalar(const std::uint8_t* p, std::size_t available) {
    if (available < sizeof(T))
        return {};
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

TValue ReadSigned(const std::uint8_t* p, std::size_t available, std::int32_t n) {
    switch (n) {
    case 1:
        return ReadScalar<std::int8_t>(p, available);
    case 2:
        return ReadScalar<std::int16_t>(p, available);
    case 4:
        return ReadScalar<std::int32_t>(p, available);
    case 8:
        return ReadScalar<std::int64_t>(p, available);
    default:
        return {};
    }
}

TValue ReadUnsigned(const std::uint8_t* p, std::size_t available, std::int32_t n) {
    switch (n) {
    case 1:
        return ReadScalar<std::uint8_t>(p, available);
    case 2:
        return ReadScalar<std::uint16_t>(p, available);
    case 4:
        return ReadScalar<std::uint32_t>(p, available);
    case 8:
        return ReadScalar<std::uint64_t>(p, available);
    default:
        return {};
    }
}

template <class T>
void AppendInteger(std::string& out, T v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// A double the way the terminal has always shown it: rounded to 15 significant digits, trailing
// zeros dropped, the locale's decimal separator. Fixed notation while the decimal exponent e of
// the rounded value (value = d.ddd × 10^e) lies in -4..14, so 0.0001 and 999999999999999 stay
// plain; outside it the exponent form "1,5E-5" / "1E15" (no "+", no leading zeros).
void AppendGeneralFloat(std::string& out, double x, char decimalSeparator) {
    if (std::isnan(x)) {
        out += "NAN";
        return;
    }
    if (std::isinf(x)) {
        out += x < 0 ? "-INF" : "INF";
        return;
    }
    if (x == 0) {
        out += '0'; // also for -0: a sign on a zero only confuses a trader
        return;
    }
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
    // buf holds [-]d.dddddddddddddde(+|-)dd[d]
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[15]{};
    int count = 0;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.')
            digits[count++] = *p;
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exponent);
    while (count > 1 && digits[count - 1] == '0')
        --count;

    if (negative)
        out += '-';
    if (exponent < -4 || exponent > 14) {
        out += digits[0];
        if (count > 1) {
            out += decimalSeparator;
            out.append(digits + 1, static_cast<std::size_t>(count - 1));
        }
        out += 'E';
        AppendInteger(out, exponent);
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        if (count <= whole) {
            out.append(digits, static_cast<std::size_t>(count));
            out.append(static_cast<std::size_t>(whole - count), '0');
        } else {
            out.append(digits, static_cast<std::size_t>(whole));
            out += decimalSeparator;
            out.append(digits + whole, static_cast<std::size_t>(count - whole));
        }
    } else {
        out += '0';
        out += decimalSeparator;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits, static_cast<std::size_t>(count));
    }
}

void AppendTwoDigits(std::string& out, unsigned v) {
    out += static_cast<char>('0' + v / 10);
    out += static_cast<char>('0' + v % 10);
}

// "dd/mm/yyyy" with the locale's date separator; the time of day is not shown. A date-time
// outside the years 1..9999 has no such text and shows as nothing.
void AppendDate(std::string& out, double days, char separator) {
    if (!(days > kDateTimeBelowRange && days < kDateTimeAboveRange))
        return;
    const auto date = CivilFromDays(static_cast<std::int64_t>(std::trunc(days)) + kDateTimeEpoch);
    AppendTwoDigits(out, date.Day);
    out += separator;
    AppendTwoDigits(out, date.Month);
    out += separator;
    const auto year = static_cast<unsigned>(date.Year);
    AppendTwoDigits(out, year / 100);
    AppendTwoDigits(out, year % 100);
}

} // namespace

std::int32_t ParseTypeSize(const char* s) {
    if (s == nullptr)
        return 0;
    // Unsigned arithmetic: a long or odd type string wraps instead of overflowing.
    std::uint32_t result = 0;
    for (; *s != '\0'; ++s)
        result = result * 10u + (static_cast<std::uint32_t>(static_cast<unsigned char>(*s)) - 48u);
    return static_cast<std::int32_t>(result);
}

double ScaledDecimal(std::int64_t mantissa, std::int8_t scale) {
    return ApplyScale(mantissa, scale);
}

TValue FieldToVariant(const cg_field_desc_t& f, const void* data, std::size_t dataSize) {
    const char* type = f.fild_type;
    if (data == nullptr || type == nullptr || type[0] == '\0')
        return {};
    if (f.offset > dataSize || f.size > dataSize - f.offset)
        return {};
    const auto* p = static_cast<const std::uint8_t*>(data) + f.offset;
    // Every read below stays inside the message even when a scheme's size disagrees with what
    // its type letter implies.
    const std::size_t available = dataSize - f.offset;

    switch (type[0]) {
    case 'a': {
        if (available < 1)
            return {};
        // A zero byte is an unset character: an empty string rather than one holding a NUL.
        const std::size_t len = p[0] == 0 ? 0 : 1;
        return platform::Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(p), len));
    }
    case 'b':
        return TBytes(p, p + f.size);
    case 'c': {
        const auto* text = reinterpret_cast<const char*>(p);
        const void* end = std::memchr(text, 0, f.size);
        const std::size_t len =
            end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : f.size;
        return platform::Cp1251ToUtf8(std::string_view(text, len));
    }
    case 'd':
    case 's': {
        const auto bcdGet = CG().cg_bcd_get;
        if (bcdGet == nullptr)
            return {};
        std::int64_t mantissa = 0;
        std::int8_t scale = 0;
        if (bcdGet(p, &mantissa, &scale) != 0)
            return {};
        return ApplyScale(mantissa, scale);
    }
    case 'f':
        return ReadScalar<double>(p, available);
    case 'i':
        return ReadSigned(p, available, ParseTypeSize(type + 1));
    case 'u':
        return ReadUnsigned(p, available, ParseTypeSize(type + 1));
    case 't': {
        if (available < sizeof(cg_time_t))
            return {};
        cg_time_t t;
        std::memcpy(&t, p, sizeof t);
        return TimeToValue(t);
    }
    case 'z': {
        if (available < sizeof(std::uint32_t))
            return {};
        std::uint32_t n;
        std::memcpy(&n, p, sizeof n);
        if (n > available - sizeof n)
            return {};
        const std::uint8_t* bytes = p + sizeof n;
        return TBytes(bytes, bytes + n);
    }
    default:
        return {};
    }
}

void AppendValueText(std::string& out, const TValue& v, const TFormatSettings& fs) {
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, bool>)
                out += x ? 'T' : 'F';
            else if constexpr (std::is_integral_v<X>)
                AppendInteger(out, x);
            else if constexpr (std::is_same_v<X, double>)
                AppendGeneralFloat(out, x, fs.DecimalSeparator);
            else if constexpr (std::is_same_v<X, TDateTime>)
                AppendDate(out, x.Days, fs.DateSeparator);
            else if constexpr (std::is_same_v<X, std::string>)
                out += x;
            // empty and byte arrays have no text
        },
        v);
}

std::string ValueToStr(const TValue& v, const TFormatSettings& fs) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    std::string out;
    AppendValueText(out, v, fs);
    return out;
}

std::string ValueToStr(const TValue& v) {
    return ValueToStr(v, FormatSettings());
}

std::int32_t VarAsInteger(const TValue& v) {
    const auto* i = std::get_if<std::int32_t>(&v);
    return i ? *i : kNoInteger;
}

std::int64_t VarAsInt64(const TValue& v) {
    const auto* i = std::get_if<std::int64_t>(&v);
    return i ? *i : kNoInteger;
}

} // namespace vorlen

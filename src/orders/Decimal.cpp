#include "orders/Decimal.h"

#include "platform/Compiler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vorlen {

namespace {

// Eighteen digits: every mantissa and every product below stays inside 64 bits.
constexpr std::int64_t kMaxMantissa = 999'999'999'999'999'999;

bool MulAdd(std::int64_t& acc, std::int64_t mul, std::int64_t add) {
    std::int64_t r = 0;
    if (platform::MulOverflow(acc, mul, r) || platform::AddOverflow(r, add, r))
        return false;
    acc = r;
    return true;
}

bool Pow10(int n, std::int64_t& out) {
    out = 1;
    for (int i = 0; i < n; ++i) {
        if (!MulAdd(out, 10, 0))
            return false;
    }
    return true;
}

bool Rescale(const TDecimal& d, int scale, std::int64_t& out) {
    std::int64_t f = 0;
    out = d.Mantissa;
    return Pow10(scale - d.Scale, f) && MulAdd(out, f, 0);
}

} // namespace

TDecimal Trimmed(TDecimal d, int minScale) {
    while (d.Scale > minScale && d.Mantissa % 10 == 0) {
        d.Mantissa /= 10;
        --d.Scale;
    }
    return d;
}

std::optional<std::int64_t> ToUnits(const TDecimal& d, int scale) {
    const TDecimal t = Trimmed(d, scale);
    std::int64_t out = 0;
    if (t.Scale > scale || !Rescale(t, scale, out))
        return std::nullopt;
    return out;
}

std::optional<TDecimal> ParseDecimal(std::string_view text, int maxScale) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    TDecimal d;
    bool separator = false;
    bool digits = false;
    for (const char c : text) {
        if ((c == '.' || c == ',') && !separator) {
            separator = true;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        digits = true;
        if (separator && d.Scale >= maxScale) {
            // Zeros past the last decimal we keep change nothing; anything else would be lost.
            if (c != '0')
                return std::nullopt;
            continue;
        }
        if (!MulAdd(d.Mantissa, 10, c - '0') || d.Mantissa > kMaxMantissa)
            return std::nullopt;
        if (separator)
            ++d.Scale;
    }
    if (!digits)
        return std::nullopt;
    if (negative)
        d.Mantissa = -d.Mantissa;
    return d;
}

std::optional<TDecimal> DecimalFromDouble(double value) {
    if (!std::isfinite(value) || std::fabs(value) > 1e17)
        return std::nullopt;
    // Most prices a script computes are whole (a step of one): they need no digits written and
    // read back, which on a strategy's tick came to a few microseconds of cold code.
    if (value == std::trunc(value))
        return TDecimal{static_cast<std::int64_t>(value), 0};
    // A double carries fifteen reliable significant digits; arithmetic in a script leaves noise
    // below them (100.1 - 0.01 is 100.08999999999999). Rounding there gives back the number the
    // trader meant, so that rounding to the step afterwards does not fall one step short.
    int intDigits = 1;
    for (double a = std::fabs(value); a >= 10.0 && intDigits < 18; a /= 10.0)
        ++intDigits;
    const int decimals = std::max(0, std::min(kMaxDecimalScale, 15 - intDigits));
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc{})
        return std::nullopt;
    const auto d = ParseDecimal(std::string_view(buf, static_cast<std::size_t>(end - buf)));
    if (!d)
        return std::nullopt;
    return Trimmed(*d);
}

std::string DecimalToString(const TDecimal& d) {
    const bool negative = d.Mantissa < 0;
    // Through the unsigned magnitude: the smallest int64 has no positive twin.
    std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(d.Mantissa)
                               : static_cast<std::uint64_t>(d.Mantissa);
    std::string digits = std::to_string(m);
    if (d.Scale > 0) {
        const auto scale = static_cast<std::size_t>(d.Scale);
        if (digits.size() <= scale)
            digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    return negative ? "-" + digits : digits;
}

std::optional<TDecimal> RoundToStep(const TDecimal& price, const TDecimal& step, TRounding how) {
    if (step.Mantissa <= 0 || price.Scale < 0 || step.Scale < 0)
        return std::nullopt;
    const int scale = std::max(price.Scale, step.Scale);
    std::int64_t p = 0;
    std::int64_t s = 0;
    if (!Rescale(price, scale, p) || !Rescale(step, scale, s))
        return std::nullopt;
    std::int64_t q = p / s;
    const std::int64_t r = p % s;
    // Integer division truncates towards zero; move to the side asked for.
    if (r != 0 && how == TRounding::Down && p < 0)
        --q;
    if (r != 0 && how == TRounding::Up && p > 0)
        ++q;
    TDecimal out{q, step.Scale};
    if (!MulAdd(out.Mantissa, step.Mantissa, 0) || std::llabs(out.Mantissa) > kMaxMantissa)
        return std::nullopt;
    return out;
}

} // namespace vorlen

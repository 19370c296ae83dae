#pragma once

// Exact decimal prices. A strategy hands prices over as text or as Lua numbers, the trader types
// them and files hold them; all end here as a mantissa and a count of decimals, are rounded to the
// instrument's step in integers, and reach an order as whole 1e-5 units. No binary fraction
// reaches an order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlen {

struct TDecimal {
    std::int64_t Mantissa = 0;
    int Scale = 0; // decimals: the value is Mantissa / 10^Scale
};

// The most decimals kept; more digits than this must be zeros.
inline constexpr int kMaxDecimalScale = 12;

// "123", "-0.5", "+7.250", "12,5" (a comma as the separator, as a Russian trader types it).
// Nothing else: no blanks, exponents or digit groups. None when the text is not such a number,
// has digits other than zeros past `maxScale` decimals, or does not fit.
std::optional<TDecimal> ParseDecimal(std::string_view text, int maxScale = kMaxDecimalScale);

// `d` in units of 10^-scale (ToUnits({1250, 2}, 5) is 1250000). None when `d` has non-zero
// digits past `scale` decimals or the result does not fit.
std::optional<std::int64_t> ToUnits(const TDecimal& d, int scale);

// `d` without the zeros its decimals end in, down to `minScale` decimals.
TDecimal Trimmed(TDecimal d, int minScale = 0);

// The shortest decimal that reads back as `value` (0.1 gives 1/10, not the binary fraction
// nearest it). None for NaN, infinities and values that do not fit.
std::optional<TDecimal> DecimalFromDouble(double value);

// "-12.50" for (-1250, 2): every decimal of the scale is written.
std::string DecimalToString(const TDecimal& d);

enum class TRounding { Down, Up };

// `price` moved to a whole number of `step`s, towards minus infinity or plus infinity, and
// written with the step's decimals. None when the step is not positive or the result does not
// fit.
std::optional<TDecimal> RoundToStep(const TDecimal& price, const TDecimal& step, TRounding how);

} // namespace vorlen

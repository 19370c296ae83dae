#include "store/Value.h"

#include <cmath>
#include <type_traits>
#include <utility>

namespace vorlen {

namespace {

template <class T>
constexpr bool kIsInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

// Exact comparison: a double equals an integer only when it is integral and in range, so a
// 64-bit value that a double cannot hold exactly is never reported equal to a nearby one.
template <class I>
bool IntegerEqualsDouble(I i, double d) {
    // Written so that NaN fails the range test.
    if (!(d >= -9223372036854775808.0 && d < 18446744073709551616.0))
        return false;
    if (std::trunc(d) != d)
        return false;
    if (d < 0)
        return std::cmp_equal(i, static_cast<std::int64_t>(d));
    return std::cmp_equal(i, static_cast<std::uint64_t>(d));
}

} // namespace

bool ValuesEqual(const TValue& a, const TValue& b) {
    return std::visit(
        [](const auto& x, const auto& y) -> bool {
            using X = std::decay_t<decltype(x)>;
            using Y = std::decay_t<decltype(y)>;
            if constexpr (kIsInteger<X> && kIsInteger<Y>)
                return std::cmp_equal(x, y);
            else if constexpr (kIsInteger<X> && std::is_same_v<Y, double>)
                return IntegerEqualsDouble(x, y);
            else if constexpr (std::is_same_v<X, double> && kIsInteger<Y>)
                return IntegerEqualsDouble(y, x);
            else if constexpr (std::is_same_v<X, Y>)
                return x == y;
            else
                return false;
        },
        a, b);
}

} // namespace vorlen

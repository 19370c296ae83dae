#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vorlen {

// A date-time: whole days since 30 December 1899, the time of day as the fraction.
struct TDateTime {
    double Days = 0;
    bool operator==(const TDateTime&) const = default;
};

using TBytes = std::vector<std::uint8_t>;

// The value of one field, converted once when the field arrives. The alternatives' order is the
// kind order: empty, signed 8..64, unsigned 8..64, double, date-time, Boolean, string, bytes.
using TValue = std::variant<std::monostate, std::int8_t, std::int16_t, std::int32_t, std::int64_t,
                            std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t, double,
                            TDateTime, bool, std::string, TBytes>;

inline bool IsEmpty(const TValue& v) {
    return std::holds_alternative<std::monostate>(v);
}

// Numeric equality across kinds and widths (an i8 holding 0 equals an u1 holding 0); values of
// non-numeric kinds are equal only to the same kind holding the same contents.
bool ValuesEqual(const TValue& a, const TValue& b);

} // namespace vorlen

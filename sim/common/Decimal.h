#pragma once

// Decimal fields (type letters d and s) as this gateway stores them: 9 bytes, the scale as a
// signed byte at +0, then the mantissa as a little-endian signed 64-bit integer at +1. The value
// is mantissa / 10^scale. Only cg_bcd_get reads this encoding on the terminal's side.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vsim {

inline constexpr std::uint32_t kDecimalSize = 9;

inline void PutDecimal(void* field, std::int64_t mantissa, std::int8_t scale) {
    auto* p = static_cast<unsigned char*>(field);
    std::memcpy(p, &scale, 1);
    std::memcpy(p + 1, &mantissa, 8);
}

// Rounds value to the given number of decimal places.
inline void PutDecimal(void* field, double value, std::uint8_t scale) {
    const double m = std::llround(value * std::pow(10.0, scale));
    PutDecimal(field, static_cast<std::int64_t>(m), static_cast<std::int8_t>(scale));
}

inline void GetDecimal(const void* field, std::int64_t& mantissa, std::int8_t& scale) {
    const auto* p = static_cast<const unsigned char*>(field);
    std::memcpy(&scale, p, 1);
    std::memcpy(&mantissa, p + 1, 8);
}

} // namespace vsim

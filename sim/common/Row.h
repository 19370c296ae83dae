#pragma once

// Writing and reading fields of one fixed-layout record by field description.

#include "Decimal.h"
#include "Scheme.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vsim {

struct Time {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::uint16_t msec = 0;
};

inline void PutTime(void* field, const Time& t) {
    auto* p = static_cast<unsigned char*>(field);
    std::memset(p, 0, 10);
    std::memcpy(p, &t.year, 2);
    p[2] = t.month;
    p[3] = t.day;
    p[4] = t.hour;
    p[5] = t.minute;
    p[6] = t.second;
    std::memcpy(p + 8, &t.msec, 2);
}

inline Time GetTime(const void* field) {
    const auto* p = static_cast<const unsigned char*>(field);
    Time t;
    std::memcpy(&t.year, p, 2);
    t.month = p[2];
    t.day = p[3];
    t.hour = p[4];
    t.minute = p[5];
    t.second = p[6];
    std::memcpy(&t.msec, p + 8, 2);
    return t;
}

// Integer of the field's width (i or u), truncated to it.
inline void PutInt(char* row, const FieldDef& f, std::int64_t v) {
    switch (f.size) {
    case 1: {
        const auto x = static_cast<std::int8_t>(v);
        std::memcpy(row + f.offset, &x, 1);
        break;
    }
    case 2: {
        const auto x = static_cast<std::int16_t>(v);
        std::memcpy(row + f.offset, &x, 2);
        break;
    }
    case 4: {
        const auto x = static_cast<std::int32_t>(v);
        std::memcpy(row + f.offset, &x, 4);
        break;
    }
    default:
        std::memcpy(row + f.offset, &v, 8);
        break;
    }
}

inline std::int64_t GetInt(const char* row, const FieldDef& f) {
    switch (f.size) {
    case 1: {
        std::int8_t x;
        std::memcpy(&x, row + f.offset, 1);
        return f.kind == FieldKind::UInt ? static_cast<std::int64_t>(static_cast<std::uint8_t>(x))
                                         : static_cast<std::int64_t>(x);
    }
    case 2: {
        std::int16_t x;
        std::memcpy(&x, row + f.offset, 2);
        return f.kind == FieldKind::UInt ? static_cast<std::int64_t>(static_cast<std::uint16_t>(x))
                                         : static_cast<std::int64_t>(x);
    }
    case 4: {
        std::int32_t x;
        std::memcpy(&x, row + f.offset, 4);
        return f.kind == FieldKind::UInt ? static_cast<std::int64_t>(static_cast<std::uint32_t>(x))
                                         : static_cast<std::int64_t>(x);
    }
    default: {
        std::int64_t x;
        std::memcpy(&x, row + f.offset, 8);
        return x;
    }
    }
}

// Zero-terminated, cut to the field's width.
inline void PutText(char* row, const FieldDef& f, std::string_view s) {
    const std::size_t n = s.size() < f.size - 1 ? s.size() : f.size - 1;
    std::memset(row + f.offset, 0, f.size);
    std::memcpy(row + f.offset, s.data(), n);
}

inline std::string GetText(const char* row, const FieldDef& f) {
    const char* p = row + f.offset;
    std::size_t n = 0;
    while (n < f.size && p[n] != '\0') {
        ++n;
    }
    return std::string(p, n);
}

inline double GetDecimalValue(const char* row, const FieldDef& f) {
    std::int64_t m = 0;
    std::int8_t s = 0;
    GetDecimal(row + f.offset, m, s);
    double v = static_cast<double>(m);
    for (int i = 0; i < s; ++i) {
        v /= 10.0;
    }
    return v;
}

} // namespace vsim

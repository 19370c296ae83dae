#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <cstdint>

// The conversion is our own table rather than iconv or the Windows API, so that both platforms
// agree byte for byte and a missing system locale cannot change what the gateway receives.

namespace vorlen::platform {

namespace {

// Code points of bytes 0x80-0xBF; 0xC0-0xFF are А..я in order. 0x98 is undefined in the code
// page and marked 0.
constexpr std::array<char16_t, 64> HighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // 0xB8
};

constexpr char16_t CyrillicA = 0x0410;
constexpr char16_t CyrillicYa = 0x044F;

constexpr char16_t CodePointOf(unsigned byte) {
    if (byte < 0x80)
        return static_cast<char16_t>(byte);
    if (byte < 0xC0)
        return HighHalf[byte - 0x80];
    return static_cast<char16_t>(CyrillicA + (byte - 0xC0));
}

struct TUtf8Bytes {
    std::array<char, 3> Bytes{};
    std::uint8_t Length = 0;
};

// UTF-8 of every high byte, worked out once at compile time.
constexpr std::array<TUtf8Bytes, 128> MakeUtf8Table() {
    std::array<TUtf8Bytes, 128> table{};
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
        const char16_t cp = CodePointOf(byte);
        TUtf8Bytes& out = table[byte - 0x80];
        if (cp == 0) {
            out.Bytes[0] = '?';
            out.Length = 1;
        } else if (cp < 0x800) {
            out.Bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
            out.Bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
            out.Length = 2;
        } else {
            out.Bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
            out.Bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out.Bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
            out.Length = 3;
        }
    }
    return table;
}

constexpr auto Utf8Table = MakeUtf8Table();

struct TReverse {
    char16_t CodePoint;
    unsigned char Byte;
};

constexpr std::size_t DefinedHighHalf = 63;

// The non-contiguous part of the way back, sorted by code point for a binary search.
constexpr std::array<TReverse, DefinedHighHalf> MakeReverseTable() {
    std::array<TReverse, DefinedHighHalf> table{};
    std::size_t n = 0;
    for (unsigned byte = 0x80; byte < 0xC0; ++byte)
        if (HighHalf[byte - 0x80] != 0)
            table[n++] = {HighHalf[byte - 0x80], static_cast<unsigned char>(byte)};
    std::sort(table.begin(), table.end(),
              [](const TReverse& a, const TReverse& b) { return a.CodePoint < b.CodePoint; });
    return table;
}

constexpr auto ReverseTable = MakeReverseTable();

char ByteOf(std::uint32_t cp) {
    if (cp < 0x80)
        return static_cast<char>(cp);
    if (cp >= CyrillicA && cp <= CyrillicYa)
        return static_cast<char>(0xC0 + (cp - CyrillicA));
    const auto it = std::lower_bound(
        ReverseTable.begin(), ReverseTable.end(), cp,
        [](const TReverse& entry, std::uint32_t value) { return entry.CodePoint < value; });
    if (it != ReverseTable.end() && it->CodePoint == cp)
        return static_cast<char>(it->Byte);
    return '?';
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text) {
    std::size_t size = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        size += byte < 0x80 ? 1 : Utf8Table[byte - 0x80].Length;
    }
    if (size == text.size()) {
        // Nothing above 0x7F except possibly 0x98, which also takes one byte.
        std::string out(text);
        for (char& c : out)
            if (static_cast<unsigned char>(c) >= 0x80)
                c = '?';
        return out;
    }
    std::string out(size, '\0');
    char* p = out.data();
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            *p++ = c;
            continue;
        }
        const TUtf8Bytes& utf8 = Utf8Table[byte - 0x80];
        for (std::uint8_t i = 0; i < utf8.Length; ++i)
            *p++ = utf8.Bytes[i];
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned lead = *p;
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++p;
            continue;
        }
        // Well-formed sequences only (no overlong forms, surrogates or values past U+10FFFF).
        // A broken sequence becomes one '?' and decoding resumes at the byte that broke it, so
        // a truncated letter never swallows the character after it.
        unsigned trail = 0;
        std::uint32_t cp = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            cp = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            out.push_back('?');
            ++p;
            continue;
        }
        ++p;
        bool complete = true;
        for (unsigned i = 0; i < trail; ++i) {
            if (p == end || *p < low || *p > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (*p & 0x3Fu);
            ++p;
            low = 0x80;
            high = 0xBF;
        }
        out.push_back(complete ? ByteOf(cp) : '?');
    }
    return out;
}

} // namespace vorlen::platform

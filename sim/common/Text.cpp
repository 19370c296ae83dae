#include "Text.h"

#include <algorithm>
#include <charconv>

namespace vsim {

std::string_view Trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const auto pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::vector<std::string_view> SplitLines(std::string_view s) {
    std::vector<std::string_view> out;
    for (std::string_view line : Split(s, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        out.push_back(line);
    }
    return out;
}

std::vector<std::string_view> SplitWords(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(s.substr(start, i - start));
        }
    }
    return out;
}

std::string AfterWords(std::string_view line, std::size_t words) {
    std::size_t pos = 0;
    for (std::size_t w = 0; w < words; ++w) {
        while (pos < line.size() && line[pos] == ' ') {
            ++pos;
        }
        while (pos < line.size() && line[pos] != ' ') {
            ++pos;
        }
    }
    return std::string(Trim(line.substr(std::min(pos, line.size()))));
}

bool ParseInt(std::string_view s, std::int64_t& out) {
    s = Trim(s);
    if (s.empty()) {
        return false;
    }
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::vector<KeyValue> ParseKeyValues(std::string_view s, char sep) {
    std::vector<KeyValue> out;
    for (std::string_view part : Split(s, sep)) {
        if (Trim(part).empty()) {
            continue;
        }
        KeyValue kv;
        const auto eq = part.find('=');
        if (eq == std::string_view::npos) {
            kv.key = std::string(Trim(part));
        } else {
            kv.key = std::string(Trim(part.substr(0, eq)));
            kv.value = std::string(part.substr(eq + 1));
            kv.hasValue = true;
        }
        out.push_back(std::move(kv));
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            len = 3;
        } else {
            cp = '?';
            len = (c & 0xF8) == 0xF0 ? 4 : 1;
        }
        i += len;
        if (cp < 0x80 || cp == 0xAB || cp == 0xBB) {
            out.push_back(static_cast<char>(cp));
        } else if (cp >= 0x410 && cp <= 0x44F) {
            out.push_back(static_cast<char>(0xC0 + (cp - 0x410)));
        } else if (cp == 0x401) {
            out.push_back(static_cast<char>(0xA8));
        } else if (cp == 0x451) {
            out.push_back(static_cast<char>(0xB8));
        } else if (cp == 0x2116) {
            out.push_back(static_cast<char>(0xB9));
        } else if (cp == 0x2014) {
            out.push_back(static_cast<char>(0x97));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        std::uint32_t cp = c;
        if (c >= 0xC0) {
            cp = 0x410 + (c - 0xC0u);
        } else if (c == 0xA8) {
            cp = 0x401;
        } else if (c == 0xB8) {
            cp = 0x451;
        } else if (c == 0xB9) {
            cp = 0x2116;
        } else if (c == 0x97) {
            cp = 0x2014;
        } else if (c >= 0x80 && c != 0xAB && c != 0xBB) {
            cp = '?';
        }
        if (cp < 0x80 || cp == 0xAB || cp == 0xBB) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// Decimal text ("92000", "-1.25", "12,5") in 1e-5 units. offStep is set when digits beyond the
// fifth decimal place are not zero: such a price is off every step.
bool ParsePrice(std::string_view s, std::int64_t& out, bool& offStep) {
    s = Trim(s);
    offStep = false;
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return false;
    }
    std::int64_t whole = 0;
    std::int64_t frac = 0;
    int fracDigits = 0;
    bool dot = false;
    bool any = false;
    for (char c : s) {
        if ((c == '.' || c == ',') && !dot) {
            dot = true;
            continue;
        }
        if (c < '0' || c > '9') {
            return false;
        }
        any = true;
        if (!dot) {
            if (whole > 1000000000000LL) {
                return false;
            }
            whole = whole * 10 + (c - '0');
        } else if (fracDigits < 5) {
            frac = frac * 10 + (c - '0');
            ++fracDigits;
        } else if (c != '0') {
            offStep = true;
        }
    }
    for (; fracDigits < 5; ++fracDigits) {
        frac *= 10;
    }
    out = (whole * 100000 + frac) * (neg ? -1 : 1);
    return any;
}

} // namespace vsim

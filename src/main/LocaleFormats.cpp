#include "main/LocaleFormats.h"

#include <cctype>

namespace vorlen {

namespace {

bool IsLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Copies a quoted run (Qt quotes with ') and returns the index after it.
std::size_t CopyQuoted(std::string_view pattern, std::size_t i, std::string& out) {
    const std::size_t close = pattern.find('\'', i + 1);
    const std::size_t stop = close == std::string_view::npos ? pattern.size() : close;
    out += '\'';
    out.append(pattern.substr(i + 1, stop - i - 1));
    out += '\'';
    return close == std::string_view::npos ? pattern.size() : close + 1;
}

std::size_t RunLength(std::string_view pattern, std::size_t i) {
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == pattern[i])
        ++run;
    return run;
}

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

} // namespace

std::string ShortDateFromQtPattern(std::string_view pattern) {
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            i = CopyQuoted(pattern, i, out);
            continue;
        }
        if (c == 'd' || c == 'M' || c == 'y') {
            std::size_t run = RunLength(pattern, i);
            i += run;
            if (c != 'y' && run > 2)
                run = 2;
            out.append(run, c == 'M' ? 'm' : c);
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

std::string LongTimeFromQtPattern(std::string_view pattern) {
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            i = CopyQuoted(pattern, i, out);
            continue;
        }
        if (IsLetter(c)) {
            const std::size_t run = RunLength(pattern, i);
            i += run;
            switch (c) {
            case 'h':
            case 'H':
                out.append(run > 1 ? 2 : 1, 'h');
                break;
            case 'm':
                out.append(run > 1 ? 2 : 1, 'n');
                break;
            case 's':
                out.append(run > 1 ? 2 : 1, 's');
                break;
            case 'z':
                out.append(run > 1 ? 3 : 1, 'z');
                break;
            default:
                break; // AP, ap, t: not part of a 24-hour journal time
            }
            continue;
        }
        out += c;
        ++i;
    }
    return Trimmed(out);
}

char DateSeparatorOf(std::string_view qtDatePattern) {
    bool seenPart = false;
    std::size_t i = 0;
    while (i < qtDatePattern.size()) {
        const char c = qtDatePattern[i];
        if (c == '\'') {
            const std::size_t close = qtDatePattern.find('\'', i + 1);
            i = close == std::string_view::npos ? qtDatePattern.size() : close + 1;
            continue;
        }
        if (IsLetter(c)) {
            seenPart = true;
        } else if (seenPart && c != ' ' && static_cast<unsigned char>(c) < 0x80) {
            return c;
        }
        ++i;
    }
    return '.';
}

TFormatSettings FormatSettingsFromQtLocale(std::string_view shortDatePattern,
                                           std::string_view longTimePattern,
                                           std::string_view decimalPoint) {
    TFormatSettings fs;
    fs.DateSeparator = DateSeparatorOf(shortDatePattern);
    fs.DecimalSeparator = decimalPoint.size() == 1 ? decimalPoint.front() : ',';
    fs.ShortDateFormat = ShortDateFromQtPattern(shortDatePattern);
    fs.LongTimeFormat = LongTimeFromQtPattern(longTimePattern);
    if (fs.LongTimeFormat.empty())
        fs.LongTimeFormat = "hh:nn:ss";
    return fs;
}

} // namespace vorlen

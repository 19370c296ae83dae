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

// A run of more than two M (a month's name) or d (a weekday's name) outside quotes.
bool NamesDayOrMonth(std::string_view pattern) {
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            const std::size_t close = pattern.find('\'', i + 1);
            i = close == std::string_view::npos ? pattern.size() : close + 1;
            continue;
        }
        const std::size_t run = RunLength(pattern, i);
        if ((c == 'M' || c == 'd') && run > 2)
            return true;
        i += run;
    }
    return false;
}

// The locale's order of day, month and year, all numeric with two-digit day and month, so that
// a journal date never reads "8 12 2026". Words, weekdays and odd separators of a long pattern
// are left out; a missing day or month sits beside the other, a missing year comes last.
std::string NumericShortDate(std::string_view pattern) {
    std::string order;
    bool shortYear = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'') {
            const std::size_t close = pattern.find('\'', i + 1);
            i = close == std::string_view::npos ? pattern.size() : close + 1;
            continue;
        }
        const std::size_t run = RunLength(pattern, i);
        i += run;
        const bool weekday = c == 'd' && run > 2;
        if ((c == 'd' || c == 'M' || c == 'y') && !weekday && order.find(c) == std::string::npos) {
            order += c;
            if (c == 'y')
                shortYear = run <= 2;
        }
    }
    // Day and month stay neighbours: a missing one goes right after the other.
    if (order.find('M') == std::string::npos) {
        const std::size_t d = order.find('d');
        order.insert(d == std::string::npos ? 0 : d + 1, 1, 'M');
    }
    if (order.find('d') == std::string::npos)
        order.insert(order.find('M') + 1, 1, 'd');
    if (order.find('y') == std::string::npos)
        order += 'y';
    const char found = DateSeparatorOf(pattern);
    const char sep = found == '/' || found == '-' ? found : '.';
    std::string out;
    for (const char c : order) {
        if (!out.empty())
            out += sep;
        out += c == 'd' ? "dd" : c == 'M' ? "mm" : shortYear ? "yy" : "yyyy";
    }
    return out;
}

} // namespace

std::string ShortDateFromQtPattern(std::string_view pattern) {
    if (NamesDayOrMonth(pattern))
        return NumericShortDate(pattern);
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
    fs.DecimalSeparator = decimalPoint.size() == 1 ? decimalPoint.front() : ',';
    fs.ShortDateFormat = ShortDateFromQtPattern(shortDatePattern);
    fs.DateSeparator = DateSeparatorOf(fs.ShortDateFormat);
    fs.LongTimeFormat = LongTimeFromQtPattern(longTimePattern);
    if (fs.LongTimeFormat.empty())
        fs.LongTimeFormat = "hh:nn:ss";
    return fs;
}

} // namespace vorlen

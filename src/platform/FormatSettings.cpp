#include "platform/FormatSettings.h"

#include <ctime>
#include <string_view>

namespace vorlen {

namespace {

TFormatSettings& Current() {
    static TFormatSettings settings = RussianFormatSettings();
    return settings;
}

void AppendNumber(std::string& out, long long value, int width) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int pad = n; pad < width; ++pad)
        out += '0';
    while (n > 0)
        out += digits[--n];
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void AppendDate(std::string& out, int year, int month, int day, const TFormatSettings& fs) {
    // A date with no format at all would start the journal line with a bare blank.
    const std::string_view format =
        fs.ShortDateFormat.empty() ? std::string_view("dd/mm/yyyy") : fs.ShortDateFormat;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const char letter = LowerAscii(c);
        if (letter == 'd' || letter == 'm' || letter == 'y') {
            // Letters are case-blind: the desktop program copies Qt's "dd.MM.yyyy" in here.
            std::size_t run = 1;
            while (i + run < format.size() && LowerAscii(format[i + run]) == letter)
                ++run;
            i += run;
            if (letter == 'd')
                AppendNumber(out, day, run >= 2 ? 2 : 1);
            else if (letter == 'm')
                AppendNumber(out, month, run >= 2 ? 2 : 1);
            else if (run <= 2)
                AppendNumber(out, (year < 0 ? -year : year) % 100, 2);
            else
                AppendNumber(out, year, 4);
            continue;
        }
        if (c == '/') {
            out += fs.DateSeparator;
            ++i;
            continue;
        }
        if (c == '\'' || c == '"') {
            // Quoted text is copied as it stands, e.g. the "г." of a Russian long date.
            const std::size_t close = format.find(c, i + 1);
            const std::size_t stop = close == std::string::npos ? format.size() : close;
            out.append(format.substr(i + 1, stop - i - 1));
            i = close == std::string::npos ? format.size() : close + 1;
            continue;
        }
        out += c;
        ++i;
    }
}

bool ToLocalTime(std::time_t t, std::tm& local) {
#ifdef _WIN32
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

} // namespace

std::tm LocalTm(std::chrono::system_clock::time_point now) {
    std::tm local{};
    if (!ToLocalTime(std::chrono::system_clock::to_time_t(now), local))
        local = std::tm{};
    return local;
}

const TFormatSettings& FormatSettings() {
    return Current();
}

void SetFormatSettings(const TFormatSettings& settings) {
    Current() = settings;
}

TFormatSettings RussianFormatSettings() {
    TFormatSettings fs;
    fs.DateSeparator = '.';
    fs.DecimalSeparator = ',';
    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    return fs;
}

std::string JournalLine(const std::string& text) {
    return JournalLine(text, std::chrono::system_clock::now(), FormatSettings());
}

std::string JournalLine(const std::string& text, std::chrono::system_clock::time_point now,
                        const TFormatSettings& fs) {
    using namespace std::chrono;
    // floor, not a cast: a cast rounds toward zero and would put times before 1970 a second late.
    const auto ms = floor<milliseconds>(now.time_since_epoch());
    const auto secs = floor<seconds>(ms);
    const auto millis = (ms - secs).count();
    std::tm local{};
    if (!ToLocalTime(static_cast<std::time_t>(secs.count()), local))
        local = std::tm{};
    std::string line;
    line.reserve(32 + text.size());
    AppendDate(line, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, fs);
    line += ' ';
    AppendNumber(line, local.tm_hour, 2);
    line += ':';
    AppendNumber(line, local.tm_min, 2);
    line += ':';
    AppendNumber(line, local.tm_sec, 2);
    line += '.';
    AppendNumber(line, millis, 3);
    line += " --> ";
    line += text;
    return line;
}

std::string FormatClockTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    std::tm local{};
    if (!ToLocalTime(static_cast<std::time_t>(floor<seconds>(t.time_since_epoch()).count()), local))
        local = std::tm{};
    std::string text;
    AppendNumber(text, local.tm_hour, 2);
    text += ':';
    AppendNumber(text, local.tm_min, 2);
    text += ':';
    AppendNumber(text, local.tm_sec, 2);
    return text;
}

std::string FormatShortDate(int year, int month, int day, const TFormatSettings& fs) {
    std::string date;
    AppendDate(date, year, month, day, fs);
    return date;
}

} // namespace vorlen

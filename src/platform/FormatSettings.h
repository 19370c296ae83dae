#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace vorlen {

// The user's locale as the terminal uses it, read once at start (from QLocale in the desktop
// program; the console keeps the Russian defaults). In a date format, runs of the letters d, m
// and y (either case) are the day, month and year: d and m without a leading zero, dd and mm
// with one, y or yy a two-digit year, yyy or longer the full year. "/" stands for DateSeparator,
// text in single or double quotes is copied without its quotes, and every other character is kept
// as it is. An empty format is read as "dd/mm/yyyy".
struct TFormatSettings {
    char DateSeparator = '.';
    char DecimalSeparator = ',';
    std::string ShortDateFormat = "dd.mm.yyyy";
    std::string LongTimeFormat = "hh:nn:ss";
};

// The process-wide record; set it once before any worker thread starts.
const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);
// The Russian defaults (dd.mm.yyyy, "." between date parts, "," as decimal separator).
TFormatSettings RussianFormatSettings();

// A journal line: the date in the short date format, " ", the time "hh:mm:ss.zzz", " --> ",
// then the text; date and time come from one reading of the clock.
std::string JournalLine(const std::string& text);
std::string JournalLine(const std::string& text, std::chrono::system_clock::time_point now,
                        const TFormatSettings& fs);
// The local time of day "hh:mm:ss".
std::string FormatClockTime(std::chrono::system_clock::time_point t);
// The local calendar date and time of `now` (all zero when the system cannot tell).
std::tm LocalTm(std::chrono::system_clock::time_point now);
// Date alone in the short date format, for a local calendar date.
std::string FormatShortDate(int year, int month, int day, const TFormatSettings& fs);

} // namespace vorlen

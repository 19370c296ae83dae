#pragma once

#include <chrono>
#include <string>

namespace vorlen {

// The user's locale as the terminal uses it, read once at start (from QLocale in the desktop
// program, from the environment's locale in the console). Date formats use the letters d, m/M,
// y; "/" in a date format stands for DateSeparator.
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
// Date alone in the short date format, for a local calendar date.
std::string FormatShortDate(int year, int month, int day, const TFormatSettings& fs);

} // namespace vorlen

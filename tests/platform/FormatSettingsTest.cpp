#include "platform/FormatSettings.h"

#include <ctime>
#include <gtest/gtest.h>
#include <regex>

namespace vorlen {
namespace {

// A time point for a local wall-clock time, so that the expected text does not depend on the
// machine's time zone.
std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                int second, int millis) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
           std::chrono::milliseconds(millis);
}

TEST(JournalLineTest, RussianLineShape) {
    const auto fs = RussianFormatSettings();
    EXPECT_EQ(JournalLine("text", LocalTime(2024, 3, 5, 10, 20, 30, 250), fs),
              "05.03.2024 10:20:30.250 --> text");
    EXPECT_EQ(JournalLine("Соединение установлено", LocalTime(2024, 11, 25, 9, 5, 7, 7), fs),
              "25.11.2024 09:05:07.007 --> Соединение установлено");
}

TEST(JournalLineTest, MillisecondsAreCutNotRoundedIntoTheNextDay) {
    const auto fs = RussianFormatSettings();
    EXPECT_EQ(JournalLine("x", LocalTime(2023, 12, 31, 23, 59, 59, 999), fs),
              "31.12.2023 23:59:59.999 --> x");
    EXPECT_EQ(JournalLine("x", LocalTime(2024, 1, 1, 0, 0, 0, 0), fs),
              "01.01.2024 00:00:00.000 --> x");
    // Below a millisecond is dropped, not rounded up.
    EXPECT_EQ(
        JournalLine("x", LocalTime(2024, 1, 1, 0, 0, 0, 5) + std::chrono::microseconds(999), fs),
        "01.01.2024 00:00:00.005 --> x");
}

TEST(JournalLineTest, DateFollowsTheShortDateFormat) {
    struct Case {
        std::string Format;
        char Separator;
        std::string March5th2024;
        std::string November12th2005;
    };
    const Case cases[] = {
        {"dd.mm.yyyy", '.', "05.03.2024", "12.11.2005"},
        {"dd.MM.yyyy", '-', "05.03.2024", "12.11.2005"}, // Qt's letters, dots literal
        {"d/m/yy", '-', "5-3-24", "12-11-05"},
        {"yyyy/mm/dd", '/', "2024/03/05", "2005/11/12"},
        {"dd 'dd' yyyy", '.', "05 dd 2024", "12 dd 2005"},
        {"", '.', "05.03.2024", "12.11.2005"},
    };
    for (const Case& c : cases) {
        TFormatSettings fs = RussianFormatSettings();
        fs.ShortDateFormat = c.Format;
        fs.DateSeparator = c.Separator;
        EXPECT_EQ(FormatShortDate(2024, 3, 5, fs), c.March5th2024) << c.Format;
        EXPECT_EQ(FormatShortDate(2005, 11, 12, fs), c.November12th2005) << c.Format;
    }
}

TEST(JournalLineTest, ProcessSettingsApplyToTheCurrentTime) {
    // A copy: the process settings change below and are put back from it.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const TFormatSettings saved = FormatSettings();
    EXPECT_EQ(saved.ShortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(saved.DecimalSeparator, ',');

    TFormatSettings iso = RussianFormatSettings();
    iso.ShortDateFormat = "yyyy/mm/dd";
    iso.DateSeparator = '-';
    SetFormatSettings(iso);
    const std::string line = JournalLine("готово");
    SetFormatSettings(saved);

    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} --> готово)")))
        << line;
}

} // namespace
} // namespace vorlen

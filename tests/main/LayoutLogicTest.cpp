// Locale formats for the format-settings record, and the tiling of expert windows.

#include "main/LocaleFormats.h"
#include "main/Tiling.h"

#include <gtest/gtest.h>

namespace vorlen {
namespace {

TEST(LocaleFormats, DatePatternsBecomeTheRecordsNotation) {
    EXPECT_EQ(ShortDateFromQtPattern("dd.MM.yyyy"), "dd.mm.yyyy");
    EXPECT_EQ(ShortDateFromQtPattern("M/d/yy"), "m/d/yy");
    EXPECT_EQ(ShortDateFromQtPattern("yyyy-MM-dd"), "yyyy-mm-dd");
    // A month's or a weekday's name turns the whole date numeric, in the locale's order.
    EXPECT_EQ(ShortDateFromQtPattern("dddd d MMMM yyyy"), "dd.mm.yyyy");
    EXPECT_EQ(ShortDateFromQtPattern("d 'de' MMM"), "dd.mm.yyyy");
    EXPECT_EQ(DateSeparatorOf("dd.MM.yyyy"), '.');
    EXPECT_EQ(DateSeparatorOf("M/d/yy"), '/');
    EXPECT_EQ(DateSeparatorOf("yyyy-MM-dd"), '-');
    EXPECT_EQ(DateSeparatorOf("'d' yyyy"), '.');
}

// Locales whose short date names the month read "8 12 2026" in the journal before.
TEST(LocaleFormats, ADateWithAMonthNameReadsAsANumericDateWithTwoDigitDayAndMonth) {
    const struct {
        const char* Pattern;
        const char* Shown; // 8 December 2026
    } cases[] = {
        {"d MMM yyyy", "08.12.2026"},  {"d MMMM yyyy 'г.'", "08.12.2026"},
        {"MMM d, yyyy", "12.08.2026"}, {"yyyy-MMM-dd", "2026-12-08"},
        {"ddd d/MMM/yy", "08/12/26"},  {"MMMM yyyy", "12.08.2026"},
        {"dd.MM.yyyy", "08.12.2026"},  {"M/d/yy", "12/8/26"},
    };
    for (const auto& c : cases) {
        const TFormatSettings fs = FormatSettingsFromQtLocale(c.Pattern, "HH:mm:ss", ",");
        EXPECT_EQ(FormatShortDate(2026, 12, 8, fs), c.Shown) << c.Pattern;
    }
}

TEST(LocaleFormats, TimePatternsAreTwentyFourHourWithMinutesAsN) {
    EXPECT_EQ(LongTimeFromQtPattern("HH:mm:ss"), "hh:nn:ss");
    EXPECT_EQ(LongTimeFromQtPattern("h:mm:ss AP t"), "h:nn:ss");
    EXPECT_EQ(LongTimeFromQtPattern("HH:mm:ss.zzz t"), "hh:nn:ss.zzz");
}

TEST(LocaleFormats, RecordFromARussianAndAnAmericanLocale) {
    const TFormatSettings ru = FormatSettingsFromQtLocale("dd.MM.yyyy", "HH:mm:ss", ",");
    EXPECT_EQ(ru.DateSeparator, '.');
    EXPECT_EQ(ru.DecimalSeparator, ',');
    EXPECT_EQ(ru.ShortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(ru.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(FormatShortDate(2026, 3, 7, ru), "07.03.2026");

    const TFormatSettings us = FormatSettingsFromQtLocale("M/d/yy", "h:mm:ss AP t", ".");
    EXPECT_EQ(us.DecimalSeparator, '.');
    EXPECT_EQ(FormatShortDate(2026, 3, 7, us), "3/7/26");

    // A decimal separator that is not one byte, and a time pattern of nothing but markers.
    const TFormatSettings odd = FormatSettingsFromQtLocale("dd.MM.yyyy", "AP t", "\xd9\xab");
    EXPECT_EQ(odd.DecimalSeparator, ',');
    EXPECT_EQ(odd.LongTimeFormat, "hh:nn:ss");
}

TEST(Tiling, HorizontalRowsAndVerticalColumnsCoverTheArea) {
    const auto rows = TileRects(3, 300, 100, TTileMode::Horizontal);
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[0], (TRect{0, 0, 300, 33}));
    EXPECT_EQ(rows[1], (TRect{0, 33, 300, 33}));
    EXPECT_EQ(rows[2], (TRect{0, 66, 300, 34}));

    const auto columns = TileRects(2, 301, 80, TTileMode::Vertical);
    ASSERT_EQ(columns.size(), 2U);
    EXPECT_EQ(columns[0], (TRect{0, 0, 150, 80}));
    EXPECT_EQ(columns[1], (TRect{150, 0, 151, 80}));

    EXPECT_TRUE(TileRects(0, 300, 100, TTileMode::Vertical).empty());
}

TEST(Tiling, MoreWindowsThanPixelsStayInsideTheArea) {
    const auto rows = TileRects(5, 10, 3, TTileMode::Horizontal);
    ASSERT_EQ(rows.size(), 5U);
    for (const TRect& r : rows) {
        EXPECT_GE(r.Height, 1);
        EXPECT_LE(r.Top + r.Height, 3);
    }
}

} // namespace
} // namespace vorlen

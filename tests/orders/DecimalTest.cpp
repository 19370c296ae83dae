#include "orders/Decimal.h"

#include "orders/RiskLimits.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace vorlen {
namespace {

std::string Text(const std::optional<TDecimal>& d) {
    return d ? DecimalToString(*d) : "none";
}

TEST(DecimalTest, ParsesOnlyPlainDecimalText) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"92000", "92000"},
        {"-1.25", "-1.25"},
        {"+7.250", "7.250"},
        {"12,5", "12.5"},
        {".5", "0.5"},
        {"0.000000000001", "0.000000000001"},
        {"1.50000000000000000", "1.500000000000"},
        {"0.0000000000001", "none"},
        {"", "none"},
        {"-", "none"},
        {".", "none"},
        {"1e3", "none"},
        {" 1", "none"},
        {"1 000", "none"},
        {"1.2.3", "none"},
        {"0x10", "none"},
        {"999999999999999999", "999999999999999999"},
        {"1000000000000000000", "none"},
        {"nan", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(ParseDecimal(c.In)), c.Out) << c.In;
}

TEST(DecimalTest, DoublesBecomeTheDecimalTheTraderMeant) {
    const struct {
        double In;
        const char* Out;
    } cases[] = {
        {0.1, "0.1"},
        {100.1 - 0.01, "100.09"},         // 100.08999999999999 as a double
        {1000000.1 - 0.01, "1000000.09"}, // noise well above the twelfth decimal
        {0.1 + 0.2, "0.3"},
        {-2.5, "-2.5"},
        {91997.0, "91997"},
        {-0.0, "0"},
        {1e16, "10000000000000000"},
        {123456789.123, "123456789.123"},
        {1e-13, "0"},
        {1e18, "none"},
        {std::numeric_limits<double>::infinity(), "none"},
        {std::numeric_limits<double>::quiet_NaN(), "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(DecimalFromDouble(c.In)), c.Out) << c.In;
}

TEST(DecimalTest, RoundsToTheStepInTheDirectionAsked) {
    const struct {
        const char* Price;
        const char* Step;
        const char* Down;
        const char* Up;
    } cases[] = {
        {"100.07", "0.05", "100.05", "100.10"},
        {"100.05", "0.05", "100.05", "100.05"},
        {"92013", "10", "92010", "92020"},
        {"92013.5", "1", "92013", "92014"},
        {"-1.23", "0.1", "-1.3", "-1.2"},
        {"0.004", "0.01", "0.00", "0.01"},
        {"7", "0.25", "7.00", "7.00"},
        {"999999999999999999", "0.01", "none", "none"}, // does not fit once scaled
        {"5", "0", "none", "none"},
        {"5", "-1", "none", "none"},
    };
    for (const auto& c : cases) {
        const auto price = ParseDecimal(c.Price);
        const auto step = ParseDecimal(c.Step);
        ASSERT_TRUE(price && step) << c.Price;
        EXPECT_EQ(Text(RoundToStep(*price, *step, TRounding::Down)), c.Down) << c.Price;
        EXPECT_EQ(Text(RoundToStep(*price, *step, TRounding::Up)), c.Up) << c.Price;
    }
}

// Prices typed, read from files and sent by strategies all become whole 1e-5 units here.
TEST(DecimalTest, PricesBecomeWholeUnitsOfTheFifthDecimalOrNothing) {
    constexpr std::int64_t P = orders::kPriceScale;
    const struct {
        const char* In;
        std::optional<std::int64_t> Units;
    } texts[] = {
        {"92000", 92000 * P},
        {"0,5", P / 2},
        {"-1.25", -125 * P / 100},
        {"1.000010", P + 1},
        {"1.00000000000000000000000", P}, // zeros past the fifth decimal, however many
        {"1.000001", std::nullopt},
        {"9999999999999.99999", 999'999'999'999'999'999},
        {"100000000000000", std::nullopt},
        {"1.2.3", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : texts)
        EXPECT_EQ(orders::ParsePrice(c.In), c.Units) << c.In;
    const struct {
        TDecimal In;
        std::optional<std::int64_t> Units;
    } decimals[] = {
        {{1250, 2}, 1250 * P / 100},
        {{-3, 0}, -3 * P},
        {{1234560, 6}, 123456},
        {{1234561, 6}, std::nullopt},
        {{999'999'999'999'999'999, 0}, std::nullopt},
    };
    for (const auto& c : decimals)
        EXPECT_EQ(ToUnits(c.In, orders::kPriceDecimals), c.Units) << DecimalToString(c.In);
}

TEST(DecimalTest, WritesEveryDecimalOfTheScaleAndTheSmallestMantissa) {
    EXPECT_EQ(DecimalToString({5, 3}), "0.005");
    EXPECT_EQ(DecimalToString({-5, 3}), "-0.005");
    EXPECT_EQ(DecimalToString({0, 2}), "0.00");
    EXPECT_EQ(DecimalToString({std::numeric_limits<std::int64_t>::min(), 0}),
              "-9223372036854775808");
}

} // namespace
} // namespace vorlen

#include "store/FieldConversion.h"

#include "gateway/Cgate.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace vorlen {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class T>
Bytes Raw(T v) {
    Bytes b(sizeof(T));
    std::memcpy(b.data(), &v, sizeof(T));
    return b;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The decimals of these tests: 8 bytes of mantissa, then one byte of scale; scale 127 is a value
// the gateway refuses to decode.
constexpr std::int8_t kBadScale = 127;

Bytes Decimal(std::int64_t mantissa, std::int8_t scale) {
    Bytes b = Raw(mantissa);
    b.push_back(static_cast<std::uint8_t>(scale));
    return b;
}

std::uint32_t CG_CALL FakeBcdGet(const void* bcd, std::int64_t* mantissa, std::int8_t* scale) {
    std::int8_t s;
    std::memcpy(&s, static_cast<const std::uint8_t*>(bcd) + 8, 1);
    if (s == kBadScale)
        return CG_ERR_INVALIDARGUMENT;
    std::memcpy(mantissa, bcd, 8);
    *scale = s;
    return CG_ERR_OK;
}

Bytes Time(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
           unsigned second = 0, unsigned msec = 0) {
    cg_time_t t{};
    t.year = static_cast<std::uint16_t>(year);
    t.month = static_cast<std::uint8_t>(month);
    t.day = static_cast<std::uint8_t>(day);
    t.hour = static_cast<std::uint8_t>(hour);
    t.minute = static_cast<std::uint8_t>(minute);
    t.second = static_cast<std::uint8_t>(second);
    t.msec = static_cast<std::uint16_t>(msec);
    return Raw(t);
}

TFormatSettings DotSettings() {
    TFormatSettings fs;
    fs.DecimalSeparator = '.';
    fs.DateSeparator = '/';
    return fs;
}

class FieldConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = CG();
        CG().cg_bcd_get = FakeBcdGet;
    }
    void TearDown() override { CG() = FSaved; }

    // The field at `offset` of a message that is exactly `data` (a heap block of that size, so
    // the address sanitizer sees any read past it).
    static TValue Convert(const char* type, const Bytes& data, std::size_t size,
                          std::size_t offset = 0) {
        cg_field_desc_t f{};
        f.fild_type = type;
        f.size = size;
        f.offset = offset;
        return FieldToVariant(f, data.data(), data.size());
    }
    static TValue Convert(const char* type, const Bytes& data) {
        return Convert(type, data, data.size());
    }
    static std::string Ru(const TValue& v) { return ValueToStr(v, RussianFormatSettings()); }

    TCGateEntryPoints FSaved;
};

TEST(ParseTypeSize, ReadsDigitsWithoutValidating) {
    EXPECT_EQ(ParseTypeSize("4"), 4);
    EXPECT_EQ(ParseTypeSize("20"), 20);
    EXPECT_EQ(ParseTypeSize("8"), 8);
    EXPECT_EQ(ParseTypeSize(""), 0);
    EXPECT_EQ(ParseTypeSize(nullptr), 0);
    // Every character contributes its code minus 48: '.' is -2, 'x' is 72.
    EXPECT_EQ(ParseTypeSize("16.5"), (16 * 10 - 2) * 10 + 5);
    EXPECT_EQ(ParseTypeSize("x"), 72);
    EXPECT_EQ(ParseTypeSize("1x"), 10 + 72);
}

TEST_F(FieldConversionTest, SignedIntegersKeepTheirWidth) {
    const TValue i1 = Convert("i1", Raw<std::int8_t>(-128));
    ASSERT_TRUE(std::holds_alternative<std::int8_t>(i1));
    EXPECT_EQ(Ru(i1), "-128");

    const TValue i2 = Convert("i2", Raw<std::int16_t>(-30000));
    ASSERT_TRUE(std::holds_alternative<std::int16_t>(i2));
    EXPECT_EQ(Ru(i2), "-30000");

    const TValue i4 = Convert("i4", Raw<std::int32_t>(123456));
    ASSERT_TRUE(std::holds_alternative<std::int32_t>(i4));
    EXPECT_EQ(VarAsInteger(i4), 123456);
    EXPECT_EQ(VarAsInt64(i4), kNoInteger);

    const TValue i8 = Convert("i8", Raw<std::int64_t>(-5));
    ASSERT_TRUE(std::holds_alternative<std::int64_t>(i8));
    EXPECT_EQ(Ru(i8), "-5");
    EXPECT_EQ(VarAsInt64(i8), -5);
    EXPECT_EQ(VarAsInteger(i8), kNoInteger);

    const TValue min8 = Convert("i8", Raw(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(Ru(min8), "-9223372036854775808");
}

TEST_F(FieldConversionTest, UnsignedIntegersKeepTheirWidth) {
    const TValue u1 = Convert("u1", Raw<std::uint8_t>(255));
    ASSERT_TRUE(std::holds_alternative<std::uint8_t>(u1));
    EXPECT_EQ(Ru(u1), "255");

    const TValue u2 = Convert("u2", Raw<std::uint16_t>(65535));
    ASSERT_TRUE(std::holds_alternative<std::uint16_t>(u2));
    EXPECT_EQ(Ru(u2), "65535");

    const TValue u4 = Convert("u4", Raw<std::uint32_t>(4294967295u));
    ASSERT_TRUE(std::holds_alternative<std::uint32_t>(u4));
    EXPECT_EQ(Ru(u4), "4294967295");
    EXPECT_EQ(VarAsInteger(u4), kNoInteger);

    const TValue u8 = Convert("u8", Raw(std::numeric_limits<std::uint64_t>::max()));
    ASSERT_TRUE(std::holds_alternative<std::uint64_t>(u8));
    EXPECT_EQ(Ru(u8), "18446744073709551615");
    EXPECT_EQ(VarAsInt64(u8), kNoInteger);
}

TEST_F(FieldConversionTest, IntegerWidthsOtherThanOneTwoFourEightAreEmpty) {
    const Bytes eight = Raw<std::int64_t>(7);
    for (const char* type : {"i", "i3", "i16", "u0", "u5", "u64", "ix"})
        EXPECT_TRUE(IsEmpty(Convert(type, eight))) << type;
}

TEST_F(FieldConversionTest, IntegerReadersAnswerOnlyForTheirOwnKind) {
    const TValue others[] = {TValue{},
                             TValue{std::int8_t{5}},
                             TValue{std::int16_t{5}},
                             TValue{std::uint32_t{5}},
                             TValue{std::uint64_t{5}},
                             TValue{5.0},
                             TValue{TDateTime{5}},
                             TValue{true},
                             TValue{std::string("5")},
                             TValue{TBytes{5}}};
    for (const TValue& v : others) {
        EXPECT_EQ(VarAsInteger(v), kNoInteger) << v.index();
        EXPECT_EQ(VarAsInt64(v), kNoInteger) << v.index();
    }
    EXPECT_EQ(VarAsInteger(TValue{std::int32_t{-7}}), -7);
    EXPECT_EQ(VarAsInteger(TValue{std::int64_t{-7}}), kNoInteger);
    EXPECT_EQ(VarAsInt64(TValue{std::int64_t{1} << 40}), std::int64_t{1} << 40);
    EXPECT_EQ(VarAsInt64(TValue{std::int32_t{-7}}), kNoInteger);
}

TEST_F(FieldConversionTest, DecimalsGoThroughTheGatewayAndBecomeDoubles) {
    const TValue d = Convert("d16.5", Decimal(12345, 2));
    ASSERT_TRUE(std::holds_alternative<double>(d));
    EXPECT_EQ(std::get<double>(d), 123.45);
    EXPECT_EQ(Ru(d), "123,45");
    EXPECT_EQ(ValueToStr(d, DotSettings()), "123.45");

    EXPECT_EQ(Ru(Convert("s5", Decimal(-7, 0))), "-7");
    EXPECT_EQ(Ru(Convert("d5", Decimal(5, -3))), "5000");
    EXPECT_EQ(Ru(Convert("d26.25", Decimal(1, 25))), "1E-25");

    // The decimal is handed over from the field's own offset.
    Bytes row = Raw<std::int32_t>(99);
    const Bytes dec = Decimal(-150, 1);
    row.insert(row.end(), dec.begin(), dec.end());
    EXPECT_EQ(Ru(Convert("d9.1", row, dec.size(), 4)), "-15");
}

TEST_F(FieldConversionTest, DecimalTheGatewayCannotDecodeIsEmpty) {
    EXPECT_TRUE(IsEmpty(Convert("d16.5", Decimal(12345, kBadScale))));
    CG().cg_bcd_get = nullptr;
    EXPECT_TRUE(IsEmpty(Convert("d16.5", Decimal(12345, 2))));
}

TEST_F(FieldConversionTest, DoublesAreReadAsTheyLie) {
    const TValue f = Convert("f", Raw(-2.5));
    ASSERT_TRUE(std::holds_alternative<double>(f));
    EXPECT_EQ(Ru(f), "-2,5");
}

TEST_F(FieldConversionTest, CharactersAreConvertedFromTheGatewayCodePage) {
    EXPECT_EQ(std::get<std::string>(Convert("a", Text("A"))), "A");
    // 0xC0 is the Cyrillic capital A in code page 1251.
    EXPECT_EQ(std::get<std::string>(Convert("a", Bytes{0xC0})), "\xD0\x90");
    EXPECT_EQ(std::get<std::string>(Convert("a", Bytes{0})), "");

    EXPECT_EQ(std::get<std::string>(Convert("c10", Text(std::string("Hello\0junk!", 11)), 10)),
              "Hello");
    // "Привет" in code page 1251.
    const Bytes privet{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0};
    EXPECT_EQ(std::get<std::string>(Convert("c7", privet)), "Привет");
}

TEST_F(FieldConversionTest, TextWithoutTerminatorStopsAtItsWidth) {
    // Width 4 inside a longer message: the following field's bytes are not taken in.
    EXPECT_EQ(std::get<std::string>(Convert("c4", Text("ABCDEFGH"), 4)), "ABCD");
    // Width reaching the very end of the message.
    EXPECT_EQ(std::get<std::string>(Convert("c3", Text("xyABC"), 3, 2)), "ABC");
}

TEST_F(FieldConversionTest, ByteArraysAreCopied) {
    const TValue b = Convert("b3", Bytes{1, 2, 3, 4}, 3);
    EXPECT_EQ(std::get<TBytes>(b), (TBytes{1, 2, 3}));
    EXPECT_EQ(Ru(b), "");

    Bytes z = Raw<std::uint32_t>(3);
    z.insert(z.end(), {7, 8, 9});
    EXPECT_EQ(std::get<TBytes>(Convert("z", z, 4)), (TBytes{7, 8, 9}));

    const TValue none = Convert("z", Raw<std::uint32_t>(0), 4);
    ASSERT_TRUE(std::holds_alternative<TBytes>(none));
    EXPECT_TRUE(std::get<TBytes>(none).empty());
}

TEST_F(FieldConversionTest, TimeBecomesDaysSinceTheEpochAndShowsTheDate) {
    const TValue t = Convert("t", Time(2024, 3, 5, 10, 20, 30, 250));
    ASSERT_TRUE(std::holds_alternative<TDateTime>(t));
    const double expected = 45356.0 + (10 * 3600 + 20 * 60 + 30.25) / 86400.0;
    EXPECT_NEAR(std::get<TDateTime>(t).Days, expected, 1e-9);
    EXPECT_EQ(Ru(t), "05.03.2024");
    EXPECT_EQ(ValueToStr(t, DotSettings()), "05/03/2024");

    EXPECT_EQ(std::get<TDateTime>(Convert("t", Time(1899, 12, 30))).Days, 0.0);
    // Before the epoch the time of day counts away from zero and the date stays whole.
    const TValue before = Convert("t", Time(1899, 12, 29, 12));
    EXPECT_EQ(std::get<TDateTime>(before).Days, -1.5);
    EXPECT_EQ(Ru(before), "29.12.1899");
}

TEST_F(FieldConversionTest, TimeShowsEveryDateOfTheCalendar) {
    struct Case {
        unsigned y, m, d;
        const char* text;
    };
    for (const Case& c : {Case{1, 1, 1, "01.01.0001"}, Case{1600, 2, 29, "29.02.1600"},
                          Case{1850, 6, 15, "15.06.1850"}, Case{1900, 3, 1, "01.03.1900"},
                          Case{2000, 2, 29, "29.02.2000"}, Case{2024, 12, 31, "31.12.2024"},
                          Case{9999, 12, 31, "31.12.9999"}})
        EXPECT_EQ(Ru(Convert("t", Time(c.y, c.m, c.d, 23, 59, 59, 999))), c.text);
}

TEST_F(FieldConversionTest, TimeThatIsNoRealDateIsEmpty) {
    const TValue zero = Convert("t", Time(0, 0, 0));
    EXPECT_TRUE(IsEmpty(zero));
    EXPECT_EQ(Ru(zero), "");

    const Bytes invalid[] = {Time(2023, 2, 29),          Time(1900, 2, 29),
                             Time(2024, 4, 31),          Time(2024, 13, 1),
                             Time(2024, 1, 0),           Time(10000, 1, 1),
                             Time(2024, 1, 1, 24),       Time(2024, 1, 1, 0, 60),
                             Time(2024, 1, 1, 0, 0, 60), Time(2024, 1, 1, 0, 0, 0, 1000)};
    for (const Bytes& t : invalid)
        EXPECT_TRUE(IsEmpty(Convert("t", t)));
    EXPECT_FALSE(IsEmpty(Convert("t", Time(2024, 2, 29))));
}

TEST_F(FieldConversionTest, UnknownOrMissingTypeIsEmpty) {
    const Bytes data = Raw<std::int64_t>(1);
    EXPECT_TRUE(IsEmpty(Convert("x", data)));
    EXPECT_TRUE(IsEmpty(Convert("", data)));
    EXPECT_TRUE(IsEmpty(Convert(nullptr, data)));
    cg_field_desc_t f{};
    f.fild_type = "i4";
    f.size = 4;
    EXPECT_TRUE(IsEmpty(FieldToVariant(f, nullptr, 0)));
}

TEST_F(FieldConversionTest, FieldNotInsideTheDataIsEmpty) {
    const Bytes data(16, 0x31);
    struct Case {
        const char* type;
        std::size_t size;
    };
    for (const Case& c : {Case{"a", 1}, Case{"b4", 4}, Case{"c8", 8}, Case{"d9.2", 9}, Case{"f", 8},
                          Case{"i8", 8}, Case{"u4", 4}, Case{"t", 10}, Case{"z", 8}}) {
        // Ends one byte past the data.
        EXPECT_TRUE(IsEmpty(Convert(c.type, data, c.size, 17 - c.size))) << c.type;
        // Starts past the data (and offset + size must not wrap round).
        EXPECT_TRUE(IsEmpty(Convert(c.type, data, c.size, 100))) << c.type;
        EXPECT_TRUE(IsEmpty(Convert(c.type, data, 2, SIZE_MAX))) << c.type;
    }
    EXPECT_TRUE(IsEmpty(Convert("c4", data, SIZE_MAX, 4)));
}

TEST_F(FieldConversionTest, ReadsNeverPassTheDataWhateverTheSchemeSays) {
    // A scheme whose size is smaller than what its letter reads, at the end of the message.
    EXPECT_TRUE(IsEmpty(Convert("i8", Raw<std::int32_t>(1), 4)));
    EXPECT_TRUE(IsEmpty(Convert("f", Raw<std::int32_t>(1), 4)));
    EXPECT_TRUE(IsEmpty(Convert("t", Bytes(8, 1), 8)));
    EXPECT_TRUE(IsEmpty(Convert("z", Bytes{1, 0}, 2)));
    // A declared z length running past the end.
    Bytes z = Raw<std::uint32_t>(4);
    z.insert(z.end(), {1, 2, 3});
    EXPECT_TRUE(IsEmpty(Convert("z", z, 4)));
    EXPECT_TRUE(IsEmpty(Convert("z", Raw<std::uint32_t>(0xFFFFFFFFu), 4)));
}

TEST_F(FieldConversionTest, OtherKindsOfText) {
    EXPECT_EQ(Ru(TValue{true}), "T");
    EXPECT_EQ(Ru(TValue{false}), "F");
    EXPECT_EQ(Ru(TValue{std::string("Текст")}), "Текст");
    EXPECT_EQ(Ru(TValue{}), "");
    EXPECT_EQ(Ru(TValue{TDateTime{1e12}}), "");
    EXPECT_EQ(Ru(TValue{TDateTime{-693594.0}}), "");
    EXPECT_EQ(Ru(TValue{TDateTime{2958466.0}}), "");
    EXPECT_EQ(Ru(TValue{TDateTime{std::nan("")}}), "");

    std::string out = "x=";
    AppendValueText(out, TValue{std::int16_t{-3}}, RussianFormatSettings());
    AppendValueText(out, TValue{0.5}, RussianFormatSettings());
    EXPECT_EQ(out, "x=-30,5");
}

TEST_F(FieldConversionTest, TextUsesTheProcessWideSettingsByDefault) {
    // A copy: the process settings change below and are put back from it.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const TFormatSettings saved = FormatSettings();
    SetFormatSettings(DotSettings());
    EXPECT_EQ(ValueToStr(TValue{123.45}), "123.45");
    SetFormatSettings(RussianFormatSettings());
    EXPECT_EQ(ValueToStr(TValue{123.45}), "123,45");
    SetFormatSettings(saved);
}

TEST(GeneralFloatText, ShortestFormWithFifteenDigits) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {100.0, "100"},
        {0.1 + 0.2, "0,3"},
        {1.0 / 3.0, "0,333333333333333"},
        {2.0 / 3.0, "0,666666666666667"},
        {-1234.5, "-1234,5"},
        {123456789.125, "123456789,125"},
        {999999999999999.0, "999999999999999"},
        {100000000000000.0, "100000000000000"},
        {1e15, "1E15"},
        {9007199254740993.0, "9,00719925474099E15"},
        {123456789012345678.0, "1,23456789012346E17"},
        {999999999999999.9, "1E15"},
        {1e100, "1E100"},
        {-1.5e300, "-1,5E300"},
        {0.0001, "0,0001"},
        {0.00012345, "0,00012345"},
        {0.00001, "1E-5"},
        {-1.5e-7, "-1,5E-7"},
        {4.9e-324, "4,94065645841247E-324"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValueToStr(TValue{c.value}, RussianFormatSettings()), c.text) << c.value;
}

TEST(ValuesEqual, NumbersCompareAcrossKindsAndWidths) {
    EXPECT_TRUE(ValuesEqual(TValue{std::int64_t{0}}, TValue{std::uint8_t{0}}));
    EXPECT_TRUE(ValuesEqual(TValue{std::int8_t{-5}}, TValue{std::int64_t{-5}}));
    EXPECT_TRUE(ValuesEqual(TValue{std::uint16_t{300}}, TValue{std::int32_t{300}}));
    EXPECT_TRUE(ValuesEqual(TValue{std::int32_t{5}}, TValue{5.0}));
    EXPECT_TRUE(ValuesEqual(TValue{0.0}, TValue{std::uint64_t{0}}));
    EXPECT_TRUE(ValuesEqual(TValue{-0.0}, TValue{std::int8_t{0}}));
    EXPECT_TRUE(ValuesEqual(TValue{std::uint64_t{UINT64_MAX}}, TValue{std::uint64_t{UINT64_MAX}}));

    // Unsigned and signed never meet by wrapping round.
    EXPECT_FALSE(ValuesEqual(TValue{std::int8_t{-1}}, TValue{std::uint64_t{UINT64_MAX}}));
    EXPECT_FALSE(ValuesEqual(TValue{std::int64_t{-1}}, TValue{std::uint32_t{UINT32_MAX}}));
    EXPECT_FALSE(ValuesEqual(TValue{std::int32_t{5}}, TValue{5.5}));
    // 2^53 + 1 has no double; it must not equal its rounded neighbour.
    EXPECT_FALSE(ValuesEqual(TValue{(std::int64_t{1} << 53) + 1}, TValue{9007199254740992.0}));
    EXPECT_FALSE(ValuesEqual(TValue{std::uint64_t{UINT64_MAX}}, TValue{18446744073709551616.0}));
    EXPECT_FALSE(ValuesEqual(TValue{std::nan("")}, TValue{std::nan("")}));
    EXPECT_FALSE(ValuesEqual(TValue{std::nan("")}, TValue{std::int32_t{0}}));
}

TEST(ValuesEqual, OtherKindsEqualOnlyTheirOwnKind) {
    EXPECT_TRUE(ValuesEqual(TValue{}, TValue{}));
    EXPECT_TRUE(ValuesEqual(TValue{std::string("a")}, TValue{std::string("a")}));
    EXPECT_TRUE(ValuesEqual(TValue{TBytes{1, 2}}, TValue{TBytes{1, 2}}));
    EXPECT_TRUE(ValuesEqual(TValue{TDateTime{3.5}}, TValue{TDateTime{3.5}}));
    EXPECT_TRUE(ValuesEqual(TValue{true}, TValue{true}));

    EXPECT_FALSE(ValuesEqual(TValue{}, TValue{std::int64_t{0}}));
    EXPECT_FALSE(ValuesEqual(TValue{std::string("5")}, TValue{std::int32_t{5}}));
    EXPECT_FALSE(ValuesEqual(TValue{true}, TValue{std::int32_t{1}}));
    EXPECT_FALSE(ValuesEqual(TValue{TDateTime{3.0}}, TValue{3.0}));
    EXPECT_FALSE(ValuesEqual(TValue{std::string("a")}, TValue{std::string("b")}));
    EXPECT_FALSE(ValuesEqual(TValue{TBytes{1}}, TValue{std::string("\x01")}));
}

} // namespace
} // namespace vorlen

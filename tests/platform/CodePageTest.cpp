#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

#if !defined(_WIN32) && __has_include(<iconv.h>)
#include <iconv.h>
#define VORLEN_HAVE_ICONV 1
#endif

namespace vorlen::platform {
namespace {

std::string Byte(unsigned b) {
    return std::string(1, static_cast<char>(b));
}

TEST(CodePageTest, RussianAlphabetRoundTrips) {
    const std::string upper = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
    const std::string lower = "абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
    // In the code page the letters run from 0xC0 to 0xFF, with Ё and ё set apart at 0xA8, 0xB8.
    std::string expected;
    for (unsigned b = 0xC0; b <= 0xDF; ++b) {
        expected += Byte(b);
        if (b == 0xC5)
            expected += Byte(0xA8);
    }
    for (unsigned b = 0xE0; b <= 0xFF; ++b) {
        expected += Byte(b);
        if (b == 0xE5)
            expected += Byte(0xB8);
    }
    const std::string cp = Utf8ToCp1251(upper + lower);
    EXPECT_EQ(cp, expected);
    EXPECT_EQ(Cp1251ToUtf8(cp), upper + lower);
}

TEST(CodePageTest, EveryDefinedHighByteRoundTrips) {
    std::set<std::string> distinct;
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        if (b == 0x98)
            continue;
        const std::string utf8 = Cp1251ToUtf8(Byte(b));
        EXPECT_NE(utf8, "?") << std::hex << b;
        EXPECT_GE(utf8.size(), 2u) << std::hex << b;
        EXPECT_EQ(Utf8ToCp1251(utf8), Byte(b)) << std::hex << b;
        distinct.insert(utf8);
    }
    EXPECT_EQ(distinct.size(), 127u);

    // Characters the journal and the reply texts actually carry.
    EXPECT_EQ(Cp1251ToUtf8(Byte(0xB9) + Byte(0xAB) + Byte(0xBB) + Byte(0x96) + Byte(0x97) +
                           Byte(0x88) + Byte(0x85) + Byte(0xA0)),
              "№«»–—€…\u00A0");
}

#ifdef VORLEN_HAVE_ICONV
TEST(CodePageTest, AgreesWithTheSystemConverter) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv's failure value
    if (cd == reinterpret_cast<iconv_t>(-1))
        GTEST_SKIP() << "no CP1251 converter installed";
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        if (b == 0x98)
            continue;
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<std::size_t>(-1));
        EXPECT_EQ(Cp1251ToUtf8(Byte(b)), std::string(out, sizeof out - outLeft)) << std::hex << b;
    }
    iconv_close(cd);
}
#endif

TEST(CodePageTest, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(Cp1251ToUtf8(Byte(0x98)), "?");
    EXPECT_EQ(Cp1251ToUtf8("a" + Byte(0x98) + Byte(0xC0)), "a?А");
    EXPECT_EQ(Utf8ToCp1251("₽"), "?");
    EXPECT_EQ(Utf8ToCp1251("a中b😀c"), "a?b?c");
    // U+0098 is a valid character but not the code page's byte 0x98.
    EXPECT_EQ(Utf8ToCp1251("\u0098"), "?");
}

TEST(CodePageTest, BrokenUtf8BecomesOneQuestionMarkPerBadSequence) {
    struct Case {
        std::string In;
        std::string Out;
    };
    const Case cases[] = {
        {"\x80", "?"},   // stray continuation byte
        {"A\xD0", "A?"}, // cut off at the end
        {"\xD0"
         "A",
         "?A"}, // cut off before a plain letter
        {"\xE2\x82"
         "x",
         "?x"},                             // three-byte form cut short
        {"\xD0\xD0\x90", "?" + Byte(0xC0)}, // broken, then a valid А
        {"\xC0\xAF", "??"},                 // overlong '/'
        {"\xE0\x80\x80", "???"},            // overlong NUL
        {"\xED\xA0\x80", "???"},            // surrogate half
        {"\xF4\x90\x80\x80", "????"},       // past U+10FFFF
        {"\xF5\x80", "??"},                 // lead byte that never starts a sequence
        {"\xFF", "?"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8ToCp1251(c.In), c.Out) << testing::PrintToString(c.In);
}

TEST(CodePageTest, PlainTextAndEmbeddedNulPassUnchanged) {
    const std::string ascii("FORTS_TRADE_REPL\0orders_log", 27);
    EXPECT_EQ(Utf8ToCp1251(ascii), ascii);
    EXPECT_EQ(Cp1251ToUtf8(ascii), ascii);
    const std::string mixed = "Si-3.24 Ёмкость №5";
    EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(mixed)), mixed);
}

} // namespace
} // namespace vorlen::platform

#include "core/CheckFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace TestFramework;

TEST(CheckFormat, BinaryAndHexWidths)
{
    EXPECT_EQ(IntToBin(5, 4), "0101");
    EXPECT_EQ(IntToBin(0x80000001u, 32), "10000000000000000000000000000001");
    EXPECT_EQ(IntToBin(0xFFFFFFFFu, 0), "");
    // Counts outside the word are clamped rather than read past it.
    EXPECT_EQ(IntToBin(3, -5), "");
    EXPECT_EQ(IntToBin(3, 40), std::string(30, '0') + "11");
    EXPECT_EQ(IntToHex(0xABCDEF12u, 2), "ABCDEF12"); // never cut
    EXPECT_EQ(IntToHex(0, 0), "0");
    EXPECT_EQ(IntToHex(0xA, -1), "A");
    EXPECT_EQ(IntToHex(0xA, 1000).size(), 32u);
    EXPECT_EQ(ByteToHex(0x0A), "0A");
}

TEST(CheckFormat, AddressIsUpperCaseHexOfAtLeastEightDigits)
{
    EXPECT_EQ(PtrToStr(nullptr), "00000000");
    EXPECT_EQ(PtrToStr(reinterpret_cast<const void*>(std::uintptr_t{0xABCDE})), "000ABCDE");
    if constexpr (sizeof(void*) == 8) {
        // Two references 4 GiB apart must not read alike.
        EXPECT_EQ(PtrToStr(reinterpret_cast<const void*>(std::uintptr_t{0x7F12ABCD0010})), "7F12ABCD0010");
    }
}

// The checks' messages depend on these forms of the general float conversion.
TEST(CheckFormat, WideningDecodesUtf8IntoUtf16)
{
    EXPECT_EQ(NarrowToWide("abc"), u"abc");
    EXPECT_EQ(NarrowToWide("\xC3\xA4\xE2\x82\xAC"), u"\u00E4\u20AC");
    EXPECT_EQ(NarrowToWide("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
    EXPECT_EQ(NarrowToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(WideToNarrow(u"\u00E4\u20AC\U0001F600"), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(CheckFormat, EveryNarrowStringSurvivesTheWideRoundTrip)
{
    const std::string samples[] = {
        "\xE9t\xE9",          // Latin-1 bytes, not UTF-8
        "\xC0\xAF",           // overlong '/'
        "\xED\xA0\x80",       // a surrogate encoded in UTF-8
        "\xF4\x90\x80\x80",   // above U+10FFFF
        "ok\xE2\x82",         // truncated at the end
        "\x80\xBF",           // stray continuation bytes
        "\xFF\xFE\xF5",       // never valid
        "\xE2\x82\xAC\xE2\x82", // a good sequence followed by a cut one
    };
    for (const std::string& sample : samples) {
        const std::u16string wide = NarrowToWide(sample);
        EXPECT_EQ(WideToNarrow(wide), sample) << "for " << ::testing::PrintToString(sample);
        for (char16_t unit : wide) {
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                EXPECT_GE(unit, 0xDC80) << "an invalid byte must map to the escape range";
            }
        }
    }
    EXPECT_EQ(NarrowToWide("\xE9"), std::u16string(1, char16_t{0xDCE9}));
}

TEST(CheckFormat, UnpairedSurrogatesNarrowToReplacementCharacter)
{
    EXPECT_EQ(WideToNarrow(std::u16string({u'a', 0xD800, u'b'})), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(WideToNarrow(std::u16string(1, char16_t{0xD83D})), "\xEF\xBF\xBD"); // high at the end
    EXPECT_EQ(WideToNarrow(std::u16string(1, char16_t{0xDE00})), "\xEF\xBF\xBD"); // low, not an escape
}

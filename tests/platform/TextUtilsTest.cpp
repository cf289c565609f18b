// Trimming and ASCII letter case: which bytes count, at both ends, and that bytes above
// 0x7F (UTF-8 or Latin-1 letters) are never blanks and never change case.

#include "platform/TextUtils.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace Sys;

TEST(TextUtils, TrimTakesEveryControlCharacterButNoHighByte)
{
    using namespace std::string_literals;
    EXPECT_EQ(Trim(" \t\r\n\f\v\x01"s + '\0' + "a b\x1F "), "a b");
    EXPECT_EQ(Trim(" \t\r\n "), "");
    EXPECT_EQ(Trim(""), "");
    // 0x7F and the bytes of a non-breaking space or an umlaut are not blanks.
    EXPECT_EQ(Trim("\x7F x \x7F"), "\x7F x \x7F");
    EXPECT_EQ(Trim("\xC2\xA0\xC3\xBC \xA0"), "\xC2\xA0\xC3\xBC \xA0");
}

TEST(TextUtils, LetterCaseIsAsciiOnlyWhateverTheLocale)
{
    // A Latin-1 locale, where one is installed, would lower 0xC4; these functions must not.
    const char* latin1 = std::setlocale(LC_ALL, "de_DE.ISO-8859-1");
    EXPECT_EQ(LowerAscii("AZaz@[`{09 \xC4\xC3\x9C"), "azaz@[`{09 \xC4\xC3\x9C");
    EXPECT_EQ(LowerAscii('Q'), 'q');
    EXPECT_TRUE(SameTextAscii("Enable-Mode", "eNABLE-mODE"));
    EXPECT_FALSE(SameTextAscii("\xC4", "\xE4"));
    EXPECT_FALSE(SameTextAscii("mode", "mode "));
    EXPECT_FALSE(SameTextAscii("@", "`")); // one bit apart, like a letter's case
    EXPECT_TRUE(StartsWithTextAscii("DISABLE-ver", "disable-"));
    EXPECT_TRUE(StartsWithTextAscii("x", ""));
    EXPECT_FALSE(StartsWithTextAscii("dis", "disable-"));
    if (latin1)
        std::setlocale(LC_ALL, "C");
}

TEST(SplitList, LeavesOutEmptyItems)
{
    EXPECT_TRUE(Sys::SplitList(nullptr).empty());
    EXPECT_TRUE(Sys::SplitList(";;").empty());
    EXPECT_EQ(Sys::SplitList(";a;;b c;"), (std::vector<std::string>{"a", "b c"}));
}

#include "platform/Locale.h"
#include "platform/Process.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

using namespace Sys;

namespace {

using TestSupport::TEnvOverride;

const std::string German = "de_DE.UTF-8";

// scripts/setup generates de_DE.UTF-8; without it these tests fail rather than skip,
// since a skipped check proves nothing on that machine.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override
    {
        TEnvOverride all("LC_ALL", German);
        ASSERT_EQ(DecimalSeparator(), ",") << "de_DE.UTF-8 is not generated on this machine (scripts/setup generates it)";
    }
};

const TDateTime Morning = EncodeDateTime(2024, 3, 9, 7, 5, 3, 999);

} // namespace

TEST(DateTime, CountsDaysFromTheEndOf1899)
{
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_EQ(EncodeDateTime(2023, 3, 15, 18, 0, 0), 45000.75);
    // Before day 0 the fraction is still the time of day.
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
    EXPECT_THROW(EncodeDateTime(2023, 2, 29, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeDateTime(2023, 1, 1, 24, 0, 0), EConvertError);

    // Now() is local time: within a day of UTC, and it does not run backwards.
    double utcDays = std::chrono::duration<double, std::ratio<86400>>(
                         std::chrono::system_clock::now().time_since_epoch()).count() + 25569;
    TDateTime now = Now();
    EXPECT_LT(std::fabs(now - utcDays), 15.0 / 24);
    EXPECT_GE(Now(), now);
}

TEST(DateTime, FormatsWithTheCFormatsWhenTheLocaleIsCOrUnknown)
{
    for (const char* name : {"C", "xx_YY.bogus"}) {
        TEnvOverride all("LC_ALL", name);
        EXPECT_EQ(DecimalSeparator(), ".");
        EXPECT_EQ(FormatShortDate(Morning), "03/09/24");
        EXPECT_EQ(FormatLongTime(Morning), "07:05:03"); // seconds truncated
        EXPECT_EQ(DateTimeToStr(Morning), "03/09/24 07:05:03");
    }
    TEnvOverride all("LC_ALL", "C");
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 9, 0, 0, 0)), "03/09/24");
    // One millisecond after midnight is no longer midnight.
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 9, 0, 0, 0, 1)), "03/09/24 00:00:00");
    EXPECT_EQ(DateTimeToStr(-1.25), "12/29/99 06:00:00");
    // A time that rounds up to the next midnight belongs to the next day.
    EXPECT_EQ(DateTimeToStr(1 - 1e-10), "12/31/99");
    // Elapsed times of a day or more wrap around.
    EXPECT_EQ(FormatLongTime(2.5), "12:00:00");
    EXPECT_EQ(FormatShortDate(EncodeDateTime(1, 1, 1, 0, 0, 0)), "01/01/01");
    for (double bad : {std::nan(""), 1e300, -700000.0, 2958466.0})
        EXPECT_THROW(DateTimeToStr(bad), EConvertError) << bad;
}

TEST(FloatToStr, UsesTheShortestTextUpToFifteenDigits)
{
    TEnvOverride all("LC_ALL", "C");
    const long double inf = std::numeric_limits<long double>::infinity();
    const std::pair<long double, const char*> cases[] = {
        {0.0L, "0"},
        {-0.0L, "0"},
        {1.0L, "1"},
        {-1.5L, "-1.5"},
        {0.1, "0.1"}, // a double widened to long double still reads as 0.1
        {1.0L / 3, "0.333333333333333"},
        {2.0L / 3, "0.666666666666667"},
        {1e14L, "100000000000000"},
        {999999999999999.9L, "1E15"}, // rounding moves the exponent
        {1e15L, "1E15"},
        {123456789012345678.0L, "1.23456789012346E17"},
        {0.0001L, "0.0001"},
        {0.00001L, "1E-5"},
        {-2.5e-300L, "-2.5E-300"},
        {1e4000L, "1E4000"},
        {std::numeric_limits<long double>::quiet_NaN(), "NAN"},
        {-std::numeric_limits<long double>::quiet_NaN(), "NAN"},
        {inf, "INF"},
        {-inf, "-INF"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FloatToStr(value), text);
}

TEST_F(GermanLocale, UsesCommaAndGermanDates)
{
    TEnvOverride all("LC_ALL", German);
    EXPECT_EQ(DecimalSeparator(), ",");
    EXPECT_EQ(FloatToStr(1.5L), "1,5");
    EXPECT_EQ(FloatToStr(1.5e-7L), "1,5E-7");
    EXPECT_EQ(DateTimeToStr(Morning), "09.03.2024 07:05:03");
}

TEST_F(GermanLocale, ReadsNumbersAndTimesFromTheirOwnCategories)
{
    TEnvOverride all("LC_ALL", "");
    TEnvOverride lang("LANG", German);
    TEnvOverride numeric("LC_NUMERIC", "C");
    TEnvOverride time("LC_TIME", "");
    EXPECT_EQ(DecimalSeparator(), ".");
    EXPECT_EQ(FormatShortDate(Morning), "09.03.2024");
}

TEST_F(GermanLocale, IgnoresTheProcessGlobalLocale)
{
    // A GUI toolkit sets the global locale from the environment at its start; the texts
    // must follow the environment as it is now, whatever the global locale became.
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, German.c_str()), nullptr);
    TEnvOverride all("LC_ALL", "C");
    EXPECT_EQ(FloatToStr(1.5L), "1.5");
    EXPECT_EQ(FormatShortDate(Morning), "03/09/24");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(GermanLocale, ScriptsSeeTheCLocaleWhateverTheProcessLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, German.c_str()), nullptr);
    auto formatted = [] {
        char text[32];
        std::snprintf(text, sizeof text, "%.14g", 1.5);
        return std::string(text);
    };
    ASSERT_EQ(formatted(), "1,5");
    {
        const TScriptLocale scriptLocale;
        EXPECT_EQ(formatted(), "1.5");
        EXPECT_EQ(std::strtod("2.25", nullptr), 2.25);
        // Byte order, not the user's dictionary order.
        EXPECT_LT(std::strcoll("B", "a"), 0);
    }
    EXPECT_EQ(formatted(), "1,5");
    std::setlocale(LC_ALL, saved.c_str());
}

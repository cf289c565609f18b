#pragma once
// Dates, times and numbers as the user's locale writes them. The formats come from the
// environment (LC_ALL, then LC_NUMERIC or LC_TIME, then LANG), resolved by the C library
// on every call, without touching the process's global locale: a GUI toolkit may set
// that as it likes, and reports must not change with it. An unknown or missing locale
// gives the "C" formats: ".", "%m/%d/%y" and "%H:%M:%S".

#include "platform/SysUtils.h"

#include <string>

#include <locale.h>

namespace Sys {

class EConvertError : public Exception {
public:
    WEXEL_CLASS(EConvertError, Exception)
    using Exception::Exception;
};

// Days since 1899-12-30 00:00 with the time of day as the fraction, in local time. A
// negative value counts days back from that date; its fraction is still the time of
// day (-1.25 is 1899-12-29 06:00), so date-time differences can be negative.
using TDateTime = double;

// The local date and time now, to the millisecond.
TDateTime Now();

// The date-time of a civil date and time; hours 0-23, milliseconds 0-999.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);

// The locale's decimal separator ("," for German); UTF-8, so possibly more than a byte.
std::string DecimalSeparator();

// The date in the locale's short date format (the C library's "%x").
std::string FormatShortDate(TDateTime value);

// The time of day in the locale's long time format (the C library's "%X"); seconds are
// truncated, not rounded, and a value of a day or more wraps around.
std::string FormatLongTime(TDateTime value);

// Short date, a blank, long time; the time is left out at exact midnight.
// The three formatters raise EConvertError for a value outside the years 1 to 9999 or
// one that is not a number.
std::string DateTimeToStr(TDateTime value);

// General format: the shortest text that gives the value to 15 significant digits, in
// positional notation when the decimal exponent lies between -5 and 14, otherwise as
// mantissa, "E" and exponent without "+" or leading zeros ("1E15", "1.5E-7"). Uses the
// locale's decimal separator. Not-a-number is "NAN", infinities "INF" and "-INF", and
// negative zero is "0".
std::string FloatToStr(long double value);

// While it lives, the C library works on the calling thread as in the "C" locale,
// whatever the process's locale is: numbers are written and read with ".", and
// characters are classified, cased and compared byte by byte. A console run never sets
// the process's locale, but a GUI toolkit sets it to the user's, so the window's script
// thread takes this to give each script test the verdict it has in the console. Other
// threads, the toolkit's own display (which reads the environment) and the formatters
// above are not affected.
class TScriptLocale {
public:
    TScriptLocale();
    ~TScriptLocale();
    TScriptLocale(const TScriptLocale&) = delete;
    TScriptLocale& operator=(const TScriptLocale&) = delete;

private:
    locale_t FLocale;
    locale_t FPrevious;
};

} // namespace Sys

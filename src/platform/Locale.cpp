#include "platform/Locale.h"

#include "platform/OsApi.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <vector>

namespace Sys {

namespace {

using namespace std::chrono;

constexpr long long MSecsPerDay = 86'400'000;
constexpr sys_days DayZero = sys_days(year(1899) / December / 30);

// A locale object for some categories, as the environment names them; "C" when the
// environment names none or one that is not installed.
class TLocaleHandle {
public:
    explicit TLocaleHandle(int categoryMask)
    {
        FLocale = ::newlocale(categoryMask, "", locale_t(nullptr));
        if (!FLocale)
            FLocale = ::newlocale(categoryMask, "C", locale_t(nullptr));
        if (!FLocale)
            throw Exception("Cannot create a locale object");
    }
    ~TLocaleHandle() { ::freelocale(FLocale); }
    TLocaleHandle(const TLocaleHandle&) = delete;
    TLocaleHandle& operator=(const TLocaleHandle&) = delete;

    std::string Info(nl_item item, const char* fallback) const
    {
        const char* text = ::nl_langinfo_l(item, FLocale);
        return text && *text ? std::string(text) : std::string(fallback);
    }

    std::string Format(const std::string& format, const std::tm& parts) const
    {
        // strftime answers 0 both for a buffer that is too small and for an empty text.
        for (std::size_t size = 128; size <= 16384; size *= 4) {
            std::vector<char> buffer(size);
            std::size_t n = ::strftime_l(buffer.data(), size, format.c_str(), &parts, FLocale);
            if (n > 0)
                return std::string(buffer.data(), n);
        }
        return {};
    }

private:
    locale_t FLocale;
};

struct TDecoded {
    std::tm Parts{};
    long long Milliseconds = 0; // of the day
};

[[noreturn]] void ThrowInvalidDate(TDateTime value)
{
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    throw EConvertError("Invalid date-time value " + std::string(text, end));
}

TDecoded Decode(TDateTime value)
{
    // Beyond this the date is out of range anyway; the bound keeps the casts defined.
    if (!std::isfinite(value) || std::fabs(value) > 1e7)
        ThrowInvalidDate(value);
    double whole = std::trunc(value);
    long long day = static_cast<long long>(whole);
    long long msec = std::llround(std::fabs(value - whole) * MSecsPerDay);
    if (msec >= MSecsPerDay) { // rounded up to the next midnight
        msec -= MSecsPerDay;
        day += value < 0 ? -1 : 1;
    }
    sys_days date = DayZero + days(day);
    year_month_day ymd(date);
    if (int(ymd.year()) < 1 || int(ymd.year()) > 9999)
        ThrowInvalidDate(value);

    TDecoded d;
    d.Milliseconds = msec;
    d.Parts.tm_year = int(ymd.year()) - 1900;
    d.Parts.tm_mon = int(unsigned(ymd.month())) - 1;
    d.Parts.tm_mday = int(unsigned(ymd.day()));
    d.Parts.tm_wday = int(weekday(date).c_encoding());
    d.Parts.tm_yday = int((date - sys_days(ymd.year() / January / 1)).count());
    long long seconds = msec / 1000;
    d.Parts.tm_hour = int(seconds / 3600);
    d.Parts.tm_min = int(seconds / 60 % 60);
    d.Parts.tm_sec = int(seconds % 60);
    return d;
}

std::string ShortDate(const TLocaleHandle& locale, const std::tm& parts)
{
    return locale.Format(locale.Info(D_FMT, "%m/%d/%y"), parts);
}

std::string LongTime(const TLocaleHandle& locale, const std::tm& parts)
{
    return locale.Format(locale.Info(T_FMT, "%H:%M:%S"), parts);
}

// Puts the locale's separator where the locale-independent conversion put its point.
std::string WithSeparator(std::string text)
{
    std::size_t point = text.find('.');
    if (point != std::string::npos)
        text.replace(point, 1, DecimalSeparator());
    return text;
}

bool NotFinite(long double value, std::string& text)
{
    if (std::isnan(value))
        text = "NAN";
    else if (std::isinf(value))
        text = value < 0 ? "-INF" : "INF";
    else
        return false;
    return true;
}

} // namespace

TDateTime Now()
{
    auto now = system_clock::now();
    auto second = floor<seconds>(now);
    std::time_t t = system_clock::to_time_t(second);
    std::tm local{};
    ::localtime_r(&t, &local);
    int ms = int(duration_cast<milliseconds>(now - second).count());
    // A leap second is shown as the last second of its minute.
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, ms);
}

TDateTime EncodeDateTime(int yearNo, int monthNo, int dayNo, int hour, int minute, int second,
                         int millisecond)
{
    year_month_day ymd{year{yearNo}, month{unsigned(monthNo)}, day{unsigned(dayNo)}};
    if (yearNo < 1 || yearNo > 9999 || !ymd.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || millisecond < 0 || millisecond > 999)
        throw EConvertError("Invalid argument to date encode");
    double date = double((sys_days(ymd) - DayZero).count());
    double time = double(((hour * 60LL + minute) * 60 + second) * 1000 + millisecond) / MSecsPerDay;
    return date < 0 ? date - time : date + time;
}

std::string DecimalSeparator()
{
    return TLocaleHandle(LC_NUMERIC_MASK).Info(RADIXCHAR, ".");
}

std::string FormatShortDate(TDateTime value)
{
    TDecoded d = Decode(value);
    return ShortDate(TLocaleHandle(LC_TIME_MASK), d.Parts);
}

std::string FormatLongTime(TDateTime value)
{
    TDecoded d = Decode(value);
    return LongTime(TLocaleHandle(LC_TIME_MASK), d.Parts);
}

std::string DateTimeToStr(TDateTime value)
{
    TDecoded d = Decode(value);
    TLocaleHandle locale(LC_TIME_MASK);
    std::string text = ShortDate(locale, d.Parts);
    if (d.Milliseconds != 0)
        text += " " + LongTime(locale, d.Parts);
    return text;
}

std::string FloatToStr(long double value)
{
    std::string text;
    if (NotFinite(value, text))
        return text;
    if (value == 0)
        return "0";
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    text.assign(buffer, end);

    // "1e+15" becomes "1E15", "1.5e-07" becomes "1.5E-7".
    std::size_t e = text.find('e');
    if (e != std::string::npos) {
        std::string mantissa = text.substr(0, e);
        bool negative = text[e + 1] == '-';
        std::size_t digits = text.find_first_not_of('0', e + 2);
        text = mantissa + "E" + (negative ? "-" : "") + text.substr(digits);
    }
    return WithSeparator(std::move(text));
}

TScriptLocale::TScriptLocale()
    : FLocale(::newlocale(LC_ALL_MASK, "C", locale_t(nullptr)))
{
    if (!FLocale)
        throw Exception("Cannot create a locale object");
    FPrevious = ::uselocale(FLocale);
}

TScriptLocale::~TScriptLocale()
{
    ::uselocale(FPrevious);
    ::freelocale(FLocale);
}

} // namespace Sys

#include "report/JUnitTestRunnerRecords.h"

#include "report/XmlText.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace JUnitTestRunner {

namespace {

constexpr std::string_view Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
constexpr std::string_view RootStart = "<testsuites";

// Room for the totals at their widest: three ten-digit counts and the seconds of a
// 64-bit millisecond count, with their attribute names and quotes.
constexpr std::size_t TotalsWidth = 100;

void AppendAttribute(std::string& out, std::string_view name, std::string_view value)
{
    out += ' ';
    out.append(name).append("=\"");
    XmlText::AppendEscapedUtf8Whitespace(out, value);
    out += '"';
}

std::string Attribute(std::string_view name, std::string_view value)
{
    std::string a;
    AppendAttribute(a, name, value);
    return a;
}

// Text content keeps its tabs and line feeds; a CR must be a reference to survive parsing.
std::string Text(std::string_view text)
{
    const std::string escaped = XmlText::EscapeUtf8(text);
    std::string r;
    r.reserve(escaped.size());
    for (const char c : escaped) {
        if (c == '\r')
            r += "&#13;";
        else
            r += c;
    }
    return r;
}

void AppendCaseStart(std::string& out, std::string_view className, std::string_view testName,
                     const TCaseDetails& details, std::uint64_t elapsedMilliseconds)
{
    out += "  <testcase";
    // Cases come suite by suite: the class attribute of the last case serves the next.
    thread_local std::string lastClassName, lastClassAttribute;
    if (lastClassAttribute.empty() || className != lastClassName) {
        lastClassName.assign(className);
        lastClassAttribute.clear();
        AppendAttribute(lastClassAttribute, "classname", className);
    }
    out += lastClassAttribute;
    AppendAttribute(out, "name", testName);
    if (!details.File.empty()) {
        // A library's cases name its file one after another, as with the class.
        thread_local std::string lastFile, lastFileAttribute;
        if (lastFileAttribute.empty() || details.File != lastFile) {
            lastFile.assign(details.File);
            lastFileAttribute.clear();
            AppendAttribute(lastFileAttribute, "file", details.File);
        }
        out += lastFileAttribute;
        if (details.Line > 0) {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, details.Line).ptr;
            out.append(" line=\"").append(digits, end) += '"';
        }
    }
    out += " time=\"";
    XmlText::AppendSeconds(out, elapsedMilliseconds);
    out += '"';
}

std::string CaseStart(std::string_view className, std::string_view testName, const TCaseDetails& details,
                      std::uint64_t elapsedMilliseconds)
{
    std::string r;
    AppendCaseStart(r, className, testName, details, elapsedMilliseconds);
    return r;
}

// The end of a test case whose start tag is written up to its ">", after its outcome's
// element (if any).
std::string CaseEnd(const TCaseDetails& details)
{
    std::string r;
    if (!details.Output.empty())
        r.append("    <system-out>").append(Text(details.Output)).append("</system-out>\r\n");
    return r + "  </testcase>\r\n";
}

std::string CaseWithProblem(std::string_view element, std::string_view className, std::string_view testName,
                            std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                            std::string_view message, const TCaseDetails& details)
{
    // The message goes into the attribute, where readers show it as the reason, and into
    // the element's text, for readers that show only that.
    std::string r = CaseStart(className, testName, details, elapsedMilliseconds);
    r.append(">\r\n");
    r.append("    <").append(element).append(Attribute("type", exceptionClassName))
        .append(Attribute("message", message)).append(">")
        .append(Text(message)).append("</").append(element).append(">\r\n");
    return r + CaseEnd(details);
}

} // namespace

std::string HeaderRecord()
{
    std::string r(Declaration);
    r.append(RootStart).append(TotalsWidth, ' ').append(">\r\n");
    return r;
}

std::string HeaderWithTotalsRecord(const TTotals& totals)
{
    std::string tag = Attribute("tests", std::to_string(totals.Tests)) +
                      Attribute("failures", std::to_string(totals.Failures)) +
                      Attribute("errors", std::to_string(totals.Errors)) +
                      Attribute("time", XmlText::FormatSeconds(totals.Milliseconds));
    tag.resize(TotalsWidth, ' ');
    std::string r(Declaration);
    r.append(RootStart).append(tag).append(">\r\n");
    return r;
}

std::string PassedTestCaseRecord(std::string_view className, std::string_view testName,
                                 std::uint64_t elapsedMilliseconds, const TCaseDetails& details)
{
    std::string r;
    AppendPassedTestCaseRecord(r, className, testName, elapsedMilliseconds, details);
    return r;
}

void AppendPassedTestCaseRecord(std::string& out, std::string_view className, std::string_view testName,
                                std::uint64_t elapsedMilliseconds, const TCaseDetails& details)
{
    AppendCaseStart(out, className, testName, details, elapsedMilliseconds);
    if (details.Output.empty())
        out += "/>\r\n";
    else
        out.append(">\r\n").append(CaseEnd(details));
}

std::string FailedTestCaseRecord(std::string_view className, std::string_view testName,
                                 std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                 std::string_view message, const TCaseDetails& details)
{
    return CaseWithProblem("failure", className, testName, elapsedMilliseconds, exceptionClassName, message,
                           details);
}

std::string ErroredTestCaseRecord(std::string_view className, std::string_view testName,
                                  std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                  std::string_view message, const TCaseDetails& details)
{
    return CaseWithProblem("error", className, testName, elapsedMilliseconds, exceptionClassName, message,
                           details);
}

std::string SkippedTestCaseRecord(std::string_view className, std::string_view testName,
                                  std::string_view message, const TCaseDetails& details)
{
    std::string r = CaseStart(className, testName, details, 0) + ">\r\n    <skipped";
    if (!message.empty())
        r += Attribute("message", message);
    return r + "/>\r\n" + CaseEnd(details);
}

std::string ClassNameLevel(std::string_view levelName)
{
    std::string r;
    r.reserve(levelName.size());
    for (const char c : levelName) {
        if (c == '%')
            r += "%25";
        else if (c == '.')
            r += "%2E";
        else
            r += c;
    }
    return r;
}

std::string SuiteStartRecord(std::string_view suitePath, const TTotals& totals, std::string_view timestamp,
                             std::string_view hostName)
{
    return " <testsuite" + Attribute("name", suitePath) + Attribute("tests", std::to_string(totals.Tests)) +
           Attribute("failures", std::to_string(totals.Failures)) + Attribute("errors", std::to_string(totals.Errors)) +
           Attribute("skipped", std::to_string(totals.Skipped)) +
           Attribute("time", XmlText::FormatSeconds(totals.Milliseconds)) + Attribute("timestamp", timestamp) +
           Attribute("hostname", hostName) + ">\r\n";
}

std::string SuiteRecord(std::string_view suitePath, const TTotals& totals, std::string_view timestamp,
                        std::string_view hostName, std::string_view testCaseRecords)
{
    std::string r = SuiteStartRecord(suitePath, totals, timestamp, hostName);
    r.append(testCaseRecords).append(SuiteEndRecord);
    return r;
}

std::string FooterRecord() { return "</testsuites>\r\n"; }

std::string FormatTimestamp(Sys::TDateTime value)
{
    using namespace std::chrono;
    // Whole milliseconds first, so that the seconds are truncated as the clock shows them.
    const auto millisecond = static_cast<long long>(std::llround(value * 86'400'000.0));
    const long long day = millisecond / 86'400'000, second = millisecond % 86'400'000 / 1000;
    const year_month_day date{sys_days(year(1899) / December / 30) + days(day)};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), second / 3600,
                  second / 60 % 60, second % 60);
    return text;
}

} // namespace JUnitTestRunner

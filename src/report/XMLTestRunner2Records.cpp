#include "report/XMLTestRunner2Records.h"

#include "platform/TextUtils.h"
#include "report/XmlText.h"

#include <algorithm>

namespace XMLTestRunner2 {

namespace {

constexpr std::string_view CrLf = "\r\n";

const char* TrueFalse(bool value)
{
    return value ? "True" : "False";
}

void AppendTestCaseStart(std::string& r, std::string_view testCaseName, bool executed, bool success,
                         std::uint64_t elapsedMilliseconds, std::string_view result)
{
    r.append("    <test-case name=\"");
    XmlText::AppendEscapedUtf8(r, testCaseName);
    r.append("\" executed=\"").append(TrueFalse(executed)).append("\" success=\"").append(TrueFalse(success));
    r.append("\" time=\"");
    XmlText::AppendSeconds(r, elapsedMilliseconds);
    r.append("\" result=\"").append(result).append("\"");
}

std::string TestCaseStart(std::string_view testCaseName, bool executed, bool success,
                          std::uint64_t elapsedMilliseconds, std::string_view result)
{
    std::string r;
    AppendTestCaseStart(r, testCaseName, executed, success, elapsedMilliseconds, result);
    return r;
}

std::string FailedTestCaseRecord(std::string_view result, std::string_view testCaseName, bool executed,
                                 std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                 std::string_view message, std::string_view addressInfo,
                                 std::string_view stackTrace)
{
    std::string r = TestCaseStart(testCaseName, executed, false, elapsedMilliseconds, result);
    r.append(">").append(CrLf);
    r.append("      <failure>").append(CrLf);
    // The message's CDATA section spans two lines; every piece inside it is split on
    // "]]>" by itself, which is enough because no literal around them ends in "]]" or
    // begins with ">".
    r.append("        <message><![CDATA[Exception: [").append(XmlText::CDataUtf8(exceptionClassName))
        .append("] ").append(XmlText::CDataUtf8(message)).append(CrLf);
    r.append("At: ").append(XmlText::CDataUtf8(addressInfo)).append("]]></message>").append(CrLf);
    r.append("        <stack-trace><![CDATA[").append(XmlText::CDataUtf8(stackTrace))
        .append("]]></stack-trace>").append(CrLf);
    r.append("      </failure>").append(CrLf);
    r.append("    </test-case>").append(CrLf);
    return r;
}

void AppendStat(std::string& r, std::string_view name, std::string_view value, std::string_view closing)
{
    r.append("<stat name=\"").append(name).append("\" value=\"").append(value).append(closing).append(CrLf);
}

} // namespace

int NotRunPadding(int totalCount, int notRunCount)
{
    return std::max(0, static_cast<int>(std::to_string(totalCount).size()) -
                           static_cast<int>(std::to_string(notRunCount).size()));
}

std::string HeaderRecord(std::string_view rootSuiteName, int totalCount, int notRunCount,
                         std::string_view date, std::string_view time, int padding)
{
    std::string r = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n";
    r.append("<test-results name=\"").append(XmlText::EscapeUtf8(rootSuiteName))
        .append("\" total=\"").append(std::to_string(totalCount))
        .append("\" not-run=\"").append(std::to_string(notRunCount))
        .append("\" date=\"").append(XmlText::EscapeUtf8(date))
        .append("\" time=\"").append(XmlText::EscapeUtf8(time))
        .append("\"").append(static_cast<std::size_t>(std::max(0, padding)), ' ').append(">").append(CrLf);
    return r;
}

std::string StatusRecord(std::string_view testName, std::string_view message)
{
    return "INFO: " + XmlText::EscapeUtf8(testName) + ": " + XmlText::EscapeUtf8(message) + "\r\n";
}

std::string SuiteStartRecord(std::string_view qualifiedSuiteName, int totalCount, int notRunCount, int padding)
{
    std::string r = "<test-suite name=\"";
    r.append(XmlText::EscapeUtf8(qualifiedSuiteName))
        .append("\" total=\"").append(std::to_string(totalCount))
        .append("\" not-run=\"").append(std::to_string(notRunCount))
        .append("\"").append(static_cast<std::size_t>(std::max(0, padding)), ' ').append(">").append(CrLf);
    r.append("  <results>").append(CrLf);
    return r;
}

std::string SuiteEndRecord()
{
    return "  </results>\r\n</test-suite>\r\n";
}

std::string PassedTestCaseRecord(std::string_view testCaseName, bool executed,
                                 std::uint64_t elapsedMilliseconds)
{
    std::string r;
    // The literals and a time below a day: one allocation for the whole record.
    r.reserve(testCaseName.size() + 112);
    AppendTestCaseStart(r, testCaseName, executed, true, elapsedMilliseconds, "Pass");
    r.append("/>\r\n");
    return r;
}

std::string NotRunTestCaseRecord(std::string_view testCaseName)
{
    return "    <test-case name=\"" + XmlText::EscapeUtf8(testCaseName) + "\" executed=\"False\"/>\r\n";
}

std::string ErrorTestCaseRecord(std::string_view testCaseName, bool executed,
                                std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                std::string_view message, std::string_view addressInfo,
                                std::string_view stackTrace)
{
    return FailedTestCaseRecord("Error", testCaseName, executed, elapsedMilliseconds, exceptionClassName,
                                message, addressInfo, stackTrace);
}

std::string FailureTestCaseRecord(std::string_view testCaseName, bool executed,
                                  std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                  std::string_view message, std::string_view addressInfo,
                                  std::string_view stackTrace)
{
    return FailedTestCaseRecord("Failure", testCaseName, executed, elapsedMilliseconds, exceptionClassName,
                                message, addressInfo, stackTrace);
}

std::string StatisticsRecord(int runCount, int failureCount, int errorCount,
                             std::string_view startedAt, std::string_view finishedAt,
                             std::uint64_t runTimeMilliseconds)
{
    std::string r = "<statistics>\r\n";
    AppendStat(r, "tests", std::to_string(runCount), "\" />");
    AppendStat(r, "failures", std::to_string(failureCount), "\" />");
    AppendStat(r, "errors", std::to_string(errorCount), "\" />");
    AppendStat(r, "success-rate", std::to_string(XmlText::SuccessRate(runCount, failureCount, errorCount)), "%\" />");
    AppendStat(r, "started-at", XmlText::EscapeUtf8(startedAt), "\" />");
    AppendStat(r, "finished-at", XmlText::EscapeUtf8(finishedAt), "\" />");
    AppendStat(r, "runtime", XmlText::FormatSeconds(runTimeMilliseconds), "\"/>");
    r.append("</statistics>\r\n</test-results>\r\n");
    return r;
}

bool IsReportRoot(std::string_view suiteName, std::string_view hostExeFileName)
{
    const auto slash = hostExeFileName.find_last_of("/\\");
    if (slash != std::string_view::npos)
        hostExeFileName.remove_prefix(slash + 1);
    return Sys::SameTextAscii(suiteName, hostExeFileName);
}

std::string TestCaseName(std::string_view rootSuiteName, std::string_view suitePathPrefix,
                         std::string_view testName)
{
    std::string name;
    name.reserve(rootSuiteName.size() + 1 + suitePathPrefix.size() + testName.size());
    name.append(rootSuiteName).append(".").append(suitePathPrefix).append(testName);
    return name;
}

} // namespace XMLTestRunner2

#include "report/XMLTestRunnerRecords.h"

#include "report/XmlText.h"

namespace XMLTestRunner {

namespace {

constexpr std::string_view CrLf = "\r\n";

std::string FailedTestRecord(std::string_view resultLiteral, std::string_view testName,
                             std::string_view exceptionClassName, std::string_view locationInfo,
                             std::string_view message)
{
    std::string r;
    r.reserve(128 + testName.size() + message.size());
    r.append("<Test name=\"").append(XmlText::EscapeLatin1(testName)).append(resultLiteral).append(CrLf);
    r.append("<FailureType>").append(XmlText::EscapeLatin1(exceptionClassName)).append("</FailureType>").append(CrLf);
    r.append("<Location>").append(XmlText::EscapeLatin1(locationInfo)).append("</Location>").append(CrLf);
    r.append("<Message>").append(XmlText::EscapeLatin1(message)).append("</Message>").append(CrLf);
    r.append("</Test>").append(CrLf);
    return r;
}

void AppendStat(std::string& r, std::string_view name, std::string_view value, std::string_view closing)
{
    r.append("<Stat name=\"").append(name).append("\" result=\"").append(value).append(closing).append(CrLf);
}

} // namespace

std::string HeaderRecord()
{
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\" ?>\r\n<TestRun>\r\n";
}

std::string StatusRecord(std::string_view testName, std::string_view message)
{
    return "INFO: " + XmlText::EscapeLatin1(testName) + ": " + XmlText::EscapeLatin1(message) + "\r\n";
}

std::string SuiteStartRecord(std::string_view suiteName)
{
    return "<TestSuite name=\"" + XmlText::EscapeLatin1(suiteName) + "\">\r\n";
}

std::string SuiteEndRecord()
{
    return "</TestSuite>\r\n";
}

std::string PassedTestRecord(std::string_view testName)
{
    constexpr std::string_view Start = "<Test name=\"";
    constexpr std::string_view End = "\" result=\"PASS\">\r\n</Test>\r\n";
    std::string r;
    r.reserve(Start.size() + testName.size() + End.size());
    r.append(Start);
    XmlText::AppendEscapedLatin1(r, testName);
    r.append(End);
    return r;
}

std::string ErrorTestRecord(std::string_view testName, std::string_view exceptionClassName,
                            std::string_view locationInfo, std::string_view message)
{
    return FailedTestRecord("\" result=\"ERROR\">", testName, exceptionClassName, locationInfo, message);
}

std::string FailureTestRecord(std::string_view testName, std::string_view exceptionClassName,
                              std::string_view locationInfo, std::string_view message)
{
    return FailedTestRecord("\" result=\"FAILS\">", testName, exceptionClassName, locationInfo, message);
}

std::string StatisticsRecord(int runCount, int failureCount, int errorCount,
                             std::string_view finishedAt, std::string_view runTime)
{
    std::string r = "<Statistics>\r\n";
    AppendStat(r, "Tests", std::to_string(runCount), "\" />");
    AppendStat(r, "Failures", std::to_string(failureCount), "\" />");
    AppendStat(r, "Errors", std::to_string(errorCount), "\" />");
    AppendStat(r, "Success Rate", std::to_string(XmlText::SuccessRate(runCount, failureCount, errorCount)), "%\" />");
    AppendStat(r, "Finished At", XmlText::EscapeLatin1(finishedAt), "\" />");
    AppendStat(r, "Runtime", XmlText::EscapeLatin1(runTime), "\" />");
    r.append("</Statistics>\r\n</TestRun>\r\n");
    return r;
}

} // namespace XMLTestRunner

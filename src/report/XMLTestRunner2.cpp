// The report of mode "xml_nunit", NUnit-style XML; the "2" only sets it apart from XMLTestRunner, mode "xml".

#include "report/XMLTestRunner2.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Clock.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "report/ReportRun.h"
#include "report/XMLTestRunner2Records.h"
#include "report/XmlReportListener.h"

#include <cstdint>

namespace XMLTestRunner2 {

namespace {

using XmlReport::ITestPtr;
using XmlReport::TTestFailure;
using XmlReport::TTestResult;

std::string RootSuiteName()
{
    auto root = TestFramework::RegisteredTests();
    return root ? root->GetName() : std::string();
}

class TXMLTestListener : public XmlReport::TXmlReportListener {
public:
    explicit TXMLTestListener(std::string fileName)
        : TXmlReportListener(std::move(fileName)), FHostExeName(Sys::ExeFileName())
    {
    }

private:
    std::string CaseName(const ITestPtr& test) const
    {
        return TestCaseName(RootSuiteName(), OpenSuites().SuitePathPrefix(), test->GetName());
    }

    std::string RunHeader() override
    {
        FStartTicks = Sys::GetTickCount();
        auto root = TestFramework::RegisteredTests();
        const int total = root ? root->CountTestCases() : 0;
        const int enabled = root ? root->CountEnabledTestCases() : 0;
        return HeaderRecord(RootSuiteName(), total, total - enabled, Sys::FormatShortDate(StartTime()),
                            Sys::FormatLongTime(StartTime()));
    }

    std::string StatusLine(const ITestPtr& test, const std::string& msg) override
    {
        return StatusRecord(test->GetName(), msg);
    }

    std::string PassedTest(const ITestPtr& test) override
    {
        return PassedTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime());
    }

    std::string ErroredTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        return ErrorTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime(),
                                   failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                   failure.AddressInfo(), failure.StackTrace());
    }

    std::string FailedTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        return FailureTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime(),
                                     failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                     failure.AddressInfo(), failure.StackTrace());
    }

    std::string SkippedTest(const ITestPtr& test) override { return NotRunTestCaseRecord(CaseName(test)); }

    std::string SuiteHeader(const ITestPtr& suite) override
    {
        const int total = suite->CountTestCases();
        return SuiteStartRecord(OpenSuites().SuiteName(suite->GetName()), total,
                                total - suite->CountEnabledTestCases());
    }

    std::string SuiteFooter() override { return SuiteEndRecord(); }

    std::string RunFooter(TTestResult& testResult) override
    {
        const std::uint32_t elapsed = Sys::GetTickCount() - FStartTicks;
        return StatisticsRecord(testResult.RunCount(), testResult.FailureCount(), testResult.ErrorCount(),
                                Sys::DateTimeToStr(StartTime()), Sys::DateTimeToStr(Sys::Now()), elapsed);
    }

    bool HasElement(const ITestPtr& suite) override { return !IsReportRoot(suite->GetName(), FHostExeName); }

    std::uint32_t FStartTicks = 0;
    std::string FHostExeName;
};

} // namespace

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile)
{
    return ReportRun::RunForReport(suite, std::make_shared<TXMLTestListener>(outputFile));
}

std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile)
{
    return RunTest(TestFramework::RegisteredTests(), outputFile);
}

} // namespace XMLTestRunner2

#include "report/XMLTestRunner.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Locale.h"
#include "report/ReportRun.h"
#include "report/XMLTestRunnerRecords.h"
#include "report/XmlReportListener.h"

namespace XMLTestRunner {

namespace {

using XmlReport::ITestPtr;
using XmlReport::TTestFailure;
using XmlReport::TTestResult;

class TXMLTestListener : public XmlReport::TXmlReportListener {
public:
    using TXmlReportListener::TXmlReportListener;

private:
    std::string RunHeader() override { return HeaderRecord(); }

    std::string StatusLine(const ITestPtr& test, const std::string& msg) override
    {
        return StatusRecord(test->GetName(), msg);
    }

    std::string PassedTest(const ITestPtr& test) override { return PassedTestRecord(test->GetName()); }

    std::string ErroredTest(TTestFailure& failure) override
    {
        return ErrorTestRecord(failure.FailedTest()->GetName(), failure.ThrownExceptionName(),
                               failure.LocationInfo(), failure.ThrownExceptionMessage());
    }

    std::string FailedTest(TTestFailure& failure) override
    {
        return FailureTestRecord(failure.FailedTest()->GetName(), failure.ThrownExceptionName(),
                                 failure.LocationInfo(), failure.ThrownExceptionMessage());
    }

    // The format has no record for a test that did not run.
    std::string SkippedTest(const ITestPtr&) override { return {}; }

    std::string SuiteHeader(const ITestPtr& suite) override { return SuiteStartRecord(suite->GetName()); }

    std::string SuiteFooter() override { return SuiteEndRecord(); }

    std::string RunFooter(TTestResult& testResult) override
    {
        const Sys::TDateTime now = Sys::Now();
        return StatisticsRecord(testResult.RunCount(), testResult.FailureCount(), testResult.ErrorCount(),
                                Sys::DateTimeToStr(now), Sys::FormatLongTime(now - StartTime()));
    }
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

} // namespace XMLTestRunner

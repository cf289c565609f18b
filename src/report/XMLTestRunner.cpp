#include "report/XMLTestRunner.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "report/ReportRun.h"

namespace XMLTestRunner {

TXMLTestListener::TXMLTestListener(std::string fileName) : FFileName(std::move(fileName)) {}

void TXMLTestListener::WriteRecord(const std::string& record)
{
    // The builders end every record with its CR LF already.
    if (!record.empty() && FSink)
        FSink->Write(record);
}

void TXMLTestListener::Status(const ITestPtr& test, const std::string& msg)
{
    WriteRecord(StatusRecord(test->GetName(), msg));
}

void TXMLTestListener::TestingStarts()
{
    FStartTime = Sys::Now();
    FSink.emplace(FFileName);
    WriteRecord(HeaderRecord());
}

void TXMLTestListener::StartTest(const ITestPtr&) {}

void TXMLTestListener::AddSuccess(const ITestPtr& test)
{
    if (test->Tests().empty())
        WriteRecord(PassedTestRecord(test->GetName()));
}

void TXMLTestListener::AddError(TTestFailure& failure)
{
    WriteRecord(ErrorTestRecord(failure.FailedTest()->GetName(), failure.ThrownExceptionName(),
                                failure.LocationInfo(), failure.ThrownExceptionMessage()));
}

void TXMLTestListener::AddFailure(TTestFailure& failure)
{
    WriteRecord(FailureTestRecord(failure.FailedTest()->GetName(), failure.ThrownExceptionName(),
                                  failure.LocationInfo(), failure.ThrownExceptionMessage()));
}

void TXMLTestListener::EndTest(const ITestPtr& test)
{
    // Normally nothing: only a suite whose body raised before its EndSuite is still open
    // here, and closing it keeps the report well-formed.
    WriteRecord(FOpenSuites.Close(test.get()));
}

void TXMLTestListener::TestingEnds(TTestResult& testResult)
{
    const Sys::TDateTime now = Sys::Now();
    WriteRecord(FOpenSuites.CloseAll());
    WriteRecord(StatisticsRecord(testResult.RunCount(), testResult.FailureCount(), testResult.ErrorCount(),
                                 Sys::DateTimeToStr(now), Sys::FormatLongTime(now - FStartTime)));
    if (FSink) {
        FSink->Close();
        FSink.reset();
    }
}

bool TXMLTestListener::ShouldRunTest(const ITestPtr& test) { return test->GetEnabled(); }

void TXMLTestListener::StartSuite(const ITestPtr& suite)
{
    WriteRecord(SuiteStartRecord(suite->GetName()));
    FOpenSuites.Open(suite.get());
}

void TXMLTestListener::EndSuite(const ITestPtr& suite) { WriteRecord(FOpenSuites.Close(suite.get())); }

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile)
{
    return ReportRun::RunForReport(suite, std::make_shared<TXMLTestListener>(outputFile));
}

std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile)
{
    return RunTest(TestFramework::RegisteredTests(), outputFile);
}

} // namespace XMLTestRunner

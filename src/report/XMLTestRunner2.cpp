#include "report/XMLTestRunner2.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "report/ReportRun.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace XMLTestRunner2 {

namespace {

std::string RootSuiteName()
{
    auto root = TestFramework::RegisteredTests();
    return root ? root->GetName() : std::string();
}

} // namespace

TXMLTestListener::TXMLTestListener(std::string fileName)
    : FFileName(std::move(fileName)), FHostExeName(Sys::ExeFileName())
{
}

void TXMLTestListener::WriteRecord(const std::string& record)
{
    if (!record.empty() && FSink)
        FSink->Write(record);
}

std::string TXMLTestListener::TestCaseName(const std::string& testName) const
{
    return FSuites.TestCaseName(RootSuiteName(), testName);
}

bool TXMLTestListener::IsRoot(const ITestPtr& suite) const
{
    return IsReportRoot(suite->GetName(), FHostExeName);
}

void TXMLTestListener::Status(const ITestPtr& test, const std::string& msg)
{
    WriteRecord(StatusRecord(test->GetName(), msg));
}

void TXMLTestListener::TestingStarts()
{
    FStartTicks = Sys::GetTickCount();
    FStartTime = Sys::Now();
    FSink.emplace(FFileName);
    auto root = TestFramework::RegisteredTests();
    const int total = root ? root->CountTestCases() : 0;
    const int enabled = root ? root->CountEnabledTestCases() : 0;
    WriteRecord(HeaderRecord(RootSuiteName(), total, total - enabled, Sys::FormatShortDate(FStartTime),
                             Sys::FormatLongTime(FStartTime)));
}

void TXMLTestListener::StartTest(const ITestPtr&) {}

void TXMLTestListener::AddSuccess(const ITestPtr& test)
{
    if (test->Tests().empty())
        WriteRecord(PassedTestCaseRecord(TestCaseName(test->GetName()), test->GetEnabled(),
                                         test->ElapsedTestTime()));
}

void TXMLTestListener::AddError(TTestFailure& failure)
{
    auto test = failure.FailedTest();
    WriteRecord(ErrorTestCaseRecord(TestCaseName(test->GetName()), test->GetEnabled(), test->ElapsedTestTime(),
                                    failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                    failure.AddressInfo(), failure.StackTrace()));
}

void TXMLTestListener::AddFailure(TTestFailure& failure)
{
    auto test = failure.FailedTest();
    WriteRecord(FailureTestCaseRecord(TestCaseName(test->GetName()), test->GetEnabled(), test->ElapsedTestTime(),
                                      failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                      failure.AddressInfo(), failure.StackTrace()));
}

void TXMLTestListener::EndTest(const ITestPtr& test)
{
    // Normally nothing: only a suite whose body raised before its EndSuite is still open
    // here, and closing it keeps the report well-formed.
    WriteRecord(FSuites.Pop(test.get()));
}

void TXMLTestListener::TestingEnds(TTestResult& testResult)
{
    WriteRecord(FSuites.CloseAll());
    const std::uint32_t elapsed = Sys::GetTickCount() - FStartTicks;
    WriteRecord(StatisticsRecord(testResult.RunCount(), testResult.FailureCount(), testResult.ErrorCount(),
                                 Sys::DateTimeToStr(FStartTime), Sys::DateTimeToStr(Sys::Now()), elapsed));
    if (FSink) {
        FSink->Close();
        FSink.reset();
    }
}

bool TXMLTestListener::ShouldRunTest(const ITestPtr& test)
{
    if (!test->GetEnabled()) {
        WriteRecord(NotRunTestCaseRecord(TestCaseName(test->GetName())));
        return false;
    }
    return true;
}

void TXMLTestListener::StartSuite(const ITestPtr& suite)
{
    if (IsRoot(suite))
        return;
    const int total = suite->CountTestCases();
    WriteRecord(SuiteStartRecord(FSuites.SuiteName(suite->GetName()), total,
                                 total - suite->CountEnabledTestCases()));
    FSuites.Push(suite.get(), suite->GetName());
}

void TXMLTestListener::EndSuite(const ITestPtr& suite)
{
    if (IsRoot(suite))
        return;
    WriteRecord(FSuites.Pop(suite.get()));
}

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile)
{
    return ReportRun::RunForReport(suite, std::make_shared<TXMLTestListener>(outputFile));
}

std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile)
{
    return RunTest(TestFramework::RegisteredTests(), outputFile);
}

} // namespace XMLTestRunner2

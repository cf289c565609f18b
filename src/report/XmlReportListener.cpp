#include "report/XmlReportListener.h"

#include "core/TestFailure.h"

namespace XmlReport {

TXmlReportListener::TXmlReportListener(std::string fileName) : FFileName(std::move(fileName)) {}

void TXmlReportListener::WriteRecord(const std::string& record)
{
    if (!record.empty() && FSink) {
        FSink->Write(record);
        FWritten += record.size();
    }
}

void TXmlReportListener::RewriteRecord(std::size_t offset, const std::string& record)
{
    if (FSink && offset + record.size() <= FWritten)
        FSink->Overwrite(offset, record);
}

void TXmlReportListener::WriteSuiteFooters(std::size_t count)
{
    // One by one, as a footer may have written its suite's parts already, and a JUnit
    // suite's record holds all its test cases.
    for (std::size_t i = 0; i < count; ++i)
        WriteRecord(SuiteFooter());
}

void TXmlReportListener::Status(const ITestPtr& test, const std::string& msg)
{
    WriteRecord(StatusLine(test, msg));
}

void TXmlReportListener::TestingStarts()
{
    FStartTime = Sys::Now();
    const std::string header = RunHeader();
    FSink.emplace(FFileName);
    WriteRecord(header);
}

void TXmlReportListener::StartTest(const ITestPtr& test) { TestStarted(test); }

void TXmlReportListener::AddSuccess(const ITestPtr& test)
{
    if (test->Tests().empty())
        WriteRecord(PassedTest(test));
}

void TXmlReportListener::AddError(TTestFailure& failure) { WriteRecord(ErroredTest(failure)); }

void TXmlReportListener::AddFailure(TTestFailure& failure) { WriteRecord(FailedTest(failure)); }

void TXmlReportListener::EndTest(const ITestPtr& test)
{
    // Normally nothing: only a suite whose body raised before its EndSuite is still open
    // here, and closing it keeps the report well-formed.
    WriteSuiteFooters(FOpenSuites.Close(test.get()));
}

void TXmlReportListener::TestingEnds(TTestResult& testResult)
{
    WriteSuiteFooters(FOpenSuites.CloseAll());
    WriteRecord(RunFooter(testResult));
    if (const std::string header = FinalRunHeader(testResult); !header.empty() && FSink)
        FSink->Overwrite(0, header);
    if (FSink) {
        FSink->Close();
        FSink.reset();
    }
}

bool TXmlReportListener::ShouldRunTest(const ITestPtr& test)
{
    if (test->GetEnabled())
        return true;
    WriteRecord(SkippedTest(test));
    return false;
}

void TXmlReportListener::StartSuite(const ITestPtr& suite)
{
    if (!HasElement(suite))
        return;
    WriteRecord(SuiteHeader(suite));
    FOpenSuites.Open(suite.get(), suite->GetName());
}

void TXmlReportListener::EndSuite(const ITestPtr& suite)
{
    if (HasElement(suite))
        WriteSuiteFooters(FOpenSuites.Close(suite.get()));
}

} // namespace XmlReport

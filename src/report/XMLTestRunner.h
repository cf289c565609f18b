#pragma once
// The XML report in the framework's own format, written record by record as the run
// goes on, to a file or (for an empty file name) to standard output.

#include "core/TestInterfaces.h"
#include "platform/Locale.h"
#include "report/ReportSink.h"
#include "report/XMLTestRunnerRecords.h"

#include <memory>
#include <optional>
#include <string>

namespace XMLTestRunner {

using TestFramework::ITestPtr;
using TestFramework::TTestFailure;
using TestFramework::TTestResult;

class TXMLTestListener : public TestFramework::ISuiteListener {
public:
    explicit TXMLTestListener(std::string fileName);

    void Status(const ITestPtr& test, const std::string& msg) override;
    void TestingStarts() override;
    void StartTest(const ITestPtr& test) override;
    void AddSuccess(const ITestPtr& test) override;
    void AddError(TTestFailure& failure) override;
    void AddFailure(TTestFailure& failure) override;
    void EndTest(const ITestPtr& test) override;
    void TestingEnds(TTestResult& testResult) override;
    bool ShouldRunTest(const ITestPtr& test) override;
    void StartSuite(const ITestPtr& suite) override;
    void EndSuite(const ITestPtr& suite) override;

private:
    void WriteRecord(const std::string& record);

    std::string FFileName;
    std::optional<ReportSink::TReportSink> FSink;
    Sys::TDateTime FStartTime = 0;
    TOpenSuites FOpenSuites;
};

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile);
std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile);

} // namespace XMLTestRunner

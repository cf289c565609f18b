#pragma once
// The console runner: progress characters while the tests run and a plain-text report
// at the end, all on standard output.

#include "core/TestInterfaces.h"
#include "platform/Locale.h"

#include <memory>
#include <string>

namespace TextTestRunner {

using TestFramework::ITestPtr;
using TestFramework::TTestFailure;
using TestFramework::TTestResult;

class TTextTestListener : public TestFramework::TEmptySuiteListener {
public:
    void AddError(TTestFailure& failure) override;
    void AddFailure(TTestFailure& failure) override;
    bool ShouldRunTest(const ITestPtr& test) override;
    void StartTest(const ITestPtr& test) override;
    void TestingStarts() override;
    void TestingEnds(TTestResult& testResult) override;
    virtual std::string PrintErrors(TTestResult& r);
    virtual std::string PrintFailures(TTestResult& r);
    virtual std::string PrintHeader(TTestResult& r);
    virtual std::string PrintFailureItems(TTestResult& r);
    virtual std::string PrintErrorItems(TTestResult& r);

    std::string Report(TTestResult& r);
    void Status(const ITestPtr& test, const std::string& msg) override;

    Sys::TDateTime StartTime = 0;
    Sys::TDateTime EndTime = 0;
    Sys::TDateTime RunTime = 0;
};

// "Time: h:mm:ss.mmm" for a run time in days; the hours are those of the day fraction.
std::string FormatRunTime(Sys::TDateTime runTime);

// Runs the suite with one console listener; the caller owns the result. A null suite
// runs nothing and writes nothing.
std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite);
// RunTest on the registry's root suite.
std::unique_ptr<TTestResult> RunRegisteredTests();

} // namespace TextTestRunner

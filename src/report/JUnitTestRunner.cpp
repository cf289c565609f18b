#include "report/JUnitTestRunner.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Clock.h"
#include "platform/TextUtils.h"
#include "report/JUnitTestRunnerRecords.h"
#include "report/ReportRun.h"
#include "report/XmlReportListener.h"

#include <fstream>
#include <vector>

namespace JUnitTestRunner {

namespace {

using XmlReport::ITestPtr;
using XmlReport::TTestFailure;
using XmlReport::TTestResult;

// The machine's name as the kernel has it; readers show it beside each suite.
std::string HostName()
{
    std::ifstream file("/proc/sys/kernel/hostname");
    std::string name;
    std::getline(file, name);
    name = std::string(Sys::Trim(name));
    return name.empty() ? "localhost" : name;
}

// A suite whose element is not written yet: its own test cases and their totals.
struct TPendingSuite {
    std::string Path;
    std::string Timestamp;
    std::string Cases;
    TTotals Totals;
};

class TJUnitTestListener : public XmlReport::TXmlReportListener {
public:
    TJUnitTestListener(std::string fileName, const ITestPtr& root)
        : TXmlReportListener(std::move(fileName)), FRoot(root.get()), FHostName(HostName())
    {
        // Test cases directly in the root are gathered under the root's own name.
        FSuites.push_back({root ? root->GetName() : std::string(), {}, {}, {}});
    }

private:
    TPendingSuite& Current() { return FSuites.back(); }

    void Add(std::string record, std::uint64_t milliseconds, int TTotals::*counter = nullptr)
    {
        TPendingSuite& suite = Current();
        suite.Cases += record;
        ++suite.Totals.Tests;
        suite.Totals.Milliseconds += milliseconds;
        if (counter)
            ++(suite.Totals.*counter);
    }

    // Written when the suite is left; a suite without test cases of its own is no element.
    std::string Flush(TPendingSuite& suite)
    {
        if (suite.Totals.Tests == 0)
            return {};
        FRun.Tests += suite.Totals.Tests;
        FRun.Failures += suite.Totals.Failures;
        FRun.Errors += suite.Totals.Errors;
        FRun.Skipped += suite.Totals.Skipped;
        return SuiteRecord(suite.Path, suite.Totals, suite.Timestamp, FHostName, suite.Cases);
    }

    std::string RunHeader() override
    {
        FStartTicks = Sys::GetTickCount();
        Current().Timestamp = FormatTimestamp(StartTime());
        return HeaderRecord();
    }

    // The format has no place for free text between elements.
    std::string StatusLine(const ITestPtr&, const std::string&) override { return {}; }

    std::string PassedTest(const ITestPtr& test) override
    {
        Add(PassedTestCaseRecord(Current().Path, test->GetName(), test->ElapsedTestTime()),
            test->ElapsedTestTime());
        return {};
    }

    std::string ErroredTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        Add(ErroredTestCaseRecord(Current().Path, test->GetName(), test->ElapsedTestTime(),
                                  failure.ThrownExceptionName(), failure.ThrownExceptionMessage()),
            test->ElapsedTestTime(), &TTotals::Errors);
        return {};
    }

    std::string FailedTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        Add(FailedTestCaseRecord(Current().Path, test->GetName(), test->ElapsedTestTime(),
                                 failure.ThrownExceptionName(), failure.ThrownExceptionMessage()),
            test->ElapsedTestTime(), &TTotals::Failures);
        return {};
    }

    // A disabled suite is passed over as a whole: its test cases are not listed.
    std::string SkippedTest(const ITestPtr& test) override
    {
        if (test->Tests().empty())
            Add(SkippedTestCaseRecord(Current().Path, test->GetName()), 0, &TTotals::Skipped);
        return {};
    }

    std::string SuiteHeader(const ITestPtr& suite) override
    {
        FSuites.push_back({OpenSuites().SuiteName(suite->GetName()), FormatTimestamp(Sys::Now()), {}, {}});
        return {};
    }

    // Called once for every suite that closes, innermost first, so the pending suites
    // leave in the order they came.
    std::string SuiteFooter() override
    {
        std::string record = Flush(Current());
        FSuites.pop_back();
        return record;
    }

    std::string RunFooter(TTestResult&) override
    {
        FRunMilliseconds = Sys::GetTickCount() - FStartTicks;
        return Flush(FSuites.front()) + FooterRecord();
    }

    std::string FinalRunHeader(TTestResult&) override
    {
        TTotals totals = FRun;
        totals.Milliseconds = FRunMilliseconds;
        return HeaderWithTotalsRecord(totals);
    }

    bool HasElement(const ITestPtr& suite) override { return suite.get() != FRoot; }

    const TestFramework::ITest* FRoot;
    std::string FHostName;
    std::vector<TPendingSuite> FSuites; // the root first, then the open suites, innermost last
    TTotals FRun;
    std::uint32_t FStartTicks = 0;
    std::uint32_t FRunMilliseconds = 0;
};

} // namespace

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile)
{
    return ReportRun::RunForReport(suite, std::make_shared<TJUnitTestListener>(outputFile, suite));
}

std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile)
{
    return RunTest(TestFramework::RegisteredTests(), outputFile);
}

} // namespace JUnitTestRunner

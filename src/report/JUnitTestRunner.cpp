#include "report/JUnitTestRunner.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Clock.h"
#include "platform/TextUtils.h"
#include "report/JUnitTestRunnerRecords.h"
#include "report/ReachedTests.h"
#include "report/ReportRun.h"
#include "report/XmlReportListener.h"

#include <filesystem>
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

// A suite whose element is not written yet: its own test cases and their totals, and
// which of its children the run reached.
struct TPendingSuite {
    TestFramework::ITest* Suite = nullptr;
    std::string Path;
    std::string Timestamp;
    std::string Cases;
    TTotals Totals;
    XmlReport::TReachedTests Reached;

    void Reach(const TestFramework::ITest* test) { Reached.Reach(test); }
    std::vector<ITestPtr> NotReached() const
    {
        return Suite ? Reached.NotReached(Suite->Tests()) : std::vector<ITestPtr>();
    }
};

bool IsTestCase(const ITestPtr& test) { return test->Tests().empty(); }

class TJUnitTestListener : public XmlReport::TXmlReportListener {
public:
    TJUnitTestListener(std::string fileName, const ITestPtr& root, TReportHooks hooks)
        : TXmlReportListener(std::move(fileName)), FRoot(root.get()), FHostName(HostName()),
          FHooks(std::move(hooks))
    {
        // Test cases directly in the root are gathered under the root's own name.
        FSuites.push_back({FRoot, root ? ClassNameLevel(root->GetName()) : std::string(), {}, {}, {}, {}});
    }

private:
    TPendingSuite& Current() { return FSuites.back(); }

    // The path of a child suite: the root is no part of it.
    std::string ChildPath(const TPendingSuite& parent, const std::string& name) const
    {
        return parent.Suite == FRoot ? ClassNameLevel(name) : parent.Path + "." + ClassNameLevel(name);
    }

    static void Add(TPendingSuite& suite, std::string record, std::uint64_t milliseconds,
                    int TTotals::*counter = nullptr)
    {
        suite.Cases += record;
        ++suite.Totals.Tests;
        suite.Totals.Milliseconds += milliseconds;
        if (counter)
            ++(suite.Totals.*counter);
    }

    void Add(const ITestPtr& test, std::string record, std::uint64_t milliseconds, int TTotals::*counter = nullptr)
    {
        Current().Reach(test.get());
        Add(Current(), std::move(record), milliseconds, counter);
    }

    // Written when the suite is left; a suite without test cases of its own is no element.
    bool Count(const TPendingSuite& suite)
    {
        if (suite.Totals.Tests == 0)
            return false;
        FRun.Tests += suite.Totals.Tests;
        FRun.Failures += suite.Totals.Failures;
        FRun.Errors += suite.Totals.Errors;
        FRun.Skipped += suite.Totals.Skipped;
        return true;
    }

    std::string Flush(TPendingSuite& suite)
    {
        return Count(suite) ? SuiteRecord(suite.Path, suite.Totals, suite.Timestamp, FHostName, suite.Cases)
                            : std::string();
    }

    // A suite's cases are most of the report: written where they were gathered, not
    // copied into a record first, and their buffer serves the next suite.
    void WriteFlushed(TPendingSuite& suite)
    {
        if (Count(suite)) {
            WriteRecord(SuiteStartRecord(suite.Path, suite.Totals, suite.Timestamp, FHostName));
            suite.Cases.append(SuiteEndRecord);
            WriteRecord(suite.Cases);
        }
        suite.Cases.clear();
        FSpareCases.push_back(std::move(suite.Cases));
    }

    TTestPosition PositionOf(const ITestPtr& test) const
    {
        return FHooks.Position ? FHooks.Position(test) : TTestPosition{};
    }

    // What the test wrote, once: a test with several outcomes shows it at the first.
    std::string OutputOf(const ITestPtr& test)
    {
        if (FOutputOf != test.get() || !FHooks.TakeOutput)
            return {};
        FOutputOf = nullptr;
        return FHooks.TakeOutput();
    }

    // A test that started is never listed as not run, even when it broke the run off
    // before its outcome.
    void TestStarted(const ITestPtr& test) override
    {
        Current().Reach(test.get());
        if (!IsTestCase(test) || !FHooks.BeginOutput)
            return;
        FHooks.BeginOutput();
        FOutputOf = test.get();
    }

    // A stopped run leaves children of the suite unreached: each test case among them,
    // and each below a suite among them, is listed as not run, so that the report holds
    // every selected test. A disabled one is listed as a normal run lists it.
    std::string AddNotReached(TPendingSuite& suite)
    {
        if (!suite.Suite)
            return {};
        std::string records;
        for (const ITestPtr& child : suite.NotReached()) {
            if (IsTestCase(child))
                AddNotRun(suite, child);
            else if (child->GetEnabled())
                records += NotRunSuite(child, ChildPath(suite, child->GetName()));
        }
        return records;
    }

    void AddNotRun(TPendingSuite& suite, const ITestPtr& test)
    {
        const TTestPosition position = PositionOf(test);
        const std::string message = test->GetEnabled() ? ReportRun::NotRunMessage() : std::string();
        Add(suite, SkippedTestCaseRecord(suite.Path, test->GetName(), message, {position.File, position.Line, {}}),
            0, &TTotals::Skipped);
    }

    std::string NotRunSuite(const ITestPtr& suite, std::string path)
    {
        TPendingSuite pending{suite.get(), std::move(path), FormatTimestamp(Sys::Now()), {}, {}, {}};
        std::string inner = AddNotReached(pending);
        return Flush(pending) + inner;
    }

    std::string RunHeader() override
    {
        FStartTicks = Sys::GetTickCount();
        Current().Timestamp = FormatTimestamp(StartTime());
        return HeaderRecord();
    }

    // The format has no place for free text between elements.
    std::string StatusLine(const ITestPtr&, const std::string&) override { return {}; }

    // The most frequent record: built straight into its suite's text.
    std::string PassedTest(const ITestPtr& test) override
    {
        const TTestPosition position = PositionOf(test);
        const std::string output = OutputOf(test);
        TPendingSuite& suite = Current();
        suite.Reach(test.get());
        const std::uint32_t milliseconds = test->ElapsedTestTime();
        AppendPassedTestCaseRecord(suite.Cases, suite.Path, test->GetName(), milliseconds,
                                   {position.File, position.Line, output});
        Add(suite, {}, milliseconds);
        return {};
    }

    std::string ErroredTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        const TTestPosition position = PositionOf(test);
        const std::string output = OutputOf(test);
        Add(test,
            ErroredTestCaseRecord(Current().Path, test->GetName(), test->ElapsedTestTime(),
                                  failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                  {position.File, position.Line, output}),
            test->ElapsedTestTime(), &TTotals::Errors);
        return {};
    }

    std::string FailedTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        const TTestPosition position = PositionOf(test);
        const std::string output = OutputOf(test);
        Add(test,
            FailedTestCaseRecord(Current().Path, test->GetName(), test->ElapsedTestTime(),
                                 failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                 {position.File, position.Line, output}),
            test->ElapsedTestTime(), &TTotals::Failures);
        return {};
    }

    // A disabled suite is passed over as a whole: its test cases are not listed.
    std::string SkippedTest(const ITestPtr& test) override
    {
        if (!IsTestCase(test)) {
            Current().Reach(test.get());
            return {};
        }
        const TTestPosition position = PositionOf(test);
        Add(test, SkippedTestCaseRecord(Current().Path, test->GetName(), {}, {position.File, position.Line, {}}), 0,
            &TTotals::Skipped);
        return {};
    }

    std::string SuiteHeader(const ITestPtr& suite) override
    {
        Current().Reach(suite.get());
        std::string path = ChildPath(Current(), suite->GetName());
        std::string cases;
        if (!FSpareCases.empty()) {
            cases = std::move(FSpareCases.back());
            FSpareCases.pop_back();
        }
        FSuites.push_back({suite.get(), std::move(path), FormatTimestamp(Sys::Now()), std::move(cases), {}, {}});
        return {};
    }

    // Called once for every suite that closes, innermost first, so the pending suites
    // leave in the order they came.
    std::string SuiteFooter() override
    {
        std::string notReached = AddNotReached(Current());
        WriteFlushed(Current());
        FSuites.pop_back();
        return notReached;
    }

    std::string RunFooter(TTestResult&) override
    {
        if (FOutputOf && FHooks.TakeOutput)
            FHooks.TakeOutput();
        FOutputOf = nullptr;
        FRunMilliseconds = Sys::GetTickCount() - FStartTicks;
        std::string notReached = AddNotReached(FSuites.front());
        WriteFlushed(FSuites.front());
        return notReached + FooterRecord();
    }

    std::string FinalRunHeader(TTestResult&) override
    {
        TTotals totals = FRun;
        totals.Milliseconds = FRunMilliseconds;
        return HeaderWithTotalsRecord(totals);
    }

    bool HasElement(const ITestPtr& suite) override { return suite.get() != FRoot; }

    TestFramework::ITest* FRoot;
    std::string FHostName;
    TReportHooks FHooks;
    const TestFramework::ITest* FOutputOf = nullptr; // the test whose output is being gathered
    std::vector<TPendingSuite> FSuites; // the root first, then the open suites, innermost last
    std::vector<std::string> FSpareCases; // the buffers of suites written, for the next ones
    TTotals FRun;
    std::uint32_t FStartTicks = 0;
    std::uint32_t FRunMilliseconds = 0;
};

} // namespace

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile, const TReportHooks& hooks)
{
    return ReportRun::RunForReport(suite, std::make_shared<TJUnitTestListener>(outputFile, suite, hooks));
}

std::string ShownPath(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    if (ec || path.empty())
        return path;
    const fs::path relative = fs::absolute(path, ec).lexically_normal().lexically_relative(here);
    if (ec || relative.empty() || *relative.begin() == "..")
        return path;
    return relative.generic_string();
}

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::string& outputFile)
{
    return RunTest(suite, outputFile, {});
}

std::unique_ptr<TTestResult> RunRegisteredTests(const std::string& outputFile, const TReportHooks& hooks)
{
    return RunTest(TestFramework::RegisteredTests(), outputFile, hooks);
}

} // namespace JUnitTestRunner

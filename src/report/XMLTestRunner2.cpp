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
#include "report/ReachedTests.h"
#include "report/XmlReportListener.h"

#include <algorithm>
#include <cstdint>
#include <vector>

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

// A suite whose start record is written: where, with which counts, and which of its
// children the run reached. The counts of a stopped run are only known at its end, so the
// record leaves room to be written again.
struct TOpenSuite {
    TestFramework::ITest* Suite = nullptr; // nullptr: the report's level outside every suite
    std::string Name;                      // the qualified name
    std::string ChildPrefix;               // the path prefix of its children's names
    std::size_t Offset = 0;
    int Total = 0;
    int NotRun = 0;
    int Ran = 0; // enabled test cases below it that reached an outcome
    XmlReport::TReachedTests Reached;
};

class TXMLTestListener : public XmlReport::TXmlReportListener {
public:
    explicit TXMLTestListener(std::string fileName)
        : TXmlReportListener(std::move(fileName)), FHostExeName(Sys::ExeFileName())
    {
        FOpen.push_back({});
    }

private:
    std::string CaseName(const ITestPtr& test) const
    {
        return TestCaseName(FRootName, OpenSuites().SuitePathPrefix(), test->GetName());
    }

    static bool IsTestCase(const ITestPtr& test) { return test->Tests().empty(); }

    // Counts a test case once, however many outcomes it has, in every suite around it.
    void Reached(const ITestPtr& test, bool ran)
    {
        FOpen.back().Reached.Reach(test.get());
        if (!ran || FLastRan == test.get())
            return;
        FLastRan = test.get();
        ++FRan;
        for (TOpenSuite& open : FOpen)
            ++open.Ran;
    }

    // The final not-run count of a start record written with notRun: every test case
    // that reached no outcome. A test that sits in two suites may run twice; the count
    // never drops below what was written.
    static int FinalNotRun(int total, int notRun, int ran) { return std::max(notRun, total - ran); }

    // Test cases and suites among the children that a stopped run did not reach, listed
    // as not run; a suite with all its test cases inside.
    std::string NotReached(TestFramework::ITest& suite, const XmlReport::TReachedTests* reached,
                           const std::string& childPrefix)
    {
        std::string records;
        for (const ITestPtr& child : reached ? reached->NotReached(suite.Tests()) : suite.Tests()) {
            if (IsTestCase(child) || !child->GetEnabled()) {
                records += NotRunTestCaseRecord(TestCaseName(FRootName, childPrefix, child->GetName()));
            } else {
                const int total = child->CountTestCases();
                records += SuiteStartRecord(childPrefix + child->GetName(), total, total) +
                           NotReached(*child, nullptr, childPrefix + child->GetName() + ".") + SuiteEndRecord();
            }
        }
        return records;
    }

    std::string RunHeader() override
    {
        FStartTicks = Sys::GetTickCount();
        // The registry keeps its root for the whole run: its name is asked once, not per test.
        FRootName = RootSuiteName();
        auto root = TestFramework::RegisteredTests();
        FTotal = root ? root->CountTestCases() : 0;
        const int enabled = root ? root->CountEnabledTestCases() : 0;
        FNotRun = FTotal - enabled;
        FDate = Sys::FormatShortDate(StartTime());
        FTime = Sys::FormatLongTime(StartTime());
        return HeaderRecord(RootSuiteName(), FTotal, FNotRun, FDate, FTime, NotRunPadding(FTotal, FNotRun));
    }

    std::string FinalRunHeader(TTestResult&) override
    {
        const int notRun = FinalNotRun(FTotal, FNotRun, FRan);
        if (notRun == FNotRun)
            return {};
        const int padding = NotRunPadding(FTotal, FNotRun) - NotRunPadding(notRun, FNotRun);
        return HeaderRecord(RootSuiteName(), FTotal, notRun, FDate, FTime, padding);
    }

    std::string StatusLine(const ITestPtr& test, const std::string& msg) override
    {
        return StatusRecord(test->GetName(), msg);
    }

    std::string PassedTest(const ITestPtr& test) override
    {
        Reached(test, true);
        return PassedTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime());
    }

    std::string ErroredTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        Reached(test, true);
        return ErrorTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime(),
                                   failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                   failure.AddressInfo(), failure.StackTrace());
    }

    std::string FailedTest(TTestFailure& failure) override
    {
        auto test = failure.FailedTest();
        Reached(test, true);
        return FailureTestCaseRecord(CaseName(test), test->GetEnabled(), test->ElapsedTestTime(),
                                     failure.ThrownExceptionName(), failure.ThrownExceptionMessage(),
                                     failure.AddressInfo(), failure.StackTrace());
    }

    std::string SkippedTest(const ITestPtr& test) override
    {
        Reached(test, false);
        return NotRunTestCaseRecord(CaseName(test));
    }

    std::string SuiteHeader(const ITestPtr& suite) override
    {
        FOpen.back().Reached.Reach(suite.get());
        const int total = suite->CountTestCases();
        const int notRun = total - suite->CountEnabledTestCases();
        const std::string name = OpenSuites().SuiteName(suite->GetName());
        FOpen.push_back({suite.get(), name, name + ".", WrittenBytes(), total, notRun, 0, {}});
        return SuiteStartRecord(name, total, notRun, NotRunPadding(total, notRun));
    }

    std::string SuiteFooter() override
    {
        if (FOpen.size() < 2)
            return SuiteEndRecord();
        TOpenSuite& open = FOpen.back();
        std::string records = NotReached(*open.Suite, &open.Reached, open.ChildPrefix);
        const int notRun = FinalNotRun(open.Total, open.NotRun, open.Ran);
        if (notRun != open.NotRun) {
            const int padding = NotRunPadding(open.Total, open.NotRun) - NotRunPadding(notRun, open.NotRun);
            RewriteRecord(open.Offset, SuiteStartRecord(open.Name, open.Total, notRun, padding));
        }
        FOpen.pop_back();
        return records + SuiteEndRecord();
    }

    std::string RunFooter(TTestResult& testResult) override
    {
        const std::uint32_t elapsed = Sys::GetTickCount() - FStartTicks;
        return StatisticsRecord(testResult.RunCount(), testResult.FailureCount(), testResult.ErrorCount(),
                                Sys::DateTimeToStr(StartTime()), Sys::DateTimeToStr(Sys::Now()), elapsed);
    }

    bool HasElement(const ITestPtr& suite) override { return !IsReportRoot(suite->GetName(), FHostExeName); }

    std::uint32_t FStartTicks = 0;
    std::string FHostExeName;
    std::vector<TOpenSuite> FOpen; // the level outside every suite first
    const TestFramework::ITest* FLastRan = nullptr;
    int FRan = 0;
    int FTotal = 0;
    int FNotRun = 0;
    std::string FDate;
    std::string FTime;
    std::string FRootName;
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

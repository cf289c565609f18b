// The JUnit listener driven by a real run: suites flattened by their dotted paths and
// written when they end, the root's totals filled in at the end, and a document that the
// schema accepts however the run ends.

#include "report/JUnitTestRunner.h"

#include "core/TestResult.h"
#include "report/ReportRun.h"

#include "JUnitSchema.h"
#include "ListenerTree.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ListenerTesting;
using ReportTestSupport::JUnitSchemaComplaint;

namespace {

std::string MaskTimes(const std::string& report)
{
    std::string r = Mask(report, R"re( time="\d+\.\d\d\d")re", " time=\"<s>\"");
    r = Mask(r, R"re( timestamp="\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d" hostname="[^"]+")re", " <when>");
    return Mask(r, R"re( +>\r\n)re", ">\r\n");
}

using JUnitListener = ReportFileFixture<&JUnitTestRunner::RunTest>;

} // namespace

// An inner suite ends first, so its element comes first; the disabled test is skipped
// and counts among the tests.
TEST_F(JUnitListener, WritesEachSuiteWithItsOwnTestCasesWhenItEnds)
{
    RegisterSmallTree();
    const std::string report = RunToFile();
    EXPECT_EQ(MaskTimes(report),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<testsuites tests=\"4\" failures=\"1\" errors=\"1\" time=\"<s>\">\r\n"
              " <testsuite name=\"A.B\" tests=\"3\" failures=\"1\" errors=\"1\" skipped=\"1\" time=\"<s>\" <when>>\r\n"
              "  <testcase classname=\"A.B\" name=\"Fails\" time=\"<s>\">\r\n"
              "    <failure type=\"ETestFailure\" message=\"stock &lt;0&gt;\">stock &lt;0&gt;</failure>\r\n"
              "  </testcase>\r\n"
              "  <testcase classname=\"A.B\" name=\"Raises\" time=\"<s>\">\r\n"
              "    <error type=\"EStockEmpty\" message=\"no stock for &quot;X&quot;\">"
              "no stock for &quot;X&quot;</error>\r\n"
              "  </testcase>\r\n"
              "  <testcase classname=\"A.B\" name=\"Off\" time=\"<s>\">\r\n    <skipped/>\r\n  </testcase>\r\n"
              " </testsuite>\r\n"
              " <testsuite name=\"A\" tests=\"1\" failures=\"0\" errors=\"0\" skipped=\"0\" time=\"<s>\" <when>>\r\n"
              "  <testcase classname=\"A\" name=\"Passes\" time=\"<s>\"/>\r\n"
              " </testsuite>\r\n"
              "</testsuites>\r\n");
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
}

// A suite whose body broke off is written with its own error when the run loop ends it;
// a foreign exception that ends the whole run still leaves a complete document.
TEST_F(JUnitListener, RunsThatBreakOffLeaveACompleteDocument)
{
    RegisterBrokenTree();
    std::string report = RunToFile();
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    EXPECT_NE(MaskTimes(report).find("  <testcase classname=\"Outer.Broken\" name=\"Broken\" time=\"<s>\">\r\n"
                                     "    <error type=\"EStockEmpty\" message=\"suite body broke off\">"),
              std::string::npos)
        << report;
    EXPECT_NE(MaskTimes(report).find("  <testcase classname=\"Outer\" name=\"After\""), std::string::npos) << report;

    ClearRegistry();
    auto deep = std::make_shared<TTestSuite>("Deep");
    deep->AddTest(Passing("First"));
    deep->AddTest(std::make_shared<TBodyTest>("Foreign", [](TBodyTest&) { throw 42; }));
    RegisterTest(deep);
    const std::string file = FDir.File("foreign.xml");
    EXPECT_THROW(JUnitTestRunner::RunTest(RegisteredTests(), file), int);
    report = TestSupport::ReadFile(file);
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    EXPECT_NE(report.find("<testsuites tests=\"1\" failures=\"0\" errors=\"0\""), std::string::npos) << report;
}

// Standard output cannot take the totals back; the root goes without them.
TEST_F(JUnitListener, AReportOnStandardOutputIsValidWithoutTheTotals)
{
    RegisterSmallTree();
    TStdOutCapture capture;
    JUnitTestRunner::RunTest(RegisteredTests(), "");
    const std::string report = capture.Text();
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    EXPECT_NE(report.find("\r\n<testsuites    "), std::string::npos) << report;
}

// A run stopped from outside lists every test it did not reach, in a suite it had begun
// and in one it never began, with the cause; a disabled test keeps its plain skip.
TEST_F(JUnitListener, AStoppedRunListsTheTestsItDidNotReach)
{
    auto a = std::make_shared<TTestSuite>("A");
    a->AddTest(std::make_shared<TBodyTest>("Stops", [](TBodyTest&) { TestFramework::RequestStop(); }));
    a->AddTest(Passing("Later"));
    auto off = Passing("Off");
    off->SetEnabled(false);
    a->AddTest(off);
    auto b = std::make_shared<TTestSuite>("B.C");
    b->AddTest(Passing("Never"));
    RegisterTest(a);
    RegisterTest(b);
    ReportRun::NoteStopCause("SIGTERM");
    const std::string report = RunToFile();
    TestFramework::ResetStopRequest();
    ReportRun::NoteStopCause(nullptr);
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    const std::string notRun = ">\r\n    <skipped message=\"not run: the run was stopped by SIGTERM\"/>\r\n";
    EXPECT_NE(MaskTimes(report).find(" <testsuite name=\"A\" tests=\"3\" failures=\"0\" errors=\"0\" skipped=\"2\""),
              std::string::npos) << report;
    EXPECT_NE(MaskTimes(report).find("name=\"Later\" time=\"<s>\"" + notRun), std::string::npos) << report;
    EXPECT_NE(MaskTimes(report).find("name=\"Off\" time=\"<s>\">\r\n    <skipped/>"), std::string::npos) << report;
    EXPECT_NE(MaskTimes(report).find("<testcase classname=\"B%2EC\" name=\"Never\" time=\"<s>\"" + notRun),
              std::string::npos) << report;
}

// A test object listed twice in one suite runs twice and is reached, not "not run", even
// though the second run breaks the order in which the children were reached.
TEST_F(JUnitListener, ATestListedTwiceInASuiteIsReportedTwiceAndNeverAsNotRun)
{
    auto a = std::make_shared<TTestSuite>("A");
    auto twice = Passing("Twice");
    a->AddTest(twice);
    a->AddTest(twice);
    a->AddTest(Passing("After"));
    RegisterTest(a);
    ReportRun::NoteStopCause("SIGTERM");
    const std::string report = MaskTimes(RunToFile());
    ReportRun::NoteStopCause(nullptr);
    EXPECT_EQ(report.find("skipped message"), std::string::npos) << report;
    EXPECT_NE(report.find(" <testsuite name=\"A\" tests=\"3\" failures=\"0\" errors=\"0\" skipped=\"0\""),
              std::string::npos) << report;
}

// The hooks give each test case its position and what it wrote, taken once per test.
TEST_F(JUnitListener, TestCasesCarryTheirPositionAndOutputFromTheHooks)
{
    RegisterSmallTree();
    int begun = 0;
    JUnitTestRunner::TReportHooks hooks;
    hooks.Position = [](const TestFramework::ITestPtr& test) {
        return test->GetName() == "Passes" ? JUnitTestRunner::TTestPosition{"USER/A.qlx", 7}
                                           : JUnitTestRunner::TTestPosition{};
    };
    hooks.BeginOutput = [&] { ++begun; };
    hooks.TakeOutput = [&] { return "said " + std::to_string(begun) + "\r\n"; };
    const std::string file = FDir.File("hooks.xml");
    JUnitTestRunner::RunTest(RegisteredTests(), file, hooks);
    const std::string report = MaskTimes(TestSupport::ReadFile(file));
    EXPECT_EQ(begun, 3) << "a disabled test does not start";
    EXPECT_NE(report.find("  <testcase classname=\"A\" name=\"Passes\" file=\"USER/A.qlx\" line=\"7\" time=\"<s>\">\r\n"
                          "    <system-out>said 1&#13;\n</system-out>\r\n  </testcase>\r\n"),
              std::string::npos) << report;
    EXPECT_NE(report.find("</failure>\r\n    <system-out>said 2&#13;\n</system-out>\r\n"), std::string::npos) << report;
}

TEST(JUnitShownPath, IsRelativeBelowTheCurrentDirectoryOnly)
{
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(JUnitTestRunner::ShownPath(here + "/USER/A.qlx"), "USER/A.qlx");
    EXPECT_EQ(JUnitTestRunner::ShownPath("USER/../USER/A.qlx"), "USER/A.qlx");
    EXPECT_EQ(JUnitTestRunner::ShownPath("/elsewhere/A.qlx"), "/elsewhere/A.qlx");
}

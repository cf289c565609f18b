// The JUnit listener driven by a real run: suites flattened by their dotted paths and
// written when they end, the root's totals filled in at the end, and a document that the
// schema accepts however the run ends.

#include "report/JUnitTestRunner.h"

#include "JUnitSchema.h"
#include "ListenerTree.h"

#include <gtest/gtest.h>

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

#include "report/XMLTestRunner2Records.h"

#include "report/OpenSuites.h"

#include "XmlCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace XMLTestRunner2;
using ReportTestSupport::Parse;
using ReportTestSupport::TextOf;
using ReportTestSupport::XmllintComplaint;

namespace {

// Stand-ins for the suite objects the listener would pass.
int SuiteR, SuiteA, SuiteB;

// The records of a run of R (the registry's root) > A > B holding a pass, a failure, an
// error and a disabled test, in the order the notifications produce them.
std::string SmallTreeReport()
{
    XmlReport::TOpenSuites open;
    auto caseName = [&open](std::string_view test) { return TestCaseName("R", open.SuitePathPrefix(), test); };
    std::string report = HeaderRecord("R", 4, 1, "06/05/2024", "14:03:07");
    report += SuiteStartRecord(open.SuiteName("R"), 4, 1);
    open.Open(&SuiteR, "R");
    report += SuiteStartRecord(open.SuiteName("A"), 4, 1);
    open.Open(&SuiteA, "A");
    report += SuiteStartRecord(open.SuiteName("B"), 4, 1);
    open.Open(&SuiteB, "B");
    report += PassedTestCaseRecord(caseName("Passes"), true, 1234);
    report += FailureTestCaseRecord(caseName("Fails"), true, 5, "ETestFailure",
                                    "expected <1> but was <2>", "$0040A1B2", "");
    report += ErrorTestCaseRecord(caseName("Raises"), true, 0, "EAccessViolation",
                                  "Access violation & more", "$00000000", "");
    report += NotRunTestCaseRecord(caseName("Off"));
    report += SuiteEndRecord() + SuiteEndRecord() + SuiteEndRecord();
    report += StatisticsRecord(3, 1, 1, "06/05/2024 14:03:07", "06/05/2024 14:03:09", 1500);
    return report;
}

} // namespace

TEST(XMLTestRunner2Records, WriteASmallTreeExactly)
{
    const std::string report = SmallTreeReport();
    EXPECT_EQ(report,
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
              "<test-results name=\"R\" total=\"4\" not-run=\"1\" date=\"06/05/2024\" time=\"14:03:07\">\r\n"
              "<test-suite name=\"R\" total=\"4\" not-run=\"1\">\r\n"
              "  <results>\r\n"
              "<test-suite name=\"R.A\" total=\"4\" not-run=\"1\">\r\n"
              "  <results>\r\n"
              "<test-suite name=\"R.A.B\" total=\"4\" not-run=\"1\">\r\n"
              "  <results>\r\n"
              "    <test-case name=\"R.R.A.B.Passes\" executed=\"True\" success=\"True\" time=\"1.234\" result=\"Pass\"/>\r\n"
              "    <test-case name=\"R.R.A.B.Fails\" executed=\"True\" success=\"False\" time=\"0.005\" result=\"Failure\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [ETestFailure] expected <1> but was <2>\r\n"
              "At: $0040A1B2]]></message>\r\n"
              "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
              "      </failure>\r\n"
              "    </test-case>\r\n"
              "    <test-case name=\"R.R.A.B.Raises\" executed=\"True\" success=\"False\" time=\"0.000\" result=\"Error\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [EAccessViolation] Access violation & more\r\n"
              "At: $00000000]]></message>\r\n"
              "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
              "      </failure>\r\n"
              "    </test-case>\r\n"
              "    <test-case name=\"R.R.A.B.Off\" executed=\"False\"/>\r\n"
              "  </results>\r\n"
              "</test-suite>\r\n"
              "  </results>\r\n"
              "</test-suite>\r\n"
              "  </results>\r\n"
              "</test-suite>\r\n"
              "<statistics>\r\n"
              "<stat name=\"tests\" value=\"3\" />\r\n"
              "<stat name=\"failures\" value=\"1\" />\r\n"
              "<stat name=\"errors\" value=\"1\" />\r\n"
              "<stat name=\"success-rate\" value=\"33%\" />\r\n"
              "<stat name=\"started-at\" value=\"06/05/2024 14:03:07\" />\r\n"
              "<stat name=\"finished-at\" value=\"06/05/2024 14:03:09\" />\r\n"
              "<stat name=\"runtime\" value=\"1.500\"/>\r\n"
              "</statistics>\r\n"
              "</test-results>\r\n");
    EXPECT_EQ(XmllintComplaint(report), "");
}

// How CI servers read the format: test cases inside a suite's results, a failure child on
// errors and failures, times as plain decimal numbers.
TEST(XMLTestRunner2Records, ReadsTheWayCiServersReadIt)
{
    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, SmallTreeReport(), pugi::encoding_utf8));
    int cases = 0;
    for (const auto& found : doc.select_nodes("//test-case")) {
        const pugi::xml_node tc = found.node();
        ++cases;
        EXPECT_STREQ(tc.parent().name(), "results");
        EXPECT_STREQ(tc.parent().parent().name(), "test-suite");
        const std::string result = tc.attribute("result").value();
        EXPECT_EQ(!tc.child("failure").empty(), result == "Failure" || result == "Error") << result;
        if (!tc.attribute("time").empty()) {
            const std::string time = tc.attribute("time").value();
            char* end = nullptr;
            std::strtod(time.c_str(), &end);
            EXPECT_EQ(*end, '\0') << time;
        }
    }
    EXPECT_EQ(cases, 4);
    const pugi::xml_node fails = doc.select_node("//test-case[@result='Failure']").node();
    EXPECT_EQ(TextOf(fails.child("failure").child("message")),
              "Exception: [ETestFailure] expected <1> but was <2>\r\nAt: $0040A1B2");
    EXPECT_STREQ(doc.select_node("//stat[@name='runtime']").node().attribute("value").value(), "1.500");
    EXPECT_STREQ(doc.select_node("//stat[@name='success-rate']").node().attribute("value").value(), "33%");
}

// Names go into attributes, messages and stack traces into CDATA: both must survive
// anything a test can name itself or throw.
TEST(XMLTestRunner2Records, HostileValuesKeepTheDocumentWellFormed)
{
    const std::string value = "]]>a&b<\"c\">]]> \x01 M\xC3\xBCller \xF0\x9F\x98\x80 \xFC]]>";
    // As a reader sees it: the control character replaced, the stray byte as Latin-1.
    const std::string read = "]]>a&b<\"c\">]]> \xEF\xBF\xBD M\xC3\xBCller \xF0\x9F\x98\x80 \xC3\xBC]]>";

    const std::string caseName = TestCaseName(value, value + ".", value);
    std::string report = HeaderRecord(value, 2, 0, value, value);
    report += SuiteStartRecord(value, 2, 0);
    report += StatusRecord(value, value);
    report += FailureTestCaseRecord(caseName, true, 1, value, value, value, value);
    report += ErrorTestCaseRecord(caseName, true, 1, value, value, value, value);
    report += PassedTestCaseRecord(caseName, true, 1);
    report += NotRunTestCaseRecord(caseName);
    report += SuiteEndRecord();
    report += StatisticsRecord(2, 1, 1, value, value, 10);

    EXPECT_EQ(XmllintComplaint(report), "");

    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_utf8));
    const pugi::xml_node results = doc.child("test-results");
    EXPECT_EQ(results.attribute("name").value(), read);
    EXPECT_EQ(results.attribute("date").value(), read);
    EXPECT_EQ(results.child("test-suite").attribute("name").value(), read);
    const pugi::xml_node failed = doc.select_node("//test-case[@result='Failure']").node();
    EXPECT_EQ(failed.attribute("name").value(), read + "." + read + "." + read);
    EXPECT_EQ(TextOf(failed.child("failure").child("message")),
              "Exception: [" + read + "] " + read + "\r\nAt: " + read);
    EXPECT_EQ(TextOf(failed.child("failure").child("stack-trace")), read);
    EXPECT_EQ(TextOf(results.child("test-suite").child("results")), "\r\nINFO: " + read + ": " + read + "\r\n    ");
}

TEST(XMLTestRunner2Records, TheRootIsTheSuiteNamedLikeTheHostExecutable)
{
    EXPECT_TRUE(IsReportRoot("wexel-host", "wexel-host"));
    EXPECT_TRUE(IsReportRoot("Wexel-Host", "/opt/wexel/EXE/WEXEL-HOST"));
    EXPECT_TRUE(IsReportRoot("wexel-host.exe", "C:\\wexel\\EXE\\Wexel-Host.EXE"));
    EXPECT_FALSE(IsReportRoot("WexelRunner.so", "/opt/wexel/EXE/wexel-host"));
    EXPECT_FALSE(IsReportRoot("wexel", "wexel-host"));
    EXPECT_FALSE(IsReportRoot("", "wexel-host"));
}

// A start record leaves room for a not-run count up to its total, so a stopped run's
// counts can be written over it in place, exactly as long.
TEST(XMLTestRunner2Records, StartRecordsLeaveRoomForTheFinalNotRunCount)
{
    EXPECT_EQ(NotRunPadding(5, 0), 0);
    EXPECT_EQ(NotRunPadding(120, 0), 2);
    const std::string first = SuiteStartRecord("S", 120, 0, NotRunPadding(120, 0));
    EXPECT_EQ(first, "<test-suite name=\"S\" total=\"120\" not-run=\"0\"  >\r\n  <results>\r\n");
    EXPECT_EQ(SuiteStartRecord("S", 120, 45, NotRunPadding(120, 0) - NotRunPadding(45, 0)).size(), first.size());
    EXPECT_EQ(HeaderRecord("R", 120, 120, "d", "t", 0).size(), HeaderRecord("R", 120, 0, "d", "t", 2).size());
}

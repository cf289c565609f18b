// The NUnit-format listener driven by a real run: record order, names from the suite
// stack, times in seconds with a point whatever the locale, and a report that stays whole
// when a run breaks off.

#include "report/XMLTestRunner2.h"

#include "CommaLocale.h"
#include "ListenerTree.h"
#include "XmlCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace ListenerTesting;
using ReportTestSupport::Parse;
using ReportTestSupport::XmllintComplaint;
using TestSupport::ReadFile;
using TestSupport::TTempDir;

namespace {

std::string MaskTimes(const std::string& report)
{
    std::string r = Mask(report, R"re(( date=")[^"]*(" time=")[^"]*(">))re", "$1<date>$2<time>$3");
    r = Mask(r, R"re((<stat name="(started-at|finished-at)" value=")[^"]*")re", "$1<time>\"");
    r = Mask(r, R"re((<stat name="runtime" value=")\d+\.\d\d\d")re", "$1<seconds>\"");
    r = Mask(r, R"re(( time=")\d+\.\d\d\d(" result=))re", "$1<seconds>$2");
    return Mask(r, R"re(\r\nAt: \$[0-9A-F]{8}\]\]>)re", "\r\nAt: $<address>]]>");
}

using XMLTestRunner2Listener = ReportFileFixture<&XMLTestRunner2::RunTest>;

} // namespace

// The registry's root is named after this program, so here it is the report's root: it
// gets no element, and the names start below it.
TEST_F(XMLTestRunner2Listener, WritesTheSmallTreeRecordByRecord)
{
    RegisterSmallTree();
    const std::string report = RunToFile();
    const std::string root = RootName();
    const std::string failureEnd = "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
                                   "      </failure>\r\n"
                                   "    </test-case>\r\n";
    EXPECT_EQ(MaskTimes(report),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
              "<test-results name=\"" + root + "\" total=\"4\" not-run=\"1\" date=\"<date>\" time=\"<time>\">\r\n"
              "<test-suite name=\"A\" total=\"4\" not-run=\"1\">\r\n  <results>\r\n"
              "    <test-case name=\"" + root + ".A.Passes\" executed=\"True\" success=\"True\" time=\"<seconds>\""
              " result=\"Pass\"/>\r\n"
              "<test-suite name=\"A.B\" total=\"3\" not-run=\"1\">\r\n  <results>\r\n"
              "    <test-case name=\"" + root + ".A.B.Fails\" executed=\"True\" success=\"False\" time=\"<seconds>\""
              " result=\"Failure\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [ETestFailure] stock <0>\r\n"
              "At: $<address>]]></message>\r\n" + failureEnd +
              "    <test-case name=\"" + root + ".A.B.Raises\" executed=\"True\" success=\"False\" time=\"<seconds>\""
              " result=\"Error\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [EStockEmpty] no stock for \"X\"\r\n"
              "At: $<address>]]></message>\r\n" + failureEnd +
              "    <test-case name=\"" + root + ".A.B.Off\" executed=\"False\"/>\r\n"
              "  </results>\r\n</test-suite>\r\n"
              "  </results>\r\n</test-suite>\r\n"
              "<statistics>\r\n"
              "<stat name=\"tests\" value=\"3\" />\r\n"
              "<stat name=\"failures\" value=\"1\" />\r\n"
              "<stat name=\"errors\" value=\"1\" />\r\n"
              "<stat name=\"success-rate\" value=\"33%\" />\r\n"
              "<stat name=\"started-at\" value=\"<time>\" />\r\n"
              "<stat name=\"finished-at\" value=\"<time>\" />\r\n"
              "<stat name=\"runtime\" value=\"<seconds>\"/>\r\n"
              "</statistics>\r\n"
              "</test-results>\r\n");
}

TEST_F(XMLTestRunner2Listener, ARunWithoutTestsHasAFullSuccessRate)
{
    auto a = std::make_shared<TTestSuite>("A");
    auto off = Passing("Off");
    off->SetEnabled(false);
    a->AddTest(off);
    RegisterTest(a);
    const std::string report = RunToFile();
    EXPECT_NE(report.find("    <test-case name=\"" + RootName() + ".A.Off\" executed=\"False\"/>\r\n"
                          "  </results>\r\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("<stat name=\"tests\" value=\"0\" />\r\n"
                          "<stat name=\"failures\" value=\"0\" />\r\n"
                          "<stat name=\"errors\" value=\"0\" />\r\n"
                          "<stat name=\"success-rate\" value=\"100%\" />\r\n"),
              std::string::npos)
        << report;
}

// Readers of the format parse the times as numbers with a point; the dates keep the
// locale. The test's time is its own elapsed time, in seconds.
TEST_F(XMLTestRunner2Listener, WritesSecondsWithAPointUnderADecimalComma)
{
    ASSERT_TRUE(ReportTestSupport::HasCommaLocale()) << ReportTestSupport::CommaLocaleMissing;
    ReportTestSupport::TEnvOverride all("LC_ALL", ReportTestSupport::CommaLocale);

    auto a = std::make_shared<TTestSuite>("A");
    a->AddTest(std::make_shared<TBodyTest>("Waits", [](TBodyTest& t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        t.Check(true);
    }));
    RegisterTest(a);
    const std::string report = RunToFile();

    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_utf8)) << report;
    const std::string date = doc.child("test-results").attribute("date").value();
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d\d\.\d\d\.\d{4})"))) << date;
    const std::string time = doc.select_node("//test-case").node().attribute("time").value();
    ASSERT_TRUE(std::regex_match(time, std::regex(R"(\d+\.\d\d\d)"))) << time;
    EXPECT_GE(std::stod(time), 0.030);
    EXPECT_LT(std::stod(time), 10.0);
    const std::string runtime = doc.select_node("//stat[@name='runtime']").node().attribute("value").value();
    EXPECT_TRUE(std::regex_match(runtime, std::regex(R"(\d+\.\d\d\d)"))) << runtime;
}

TEST_F(XMLTestRunner2Listener, ClosesSuitesThatNeverEnded)
{
    RegisterBrokenTree();

    std::string report = RunToFile();
    EXPECT_EQ(XmllintComplaint(report), "") << report;
    // The suite's own error comes before its end; the next test is named from Outer again.
    const std::string root = RootName();
    EXPECT_NE(MaskTimes(report).find(
                  "    <test-case name=\"" + root + ".Outer.Broken.Broken\" executed=\"True\" success=\"False\""
                  " time=\"<seconds>\" result=\"Error\">\r\n"),
              std::string::npos)
        << report;
    EXPECT_NE(MaskTimes(report).find("  </results>\r\n</test-suite>\r\n"
                                     "    <test-case name=\"" + root + ".Outer.After\""),
              std::string::npos)
        << report;

    ClearRegistry();
    auto deep = std::make_shared<TTestSuite>("Deep");
    auto inner = std::make_shared<TTestSuite>("Inner");
    inner->AddTest(std::make_shared<TBodyTest>("Foreign", [](TBodyTest&) { throw 42; }));
    deep->AddTest(inner);
    RegisterTest(deep);
    const std::string file = FDir.File("foreign.xml");
    EXPECT_THROW(XMLTestRunner2::RunTest(RegisteredTests(), file), int);
    report = ReadFile(file);
    EXPECT_EQ(XmllintComplaint(report), "") << report;
    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_utf8));
    EXPECT_TRUE(doc.select_node("/test-results/test-suite[@name='Deep']/results/test-suite[@name='Deep.Inner']"));
    EXPECT_TRUE(doc.select_node("/test-results/statistics"));
}

// A stopped run lists the tests it did not reach as not executed; a test listed twice in
// its suite ran both times and is never among them.
TEST_F(XMLTestRunner2Listener, AStoppedRunListsOnlyTheTestsItDidNotReach)
{
    auto a = std::make_shared<TTestSuite>("A");
    auto twice = Passing("Twice");
    a->AddTest(twice);
    a->AddTest(twice);
    a->AddTest(std::make_shared<TBodyTest>("Stops", [](TBodyTest&) { TestFramework::RequestStop(); }));
    a->AddTest(Passing("Later"));
    RegisterTest(a);
    const std::string report = RunToFile();
    TestFramework::ResetStopRequest();
    EXPECT_EQ(XmllintComplaint(report), "") << report;
    const std::string root = RootName();
    EXPECT_NE(report.find("    <test-case name=\"" + root + ".A.Later\" executed=\"False\"/>\r\n"), std::string::npos)
        << report;
    EXPECT_EQ(report.find(".A.Twice\" executed=\"False\""), std::string::npos) << report;
    EXPECT_EQ(report.find(".A.Stops\" executed=\"False\""), std::string::npos) << report;
}

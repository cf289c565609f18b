// The framework-format listener driven by a real run: which record each notification
// writes, in which order, and that the report stays whole when a run breaks off.

#include "report/XMLTestRunner.h"

#include "ListenerTree.h"
#include "XmlCheck.h"

#include <gtest/gtest.h>

using namespace ListenerTesting;
using ReportTestSupport::XmllintComplaint;
using TestSupport::ReadFile;
using TestSupport::TTempDir;

namespace {

std::string MaskTimes(const std::string& report)
{
    return Mask(report, R"re((<Stat name="(Finished At|Runtime)" result=")[^"]*")re", "$1<time>\"");
}

using XMLTestRunnerListener = ReportFileFixture<&XMLTestRunner::RunTest>;

} // namespace

TEST_F(XMLTestRunnerListener, WritesTheSmallTreeRecordByRecord)
{
    RegisterSmallTree();
    const std::string report = RunToFile();
    EXPECT_EQ(FResult->RunCount(), 3);
    // Suites get no passed-test record of their own, and the disabled test none at all.
    EXPECT_EQ(MaskTimes(report),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\" ?>\r\n<TestRun>\r\n"
              "<TestSuite name=\"" + RootName() + "\">\r\n"
              "<TestSuite name=\"A\">\r\n"
              "<Test name=\"Passes\" result=\"PASS\">\r\n</Test>\r\n"
              "<TestSuite name=\"B\">\r\n"
              "<Test name=\"Fails\" result=\"FAILS\">\r\n"
              "<FailureType>ETestFailure</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>stock &lt;0&gt;</Message>\r\n"
              "</Test>\r\n"
              "<Test name=\"Raises\" result=\"ERROR\">\r\n"
              "<FailureType>EStockEmpty</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>no stock for &quot;X&quot;</Message>\r\n"
              "</Test>\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "<Statistics>\r\n"
              "<Stat name=\"Tests\" result=\"3\" />\r\n"
              "<Stat name=\"Failures\" result=\"1\" />\r\n"
              "<Stat name=\"Errors\" result=\"1\" />\r\n"
              "<Stat name=\"Success Rate\" result=\"33%\" />\r\n"
              "<Stat name=\"Finished At\" result=\"<time>\" />\r\n"
              "<Stat name=\"Runtime\" result=\"<time>\" />\r\n"
              "</Statistics>\r\n"
              "</TestRun>\r\n");

    // Without a file name the same report goes to standard output.
    ClearRegistry();
    RegisterSmallTree();
    std::string written;
    {
        TStdOutCapture capture;
        XMLTestRunner::RunTest(RegisteredTests(), "");
        written = capture.Text();
    }
    EXPECT_EQ(MaskTimes(written), MaskTimes(report));
}

// A suite whose body breaks off never tells EndSuite, and an exception from outside the
// system's hierarchy leaves the whole run; either way every element is closed.
TEST_F(XMLTestRunnerListener, ClosesSuitesThatNeverEnded)
{
    RegisterBrokenTree();

    std::string report = RunToFile();
    EXPECT_EQ(XmllintComplaint(report), "") << report;
    EXPECT_NE(report.find("<TestSuite name=\"Broken\">\r\n"
                          "<Test name=\"First\" result=\"PASS\">\r\n</Test>\r\n"
                          "<Test name=\"Broken\" result=\"ERROR\">\r\n"
                          "<FailureType>EStockEmpty</FailureType>\r\n"
                          "<Location></Location>\r\n"
                          "<Message>suite body broke off</Message>\r\n"
                          "</Test>\r\n"
                          "</TestSuite>\r\n"
                          "<Test name=\"After\" result=\"PASS\">\r\n</Test>\r\n"
                          "</TestSuite>\r\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("<Stat name=\"Tests\" result=\"2\" />"), std::string::npos) << report;

    ClearRegistry();
    auto deep = std::make_shared<TTestSuite>("Deep");
    auto inner = std::make_shared<TTestSuite>("Inner");
    inner->AddTest(std::make_shared<TBodyTest>("Foreign", [](TBodyTest&) { throw 42; }));
    deep->AddTest(inner);
    RegisterTest(deep);
    const std::string file = FDir.File("foreign.xml");
    EXPECT_THROW(XMLTestRunner::RunTest(RegisteredTests(), file), int);
    report = ReadFile(file);
    EXPECT_EQ(XmllintComplaint(report), "") << report;
    EXPECT_NE(report.find("</TestSuite>\r\n</TestSuite>\r\n</TestSuite>\r\n<Statistics>"), std::string::npos)
        << report;
}

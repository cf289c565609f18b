// The console listener driven by a real run, its output taken from file descriptor 1.

#include "report/TextTestRunner.h"

#include "ListenerTree.h"

#include <gtest/gtest.h>

using namespace ListenerTesting;

namespace {

std::string MaskTimeLine(const std::string& out)
{
    return Mask(out, R"re(\r\nTime: \d+:\d\d:\d\d\.\d\d\d\r\n)re", "\r\nTime: <time>\r\n");
}

class TextTestRunnerListener : public RegistryFixture {
protected:
    std::string Run(const ITestPtr& suite)
    {
        TStdOutCapture capture;
        FResult = TextTestRunner::RunTest(suite);
        return capture.Text();
    }
    std::unique_ptr<TTestResult> FResult;
};

} // namespace

TEST_F(TextTestRunnerListener, WritesProgressAndTheReportOfTheSmallTree)
{
    RegisterSmallTree();
    // Dots for the root, A, Passes and B, then Fails with its F and Raises with its E;
    // the disabled test writes nothing.
    EXPECT_EQ(MaskTimeLine(Run(RegisteredTests())),
              "\r\nROved / Testing\r\n"
              ".....F.E\r\n"
              "Time: <time>\r\n"
              "\r\n"
              "FAILURES!!!\r\n"
              "Test Results:\r\n"
              "Run:             3\r\n"
              "Failures:        1\r\n"
              "Errors:          1\r\n"
              "There was 1 error:\r\n"
              "  1) Raises: EStockEmpty\r\n"
              "     at \r\n"
              "      \"no stock for \"X\"\"\r\n"
              "\r\n"
              "There was 1 failure:\r\n"
              "  1) Fails: ETestFailure\r\n"
              "     at \r\n"
              "      \"stock <0>\"\r\n"
              "\r\n"
              "\r\n"
              "\r\n");
    EXPECT_EQ(FResult->RunCount(), 3);
}

TEST_F(TextTestRunnerListener, SkipsADisabledSuiteWithAllItsTestsAndRunsNothingWithoutATree)
{
    auto a = std::make_shared<TTestSuite>("A");
    auto off = std::make_shared<TTestSuite>("Off");
    off->AddTest(Passing("Hidden1"));
    off->AddTest(Passing("Hidden2"));
    off->SetEnabled(false);
    a->AddTest(off);
    a->AddTest(Passing("Shown"));
    RegisterTest(a);
    EXPECT_EQ(MaskTimeLine(Run(RegisteredTests())),
              "\r\nROved / Testing\r\n...\r\nTime: <time>\r\n\r\nOK: 1 tests\r\n\r\n\r\n");

    ClearRegistry();
    EXPECT_EQ(Run(RegisteredTests()), "");
    EXPECT_EQ(FResult->RunCount(), 0);
}

TEST(TextTestRunner, TimeLineHasThreeDigitMilliseconds)
{
    constexpr double Ms = 1.0 / 86'400'000;
    EXPECT_EQ(TextTestRunner::FormatRunTime(1005 * Ms), "Time: 0:00:01.005");
    EXPECT_EQ(TextTestRunner::FormatRunTime((3'723'045) * Ms), "Time: 1:02:03.045");
    EXPECT_EQ(TextTestRunner::FormatRunTime(999 * Ms), "Time: 0:00:00.999");
    // A day or more wraps around, as a time of day does.
    EXPECT_EQ(TextTestRunner::FormatRunTime(1.0 + 60'000 * Ms), "Time: 0:01:00.000");
}

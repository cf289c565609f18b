#include "core/MemLeakMonitor.h"

#include "RunRecorder.h"

#include <gtest/gtest.h>

using namespace TestFramework;
using namespace TestFramework::Testing;

TEST(MemLeakMonitor, MeasuresNoChangeAndReportsOnlyANonZeroAllowance)
{
    TRovedMemLeakMonitor monitor;
    std::int32_t size = -1, index = -1;
    EXPECT_FALSE(monitor.MemLeakDetected(size));
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(monitor.MemLeakDetected(0, true, size));
    EXPECT_TRUE(monitor.MemLeakDetected(16, false, size));
    EXPECT_EQ(size, 0);

    int calls = 0;
    EXPECT_TRUE(monitor.MemLeakDetected([&] { ++calls; return 5; }, false, index, size));
    EXPECT_FALSE(monitor.MemLeakDetected([&] { ++calls; return 0; }, false, index, size));
    EXPECT_EQ(calls, 2); // one allowed value per question
    EXPECT_EQ(index, 0);

    std::string message = "stale";
    EXPECT_TRUE(monitor.GetMemoryUseMsg(true, 1, 2, 3, 4, message));
    EXPECT_EQ(message, "");
}

TEST(LeakStep, DecidesOnlyForPassingBodiesAndNeverFailsATest)
{
    TLog log;
    TTestResult result;
    result.AddListener(std::make_shared<TRecordingListener>(log));
    result.FailsIfMemoryLeaked = true;
    auto test = std::make_shared<TFakeTest>("a", log);

    test->SetAllowedMemoryLeakSize(64); // left over from an earlier run
    result.Run(test);
    EXPECT_EQ(log.at(log.size() - 2), "AddSuccess(a)");
    EXPECT_EQ(test->GetAllowedMemoryLeakSize(), 0);

    // An allowance set by the body counts as a leak the monitor saw; only the result's
    // option turns it into one caused by set-up or tear-down, and it never fails the test.
    test->OnRunTest = [&] { test->SetAllowedMemoryLeakSize(5); };
    result.Run(test);
    EXPECT_FALSE(result.LeakIgnoredInSetUpTearDown);
    result.IgnoresMemoryLeakInSetUpTearDown = true;
    result.Run(test);
    EXPECT_TRUE(result.LeakIgnoredInSetUpTearDown);
    EXPECT_TRUE(result.WasSuccessful());

    // A failed body is never passed to the leak decision.
    result.LeakIgnoredInSetUpTearDown = false;
    test->OnRunTest = [&] {
        test->SetAllowedMemoryLeakSize(5);
        throw ETestFailure("no");
    };
    log.clear();
    result.Run(test);
    EXPECT_FALSE(result.LeakIgnoredInSetUpTearDown);
    EXPECT_EQ(std::count(log.begin(), log.end(), "AddSuccess(a)"), 0);
}

// Only test methods reach the leak decision: a suite that ends after its last test must
// not overwrite what that test's decision left behind.
TEST(LeakStep, ASuiteAroundTheTestsNeverTakesTheDecision)
{
    TLog log;
    TTestResult result;
    result.FailsIfMemoryLeaked = true;
    result.IgnoresMemoryLeakInSetUpTearDown = true;
    auto suite = std::make_shared<TTestSuite>("s");
    auto test = std::make_shared<TFakeTest>("a", log);
    test->OnRunTest = [&] { test->SetAllowedMemoryLeakSize(5); };
    suite->AddTest(test);
    result.Run(suite);
    EXPECT_TRUE(result.LeakIgnoredInSetUpTearDown);
    EXPECT_TRUE(result.WasSuccessful());
}

#include "core/MemLeakMonitor.h"

#include "RunRecorder.h"
#include "core/TestResult.h"

#include <gtest/gtest.h>

using namespace TestFramework;
using namespace TestFramework::Testing;

TEST(MemLeakMonitor, MeasuresNoChangeAndReportsOnlyANonZeroAllowance)
{
    IRovedMemLeakMonitorPtr monitor = std::make_shared<TRovedMemLeakMonitor>();
    ASSERT_NE(std::dynamic_pointer_cast<IMemLeakMonitor>(monitor), nullptr);

    std::int32_t size = -1;
    EXPECT_FALSE(monitor->MemLeakDetected(size));
    EXPECT_EQ(size, 0);

    size = -1;
    EXPECT_FALSE(monitor->MemLeakDetected(0, true, size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(monitor->MemLeakDetected(16, false, size));
    EXPECT_EQ(size, 0);

    std::string message = "stale";
    EXPECT_TRUE(monitor->GetMemoryUseMsg(true, 100, message));
    EXPECT_EQ(message, "");
    message = "stale";
    EXPECT_TRUE(monitor->GetMemoryUseMsg(true, 1, 2, 3, 4, message));
    EXPECT_EQ(message, "");
}

TEST(MemLeakMonitor, AllowedListFormReadsExactlyOneValue)
{
    TRovedMemLeakMonitor monitor;
    int calls = 0;
    std::int32_t index = -1, size = -1;
    EXPECT_TRUE(monitor.MemLeakDetected([&] { ++calls; return 5; }, false, index, size));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(monitor.MemLeakDetected([&] { ++calls; return 0; }, false, index, size));
    EXPECT_EQ(calls, 2);
    EXPECT_THROW(monitor.MemLeakDetected(TAllowedLeakFunc(), false, index, size), Sys::EAssertionFailed);
}

TEST(MemLeakMonitor, TooManyAllowedLeaksNamesTheLimit)
{
    EXPECT_EQ(TooManyAllowedLeaksMessage(), "Too many values in for AllowedLeakArray. Limit = 3");
}

class LeakStep : public ::testing::Test {
protected:
    void SetUp() override
    {
        Result.AddListener(std::make_shared<TRecordingListener>(Log));
        Result.FailsIfMemoryLeaked = true;
        Test = std::make_shared<TFakeTest>("a", Log);
    }
    TLog Log;
    TTestResult Result;
    std::shared_ptr<TFakeTest> Test;
};

TEST_F(LeakStep, PassingBodyIsASuccessAndStartsFromNoAllowance)
{
    Test->SetAllowedMemoryLeakSize(64); // left over from an earlier run
    Result.Run(Test);
    EXPECT_TRUE(Test->GetFailsOnMemoryLeak());
    EXPECT_EQ(Result.FailureCount(), 0);
    EXPECT_EQ(Log[Log.size() - 2], "AddSuccess(a)");
    EXPECT_EQ(Test->GetAllowedMemoryLeakSize(), 0);
    EXPECT_FALSE(Result.LeakIgnoredInSetUpTearDown);
}

TEST_F(LeakStep, AllowanceSetByTheBodyIsIgnoredOnlyWhenTheResultSaysSo)
{
    Test->OnRunTest = [this] { Test->SetAllowedMemoryLeakSize(5); };
    Result.Run(Test);
    EXPECT_FALSE(Result.LeakIgnoredInSetUpTearDown);
    EXPECT_TRUE(Result.WasSuccessful());

    Result.IgnoresMemoryLeakInSetUpTearDown = true;
    Result.Run(Test);
    EXPECT_TRUE(Result.LeakIgnoredInSetUpTearDown);
    EXPECT_TRUE(Result.WasSuccessful());
    EXPECT_EQ(Test->GetAllowedMemoryLeakSize(), 5);
}

TEST_F(LeakStep, FailedBodyNeverReachesTheLeakDecision)
{
    Result.IgnoresMemoryLeakInSetUpTearDown = true;
    Test->OnRunTest = [this] {
        Test->SetAllowedMemoryLeakSize(5);
        throw ETestFailure("no");
    };
    Result.Run(Test);
    EXPECT_FALSE(Result.LeakIgnoredInSetUpTearDown);
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "AddSuccess(a)"), 0);
    EXPECT_EQ(Result.FailureCount(), 1);
}

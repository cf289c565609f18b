#include "core/TestResult.h"

#include "RunRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

using namespace TestFramework;
using namespace TestFramework::Testing;

namespace {

class RunLoop : public ::testing::Test {
protected:
    std::shared_ptr<TFakeTest> Fake(const std::string& name)
    {
        return std::make_shared<TFakeTest>(name, Log);
    }
    std::shared_ptr<TTestSuite> Suite(const std::string& name, const std::vector<ITestPtr>& children)
    {
        auto suite = std::make_shared<TTestSuite>(name);
        for (const auto& child : children)
            suite->AddTest(child);
        return suite;
    }
    std::shared_ptr<TRecordingSuiteListener> Listen(const std::string& tag = {})
    {
        auto listener = std::make_shared<TRecordingSuiteListener>(Log, tag);
        Result.AddListener(listener);
        return listener;
    }
    bool Logged(const std::string& entry) const { return std::count(Log.begin(), Log.end(), entry) > 0; }

    TLog Log;
    TTestResult Result;
};

} // namespace

TEST_F(RunLoop, PassingTestRunsItsPhasesBetweenStartAndEnd)
{
    Listen();
    auto a = Fake("a");
    bool channelWhileRunning = false;
    a->OnRunTest = [&] { channelWhileRunning = a->StatusChannel() != nullptr; };

    Result.RunSuite(a);

    EXPECT_EQ(Log, Seq({{"TestingStarts"}, Passes("a"), {"TestingEnds"}}));
    EXPECT_TRUE(Result.WasSuccessful());
    EXPECT_TRUE(channelWhileRunning);
    EXPECT_EQ(a->StatusChannel(), nullptr);
    EXPECT_GT(a->GetStartTime(), 0);
    EXPECT_GE(a->GetStopTime(), a->GetStartTime());
}

TEST_F(RunLoop, SuiteWrapsItsChildrenAndTotalTimeFollowsTheRoot)
{
    Listen();
    auto a = Fake("a");
    a->OnRunTest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(15)); };

    Result.RunSuite(Suite("S", {a, Fake("b"), Fake("c")}));

    EXPECT_EQ(Log, Seq({{"TestingStarts"}, Enters("S"), {"StartTest(S)", "StartSuite(S)"}, Passes("a"),
                        Passes("b"), Passes("c"),
                        {"EndSuite(S)", "AddSuccess(S)", "EndTest(S)", "TestingEnds"}}));
    EXPECT_TRUE(Result.WasSuccessful());
    EXPECT_GE(Result.TotalTime, 15); // the root's time up to the end of its body
}

TEST_F(RunLoop, SetUpFailureIsAnErrorAndTearDownStillRuns)
{
    Listen();
    auto a = Fake("a");
    a->OnSetUp = [] { throw EDoubleFailed("no database"); };

    Result.Run(a);

    EXPECT_EQ(Log, (TLog{"ShouldRunTest(a)", "StartTest(a)", "SetUp(a)",
                         "AddError(a, EDoubleFailed: SetUp FAILED: no database)", "TearDown(a)",
                         "EndTest(a)"}));
    EXPECT_EQ(Result.ErrorCount(), 1);
}

TEST_F(RunLoop, TearDownFailureAfterPassingBodyGivesErrorAndSuccess)
{
    Listen();
    auto a = Fake("a");
    a->OnTearDown = [] { throw EDoubleFailed("cleanup"); };

    Result.Run(a);

    EXPECT_EQ(Log, (TLog{"ShouldRunTest(a)", "StartTest(a)", "SetUp(a)", "RunTest(a)", "TearDown(a)",
                         "AddError(a, EDoubleFailed: TearDown FAILED: cleanup)", "AddSuccess(a)",
                         "EndTest(a)"}));
    EXPECT_FALSE(Result.WasSuccessful());
}

TEST_F(RunLoop, BodyExceptionsAreClassifiedAsFailuresOrErrors)
{
    struct TCase {
        std::function<void()> Raise;
        bool IsFailure;
        std::string Record;
    };
    const std::vector<TCase> cases = {
        {[] { throw ETestFailure("expected 3 but was 4"); }, true, "ETestFailure: expected 3 but was 4"},
        {[] { throw EPostTestFailure("late"); }, true, "EPostTestFailure: late"},
        {[] { throw EBreakingTestFailure("break"); }, true, "EBreakingTestFailure: break"},
        {[] { throw Sys::EAbort("aborted"); }, false, "EAbort: aborted"},
        {[] { throw Sys::Exception("Access violation"); }, false, "Exception: Access violation"},
        // Standard exceptions are one test's mistake, not the end of the run.
        {[] { throw std::out_of_range("index 3"); }, false, "std::out_of_range: index 3"},
        {[] { throw std::bad_alloc(); }, false, "std::bad_alloc: std::bad_alloc"},
    };
    for (const auto& c : cases) {
        TTestResult result;
        auto a = Fake("a");
        a->OnRunTest = c.Raise;
        result.Run(a);

        ASSERT_EQ(result.FailureCount() + result.ErrorCount(), 1) << c.Record;
        TTestFailure& record = c.IsFailure ? result.Failures(0) : result.Errors(0);
        EXPECT_EQ(record.ThrownExceptionName() + ": " + record.ThrownExceptionMessage(), c.Record);
        EXPECT_FALSE(result.WasStopped());
    }
}

TEST_F(RunLoop, ForeignThrowPassesOnButTheTestStillEnds)
{
    Listen();
    auto a = Fake("a");
    a->OnRunTest = [] { throw 42; };

    EXPECT_THROW(Result.Run(a), int);

    EXPECT_EQ(Log.back(), "EndTest(a)");
    EXPECT_EQ(a->StatusChannel(), nullptr);
    EXPECT_EQ(Result.ErrorCount() + Result.FailureCount(), 0);
}

TEST_F(RunLoop, StopTestsFailureInSecondOfThreeSkipsTheThird)
{
    Listen();
    auto b = Fake("b");
    b->OnRunTest = [] { throw EStopTestsFailure("enough"); };

    Result.RunSuite(Suite("S", {Fake("a"), b, Fake("c")}));

    EXPECT_EQ(Log, Seq({{"TestingStarts"}, Enters("S"), {"StartTest(S)", "StartSuite(S)"}, Passes("a"),
                        Enters("b"),
                        {"StartTest(b)", "SetUp(b)", "RunTest(b)", "AddFailure(b, EStopTestsFailure: enough)",
                         "TearDown(b)", "EndTest(b)"},
                        {"EndSuite(S)", "AddSuccess(S)", "EndTest(S)", "TestingEnds"}}));
    EXPECT_TRUE(Result.WasStopped());
    EXPECT_FALSE(Result.WasSuccessful());

    Log.clear();
    Result.Run(Fake("d")); // the flag stays set
    EXPECT_TRUE(Log.empty());
}

TEST_F(RunLoop, FirstListenerVetoEndsTheVote)
{
    Listen("1:")->Vote = false;
    Listen("2:");
    Result.Run(Fake("a"));
    EXPECT_EQ(Log, (TLog{"1:ShouldRunTest(a)"}));
}

TEST_F(RunLoop, ListenerWithoutSuiteInterfaceGetsNoSuiteNotifications)
{
    Result.AddListener(std::make_shared<TRecordingListener>(Log));
    Result.RunSuite(Suite("S", {Fake("a")}));
    EXPECT_EQ(Log, Seq({{"TestingStarts"}, Enters("S"), {"StartTest(S)"}, Passes("a"),
                        {"AddSuccess(S)", "EndTest(S)", "TestingEnds"}}));
}

TEST_F(RunLoop, EndTestClearsTheStatusChannelEvenWhenAListenerRaises)
{
    Listen("1:")->RaiseAt = "EndTest(a)";
    Listen("2:");
    auto a = Fake("a");

    EXPECT_THROW(Result.Run(a), EDoubleFailed);

    EXPECT_EQ(Log.back(), "1:EndTest(a)"); // the fan-out stopped at the first listener
    EXPECT_EQ(a->StatusChannel(), nullptr);
}

TEST_F(RunLoop, ListenerRaisingForAChildIsAnErrorOfItsSuite)
{
    Listen()->RaiseAt = "StartTest(b)";
    auto suite = Suite("S", {Fake("a"), Fake("b"), Fake("c")});

    Result.RunSuite(suite);

    ASSERT_EQ(Result.ErrorCount(), 1);
    EXPECT_EQ(Result.Errors(0).FailedTest(), suite);
    EXPECT_FALSE(Logged("ShouldRunTest(c)"));
    EXPECT_FALSE(Logged("EndSuite(S)"));
    EXPECT_EQ(TLog(Log.end() - 2, Log.end()), (TLog{"EndTest(S)", "TestingEnds"}));
}

TEST_F(RunLoop, BreakOnFailuresKeepsOneRecordAndGoesOn)
{
    Listen();
    Result.BreakOnFailures = true;
    auto a = Fake("a");
    a->OnRunTest = [] { throw ETestFailure("bad"); };

    Result.RunSuite(Suite("S", {a, Fake("b")}));

    EXPECT_EQ(Result.FailureCount(), 1);
    EXPECT_EQ(Result.ErrorCount(), 0);
    EXPECT_TRUE(Logged("AddSuccess(b)"));
}

TEST_F(RunLoop, StatusLinesReachTheListenersButNeverADeadResult)
{
    auto a = Fake("a");
    a->OnRunTest = [&] { a->StatusChannel()->Status(a, "halfway"); };
    Listen();
    Result.Run(a);
    EXPECT_TRUE(Logged("Status(a, halfway)"));

    // A run cut short before EndTest leaves the channel with the test; once the result is
    // gone a line through it goes nowhere instead of into freed memory.
    auto b = Fake("b");
    {
        TTestResult shortLived;
        auto listener = std::make_shared<TRecordingListener>(Log);
        listener->RaiseAt = "StartTest(b)";
        shortLived.AddListener(listener);
        EXPECT_THROW(shortLived.Run(b), EDoubleFailed);
    }
    ASSERT_NE(b->StatusChannel(), nullptr);
    Log.clear();
    b->StatusChannel()->Status(b, "too late");
    EXPECT_TRUE(Log.empty());
}

TEST_F(RunLoop, ListenersAddedFromANotificationHearTheNextOneOn)
{
    // Enough listeners added at the first start that the list reallocates under the
    // fan-out that is still walking it.
    class TAddingListener : public TRecordingListener {
    public:
        using TRecordingListener::TRecordingListener;
        std::function<void()> OnStart;
        void StartTest(const ITestPtr& t) override
        {
            TRecordingListener::StartTest(t);
            if (auto start = std::exchange(OnStart, nullptr))
                start();
        }
    };
    auto adder = std::make_shared<TAddingListener>(Log, "1:");
    adder->OnStart = [&] {
        for (int i = 0; i < 16; ++i)
            Result.AddListener(std::make_shared<TRecordingListener>(Log, i == 0 ? "2:" : "x:"));
    };
    Result.AddListener(adder);

    Result.RunSuite(Suite("S", {Fake("a")}));

    EXPECT_FALSE(Logged("2:StartTest(S)"));
    EXPECT_TRUE(Logged("2:StartTest(a)"));
    EXPECT_TRUE(Logged("2:TestingEnds"));
}

#include "core/TestResult.h"

#include "RunRecorder.h"
#include "core/TestExceptions.h"
#include "core/TestSuite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>
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

    TLog Log;
    TTestResult Result;
};

} // namespace

// A test that enters through RunWithFixture is asked for its vote there and once more by
// the loop itself; Run(test) directly asks once.
TEST_F(RunLoop, PassingTestRunsItsPhasesBetweenStartAndEnd)
{
    Listen();
    auto a = Fake("a");
    bool channelWhileRunning = false;
    a->OnRunTest = [&] { channelWhileRunning = a->StatusChannel() != nullptr; };

    Result.RunSuite(a);

    EXPECT_EQ(Log, (TLog{"TestingStarts", "ShouldRunTest(a)", "ShouldRunTest(a)", "StartTest(a)",
                         "SetUp(a)", "RunTest(a)", "TearDown(a)", "AddSuccess(a)", "EndTest(a)",
                         "TestingEnds"}));
    EXPECT_TRUE(Result.WasSuccessful());
    EXPECT_EQ(Result.RootTest, a);
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
    auto suite = Suite("S", {a, Fake("b"), Fake("c")});

    Result.RunSuite(suite);

    EXPECT_EQ(Log, (TLog{"TestingStarts", "ShouldRunTest(S)", "ShouldRunTest(S)", "StartTest(S)",
                         "StartSuite(S)",
                         "ShouldRunTest(a)", "ShouldRunTest(a)", "StartTest(a)", "SetUp(a)", "RunTest(a)",
                         "TearDown(a)", "AddSuccess(a)", "EndTest(a)",
                         "ShouldRunTest(b)", "ShouldRunTest(b)", "StartTest(b)", "SetUp(b)", "RunTest(b)",
                         "TearDown(b)", "AddSuccess(b)", "EndTest(b)",
                         "ShouldRunTest(c)", "ShouldRunTest(c)", "StartTest(c)", "SetUp(c)", "RunTest(c)",
                         "TearDown(c)", "AddSuccess(c)", "EndTest(c)",
                         "EndSuite(S)", "AddSuccess(S)", "EndTest(S)", "TestingEnds"}));
    EXPECT_TRUE(Result.WasSuccessful());
    // The root's time from its set-up to the end of its body, which includes a's sleep.
    EXPECT_GE(Result.TotalTime, 15);
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
    EXPECT_EQ(Result.FailureCount(), 0);
    EXPECT_GE(a->GetStopTime(), a->GetStartTime());
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
    EXPECT_EQ(Result.ErrorCount(), 1);
    EXPECT_FALSE(Result.WasSuccessful());
}

TEST_F(RunLoop, BodyExceptionsAreClassifiedAsFailuresOrErrors)
{
    struct TCase {
        std::function<void()> Raise;
        bool IsFailure;
        std::string ClassName;
        std::string Message;
    };
    const std::vector<TCase> cases = {
        {[] { throw ETestFailure("expected 3 but was 4"); }, true, "ETestFailure", "expected 3 but was 4"},
        {[] { throw EPostTestFailure("late"); }, true, "EPostTestFailure", "late"},
        {[] { throw EBreakingTestFailure("break"); }, true, "EBreakingTestFailure", "break"},
        {[] { throw Sys::EAbort("aborted"); }, false, "EAbort", "aborted"},
        {[] { throw Sys::Exception("Access violation"); }, false, "Exception", "Access violation"},
        // Standard exceptions are one test's mistake, not the end of the run.
        {[] { std::vector<int>().at(3); }, false, "std::out_of_range", ""},
        {[] { throw std::bad_alloc(); }, false, "std::bad_alloc", "std::bad_alloc"},
    };
    for (const auto& c : cases) {
        TTestResult result;
        auto a = Fake("a");
        a->OnRunTest = c.Raise;
        result.Run(a);

        SCOPED_TRACE(c.ClassName);
        ASSERT_EQ(result.FailureCount(), c.IsFailure ? 1 : 0);
        ASSERT_EQ(result.ErrorCount(), c.IsFailure ? 0 : 1);
        TTestFailure& record = c.IsFailure ? result.Failures(0) : result.Errors(0);
        EXPECT_EQ(record.ThrownExceptionName(), c.ClassName);
        if (!c.Message.empty())
            EXPECT_EQ(record.ThrownExceptionMessage(), c.Message);
        else
            EXPECT_FALSE(record.ThrownExceptionMessage().empty());
        EXPECT_EQ(record.FailedTest(), a);
        EXPECT_FALSE(result.WasStopped());
    }
}

TEST_F(RunLoop, RecordKeepsTheAddressTheExceptionWasRaisedAt)
{
    static const int marker = 0;
    auto a = Fake("a");
    a->OnRunTest = [] {
        ETestFailure failure("x");
        failure.SetAddress(&marker);
        throw failure;
    };
    Result.Run(a);
    ASSERT_EQ(Result.FailureCount(), 1);
    EXPECT_EQ(Result.Failures(0).ThrownExceptionAddress(), &marker);
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
    auto suite = Suite("S", {Fake("a"), b, Fake("c")});

    Result.RunSuite(suite);

    const TLog expected{"TestingStarts", "ShouldRunTest(S)", "ShouldRunTest(S)", "StartTest(S)",
                        "StartSuite(S)",
                        "ShouldRunTest(a)", "ShouldRunTest(a)", "StartTest(a)", "SetUp(a)", "RunTest(a)",
                        "TearDown(a)", "AddSuccess(a)", "EndTest(a)",
                        "ShouldRunTest(b)", "ShouldRunTest(b)", "StartTest(b)", "SetUp(b)", "RunTest(b)",
                        "AddFailure(b, EStopTestsFailure: enough)", "TearDown(b)", "EndTest(b)",
                        "EndSuite(S)", "AddSuccess(S)", "EndTest(S)", "TestingEnds"};
    EXPECT_EQ(Log, expected);
    EXPECT_TRUE(Result.WasStopped());
    EXPECT_FALSE(Result.WasSuccessful());

    // The flag stays: a later test on the same result gets no notification at all.
    Log.clear();
    Result.Run(Fake("d"));
    EXPECT_TRUE(Log.empty());
}

TEST_F(RunLoop, FirstListenerVetoEndsTheVote)
{
    auto first = Listen("1:");
    Listen("2:");
    first->Vote = [](const ITestPtr&) { return false; };

    Result.Run(Fake("a"));

    EXPECT_EQ(Log, (TLog{"1:ShouldRunTest(a)"}));
}

TEST_F(RunLoop, WithoutListenersEveryTestRunsDisabledOnesToo)
{
    auto a = Fake("a");
    a->SetEnabled(false);
    Result.Run(a);
    EXPECT_EQ(Log, (TLog{"SetUp(a)", "RunTest(a)", "TearDown(a)"}));
}

TEST_F(RunLoop, ListenerWithoutSuiteInterfaceGetsNoSuiteNotifications)
{
    auto plain = std::make_shared<TRecordingListener>(Log);
    ASSERT_EQ(Supports<ISuiteListener>(ITestListenerPtr(plain)), nullptr);
    Result.AddListener(plain);

    Result.RunSuite(Suite("S", {Fake("a")}));

    EXPECT_EQ(Log, (TLog{"TestingStarts", "ShouldRunTest(S)", "ShouldRunTest(S)", "StartTest(S)",
                         "ShouldRunTest(a)", "ShouldRunTest(a)", "StartTest(a)", "SetUp(a)", "RunTest(a)",
                         "TearDown(a)", "AddSuccess(a)", "EndTest(a)", "AddSuccess(S)", "EndTest(S)",
                         "TestingEnds"}));
}

TEST_F(RunLoop, EndTestClearsTheStatusChannelEvenWhenAListenerRaises)
{
    auto first = Listen("1:");
    Listen("2:");
    first->RaiseAt = "EndTest(a)";
    auto a = Fake("a");

    EXPECT_THROW(Result.Run(a), EDoubleFailed);

    EXPECT_EQ(Log.back(), "1:EndTest(a)"); // the fan-out stopped at the first listener
    EXPECT_EQ(a->StatusChannel(), nullptr);
}

TEST_F(RunLoop, ListenerRaisingForAChildIsAnErrorOfItsSuite)
{
    auto listener = Listen();
    listener->RaiseAt = "StartTest(b)";
    auto c = Fake("c");
    auto suite = Suite("S", {Fake("a"), Fake("b"), c});

    Result.RunSuite(suite);

    ASSERT_EQ(Result.ErrorCount(), 1);
    EXPECT_EQ(Result.Errors(0).FailedTest(), suite);
    EXPECT_EQ(Result.Errors(0).ThrownExceptionMessage(), "listener raised at StartTest(b)");
    // The suite's remaining children do not run and its EndSuite is skipped.
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "ShouldRunTest(c)"), 0);
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "EndSuite(S)"), 0);
    EXPECT_EQ(Log.back(), "TestingEnds");
    EXPECT_EQ(Log[Log.size() - 2], "EndTest(S)");
}

TEST_F(RunLoop, BreakOnFailuresKeepsOneRecordAndGoesOn)
{
    Listen();
    Result.BreakOnFailures = true;
    auto a = Fake("a");
    a->OnRunTest = [] { throw ETestFailure("bad"); };
    auto suite = Suite("S", {a, Fake("b")});

    Result.RunSuite(suite);

    EXPECT_EQ(Result.FailureCount(), 1);
    EXPECT_EQ(Result.ErrorCount(), 0);
    EXPECT_EQ(Result.Failures(0).ThrownExceptionName(), "ETestFailure");
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "AddSuccess(b)"), 1);
}

TEST_F(RunLoop, StatusLinesReachTheListenersButNeverADeadResult)
{
    auto a = Fake("a");
    a->OnRunTest = [&] { a->StatusChannel()->Status(a, "halfway"); };
    Listen();
    Result.Run(a);
    EXPECT_NE(std::find(Log.begin(), Log.end(), "Status(a, halfway)"), Log.end());

    // A run cut short before EndTest leaves the channel with the test; once its result is
    // gone, a status line through it goes nowhere instead of into freed memory.
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

TEST_F(RunLoop, PreconditionsRaiseTheRuntimeAssertion)
{
    try {
        Result.AddListener(nullptr);
        FAIL() << "a nil listener was accepted";
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("listener is nil", 0), 0u) << e.Message();
    }
    try {
        TStatusToResultAdapter adapter(nullptr);
        FAIL() << "an adapter without a result was made";
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("Expected non nil TestResult", 0), 0u) << e.Message();
    }
    EXPECT_THROW(Result.Run(nullptr), Sys::EAssertionFailed);
    EXPECT_THROW(Result.Failures(0), EListError);
    EXPECT_THROW(Result.Errors(-1), EListError);
}

TEST(TestMethod, IsASingleTestThatIsNotASuite)
{
    TLog log;
    auto single = std::make_shared<TFakeTest>("a", log);
    auto suiteOfOne = std::make_shared<TTestSuite>("S");
    suiteOfOne->AddTest(single);
    EXPECT_TRUE(IsTestMethod(single));
    EXPECT_FALSE(IsTestMethod(suiteOfOne));
}

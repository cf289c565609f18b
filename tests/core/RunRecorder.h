#pragma once
// Test doubles for the run loop: tests whose fixture and body do what a case asks, and
// listeners that write every notification into one shared log, so that a case compares
// the whole sequence, fixture calls included.

#include "core/AbstractTest.h"
#include "core/TestFailure.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"

#include <functional>
#include <string>
#include <vector>

namespace TestFramework::Testing {

using TLog = std::vector<std::string>;

class EDoubleFailed : public Sys::Exception {
public:
    WEXEL_CLASS(EDoubleFailed, Sys::Exception)
    using Sys::Exception::Exception;
};

class TFakeTest : public TAbstractTest {
public:
    TFakeTest(std::string name, TLog& log) : TAbstractTest(std::move(name)), FLog(log) {}
    std::function<void()> OnSetUp, OnRunTest, OnTearDown;

    void SetUp() override { Phase("SetUp", OnSetUp); }
    void RunTest(TTestResult*) override { Phase("RunTest", OnRunTest); }
    void TearDown() override { Phase("TearDown", OnTearDown); }
    // The status channel the run loop handed to the test.
    const IStatusListenerPtr& StatusChannel() const { return FStatusListener; }

private:
    void Phase(const std::string& phase, const std::function<void()>& action)
    {
        FLog.push_back(phase + "(" + GetName() + ")");
        if (action)
            action();
    }
    TLog& FLog;
};

class TRecordingListener : public virtual ITestListener {
public:
    explicit TRecordingListener(TLog& log, std::string tag = {}) : FLog(log), FTag(std::move(tag)) {}
    bool Vote = true;
    std::string RaiseAt; // the entry (without tag) at which to raise EDoubleFailed

    void Status(const ITestPtr& t, const std::string& msg) override { Record("Status", t, ", " + msg); }
    void TestingStarts() override { Record("TestingStarts"); }
    void StartTest(const ITestPtr& t) override { Record("StartTest", t); }
    void AddSuccess(const ITestPtr& t) override { Record("AddSuccess", t); }
    void AddError(TTestFailure& f) override { Record("AddError", f.FailedTest(), Describe(f)); }
    void AddFailure(TTestFailure& f) override { Record("AddFailure", f.FailedTest(), Describe(f)); }
    void EndTest(const ITestPtr& t) override { Record("EndTest", t); }
    void TestingEnds(TTestResult&) override { Record("TestingEnds"); }
    bool ShouldRunTest(const ITestPtr& t) override
    {
        Record("ShouldRunTest", t);
        return Vote;
    }

protected:
    void Record(const std::string& event, const ITestPtr& test = nullptr, const std::string& detail = {})
    {
        std::string entry = test ? event + "(" + test->GetName() + detail + ")" : event;
        FLog.push_back(FTag + entry);
        if (entry == RaiseAt)
            throw EDoubleFailed("listener raised at " + entry);
    }

private:
    static std::string Describe(TTestFailure& f)
    {
        return ", " + f.ThrownExceptionName() + ": " + f.ThrownExceptionMessage();
    }
    TLog& FLog;
    std::string FTag;
};

class TRecordingSuiteListener : public TRecordingListener, public ISuiteListener {
public:
    using TRecordingListener::TRecordingListener;
    void StartSuite(const ITestPtr& suite) override { Record("StartSuite", suite); }
    void EndSuite(const ITestPtr& suite) override { Record("EndSuite", suite); }
};

// Joins pieces of an expected sequence.
inline TLog Seq(std::initializer_list<TLog> parts)
{
    TLog all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A test entering through RunWithFixture is asked for its vote there and once more by
// the loop itself.
inline TLog Enters(const std::string& n) { return {"ShouldRunTest(" + n + ")", "ShouldRunTest(" + n + ")"}; }

// The whole sequence of a test that enters through RunWithFixture and passes.
inline TLog Passes(const std::string& n)
{
    return Seq({Enters(n), {"StartTest(" + n + ")", "SetUp(" + n + ")", "RunTest(" + n + ")",
                            "TearDown(" + n + ")", "AddSuccess(" + n + ")", "EndTest(" + n + ")"}});
}

} // namespace TestFramework::Testing

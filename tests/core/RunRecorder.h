#pragma once
// Test doubles for the run loop: tests whose fixture and body do what a case asks, and
// listeners that write every notification into one shared log, so that a case can
// compare the whole sequence, fixture calls included.

#include "core/AbstractTest.h"
#include "core/TestFailure.h"
#include "core/TestInterfaces.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TestFramework::Testing {

using TLog = std::vector<std::string>;

// Raised by doubles that are told to fail; a plain exception of the system.
class EDoubleFailed : public Sys::Exception {
public:
    WEXEL_CLASS(EDoubleFailed, Sys::Exception)
    using Sys::Exception::Exception;
};

class TFakeTest : public TAbstractTest {
public:
    TFakeTest(std::string name, TLog& log) : TAbstractTest(std::move(name)), FLog(log) {}

    std::function<void()> OnSetUp;
    std::function<void()> OnRunTest;
    std::function<void()> OnTearDown;

    void SetUp() override
    {
        FLog.push_back("SetUp(" + GetName() + ")");
        if (OnSetUp)
            OnSetUp();
    }
    void RunTest(TTestResult*) override
    {
        FLog.push_back("RunTest(" + GetName() + ")");
        if (OnRunTest)
            OnRunTest();
    }
    void TearDown() override
    {
        FLog.push_back("TearDown(" + GetName() + ")");
        if (OnTearDown)
            OnTearDown();
    }

    // The channel the run loop handed to the test, as the test itself would use it.
    const IStatusListenerPtr& StatusChannel() const { return FStatusListener; }

private:
    TLog& FLog;
};

class TRecordingListener : public virtual ITestListener {
public:
    // tag prefixes this listener's entries when several share one log.
    explicit TRecordingListener(TLog& log, std::string tag = {}) : FLog(log), FTag(std::move(tag)) {}

    // Answers ShouldRunTest; every test runs when unset.
    std::function<bool(const ITestPtr&)> Vote;
    // The entry (without the tag) at which this listener raises EDoubleFailed.
    std::string RaiseAt;

    void Status(const ITestPtr& test, const std::string& msg) override
    {
        Record("Status(" + test->GetName() + ", " + msg + ")");
    }
    void TestingStarts() override { Record("TestingStarts"); }
    void StartTest(const ITestPtr& test) override { Record("StartTest(" + test->GetName() + ")"); }
    void AddSuccess(const ITestPtr& test) override { Record("AddSuccess(" + test->GetName() + ")"); }
    void AddError(TTestFailure& failure) override { Record("AddError(" + Describe(failure) + ")"); }
    void AddFailure(TTestFailure& failure) override { Record("AddFailure(" + Describe(failure) + ")"); }
    void EndTest(const ITestPtr& test) override { Record("EndTest(" + test->GetName() + ")"); }
    void TestingEnds(TTestResult&) override { Record("TestingEnds"); }
    bool ShouldRunTest(const ITestPtr& test) override
    {
        Record("ShouldRunTest(" + test->GetName() + ")");
        return Vote ? Vote(test) : true;
    }

protected:
    void Record(const std::string& entry)
    {
        FLog.push_back(FTag + entry);
        if (entry == RaiseAt)
            throw EDoubleFailed("listener raised at " + entry);
    }

private:
    static std::string Describe(TTestFailure& failure)
    {
        return failure.FailedTest()->GetName() + ", " + failure.ThrownExceptionName() + ": " +
               failure.ThrownExceptionMessage();
    }

    TLog& FLog;
    std::string FTag;
};

class TRecordingSuiteListener : public TRecordingListener, public ISuiteListener {
public:
    using TRecordingListener::TRecordingListener;
    void StartSuite(const ITestPtr& suite) override { Record("StartSuite(" + suite->GetName() + ")"); }
    void EndSuite(const ITestPtr& suite) override { Record("EndSuite(" + suite->GetName() + ")"); }
};

} // namespace TestFramework::Testing

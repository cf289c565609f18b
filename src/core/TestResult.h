#pragma once
// The object a run is made on: options, listeners, the failure and error records, the
// counters, and the per-test run loop every test and suite passes through.

#include "core/TestFailure.h"
#include "core/TestInterfaces.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace TestFramework {

class TTestResult {
public:
    TTestResult();
    virtual ~TTestResult();
    TTestResult(const TTestResult&) = delete;
    TTestResult& operator=(const TTestResult&) = delete;

    // --- overridable operations ---
    // The per-test run loop.
    virtual void Run(const ITestPtr& test);
    virtual bool RunTestSetUp(const ITestPtr& test);
    virtual void RunTestTearDown(const ITestPtr& test);
    virtual bool RunTestRun(const ITestPtr& test);
    virtual void TestingStarts();
    virtual void StartSuite(const ITestPtr& suite);
    virtual void StartTest(const ITestPtr& test);
    virtual void Status(const ITestPtr& test, const std::string& msg);
    virtual void EndSuite(const ITestPtr& suite);
    virtual void EndTest(const ITestPtr& test);
    virtual void TestingEnds();
    virtual bool ShouldRunTest(const ITestPtr& test);
    virtual void AddListener(const ITestListenerPtr& listener);
    virtual void AddSuccess(const ITestPtr& test);
    virtual TTestFailure& AddError(const ITestPtr& test, const std::exception& e, const void* addrs,
                                   const std::string& msg = {});
    virtual void Stop();
    virtual bool ShouldStop();
    virtual int RunCount();
    virtual int ErrorCount();
    virtual int FailureCount();
    virtual bool WasStopped();
    virtual bool WasSuccessful();

    // --- fixed operations ---
    TTestFailure& AddFailure(const ITestPtr& test, const std::exception& e, const void* addrs);
    TTestFailure& AddFailure(const ITestPtr& test, const void* addrs, const std::string& msg);
    // 0-based; an index outside the list raises the runtime's list-index error.
    TTestFailure& Failures(int index);
    TTestFailure& Errors(int index);
    void RunSuite(const ITestPtr& test);

    const std::vector<ITestListenerPtr>& Listeners() const { return FListeners; }

    // --- fields (the run's options and counters) ---
    std::int64_t TotalTime = 0;
    int Overrides = 0;
    ITestPtr RootTest;
    bool BreakOnFailures = false;
    bool FailsIfNoChecksExecuted = false;
    bool IgnoresMemoryLeakInSetUpTearDown = false;
    bool LeakIgnoredInSetUpTearDown = false;
    bool FailsIfMemoryLeaked = false;
    int RunTests = 0;
    const void* MethodPtr = nullptr;

private:
    std::vector<std::unique_ptr<TTestFailure>> FFailures;
    std::vector<std::unique_ptr<TTestFailure>> FErrors;
    std::vector<ITestListenerPtr> FListeners;
    bool FStop = false;
    IStatusListenerPtr FStatusAdapter;
};

// Connects a running test's status channel back to its result. It holds the result by a
// plain reference: the result owns the adapter, and a test holds it only while it runs,
// so a counted reference would keep a finished result alive through a cycle.
class TStatusToResultAdapter : public IStatusListener {
public:
    explicit TStatusToResultAdapter(TTestResult* result);
    void Status(const ITestPtr& test, const std::string& msg) override;

private:
    TTestResult* FTestResult;
};

// True for a single test: one test case and not a suite.
bool IsTestMethod(const ITestPtr& test);

} // namespace TestFramework

#pragma once
// The object a run is made on: options, listeners, the failure and error records, the
// counters, and the per-test run loop every test and suite passes through.

#include "core/TestExceptions.h"
#include "core/TestFailure.h"
#include "core/TestInterfaces.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace TestFramework {

// The runtime's list-index error: a position outside a list was asked for.
class EListError : public Sys::Exception {
public:
    WEXEL_CLASS(EListError, Sys::Exception)
    using Sys::Exception::Exception;
};

// Raises EListError with the runtime's text for a bad index.
[[noreturn]] void ListIndexError(int index);

class TStatusToResultAdapter;

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
    // The one place a test's outcome is decided (see TestResult.cpp): from the exception
    // that escaped its body, or none. Returns whether the test passed.
    bool RecordOutcome(const ITestPtr& test, const std::exception* escaped);
    // Records an exception that escaped a test body as a failure or an error, and stops
    // the run for EStopTestsFailure.
    TTestFailure& ClassifyEscaped(const ITestPtr& test, const std::exception& e);
    // Raises and catches EBreakingTestFailure for a failed check, so that a debugger set
    // to stop on exceptions stops here; the run goes on unchanged.
    void BreakOnFailure(const TTestFailure& record);

    std::vector<std::unique_ptr<TTestFailure>> FFailures;
    std::vector<std::unique_ptr<TTestFailure>> FErrors;
    std::vector<ITestListenerPtr> FListeners;
    bool FStop = false;
    std::shared_ptr<TStatusToResultAdapter> FStatusAdapter;
};

// Connects a running test's status channel back to its result. It holds the result by a
// plain reference: the result owns the adapter, and a test holds it only while it runs,
// so a counted reference would keep a finished result alive through a cycle.
class TStatusToResultAdapter : public IStatusListener {
public:
    explicit TStatusToResultAdapter(TTestResult* result);
    // Passes the line on, or drops it once the result is gone.
    void Status(const ITestPtr& test, const std::string& msg) override;
    // Called by the result as it is destroyed: a test that kept the adapter (its run was
    // cut short before EndTest) must not reach a dead result through it.
    void Detach() noexcept { FTestResult = nullptr; }

private:
    TTestResult* FTestResult;
};

// Asks every result to stop as Stop does, at its next check; the run loop cannot be
// reached otherwise from a signal handler, where this is safe to call. Stays in force
// until ResetStopRequest.
void RequestStop() noexcept;
void ResetStopRequest() noexcept;

// True for a single test: one test case and not a suite.
bool IsTestMethod(const ITestPtr& test);

} // namespace TestFramework

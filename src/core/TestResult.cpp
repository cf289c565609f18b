#include "core/TestResult.h"

#include "core/AbstractTest.h"
#include "core/MemLeakMonitor.h"
#include "platform/Clock.h"
#include "platform/SysUtils.h"

#include <atomic>

namespace TestFramework {

namespace {

std::atomic<bool> StopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");

// Where an exception was raised: the system's exceptions carry it, others do not.
const void* AddressOf(const std::exception& e)
{
    auto* own = dynamic_cast<const Sys::Exception*>(&e);
    return own ? own->Address() : nullptr;
}

template <class Record>
Record& At(std::vector<std::unique_ptr<Record>>& list, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        ListIndexError(index);
    return *list[static_cast<std::size_t>(index)];
}

} // namespace

void ListIndexError(int index)
{
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// --- construction ---

TTestResult::TTestResult() : FStatusAdapter(std::make_shared<TStatusToResultAdapter>(this)) {}

TTestResult::~TTestResult()
{
    // A test whose run was cut short may still hold the adapter.
    FStatusAdapter->Detach();
    FErrors.clear();
    FFailures.clear();
    FListeners.clear();
    RootTest.reset();
    FStatusAdapter.reset();
}

// --- the run loop ---

void TTestResult::Run(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    if (ShouldStop())
        return;
    if (!ShouldRunTest(test))
        return;
    StartTest(test);

    // Declared before the guarded part so that they are released after EndTest. They
    // live on the stack: two allocations per test would cost more than the whole check.
    TRovedMemLeakMonitor phaseMonitor;
    TRovedMemLeakMonitor testMonitor;
    try {
        test->SetAllowedMemoryLeakSize(0);
        bool bodySucceeded = false;
        // Whether the leak checks apply: the test's option first, so that a run without
        // them never asks what kind of test this is (a suite would count its subtree).
        bool checksLeaks = false;
        std::int32_t setUpChange = 0;
        std::int32_t bodyChange = 0;
        std::int32_t tearDownChange = 0;
        std::int32_t testChange = 0;
        std::int32_t leakIndex = 0;
        std::string leakMessage;

        if (RunTestSetUp(test)) {
            testMonitor.MemLeakDetected(setUpChange);
            phaseMonitor.MarkMemInUse();
            bodySucceeded = RunTestRun(test);
            checksLeaks = test->GetFailsOnMemoryLeak() && IsTestMethod(test);
            if (checksLeaks)
                phaseMonitor.MemLeakDetected(bodyChange);
        }
        phaseMonitor.MarkMemInUse();
        RunTestTearDown(test);
        phaseMonitor.MemLeakDetected(tearDownChange);

        if (bodySucceeded) {
            bool leakFailed = false;
            if (test->GetFailsOnMemoryLeak() && (checksLeaks || IsTestMethod(test))) {
                bool leakDetected = testMonitor.MemLeakDetected(test->GetAllowedLeaksIterator(),
                                                                test->GetFailsOnMemoryRecovery(),
                                                                leakIndex, testChange);
                LeakIgnoredInSetUpTearDown =
                    IgnoresMemoryLeakInSetUpTearDown && bodyChange == 0 && leakDetected;
                if (!LeakIgnoredInSetUpTearDown && leakDetected &&
                    !testMonitor.GetMemoryUseMsg(test->GetFailsOnMemoryRecovery(), setUpChange,
                                                 bodyChange, tearDownChange, testChange, leakMessage)) {
                    AddFailure(test, MethodPtr, leakMessage);
                    leakFailed = true;
                }
            }
            if (!leakFailed) {
                AddSuccess(test);
                if (testChange != 0)
                    test->SetAllowedMemoryLeakSize(testChange);
            }
        }
    } catch (...) {
        EndTest(test);
        throw;
    }
    EndTest(test);
}

bool TTestResult::RunTestSetUp(const ITestPtr& test)
{
    try {
        test->SetStopTime(0);
        test->SetStartTime(Sys::QueryPerformanceCounter());
        test->SetFailsOnNoChecksExecuted(FailsIfNoChecksExecuted);
        test->SetFailsOnMemoryLeak(FailsIfMemoryLeaked);
        test->SetIgnoreSetUpTearDownLeaks(IgnoresMemoryLeakInSetUpTearDown);
        test->SetUp();
        return true;
    } catch (const std::exception& e) {
        AddError(test, e, AddressOf(e), "SetUp FAILED: ");
        return false;
    }
}

void TTestResult::RunTestTearDown(const ITestPtr& test)
{
    try {
        test->TearDown();
    } catch (const std::exception& e) {
        AddError(test, e, AddressOf(e), "TearDown FAILED: ");
    }
    test->SetStopTime(Sys::QueryPerformanceCounter());
}

bool TTestResult::RunTestRun(const ITestPtr& test)
{
    test->SetTestMethodInvoked(false);
    try {
        test->RunTest(this);
    } catch (const std::exception& e) {
        return RecordOutcome(test, &e);
    }
    if (!RecordOutcome(test, nullptr))
        return false;
    if (!RootTest)
        RootTest = test;
    TotalTime = RootTest->ElapsedTestTime();
    return true;
}

// The one place that decides a test's outcome from what its body did (the steps around
// the body, set-up and tear-down errors and the leak checks, are recorded by Run). A body
// that returned (escaped is null) passes, unless the no-checks option is on and the test
// knows it ran no check. An escaped exception is a failure for the check failures, a
// failure that stops the run for EStopTestsFailure, and an error for anything else: a
// C++ standard exception from outside the system's hierarchy (a container's out_of_range,
// bad_alloc) is one test's mistake, so it becomes an error of that test rather than
// ending the whole run. Script tests arrive here the same way: the script library's
// answer, its stop and its errors are only translated into these exceptions on the way
// (Wexel.lua's answer, the bridge's MapRunTestAnswer, TWexelCaller for a stopped test).
// Returns whether the test passed; only a failure or an error is recorded here.
bool TTestResult::RecordOutcome(const ITestPtr& test, const std::exception* escaped)
{
    if (escaped == nullptr) {
        // The option first: with it off, a pass costs nothing more.
        if (!test->GetFailsOnNoChecksExecuted() || !IsTestMethod(test))
            return true;
        auto* checked = dynamic_cast<const TAbstractTest*>(test.get());
        if (!checked || !checked->RanNoChecks())
            return true;
        const ETestFailure noChecks("No checks executed in TestCase");
        return RecordOutcome(test, &noChecks);
    }
    TTestFailure& record = ClassifyEscaped(test, *escaped);
    if (BreakOnFailures)
        BreakOnFailure(record);
    return false;
}

TTestFailure& TTestResult::ClassifyEscaped(const ITestPtr& test, const std::exception& e)
{
    const void* address = AddressOf(e);
    if (dynamic_cast<const EStopTestsFailure*>(&e)) {
        TTestFailure& record = AddFailure(test, e, address);
        Stop();
        return record;
    }
    if (dynamic_cast<const ETestFailure*>(&e) || dynamic_cast<const EBreakingTestFailure*>(&e))
        return AddFailure(test, e, address);
    return AddError(test, e, address);
}

void TTestResult::BreakOnFailure(const TTestFailure& record)
{
    const Sys::TClass* cls = record.ThrownExceptionClass();
    if (cls == nullptr || !cls->InheritsFrom(ETestFailure::StaticClass()))
        return;
    try {
        EBreakingTestFailure breaking(record.ThrownExceptionMessage());
        breaking.SetAddress(record.ThrownExceptionAddress());
        throw breaking;
    } catch (const EBreakingTestFailure&) {
        // Only a debugger watching raised exceptions notices this one.
    }
}

void TTestResult::RunSuite(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    TestingStarts();
    RootTest = test;
    try {
        test->RunWithFixture(this);
    } catch (...) {
        TestingEnds();
        throw;
    }
    TestingEnds();
}

// --- notifications: each goes to the listeners in registration order; one that raises
// stops the fan-out and the exception goes to the caller. ---

namespace {

// Calls f for each listener registered when the notification began, in order, until f
// answers false. Indexes, not iterators: a listener may add another listener (the window
// adds itself) from inside a notification, which may move the list; a listener added so
// is told from the next notification on. The listener itself is reached through a plain
// pointer: the list never lets one go before the result is destroyed, and a counted
// reference per listener and notification would cost two atomic operations each, several
// times per test.
template <class F>
bool EachListener(const std::vector<ITestListenerPtr>& listeners, F&& f)
{
    for (std::size_t i = 0, count = listeners.size(); i < count && i < listeners.size(); ++i) {
        ITestListener* listener = listeners[i].get();
        if (!f(*listener))
            return false;
    }
    return true;
}

} // namespace

void TTestResult::AddListener(const ITestListenerPtr& listener)
{
    Sys::Assert(listener != nullptr, FrameworkUnit, __LINE__, "listener is nil");
    FListeners.push_back(listener);
}

void TTestResult::TestingStarts()
{
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.TestingStarts();
        return true;
    });
}

void TTestResult::TestingEnds()
{
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.TestingEnds(*this);
        return true;
    });
}

void TTestResult::StartSuite(const ITestPtr& suite)
{
    EachListener(FListeners, [&](ITestListener& listener) {
        if (auto* suiteListener = dynamic_cast<ISuiteListener*>(&listener))
            suiteListener->StartSuite(suite);
        return true;
    });
}

void TTestResult::EndSuite(const ITestPtr& suite)
{
    EachListener(FListeners, [&](ITestListener& listener) {
        if (auto* suiteListener = dynamic_cast<ISuiteListener*>(&listener))
            suiteListener->EndSuite(suite);
        return true;
    });
}

void TTestResult::StartTest(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    test->SetStatusListener(FStatusAdapter);
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.StartTest(test);
        return true;
    });
}

void TTestResult::EndTest(const ITestPtr& test)
{
    try {
        EachListener(FListeners, [&](ITestListener& listener) {
            listener.EndTest(test);
            return true;
        });
    } catch (...) {
        test->SetStatusListener(nullptr);
        throw;
    }
    test->SetStatusListener(nullptr);
}

void TTestResult::AddSuccess(const ITestPtr& test)
{
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.AddSuccess(test);
        return true;
    });
}

void TTestResult::Status(const ITestPtr& test, const std::string& msg)
{
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.Status(test, msg);
        return true;
    });
}

bool TTestResult::ShouldRunTest(const ITestPtr& test)
{
    return EachListener(FListeners, [&](ITestListener& listener) { return listener.ShouldRunTest(test); });
}

// --- records ---

TTestFailure& TTestResult::AddError(const ITestPtr& test, const std::exception& e, const void* addrs,
                                    const std::string& msg)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    FErrors.push_back(std::make_unique<TTestFailure>(test, e, addrs, msg));
    TTestFailure& record = *FErrors.back();
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.AddError(record);
        return true;
    });
    return record;
}

TTestFailure& TTestResult::AddFailure(const ITestPtr& test, const std::exception& e, const void* addrs)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    FFailures.push_back(std::make_unique<TTestFailure>(test, e, addrs));
    TTestFailure& record = *FFailures.back();
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.AddFailure(record);
        return true;
    });
    return record;
}

TTestFailure& TTestResult::AddFailure(const ITestPtr& test, const void* addrs, const std::string& msg)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    FFailures.push_back(std::make_unique<TTestFailure>(test, addrs, msg));
    TTestFailure& record = *FFailures.back();
    EachListener(FListeners, [&](ITestListener& listener) {
        listener.AddFailure(record);
        return true;
    });
    return record;
}

TTestFailure& TTestResult::Failures(int index) { return At(FFailures, index); }
TTestFailure& TTestResult::Errors(int index) { return At(FErrors, index); }

// --- state ---

void TTestResult::Stop() { FStop = true; }

bool TTestResult::ShouldStop() { return FStop || StopRequested; }
bool TTestResult::WasStopped() { return FStop || StopRequested; }
int TTestResult::RunCount() { return RunTests; }
int TTestResult::ErrorCount() { return static_cast<int>(FErrors.size()); }
int TTestResult::FailureCount() { return static_cast<int>(FFailures.size()); }

bool TTestResult::WasSuccessful()
{
    return FailureCount() == 0 && ErrorCount() == 0 && !WasStopped();
}

// --- status adapter ---

TStatusToResultAdapter::TStatusToResultAdapter(TTestResult* result) : FTestResult(result)
{
    Sys::Assert(result != nullptr, FrameworkUnit, __LINE__, "Expected non nil TestResult");
}

void TStatusToResultAdapter::Status(const ITestPtr& test, const std::string& msg)
{
    if (FTestResult)
        FTestResult->Status(test, msg);
}

void RequestStop() noexcept { StopRequested = true; }
void ResetStopRequest() noexcept { StopRequested = false; }

bool IsTestMethod(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    // The kind first: a suite would count its whole subtree.
    return dynamic_cast<const ITestSuite*>(test.get()) == nullptr && test->CountTestCases() == 1;
}

} // namespace TestFramework

// TTestCaseQuill is the script test case: one framework test per procedure of the test library.

#include "bridge/TestCaseQuill.h"

#include "bridge/WexelAdapter.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"

namespace Wexel {

namespace {

constexpr const char* WexelUnit = "Wexel";

std::string TestNameOf(const std::string& fullName)
{
    Sys::Assert(!fullName.empty(), WexelUnit, __LINE__);
    auto slash = fullName.rfind('/');
    return CutName(slash == std::string::npos ? fullName : fullName.substr(slash + 1));
}

// Clears the expected-exception class on every way out of the body.
class TExpectedExceptionGuard {
public:
    explicit TExpectedExceptionGuard(TTestCaseQuill& test) : FTest(test) {}
    ~TExpectedExceptionGuard() { FTest.StopExpectingException(); }

private:
    TTestCaseQuill& FTest;
};

} // namespace

// The path is taken over, not copied: discovery makes one per test.
TTestCaseQuill::TTestCaseQuill(std::string fullName)
    : TAbstractTest(TestNameOf(fullName)), FFullName(std::move(fullName))
{
}

void TTestCaseQuill::Invoke()
{
    TAbstractTest::Invoke();
    if (!WexelAdapter)
        throw Sys::Exception("No script test library is connected");
    SetCheckCalled(WexelAdapter->RunTest(FFullName));
}

void TTestCaseQuill::RunWithFixture(TestFramework::TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, WexelUnit, __LINE__);
    SetFailsOnNoChecksExecuted(testResult->FailsIfNoChecksExecuted);
    SetFailsOnMemoryLeak(testResult->FailsIfMemoryLeaked);
    SetIgnoreSetUpTearDownLeaks(testResult->IgnoresMemoryLeakInSetUpTearDown);
    if (testResult->ShouldRunTest(shared_from_this())) {
        ++testResult->RunTests;
        TAbstractTest::RunWithFixture(testResult);
    }
}

void TTestCaseQuill::RunTest(TestFramework::TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, WexelUnit, __LINE__);
    FExpectedException = nullptr;
    testResult->MethodPtr = nullptr;
    FCheckCalled = false;
    TExpectedExceptionGuard guard(*this);
    // Whether a pass without checks fails is the run loop's decision (TTestResult).
    Invoke();
    StopExpectingException();
}

void TTestCaseQuill::Run(TestFramework::TTestResult& testResult)
{
    testResult.RunSuite(shared_from_this());
}

std::shared_ptr<TestFramework::TTestSuite> TTestCaseQuill::Suite()
{
    return TestFramework::TTestSuite::Create(StaticClass());
}

} // namespace Wexel

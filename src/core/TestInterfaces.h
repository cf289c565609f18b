#pragma once
// The vocabulary of the framework: the interfaces through which tests, suites, listeners
// and the status channel are reached. Objects behind them are shared (a test can sit in
// two suites, a failure record keeps its test alive, a result holds its listeners), so
// they are held by std::shared_ptr; a query for an interface is a dynamic cast.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TestFramework {

class ITest;
class ITestSuite;
class IStatusListener;
class ITestListener;
class TTestResult;
class TTestFailure;
class TCustomIniFile;

using ITestPtr = std::shared_ptr<ITest>;
using ITestSuitePtr = std::shared_ptr<ITestSuite>;
using IStatusListenerPtr = std::shared_ptr<IStatusListener>;
using ITestListenerPtr = std::shared_ptr<ITestListener>;

// An interface list of tests: a suite's children.
using TTestList = std::vector<ITestPtr>;

// The callback of GetAllowedLeaksIterator: each call yields the next allowed leak.
using TAllowedLeakFunc = std::function<int()>;

// A query for an interface: the object itself when it implements I, else nullptr.
template <class I, class T>
std::shared_ptr<I> Supports(const std::shared_ptr<T>& obj)
{
    return std::dynamic_pointer_cast<I>(obj);
}

class IStatusListener {
public:
    static constexpr const char* IID = "{8681DC88-033C-4A42-84F4-4C52EF9ABAC0}";
    virtual ~IStatusListener() = default;
    // A running test wrote a line of free status text.
    virtual void Status(const ITestPtr& test, const std::string& msg) = 0;
};

class ITestListener : public virtual IStatusListener {
public:
    static constexpr const char* IID = "{114185BC-B36B-4C68-BDAB-273DBD450F72}";
    // A whole run begins.
    virtual void TestingStarts() = 0;
    // A test (single test or suite) begins.
    virtual void StartTest(const ITestPtr& test) = 0;
    // The test passed.
    virtual void AddSuccess(const ITestPtr& test) = 0;
    // An unexpected exception was recorded; the record lives as long as its result.
    virtual void AddError(TTestFailure& failure) = 0;
    // A failed check was recorded; the record lives as long as its result.
    virtual void AddFailure(TTestFailure& failure) = 0;
    // The test ended, whatever its outcome.
    virtual void EndTest(const ITestPtr& test) = 0;
    // The whole run ended.
    virtual void TestingEnds(TTestResult& testResult) = 0;
    // The listener's vote, asked before each test enters the run loop.
    virtual bool ShouldRunTest(const ITestPtr& test) = 0;
};

class ISuiteListener : public virtual ITestListener {
public:
    static constexpr const char* IID = "{5C28B1BE-38B5-4D6F-AA96-A04E9302C317}";
    // A suite starts running its children (after its StartTest).
    virtual void StartSuite(const ITestPtr& suite) = 0;
    // A suite has run its children (before its AddSuccess and EndTest).
    virtual void EndSuite(const ITestPtr& suite) = 0;
};

// A suite listener that does nothing and runs every test, so that a listener states only
// the notifications it acts on.
class TEmptySuiteListener : public ISuiteListener {
public:
    void Status(const ITestPtr&, const std::string&) override {}
    void TestingStarts() override {}
    void StartTest(const ITestPtr&) override {}
    void AddSuccess(const ITestPtr&) override {}
    void AddError(TTestFailure&) override {}
    void AddFailure(TTestFailure&) override {}
    void EndTest(const ITestPtr&) override {}
    void TestingEnds(TTestResult&) override {}
    bool ShouldRunTest(const ITestPtr&) override { return true; }
    void StartSuite(const ITestPtr&) override {}
    void EndSuite(const ITestPtr&) override {}
};

// Every test object, single test or suite. Tests are always created through
// std::make_shared, so that a test can hand itself to the run loop (shared_from_this).
class ITest : public std::enable_shared_from_this<ITest> {
public:
    static constexpr const char* IID = "{89CCD557-7DE1-4814-B033-ABAFE0870EC7}";
    virtual ~ITest() = default;

    virtual std::string GetName() = 0;
    virtual int CountTestCases() = 0;
    virtual int CountEnabledTestCases() = 0;
    // The children, read-only: a suite grows only through AddTest, so no caller can
    // append to the one empty list that every leaf hands out.
    virtual const TTestList& Tests() = 0;
    virtual void SetUp() = 0;
    virtual void TearDown() = 0;
    // Runs the test on a new result, which the caller owns.
    virtual std::unique_ptr<TTestResult> Run() = 0;
    // Runs the test as the root of a run on the given result.
    virtual void Run(TTestResult& testResult) = 0;
    // Enters the run loop when the result's listeners agree; nullptr violates a precondition.
    virtual void RunWithFixture(TTestResult* testResult) = 0;
    // The body of the test.
    virtual void RunTest(TTestResult* testResult) = 0;
    virtual bool GetTestMethodInvoked() = 0;
    virtual void SetTestMethodInvoked(bool value) = 0;
    virtual bool GetEnabled() = 0;
    virtual void SetEnabled(bool value) = 0;
    virtual void SetStartTime(std::int64_t value) = 0;
    virtual std::int64_t GetStartTime() = 0;
    virtual void SetStopTime(std::int64_t value) = 0;
    virtual std::int64_t GetStopTime() = 0;
    // Milliseconds from start to stop, or to now while the test runs.
    virtual std::uint32_t ElapsedTestTime() = 0;
    virtual void SetStatusListener(const IStatusListenerPtr& listener) = 0;
    virtual std::string GetStatus() = 0;
    virtual void LoadConfiguration(TCustomIniFile& iniFile, const std::string& section) = 0;
    virtual void LoadConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni) = 0;
    virtual void SaveConfiguration(TCustomIniFile& iniFile, const std::string& section) = 0;
    virtual void SaveConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni) = 0;
    // An opaque, non-owned reference a user interface attaches to the test.
    virtual void SetGUIObject(void* object) = 0;
    virtual void* GetGUIObject() = 0;
    virtual void SetFailsOnNoChecksExecuted(bool value) = 0;
    virtual bool GetFailsOnNoChecksExecuted() = 0;
    virtual bool GetFailsOnMemoryLeak() = 0;
    virtual void SetFailsOnMemoryLeak(bool value) = 0;
    virtual int GetAllowedMemoryLeakSize() = 0;
    virtual void SetAllowedMemoryLeakSize(int value) = 0;
    virtual bool GetFailsOnMemoryRecovery() = 0;
    virtual void SetFailsOnMemoryRecovery(bool value) = 0;
    virtual void SetAllowedLeakArray(const std::vector<int>& values) = 0;
    virtual bool GetIgnoreSetUpTearDownLeaks() = 0;
    virtual void SetIgnoreSetUpTearDownLeaks(bool value) = 0;
    // The next value of the allowed-leak list (0 once it is used up).
    virtual int GetAllowedLeak() = 0;
    // Rewinds the allowed-leak list and returns GetAllowedLeak of this test as a callback.
    virtual TAllowedLeakFunc GetAllowedLeaksIterator() = 0;
};

class ITestSuite : public virtual ITest {
public:
    static constexpr const char* IID = "{C20E38EF-7369-44D9-9D84-08E84EC1DCF0}";
    virtual void AddTest(const ITestPtr& test) = 0;
    virtual void AddSuite(const ITestSuitePtr& suite) = 0;
};

} // namespace TestFramework

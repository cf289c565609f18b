#pragma once
// The framework test case that stands for one script procedure of the test library: its
// body asks the library to run the procedure and turns the answer into an outcome.

#include "core/AbstractTest.h"

#include <memory>
#include <string>

namespace TestFramework {
class TTestSuite;
}

namespace Wexel {

class TTestCaseQuill : public TestFramework::TAbstractTest {
public:
    WEXEL_CLASS(TTestCaseQuill, TestFramework::TAbstractTest)

    // The full path must not be empty; the test's name is the part after the last "/".
    explicit TTestCaseQuill(std::string fullName);

    void Invoke() override;
    void RunWithFixture(TestFramework::TTestResult* testResult) override;
    void RunTest(TestFramework::TTestResult* testResult) override;
    // Hands the test to the result without copying options (RunWithFixture does that).
    void Run(TestFramework::TTestResult& testResult) override;
    using TAbstractTest::Run;

    // A suite built from the class; the class publishes no test methods.
    static std::shared_ptr<TestFramework::TTestSuite> Suite();

    const std::string& FullName() const { return FFullName; }

private:
    std::string FFullName;
};

} // namespace Wexel

#pragma once
// TTestCaseQuill: the script test case, the framework test case that stands for one
// script procedure of the test library. Its body asks the library to run the procedure
// and translates the answer into what the run loop judges (TTestResult decides the
// outcome).

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
    // From the library's answer (see MapRunTestAnswer).
    bool RanNoChecks() const override { return !GetCheckCalled(); }
    void RunWithFixture(TestFramework::TTestResult* testResult) override;
    void RunTest(TestFramework::TTestResult* testResult) override;
    // Hands the test to the result without copying options (RunWithFixture does that).
    void Run(TestFramework::TTestResult& testResult) override;
    using TAbstractTest::Run;

    // A suite built from the class; the class publishes no test methods.
    static std::shared_ptr<TestFramework::TTestSuite> Suite();

    const std::string& FullName() const { return FFullName; }

    // Where the library declares the test, as Lua names it in messages ("Orders.lua"),
    // and the line; "" and 0 when the library does not say.
    const std::string& DeclFile() const { return FDeclFile; }
    int DeclLine() const { return FDeclLine; }
    void SetDeclaration(std::string file, int line)
    {
        FDeclFile = std::move(file);
        FDeclLine = line;
    }

private:
    std::string FFullName;
    std::string FDeclFile;
    int FDeclLine = 0;
};

} // namespace Wexel

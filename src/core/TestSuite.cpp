#include "core/TestSuite.h"

#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/IniFiles.h"

#include <utility>

namespace TestFramework {

TTestSuite::TTestSuite(std::string name) : TAbstractTest(std::move(name))
{
    Sys::Assert(!FTestName.empty(), FrameworkUnit, __LINE__);
}

std::shared_ptr<TTestSuite> TTestSuite::Create(const Sys::TClass& testClass)
{
    auto suite = std::make_shared<TTestSuite>(testClass.Name);
    suite->AddTests(testClass);
    return suite;
}

void TTestSuite::AddTests(const Sys::TClass& testClass)
{
    // No class of the runner publishes test methods, so this adds nothing there. A class
    // that does gets one test per method, made by the base creation with the method's
    // name (its own construction code does not run).
    TMethodEnumerator methods(testClass);
    for (int i = 0; i < methods.MethodCount(); ++i)
        AddTest(std::make_shared<TAbstractTest>(methods.NameOfMethod(i)));
}

void TTestSuite::AddTest(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    FTests.push_back(test);
}

void TTestSuite::AddSuite(const ITestSuitePtr& suite)
{
    AddTest(suite);
}

void TTestSuite::RunTest(TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, FrameworkUnit, __LINE__);
    ITestPtr self = shared_from_this();
    testResult->StartSuite(self);
    // Children may be added while a run walks the list (a test that registers more
    // tests); iterate by index so that growth never invalidates the walk. A child is
    // never removed, so the list keeps it alive while it runs.
    for (std::size_t i = 0; i < FTests.size(); ++i) {
        if (testResult->ShouldStop())
            break;
        ITest* child = FTests[i].get();
        child->RunWithFixture(testResult);
    }
    testResult->EndSuite(self);
}

const TTestList& TTestSuite::Tests() { return FTests; }

int TTestSuite::CountTestCases()
{
    int count = 0;
    for (const ITestPtr& test : FTests)
        count += test->CountTestCases();
    return count;
}

int TTestSuite::CountEnabledTestCases()
{
    if (!GetEnabled())
        return 0;
    int count = 0;
    for (const ITestPtr& test : FTests)
        count += test->CountEnabledTestCases();
    return count;
}

void TTestSuite::LoadConfiguration(TCustomIniFile& iniFile, const std::string& section)
{
    TAbstractTest::LoadConfiguration(iniFile, section);
    const std::string childSection = section + "." + GetName();
    for (const ITestPtr& test : FTests)
        test->LoadConfiguration(iniFile, childSection);
}

void TTestSuite::SaveConfiguration(TCustomIniFile& iniFile, const std::string& section)
{
    TAbstractTest::SaveConfiguration(iniFile, section);
    const std::string childSection = section + "." + GetName();
    // An enabled test only deletes its key, and a section that is not there holds none:
    // a save of a hundred thousand checked tests then costs a lookup per suite, not per test.
    const bool stored = iniFile.SectionExists(childSection);
    for (const ITestPtr& test : FTests)
        if (stored || !test->Tests().empty() || !test->GetEnabled())
            test->SaveConfiguration(iniFile, childSection);
}

} // namespace TestFramework

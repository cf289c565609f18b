#pragma once
// The composite test: a named, ordered list of child tests, each possibly a suite.

#include "core/AbstractTest.h"

#include <string>
#include <vector>

namespace TestFramework {

class TTestSuite : public TAbstractTest, public virtual ITestSuite {
public:
    WEXEL_CLASS(TTestSuite, TAbstractTest)

    // The name must not be empty.
    explicit TTestSuite(std::string name);
    // A suite named after the class, holding one test per published method of it.
    static std::shared_ptr<TTestSuite> Create(const Sys::TClass& testClass);

    virtual void AddTests(const Sys::TClass& testClass);
    void AddTest(const ITestPtr& test) override;
    void AddSuite(const ITestSuitePtr& suite) override;
    // Room for count children in all, for a caller that knows how many are coming: the
    // list is then made once at its size rather than grown, and freed, step by step.
    void ReserveTests(std::size_t count) { FTests.reserve(count); }

    void RunTest(TTestResult* testResult) override;
    const TTestList& Tests() override;
    int CountTestCases() override;
    int CountEnabledTestCases() override;
    void LoadConfiguration(TCustomIniFile& iniFile, const std::string& section) override;
    void SaveConfiguration(TCustomIniFile& iniFile, const std::string& section) override;
    using TAbstractTest::LoadConfiguration;
    using TAbstractTest::SaveConfiguration;

protected:
    TTestList FTests;
};

} // namespace TestFramework

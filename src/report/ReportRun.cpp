#include "report/ReportRun.h"

#include "core/TestRegistry.h"
#include "core/TestResult.h"

namespace ReportRun {

std::unique_ptr<TestFramework::TTestResult> RunForReport(const TestFramework::ITestPtr& suite,
                                                         const TestFramework::ITestListenerPtr& listener)
{
    if (suite)
        return TestFramework::RunTest(suite, {listener});
    auto result = std::make_unique<TestFramework::TTestResult>();
    result->AddListener(listener);
    result->TestingStarts();
    result->TestingEnds();
    return result;
}

} // namespace ReportRun

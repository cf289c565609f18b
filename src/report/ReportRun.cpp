#include "report/ReportRun.h"

#include "core/TestRegistry.h"
#include "core/TestResult.h"

#include <atomic>

namespace ReportRun {

namespace {
std::atomic<const char*> StopCause{nullptr};
}

void NoteStopCause(const char* cause) noexcept { StopCause = cause; }

std::string NotRunMessage()
{
    const char* cause = StopCause.load();
    return cause ? std::string("not run: the run was stopped by ") + cause : "not run: the run was stopped";
}

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

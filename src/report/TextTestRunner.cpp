#include "report/TextTestRunner.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Process.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace TextTestRunner {

namespace {

using TestFramework::WriteLnStdOut;
using TestFramework::WriteStdOut;

std::string Format(const char* format, auto... args)
{
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n < 0 ? 0 : static_cast<std::size_t>(n));
}

std::string FailureItems(int count, auto at)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        TTestFailure& failure = at(i);
        text += Format("%3d) ", i + 1) + failure.FailedTest()->GetName() + ": " +
                failure.ThrownExceptionName() + "\r\n     at " + failure.LocationInfo() +
                "\r\n      \"" + failure.ThrownExceptionMessage() + "\"\r\n";
    }
    return text;
}

std::string Section(int count, const char* one, const char* many, const std::string& items)
{
    if (count == 0)
        return {};
    return Format(count == 1 ? one : many, count) + "\r\n" + items + "\r\n";
}

} // namespace

// A failure is shown at once, not on the console's clock: it is what a person watches for.
void TTextTestListener::AddError(TTestFailure&)
{
    WriteStdOut("E");
    Sys::FlushConsole();
}

void TTextTestListener::AddFailure(TTestFailure&)
{
    WriteStdOut("F");
    Sys::FlushConsole();
}
bool TTextTestListener::ShouldRunTest(const ITestPtr& test) { return test->GetEnabled(); }
void TTextTestListener::StartTest(const ITestPtr&) { WriteStdOut("."); }

void TTextTestListener::TestingStarts()
{
    WriteLnStdOut("");
    WriteLnStdOut("ROved / Testing");
    StartTime = Sys::Now();
}

void TTextTestListener::TestingEnds(TTestResult& testResult)
{
    EndTime = Sys::Now();
    RunTime = EndTime - StartTime;
    WriteLnStdOut("");
    WriteLnStdOut(FormatRunTime(RunTime));
    WriteLnStdOut(Report(testResult));
    WriteLnStdOut("");
    Sys::FlushConsole();
}

std::string TTextTestListener::Report(TTestResult& r) { return PrintHeader(r) + PrintErrors(r) + PrintFailures(r); }

std::string TTextTestListener::PrintHeader(TTestResult& r)
{
    if (r.WasSuccessful())
        return "\r\n" + Format("OK: %d tests\r\n", r.RunCount());
    return "\r\nFAILURES!!!\r\nTest Results:\r\n" +
           Format("Run:      %8d\r\nFailures: %8d\r\nErrors:   %8d\r\n", r.RunCount(), r.FailureCount(),
                  r.ErrorCount());
}

std::string TTextTestListener::PrintErrors(TTestResult& r)
{
    return Section(r.ErrorCount(), "There was %d error:", "There were %d errors:", PrintErrorItems(r));
}

std::string TTextTestListener::PrintFailures(TTestResult& r)
{
    return Section(r.FailureCount(), "There was %d failure:", "There were %d failures:", PrintFailureItems(r));
}

std::string TTextTestListener::PrintErrorItems(TTestResult& r)
{
    return FailureItems(r.ErrorCount(), [&](int i) -> TTestFailure& { return r.Errors(i); });
}

std::string TTextTestListener::PrintFailureItems(TTestResult& r)
{
    return FailureItems(r.FailureCount(), [&](int i) -> TTestFailure& { return r.Failures(i); });
}

void TTextTestListener::Status(const ITestPtr& test, const std::string& msg)
{
    WriteLnStdOut(test->GetName() + ": " + msg);
}

std::string FormatRunTime(Sys::TDateTime runTime)
{
    // The milliseconds get three digits: "0:00:01.005", not "0:00:01.5", which a reader
    // would take for one and a half seconds.
    constexpr std::int64_t MsPerDay = 24LL * 60 * 60 * 1000;
    auto ms = static_cast<std::int64_t>(std::llround(runTime * static_cast<double>(MsPerDay)));
    ms %= MsPerDay;
    if (ms < 0)
        ms += MsPerDay;
    const int hours = static_cast<int>(ms / 3600000);
    const int minutes = static_cast<int>(ms / 60000 % 60);
    const int seconds = static_cast<int>(ms / 1000 % 60);
    const int millis = static_cast<int>(ms % 1000);
    return Format("Time: %d:%2.2d:%2.2d.%3.3d", hours, minutes, seconds, millis);
}

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite)
{
    std::vector<TestFramework::ITestListenerPtr> listeners{std::make_shared<TTextTestListener>()};
    return TestFramework::RunTest(suite, listeners);
}

std::unique_ptr<TTestResult> RunRegisteredTests() { return RunTest(TestFramework::RegisteredTests()); }

} // namespace TextTestRunner

#include "core/AbstractTest.h"

#include "core/MemLeakMonitor.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace TestFramework {

TTestName::TTestName(std::string_view text)
{
    if (text.empty())
        return;
    const std::size_t size = text.size();
    FData = std::make_unique_for_overwrite<char[]>(sizeof size + size);
    std::memcpy(FData.get(), &size, sizeof size);
    std::memcpy(FData.get() + sizeof size, text.data(), size);
}

std::string_view TTestName::View() const
{
    if (!FData)
        return {};
    std::size_t size = 0;
    std::memcpy(&size, FData.get(), sizeof size);
    return {FData.get() + sizeof size, size};
}

TAbstractTest::TAbstractTest(std::string name) : FTestName(name) {}

TAbstractTest::TRarelySet& TAbstractTest::RarelySet()
{
    if (!FRarelySet)
        FRarelySet = std::make_unique<TRarelySet>();
    return *FRarelySet;
}

TAbstractTest::~TAbstractTest() = default;

void TAbstractTest::Invoke() { FTestMethodInvoked = false; }

void TAbstractTest::RunWithFixture(TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, FrameworkUnit, __LINE__);
    ITestPtr self = shared_from_this();
    if (testResult->ShouldRunTest(self))
        testResult->Run(self);
}

void TAbstractTest::RunTest(TTestResult*) {}
void TAbstractTest::SetUp() {}
void TAbstractTest::TearDown() {}

void TAbstractTest::SetStartTime(std::int64_t value) { FStartTime = value; }
std::int64_t TAbstractTest::GetStartTime() { return FStartTime; }
void TAbstractTest::SetStopTime(std::int64_t value) { FStopTime = value; }
std::int64_t TAbstractTest::GetStopTime() { return FStopTime; }

std::string TAbstractTest::GetName() { return std::string(FTestName.View()); }
bool TAbstractTest::GetEnabled() { return FEnabled; }
void TAbstractTest::SetEnabled(bool value) { FEnabled = value; }

const TTestList& TAbstractTest::Tests()
{
    static const TTestList empty;
    return empty;
}
int TAbstractTest::CountTestCases() { return 1; }
int TAbstractTest::CountEnabledTestCases() { return GetEnabled() ? 1 : 0; }

std::uint32_t TAbstractTest::ElapsedTestTime()
{
    std::int64_t end = 0;
    if (FStopTime > 0)
        end = FStopTime;
    else if (FStartTime > 0)
        end = Sys::QueryPerformanceCounter();
    const std::int64_t elapsed = end - FStartTime;
    const std::int64_t frequency = Sys::QueryPerformanceFrequency();
    if (frequency == 0)
        return 0;
    // elapsed * 1000 overflows only after some 106 days of nanosecond counts; split the
    // division so that it never does.
    const std::int64_t ms = (elapsed / frequency) * 1000 + (elapsed % frequency) * 1000 / frequency;
    return static_cast<std::uint32_t>(ms);
}

std::unique_ptr<TTestResult> TAbstractTest::Run()
{
    auto result = std::make_unique<TTestResult>();
    result->FailsIfNoChecksExecuted = GetFailsOnNoChecksExecuted();
    result->FailsIfMemoryLeaked = GetFailsOnMemoryLeak();
    result->IgnoresMemoryLeakInSetUpTearDown = GetIgnoreSetUpTearDownLeaks();
    result->RunSuite(shared_from_this());
    return result;
}

void TAbstractTest::Run(TTestResult& testResult)
{
    SetFailsOnNoChecksExecuted(testResult.FailsIfNoChecksExecuted);
    SetFailsOnMemoryLeak(testResult.FailsIfMemoryLeaked);
    SetIgnoreSetUpTearDownLeaks(testResult.IgnoresMemoryLeakInSetUpTearDown);
    testResult.RunSuite(shared_from_this());
}

bool TAbstractTest::GetTestMethodInvoked() { return FTestMethodInvoked; }
void TAbstractTest::SetTestMethodInvoked(bool value) { FTestMethodInvoked = value; }

void TAbstractTest::SetStatusListener(const IStatusListenerPtr& listener) { FStatusListener = listener; }

std::string TAbstractTest::GetStatus()
{
    // Status lines go to the status listener as they are written; no test keeps them.
    return {};
}

void TAbstractTest::SetGUIObject(void* object) { FGUIObject = object; }
void* TAbstractTest::GetGUIObject() { return FGUIObject; }

void TAbstractTest::SetFailsOnNoChecksExecuted(bool value) { FFailsOnNoChecksExecuted = value; }
bool TAbstractTest::GetFailsOnNoChecksExecuted() { return FFailsOnNoChecksExecuted; }
bool TAbstractTest::GetFailsOnMemoryLeak() { return FFailsOnMemoryLeak; }
void TAbstractTest::SetFailsOnMemoryLeak(bool value) { FFailsOnMemoryLeak = value; }
bool TAbstractTest::GetFailsOnMemoryRecovery() { return FFailsOnMemoryRecovery; }
void TAbstractTest::SetFailsOnMemoryRecovery(bool value) { FFailsOnMemoryRecovery = value; }
bool TAbstractTest::GetIgnoreSetUpTearDownLeaks() { return FIgnoreSetUpTearDownLeaks; }
void TAbstractTest::SetIgnoreSetUpTearDownLeaks(bool value) { FIgnoreSetUpTearDownLeaks = value; }

int TAbstractTest::GetAllowedMemoryLeakSize()
{
    if (FRarelySet)
        for (std::int32_t value : FRarelySet->AllowedLeakList)
            if (value != 0)
                return value;
    return 0;
}

void TAbstractTest::SetAllowedMemoryLeakSize(int value)
{
    // Every run starts by setting 0, which a test without the list already has.
    if (value != 0 || FRarelySet)
        RarelySet().AllowedLeakList[0] = value;
}

int TAbstractTest::GetAllowedLeak()
{
    // Without the list every entry is 0, and reading one moves nothing anyone can see.
    if (!FRarelySet)
        return 0;
    TRarelySet& rare = *FRarelySet;
    if (rare.AllowedLeakListIndex >= rare.AllowedLeakList.size())
        return 0;
    return rare.AllowedLeakList[rare.AllowedLeakListIndex++];
}

void TAbstractTest::SetAllowedLeakArray(const std::vector<int>& values)
{
    constexpr auto Limit = static_cast<std::size_t>(AllowedLeakArrayLimit);
    if (values.size() > Limit)
        Fail(TooManyAllowedLeaksMessage(), WEXEL_CALLER_ADDR());
    if (!FRarelySet && std::all_of(values.begin(), values.end(), [](int value) { return value == 0; }))
        return;
    TRarelySet& rare = RarelySet();
    for (std::size_t i = 0; i < Limit; ++i)
        rare.AllowedLeakList[i + 1] = i < values.size() ? values[i] : 0;
}

TAllowedLeakFunc TAbstractTest::GetAllowedLeaksIterator()
{
    if (FRarelySet)
        FRarelySet->AllowedLeakListIndex = 0;
    // A weak reference: the callback is handed to a leak monitor and must not keep the
    // test alive beyond its run.
    std::weak_ptr<ITest> weak = weak_from_this();
    return [weak]() {
        if (auto test = weak.lock())
            return test->GetAllowedLeak();
        return 0;
    };
}

} // namespace TestFramework

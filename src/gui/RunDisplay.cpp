#include "gui/RunDisplay.h"

#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "platform/Clock.h"
#include "gui/FailureSource.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"
#include "platform/TextUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unordered_map>

namespace GUITestRunner {

using TestFramework::ITestPtr;
using TestFramework::TTestFailure;
using TestFramework::TTestResult;

namespace {

// The progress bar's maximum when no suite is shown.
constexpr int NoSuiteMaximum = 10000;
// Between full refreshes the statistics are rewritten once per this many tests.
constexpr int RewriteEvery = 16;
constexpr int MessageFontSize = 12;

// The run's listener. The result owns it and the display outlives every result (the form
// frees its result before the display goes), so a plain reference back is safe.
class TRunListener final : public TestFramework::TEmptySuiteListener {
public:
    explicit TRunListener(TRunDisplay& display) : FDisplay(display) {}

    void Status(const ITestPtr& test, const std::string& msg) override { FDisplay.Status(test, msg); }
    void TestingStarts() override { FDisplay.TestingStarts(); }
    void StartTest(const ITestPtr& test) override { FDisplay.StartTest(test); }
    void AddSuccess(const ITestPtr& test) override { FDisplay.AddSuccess(test); }
    void AddError(TTestFailure& failure) override { FDisplay.AddError(failure); }
    void AddFailure(TTestFailure& failure) override { FDisplay.AddFailure(failure); }
    void EndTest(const ITestPtr& test) override { FDisplay.EndTest(test); }
    void TestingEnds(TTestResult& result) override { FDisplay.TestingEnds(result); }
    bool ShouldRunTest(const ITestPtr& test) override { return FDisplay.ShouldRunTest(test); }
    void EndSuite(const ITestPtr& suite) override { FDisplay.EndSuite(suite); }

private:
    TRunDisplay& FDisplay;
};

// Sys::Assert's check without its message, which is a string made at every call: these
// run several times for each of a run's tests.
inline void Check(bool condition, int line)
{
    if (!condition) [[unlikely]]
        Sys::AssertionFailure(GUITestRunnerUnit, line);
}

// Runs the action when it goes out of scope, however the scope is left.
template <class F>
class TFinally {
public:
    explicit TFinally(F action) : FAction(std::move(action)) {}
    ~TFinally() { FAction(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FAction;
};

// Milliseconds as the kernel last ticked them (wrapping like a tick count): asked after
// every test, and a few milliseconds' error do not show in a 25 ms pulse.
std::uint32_t CoarseTickCount()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000);
}

std::string PathOf(const TTreeNode& node)
{
    std::string path = node.Caption;
    for (const TTreeNode* n = node.Parent; n; n = n->Parent)
        path = n->Caption + "/" + path;
    return path;
}

// The test's path as a filter or a report names it: from below the tree's one root, which
// only stands for the runner library.
std::string TestPathOf(const TTreeNode& node)
{
    if (!node.Parent)
        return node.Caption;
    std::string path = node.Caption;
    for (const TTreeNode* n = node.Parent; n->Parent; n = n->Parent)
        path = n->Caption + "/" + path;
    return path;
}

} // namespace

std::string FormatDuration(std::int64_t ms)
{
    const std::int64_t h = ms / 3600000;
    std::int64_t rest = ms % 3600000;
    const std::int64_t m = rest / 60000;
    rest %= 60000;
    if (h >= 0 && rest >= 0 && m >= 0 && h < 10) {
        // The common case by hand: a run rewrites its times thousands of times.
        const auto digit = [](std::int64_t value) { return static_cast<char>('0' + value); };
        const std::int64_t s = rest / 1000, f = rest % 1000;
        return {digit(h), ':', digit(m / 10), digit(m % 10), ':', digit(s / 10), digit(s % 10), '.',
                digit(f / 100), digit(f / 10 % 10), digit(f % 10)};
    }
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(h),
                  static_cast<long long>(m), static_cast<long long>(rest / 1000),
                  static_cast<long long>(rest % 1000));
    return text;
}

TRunDisplay::TRunDisplay(IRunHost& host, TTestTree& tree, TActionList& actions, TRunDisplayViews views,
                         TScriptLibrary library)
    : FHost(host), FTree(tree), FActions(actions), FViews(views), FLibrary(std::move(library))
{
}
TRunDisplay::~TRunDisplay() = default;

void TRunDisplay::Stop()
{
    if (!FTestResult)
        return;
    FTestResult->Stop();
    // Without this a long test would run on to its end, out of the user's control.
    if (FRunning && FLibrary.StopTest)
        FLibrary.StopTest();
}

void TRunDisplay::Pulse()
{
    // Events handled here may lead back here (a handler that refreshes and so handles
    // events); one level is enough.
    if (FInPulse)
        return;
    FInPulse = true;
    TFinally leave([this] {
        FInPulse = false;
        FLastPulse = CoarseTickCount();
    });
    FViews.Window.ProcessMessages();
    // A long test is no reason for stale statistics: the update timer asks for them.
    if (FTimerExpired && FTestResult)
        Refresh(false, false);
}

bool TRunDisplay::PulseIfDue()
{
    if (!FRunning || static_cast<std::uint32_t>(CoarseTickCount() - FLastPulse) < PulseIntervalMs)
        return false;
    Pulse();
    return true;
}

void TRunDisplay::DropResult()
{
    if (FTestResult) {
        FTestResult.reset();
        FViews.ErrorBox.ErrorBoxClear();
    }
}

TTestResult& TRunDisplay::Result(int line)
{
    Check(FTestResult != nullptr, line);
    return *FTestResult;
}

// --- what the layer shows ---

void TRunDisplay::SetCell(int cell, std::string text)
{
    FCellValues[static_cast<std::size_t>(cell)].reset();
    std::string& current = FCells[static_cast<std::size_t>(cell)];
    if (current == text)
        return;
    current = std::move(text);
    FCellsDirty = true;
}

void TRunDisplay::SetBars(int progressMax, int progressPos, int scoreMax, int scorePos)
{
    // A bar holds its position within 0 to its maximum; the percentage reads it from there.
    progressPos = std::clamp(progressPos, 0, std::max(progressMax, 0));
    scorePos = std::clamp(scorePos, 0, std::max(scoreMax, 0));
    if (progressMax != FProgressMax || progressPos != FProgressPos)
        FViews.Progress.SetBar(TBar::Progress, progressMax, progressPos);
    if (scoreMax != FScoreMax || scorePos != FScorePos)
        FViews.Progress.SetBar(TBar::Score, scoreMax, scorePos);
    FProgressMax = progressMax;
    FProgressPos = progressPos;
    FScoreMax = scoreMax;
    FScorePos = scorePos;
}

void TRunDisplay::SetScoreColor(std::optional<TColor> color)
{
    if (color == FScoreColor)
        return;
    FScoreColor = color;
    FViews.Progress.SetScoreBarColor(color);
}

void TRunDisplay::SetValueCell(int cell, std::int64_t value, bool duration)
{
    // Every 16 tests of a run: the number is compared, the text made only when it changed.
    std::optional<std::int64_t>& shown = FCellValues[static_cast<std::size_t>(cell)];
    if (shown == value)
        return;
    SetCell(cell, duration ? FormatDuration(value) : std::to_string(value));
    shown = value;
}

void TRunDisplay::SetPercentLabel(long long percent)
{
    if (percent == FLabelPercent)
        return;
    SetLabel(std::to_string(percent) + "%");
    FLabelPercent = percent;
}

void TRunDisplay::SetLabel(std::string text)
{
    FLabelPercent = -1;
    if (text == FScoreLabel)
        return;
    FScoreLabel = std::move(text);
    FViews.Progress.SetScoreLabel(FScoreLabel);
}

void TRunDisplay::ClearProgress()
{
    SetScoreColor(std::nullopt);
    SetBars(FProgressMax, 0, FScoreMax, 0);
    SetLabel({});
}

// --- reset and refresh ---

void TRunDisplay::Reset()
{
    FRunShown = false;
    FViews.Failures.FailureClear();
    ClearProgress();
    FViews.Window.Repaint();
    const ITestPtr& suite = FHost.Suite();
    // The images and the count in one walk over the tree, which is the suite's; the run
    // that follows starts with this count.
    const int enabled = FTree.ResetForRun();
    const int maximum = suite ? enabled : NoSuiteMaximum;
    FTotalEnabled = suite ? maximum : 0;
    FCountedAtReset = suite != nullptr;
    SetCell(StatCell::Tests, suite ? std::to_string(maximum) : std::string());
    SetBars(maximum, FProgressPos, maximum, FScorePos);
    for (int cell = StatCell::Run; cell < StatCell::Count; ++cell)
        SetCell(cell, {});
    if (FCellsDirty) {
        FCellsDirty = false;
        FViews.Progress.SetStatistics(FCells);
    }
    // So that each run sees freshly compiled script libraries.
    if (FLibrary.Refresh)
        FLibrary.Refresh();
}

void TRunDisplay::RewriteRunStatistics(TTestResult& result)
{
    // The result counts a test as run from its start; until it ends (or fails) it has
    // neither passed nor failed, and a long first test must not read as a score of 100%.
    const int n = result.RunCount() - (FTestOpen && FRowsOfTest.empty() ? 1 : 0);
    const int failures = result.FailureCount();
    const int errors = result.ErrorCount();
    FRewrittenAt = CoarseTickCount();
    SetValueCell(StatCell::Run, n, false);
    SetValueCell(StatCell::Failures, failures, false);
    SetValueCell(StatCell::Errors, errors, false);
    SetValueCell(StatCell::Overrides, result.Overrides, false);
    // The result's time moves only when a test ends; during a run the root's clock runs
    // on, so that a long test does not leave the times standing at what came before it.
    std::int64_t time = result.TotalTime;
    if (FRunning && result.RootTest)
        time = std::max<std::int64_t>(time, result.RootTest->ElapsedTestTime());
    SetValueCell(StatCell::TestTime, time, true);
    SetValueCell(StatCell::TotalTime, std::max(FLastTotalTime, time), true);
    SetBars(FProgressMax, n, FScoreMax, n - (failures + errors));
    if (n == 0 && FTotalEnabled == 0)
        SetLabel("100%");
    else if (FScoreMax > 0)
        SetPercentLabel(static_cast<long long>(FScorePos) * 100 / FScoreMax);
    else
        SetLabel("0%"); // a bar of maximum 0 has no proportion to show
}

void TRunDisplay::RefreshStatus(bool full)
{
    Refresh(full, full);
}

bool TRunDisplay::RewriteDue(int runCount) const
{
    return runCount % RewriteEvery == 0 && CoarseTickCount() != FRewrittenAt;
}

void TRunDisplay::RefreshBetweenTests(int runCount)
{
    // What a refresh between tests does when no rewrite is due: nothing, as every cell it
    // writes is written at once.
    if (!FTimerExpired && !FCellsDirty && !RewriteDue(runCount))
        return;
    Refresh(false, false);
}

void TRunDisplay::Refresh(bool full, bool recount)
{
    const ITestPtr& suite = FHost.Suite();
    if (full && recount) {
        FCountedAtReset = false;
        FTotalEnabled = suite ? suite->CountEnabledTestCases() : 0;
        SetCell(StatCell::Tests, suite ? std::to_string(FTotalEnabled) : std::string());
    }
    if (TTestResult* result = FTestResult.get()) {
        const int n = result->RunCount();
        // Between rewrites the results panel shows what it showed; the running test's
        // node asks for its own paint when it starts.
        const bool rewrite = full || FTimerExpired || RewriteDue(n);
        if (rewrite) {
            RewriteRunStatistics(*result);
            if (FTimerExpired && n < FTotalEnabled) {
                FTimerExpired = false;
                FViews.Window.SetUpdateTimerEnabled(true);
            }
        }
        if (FCellsDirty) {
            FCellsDirty = false;
            FViews.Progress.SetStatistics(FCells);
        }
        if (rewrite)
            FViews.Progress.RepaintResults();
    } else if (FRunShown) {
        ShowLastRunTimes();
        if (FCellsDirty) {
            FCellsDirty = false;
            FViews.Progress.SetStatistics(FCells);
        }
    } else {
        const std::string& tests = FCells[StatCell::Tests];
        if (tests == "0" || tests.empty() || tests != FCells[StatCell::Run]) {
            for (int cell = StatCell::Run; cell < StatCell::Count; ++cell)
                SetCell(cell, {});
        } else if (TTreeNode* selected = FTree.Selected()) {
            const std::int64_t elapsed = FTree.TestOfNode(selected)->ElapsedTestTime();
            SetCell(StatCell::TestTime, FormatDuration(elapsed));
            SetCell(StatCell::TotalTime, FormatDuration(std::max(FLastTotalTime, elapsed)));
        } else {
            SetCell(StatCell::TestTime, {});
            SetCell(StatCell::TotalTime, {});
        }
        if (FCellsDirty) {
            FCellsDirty = false;
            FViews.Progress.SetStatistics(FCells);
        }
        ClearProgress();
    }
    if (full) {
        FViews.Window.Repaint();
        // Outside a run the window's own loop is running anyway, and handling its
        // messages from inside one of its handlers would only re-enter it. During a run
        // the pulse reads the window system's input (the user's clicks and keys) every
        // PulseIntervalMs, between tests and inside a long one; a full pass at each of a
        // thousand suite ends cost more than all the run's paints. What the program
        // posted to itself (a queued command) is still handled at every suite end.
        if (FRunning && !PulseIfDue())
            FViews.Window.ProcessPostedMessages();
    }
}

// --- commands ---

void TRunDisplay::RunTestTree(const ITestPtr& test)
{
    if (!test)
        return;
    if (FRunning) {
        Result(__LINE__);
        Stop();
        return;
    }
    TActionList& actions = FActions;
    FRunning = true;
    actions.SetEnabled(TActionId::RunAction, false);
    actions.SetEnabled(TActionId::Alt_R_RunAction, false);
    actions.SetEnabled(TActionId::CopyMessageToClipboardAction, false);
    actions.SetEnabled(TActionId::RescanUserlib, false);
    // Both would start another run or change the test list from inside this one.
    actions.SetEnabled(TActionId::RunSelectedTestAction, false);
    actions.SetEnabled(TActionId::RestoreSavedAction, false);
    actions.SetEnabled(TActionId::StopAction, true);
    actions.SetEnabled(TActionId::Alt_S_StopAction, true);
    FHost.EnableTreeCommands(false);
    FHost.AutoSaveBeforeRun();
    if (FTestResult) {
        FTestResult.reset();
        FViews.ErrorBox.ErrorBoxClear();
    }
    FTestResult = std::make_unique<TTestResult>();
    TTestResult& result = *FTestResult;
    result.AddListener(std::make_shared<TRunListener>(*this));
    result.BreakOnFailures = actions.GetChecked(TActionId::BreakOnFailuresAction);
    result.FailsIfNoChecksExecuted = actions.GetChecked(TActionId::FailIfNoChecksExecutedAction);
    result.FailsIfMemoryLeaked = actions.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction);
    result.IgnoresMemoryLeakInSetUpTearDown = actions.GetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction);

    // The window answers during the run: from inside a long test through the pulse, and
    // between tests through PulseIfDue. Run, Rescan and the tree commands are disabled
    // meanwhile, and a close only stops the run; the window goes once this has returned.
    FLastPulse = CoarseTickCount();
    if (FLibrary.SetPulse)
        FLibrary.SetPulse(
            [](void* display) {
                // Called from inside the script's interpreter, which nothing may unwind.
                try {
                    static_cast<TRunDisplay*>(display)->Pulse();
                } catch (...) {
                }
            },
            this);

    // Whatever the run does, the window must come back idle.
    TFinally runEnd([this] {
        if (FLibrary.SetPulse)
            FLibrary.SetPulse(nullptr, nullptr);
        FTestResult.reset();
        FRunning = false;
        FTimerExpired = false;
        FViews.Window.SetUpdateTimerEnabled(false);
        FHost.EnableTreeCommands(true);
        // The run's last state, whatever was coalesced away.
        FViews.Window.Repaint();
    });
    test->Run(result);
}

void TRunDisplay::RunAll()
{
    // A run command during a run stops it; resetting first would wipe the display of
    // the run that is still going.
    if (FRunning) {
        RunTestTree(FHost.Suite());
        return;
    }
    if (!FHost.Suite())
        return;
    Reset();
    RunTestTree(FHost.Suite());
}

void TRunDisplay::RunSelected()
{
    if (FRunning) {
        RunTestTree(FHost.Suite());
        return;
    }
    Reset();
    FSelectedPath.clear();
    TTreeNode* selected = FTree.Selected();
    for (TTreeNode* node = selected; node; node = node->Parent)
        FSelectedPath.insert(FTree.TestOfNode(node).get());
    FSelectedOnly = true;
    SetBars(1, FProgressPos, 1, FScorePos);
    TFinally dropPath([this] {
        FSelectedOnly = false;
        FSelectedPath.clear();
    });
    RunTestTree(FHost.Suite());
}

void TRunDisplay::Rescan()
{
    // The suite, the tree and the test list it replaces are what a run's listener works
    // on, so there is no rescan during a run.
    if (FRunning)
        return;
    // Check boxes changed since the last save stay as they are for the tests that are
    // still there: a rescan reloads scripts, it does not undo the user's choice.
    std::unordered_map<std::string, bool> enabled;
    TTestTree& tree = FTree;
    for (TTreeNode* n = tree.Nodes().FirstNode(); n; n = tree.Nodes().GetNext(*n))
        enabled.emplace(PathOf(*n), tree.TestOfNode(n)->GetEnabled());

    FHost.AssignSuite(nullptr);
    if (FLibrary.Rescan)
        FLibrary.Rescan();
    FHost.AssignSuite(TestFramework::RegisteredTests());
    tree.AttachNodes();

    bool changed = false;
    for (TTreeNode* n = tree.Nodes().FirstNode(); n; n = tree.Nodes().GetNext(*n)) {
        auto found = enabled.find(PathOf(*n));
        if (found == enabled.end())
            continue;
        const ITestPtr test = tree.TestOfNode(n);
        if (test->GetEnabled() != found->second) {
            test->SetEnabled(found->second);
            changed = true;
        }
    }
    if (changed) {
        tree.RefreshAllCheckImages();
        RefreshStatus(true);
    }
}

void TRunDisplay::CopyMessageToClipboard()
{
    FViews.Window.SetClipboardText(FViews.ErrorBox.ErrorBoxText());
}

void TRunDisplay::TimerTick()
{
    FTimerExpired = true;
    FViews.Window.SetUpdateTimerEnabled(false);
}

void TRunDisplay::FailureListViewClick()
{
    const int row = FViews.Failures.FailureSelected();
    if (row >= 0)
        FViews.TreeView.TreeSetSelected(FViews.Failures.FailureRow(row).Node);
}

void TRunDisplay::FailureListViewSelectItem(int row, bool selected)
{
    if (selected)
        ShowFailureDetails(row);
    else
        FViews.ErrorBox.ErrorBoxClear();
}

// --- listener ---

void TRunDisplay::TestingStarts()
{
    FRunShown = true;
    FLastTotalTime = 0;
    FTestOpen = false;
    // Nodes of an earlier tree may be gone, and their tests' addresses taken anew.
    FStartedTest = nullptr;
    FStartedNode = nullptr;
    FRunCountAtStart = 0;
    // The statistics are also rewritten at least this often, not only every 16 tests.
    FTimerExpired = false;
    FViews.Window.SetUpdateTimerEnabled(true);
    // Nothing changes a check box between the reset before a run and its start.
    Refresh(true, !FCountedAtReset);
    FCountedAtReset = false;
    SetScoreColor(Colors::Green);
}

void TRunDisplay::StartTest(const ITestPtr& test)
{
    Check(test != nullptr, __LINE__);
    TTestResult& result = Result(__LINE__);
    TTreeNode* node = FTree.NodeOfTest(test);
    FStartedTest = test.get();
    FStartedNode = node;
    RaiseRunImage(node, RunImage::Running);
    FViews.Progress.ShowRunningNode(*node, FActions.GetChecked(TActionId::ShowTestedNodeAction));
    if (FViews.ErrorBox.ErrorBoxLineCount() > 0)
        FViews.ErrorBox.ErrorBoxClear();
    FRowsOfTest.clear();
    // Only a test method counts itself as run before it starts; a suite does not.
    const int runCount = result.RunCount();
    FTestOpen = runCount > FRunCountAtStart;
    FRunCountAtStart = runCount;
    RefreshBetweenTests(runCount);
}

TTreeNode* TRunDisplay::NodeOfStarted(const ITestPtr& test) const
{
    // A test's outcome and end come after its own start, unless it is a suite whose
    // tests started since.
    return test.get() == FStartedTest ? FStartedNode : FTree.NodeOfTest(test);
}

void TRunDisplay::Status(const ITestPtr& test, const std::string& msg)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    if (FViews.ErrorBox.ErrorBoxLineCount() == 0)
        FViews.ErrorBox.ErrorBoxAddLine(test->GetName() + ":");
    FViews.ErrorBox.ErrorBoxAddLine(msg);
    FViews.ErrorBox.RepaintErrorBox();
}

bool TRunDisplay::IsOverridden(TestFramework::ITest& test, const TTestResult& result)
{
    const bool leaks = result.FailsIfMemoryLeaked;
    return (result.FailsIfNoChecksExecuted && !test.GetFailsOnNoChecksExecuted()) ||
           (leaks && !test.GetFailsOnMemoryLeak()) ||
           (leaks && test.GetIgnoreSetUpTearDownLeaks() && !result.IgnoresMemoryLeakInSetUpTearDown);
}

bool TRunDisplay::HasRunTimeProperties(TestFramework::ITest& test, const TTestResult& result)
{
    const bool leaks = result.FailsIfMemoryLeaked;
    return (test.GetFailsOnNoChecksExecuted() && !result.FailsIfNoChecksExecuted) ||
           (test.GetFailsOnMemoryLeak() && !leaks) || (leaks && test.GetIgnoreSetUpTearDownLeaks()) ||
           test.GetAllowedMemoryLeakSize() != 0;
}

void TRunDisplay::AddSuccess(const ITestPtr& test)
{
    Check(test != nullptr, __LINE__);
    TTestResult& result = Result(__LINE__);
    TTreeNode* node = NodeOfStarted(test);
    // The tree holds every test's children, so a leaf's test has none: a suite among them
    // counts no test case, and the count alone tells a test method, without the costlier
    // question whether the test is a suite. Above the leaves that question comes first,
    // as a suite's count walks its whole subtree.
    const bool method = node->HasChildren()
                            ? !TestFramework::Supports<TestFramework::ITestSuite>(test) && TestFramework::IsTestMethod(test)
                            : test->CountTestCases() == 1;
    if (!method) {
        RaiseRunImage(node, RunImage::Passed);
        return;
    }
    const bool overridden = IsOverridden(*test, result);
    if (overridden)
        ++result.Overrides;
    const TActionList& a = FActions;
    const bool notice = (a.GetChecked(TActionId::WarnOnFailTestOverrideAction) && overridden) ||
                        (a.GetChecked(TActionId::ShowTestCasesWithRunTimePropertiesAction) &&
                         HasRunTimeProperties(*test, result));
    RaiseRunImage(node, notice ? RunImage::PassedWithNotice : RunImage::Passed);
}

void TRunDisplay::AddFailure(TTestFailure& failure)
{
    TTestResult& result = Result(__LINE__);
    AddFailureRow(failure, RunImage::Failed);
    if (result.ErrorCount() == 0)
        SetScoreColor(Colors::Fuchsia);
    RaiseRunImage(FTree.NodeOfTest(failure.FailedTest()), RunImage::Failed);
    RefreshStatus(false);
}

void TRunDisplay::AddError(TTestFailure& failure)
{
    Result(__LINE__);
    AddFailureRow(failure, RunImage::Error);
    SetScoreColor(Colors::Red);
    RaiseRunImage(FTree.NodeOfTest(failure.FailedTest()), RunImage::Error);
    RefreshStatus(false);
}

void TRunDisplay::EndTest(const ITestPtr& test)
{
    Check(test != nullptr, __LINE__);
    TTestResult& result = Result(__LINE__);
    // The failure came before the tear-down; the test's time includes it only now.
    if (!FRowsOfTest.empty()) {
        const std::int64_t elapsed = test->ElapsedTestTime();
        for (int row : FRowsOfTest)
            FViews.Failures.FailureSetTime(row, elapsed);
        FRowsOfTest.clear();
    }
    FTestOpen = false;
    RefreshBetweenTests(result.RunCount());
    PulseIfDue();
}

void TRunDisplay::EndSuite(const ITestPtr& suite)
{
    Check(suite != nullptr, __LINE__);
    TTestResult& result = Result(__LINE__);
    // Dozens of suites may end within one tick of the coarse clock, and a paint shows only
    // the last of their rewrites; the run's end rewrites whatever is left. What the
    // program posted to itself is still handled at every suite end.
    if (suite != result.RootTest && !FTimerExpired && CoarseTickCount() == FRewrittenAt) {
        if (FRunning && !PulseIfDue())
            FViews.Window.ProcessPostedMessages();
        return;
    }
    // Counting walks the whole tree, a thousand times in a run of a thousand suites. The
    // count changes only through the check boxes, and every change there refreshes with
    // a count of its own.
    Refresh(true, false);
}

void TRunDisplay::TestingEnds(TTestResult& result)
{
    FTestOpen = false;
    FLastTotalTime = result.TotalTime;
    // However the run ended, its statistics as they finally are.
    if (&result == FTestResult.get()) {
        RewriteRunStatistics(result);
        if (FCellsDirty) {
            FCellsDirty = false;
            FViews.Progress.SetStatistics(FCells);
        }
        FViews.Progress.RepaintResults();
    }
}

bool TRunDisplay::ShouldRunTest(const ITestPtr& test)
{
    Check(test != nullptr, __LINE__);
    if (FSelectedOnly)
        return FSelectedPath.count(test.get()) != 0;
    return test->GetEnabled();
}

// --- images, rows and details ---

void TRunDisplay::RaiseRunImage(TTreeNode* node, int image)
{
    TTreeNodes& nodes = FTree.Nodes();
    // Every raise goes up the whole chain, so an ancestor's image is never below its
    // descendants': where the image does not rise, it rises nowhere above either.
    for (; node && image > node->ImageIndex; node = node->Parent) {
        nodes.SetImageIndex(*node, image);
        if (image == RunImage::Running)
            return;
    }
}

void TRunDisplay::AddFailureRow(TTestFailure& failure, int image)
{
    const ITestPtr test = failure.FailedTest();
    TFailureRow row;
    row.Caption = test->GetName();
    row.FailureType = failure.ThrownExceptionName();
    row.Message = failure.ThrownExceptionMessage();
    row.Location = failure.LocationInfo() + " " + failure.AddressInfo();
    row.StackTrace = failure.StackTrace();
    row.Image = image;
    row.Node = FTree.NodeOfTest(test);
    row.Path = TestPathOf(*row.Node);
    row.ElapsedMs = test->ElapsedTestTime();
    if (const std::optional<TScriptPosition> position = MessagePosition(row.Message)) {
        row.SourceFile = position->File;
        row.SourceLine = position->Line;
        // Where the script failed says more than an address in the runner.
        row.Location = position->File + ":" + std::to_string(position->Line);
    }
    FRowsOfTest.push_back(FViews.Failures.FailureCount());
    FViews.Failures.FailureAddRow(row);
    for (TTreeNode* n = row.Node; n; n = n->Parent)
        FViews.TreeView.TreeExpand(*n, false);
}

void TRunDisplay::ErrorBoxAttributes(int size, bool bold, std::optional<TColor> color)
{
    FViews.ErrorBox.ErrorBoxSetAttributes({size, bold, color});
}

void TRunDisplay::ShowFailureDetails(int row)
{
    // A copy: selecting the node runs the tree's change handler (the layer reports the
    // change), which may select rows and so change the list.
    const TFailureRow failure = FViews.Failures.FailureRow(row);
    if (FViews.TreeView.TreeSelected() != failure.Node)
        FViews.TreeView.TreeSetSelected(failure.Node);
    const ITestPtr test = FTree.TestOfNode(failure.Node);
    const int size = FViews.ErrorBox.FontSize();
    FViews.ErrorBox.ErrorBoxClear();
    ErrorBoxAttributes(size, true);
    FViews.ErrorBox.ErrorBoxInsert(failure.Caption + ": ");
    ErrorBoxAttributes(size, true, failure.Image < RunImage::Error ? Colors::Fuchsia : Colors::Red);
    FViews.ErrorBox.ErrorBoxInsert(failure.FailureType);
    FViews.ErrorBox.ErrorBoxAddLine({});
    ErrorBoxAttributes(size, false);
    FViews.ErrorBox.ErrorBoxInsert("at " + failure.Location);
    if (!failure.Message.empty()) {
        FViews.ErrorBox.ErrorBoxAddLine({});
        ErrorBoxAttributes(MessageFontSize, false);
        FViews.ErrorBox.ErrorBoxInsert(failure.Message);
        ErrorBoxAttributes(size, false);
    }
    if (const std::string status = test->GetStatus(); !status.empty()) {
        FViews.ErrorBox.ErrorBoxAddLine({});
        FViews.ErrorBox.ErrorBoxAddLine({});
        ErrorBoxAttributes(size, true);
        FViews.ErrorBox.ErrorBoxAddLine("Status Messages");
        ErrorBoxAttributes(size, false);
        FViews.ErrorBox.ErrorBoxAddLine(status);
    }
    if (!failure.StackTrace.empty()) {
        FViews.ErrorBox.ErrorBoxAddLine({});
        ErrorBoxAttributes(size, true);
        FViews.ErrorBox.ErrorBoxAddLine("StackTrace");
        ErrorBoxAttributes(size, false);
        FViews.ErrorBox.ErrorBoxInsert(failure.StackTrace);
    }
}

// --- runs of chosen tests ---

void TRunDisplay::RunOnly(const TRunSet& set)
{
    if (FRunning) {
        RunTestTree(FHost.Suite());
        return;
    }
    if (!FHost.Suite() || set.Tests.empty())
        return;
    Reset();
    FSelectedPath = set.Tests;
    FSelectedOnly = true;
    SetBars(set.Count, FProgressPos, set.Count, FScorePos);
    TFinally dropPath([this] {
        FSelectedOnly = false;
        FSelectedPath.clear();
    });
    RunTestTree(FHost.Suite());
}

} // namespace GUITestRunner

namespace GUITestRunner {

// --- after a run ---

void TRunDisplay::ShowLastRunTimes()
{
    // A test that did not run in the last run has only an older run's time to show.
    TTreeNode* selected = FTree.Selected();
    if (selected && selected->ImageIndex != RunImage::NotRun) {
        const std::int64_t elapsed = FTree.TestOfNode(selected)->ElapsedTestTime();
        SetCell(StatCell::TestTime, FormatDuration(elapsed));
        SetCell(StatCell::TotalTime, FormatDuration(std::max(FLastTotalTime, elapsed)));
    } else {
        SetCell(StatCell::TestTime, {});
        SetCell(StatCell::TotalTime, FormatDuration(FLastTotalTime));
    }
}

// --- from failure to failure and to the source ---

void TRunDisplay::GoToFailure(int step)
{
    IFailureListView& list = FViews.Failures;
    const int count = list.FailureCount();
    if (count == 0)
        return;
    const int selected = list.FailureSelected();
    int position = selected >= 0 ? list.FailurePositionOf(selected) : (step > 0 ? -1 : count);
    position = ((position + step) % count + count) % count;
    const int row = list.FailureRowShownAt(position);
    list.SetFailureSelected(row);
    // Selecting a row that was selected already shows nothing new; the node must still
    // be the row's.
    if (TTreeNode* node = list.FailureNode(row)) {
        if (FViews.TreeView.TreeSelected() != node)
            FViews.TreeView.TreeSetSelected(node);
        FViews.TreeView.TreeScrollIntoView(*node);
    }
}

bool TRunDisplay::SelectedFailureHasSource()
{
    const int row = FViews.Failures.FailureSelected();
    return row >= 0 && FViews.Failures.FailureRow(row).SourceLine > 0;
}

void TRunDisplay::OpenSelectedFailureInEditor(const std::string& editorSetting)
{
    const int row = FViews.Failures.FailureSelected();
    if (row < 0)
        return;
    const TFailureRow failure = FViews.Failures.FailureRow(row);
    if (failure.SourceLine <= 0) {
        FViews.Window.ShowStatusText("The failure's message names no script position to open.");
        return;
    }
    const std::string where = failure.SourceFile + ":" + std::to_string(failure.SourceLine);
    const std::string declared =
        FLibrary.DeclaredFile && failure.Node ? FLibrary.DeclaredFile(FTree.TestOfNode(failure.Node)) : std::string();
    // Where the coverage report is told the sources of compiled libraries are, then the
    // scripts' own search path: a helper library, or the sources kept beside compiled
    // libraries.
    std::vector<std::string> folders = Sys::SplitList(std::getenv("WEXEL_COVERAGE_SOURCES"));
    const std::string exeDir = Sys::ExeDir();
    folders.push_back(exeDir + "/../USER");
    folders.push_back(exeDir + "/../SYSTEM");
    const std::string file = ResolveSourceFile(failure.SourceFile, declared, folders);
    if (file.empty()) {
        FViews.Window.ShowStatusText("Cannot open " + where + ": no such file here or beside the test library.");
        return;
    }
    const std::vector<std::string> command =
        EditorCommandLine(editorSetting, std::getenv("VISUAL"), std::getenv("EDITOR"), file, failure.SourceLine);
    if (command.empty()) {
        FViews.Window.ShowStatusText("No editor to open " + where +
                                     ": set VISUAL or EDITOR, or EditorCommand in the settings.");
        return;
    }
    if (!FViews.Window.StartDetached(command)) {
        FViews.Window.ShowStatusText("The editor " + command.front() + " could not be started.");
        return;
    }
    FViews.Window.ShowStatusText("Opened " + where + " in " + command.front() + ".");
}

} // namespace GUITestRunner

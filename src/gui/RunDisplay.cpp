#include "gui/RunDisplay.h"

#include "bridge/HostTables.h"
#include "bridge/WexelAdapter.h"
#include "core/TestFailure.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "gui/GUITestRunner.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cstdio>
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
class TRunListener final : public TestFramework::ISuiteListener {
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
    void StartSuite(const ITestPtr&) override {}
    void EndSuite(const ITestPtr& suite) override { FDisplay.EndSuite(suite); }

private:
    TRunDisplay& FDisplay;
};

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

std::string PathOf(const TTreeNode& node)
{
    std::string path = node.Caption;
    for (const TTreeNode* n = node.Parent; n; n = n->Parent)
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
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(h),
                  static_cast<long long>(m), static_cast<long long>(rest / 1000),
                  static_cast<long long>(rest % 1000));
    return text;
}

TRunDisplay::TRunDisplay(TGUITestRunner& form) : FForm(form), FLayer(form.FLayer) {}
TRunDisplay::~TRunDisplay() = default;

TTestResult& TRunDisplay::Result(int line)
{
    Sys::Assert(FForm.FTestResult != nullptr, GUITestRunnerUnit, line);
    return *FForm.FTestResult;
}

// --- what the layer shows ---

void TRunDisplay::SetCell(int cell, std::string text)
{
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
        FLayer.SetBar(TBar::Progress, progressMax, progressPos);
    if (scoreMax != FScoreMax || scorePos != FScorePos)
        FLayer.SetBar(TBar::Score, scoreMax, scorePos);
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
    FLayer.SetScoreBarColor(color);
}

void TRunDisplay::SetLabel(std::string text)
{
    if (text == FScoreLabel)
        return;
    FScoreLabel = std::move(text);
    FLayer.SetScoreLabel(FScoreLabel);
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
    FLayer.FailureClear();
    ClearProgress();
    FLayer.Repaint();
    const ITestPtr& suite = FForm.FSuite;
    const int maximum = suite ? suite->CountEnabledTestCases() : NoSuiteMaximum;
    SetCell(StatCell::Tests, suite ? std::to_string(maximum) : std::string());
    SetBars(maximum, FProgressPos, maximum, FScorePos);
    for (int cell = StatCell::Run; cell < StatCell::Count; ++cell)
        SetCell(cell, {});
    FForm.FTree.ResetRunImages();
    FForm.FTree.RefreshAllCheckImages();
    if (FCellsDirty) {
        FCellsDirty = false;
        FLayer.SetStatistics(FCells);
    }
    // So that each run sees freshly compiled script libraries.
    Wexel::RefreshHostTables();
}

void TRunDisplay::RewriteRunStatistics(TTestResult& result)
{
    const int n = result.RunCount();
    const int failures = result.FailureCount();
    const int errors = result.ErrorCount();
    SetCell(StatCell::Run, std::to_string(n));
    SetCell(StatCell::Failures, std::to_string(failures));
    SetCell(StatCell::Errors, std::to_string(errors));
    SetCell(StatCell::Overrides, std::to_string(result.Overrides));
    SetCell(StatCell::TestTime, FormatDuration(result.TotalTime));
    SetCell(StatCell::TotalTime, FormatDuration(std::max(FLastTotalTime, result.TotalTime)));
    SetBars(FProgressMax, n, FScoreMax, n - (failures + errors));
    if (n == 0 && FTotalEnabled == 0)
        SetLabel("100%");
    else if (FScoreMax > 0)
        SetLabel(std::to_string(static_cast<long long>(FScorePos) * 100 / FScoreMax) + "%");
    else
        SetLabel("0%"); // a bar of maximum 0 has no proportion to show
}

void TRunDisplay::RefreshStatus(bool full)
{
    Refresh(full, full);
}

void TRunDisplay::Refresh(bool full, bool recount)
{
    const ITestPtr& suite = FForm.FSuite;
    if (full && recount) {
        FTotalEnabled = suite ? suite->CountEnabledTestCases() : 0;
        SetCell(StatCell::Tests, suite ? std::to_string(FTotalEnabled) : std::string());
    }
    if (TTestResult* result = FForm.FTestResult.get()) {
        const int n = result->RunCount();
        if (full || FTimerExpired || n % RewriteEvery == 0) {
            RewriteRunStatistics(*result);
            if (FTimerExpired && n < FTotalEnabled) {
                FTimerExpired = false;
                FLayer.SetUpdateTimerEnabled(true);
            }
        }
        if (FCellsDirty) {
            FCellsDirty = false;
            FLayer.SetStatistics(FCells);
        }
        FLayer.RepaintResults();
    } else {
        const std::string& tests = FCells[StatCell::Tests];
        if (tests == "0" || tests.empty() || tests != FCells[StatCell::Run]) {
            for (int cell = StatCell::Run; cell < StatCell::Count; ++cell)
                SetCell(cell, {});
        } else if (TTreeNode* selected = FForm.FTree.Selected()) {
            const std::int64_t elapsed = FForm.FTree.TestOfNode(selected)->ElapsedTestTime();
            SetCell(StatCell::TestTime, FormatDuration(elapsed));
            SetCell(StatCell::TotalTime, FormatDuration(std::max(FLastTotalTime, elapsed)));
        } else {
            SetCell(StatCell::TestTime, {});
            SetCell(StatCell::TotalTime, {});
        }
        if (FCellsDirty) {
            FCellsDirty = false;
            FLayer.SetStatistics(FCells);
        }
        ClearProgress();
    }
    if (full) {
        FLayer.Repaint();
        // Stop, Exit and the other commands reach a run only here. Outside a run the
        // window's own loop is running anyway, and handling its messages from inside one
        // of its handlers would only re-enter it.
        if (FForm.FRunning)
            FLayer.ProcessMessages();
    }
}

// --- commands ---

void TRunDisplay::RunTestTree(const ITestPtr& test)
{
    if (!test)
        return;
    if (FForm.FRunning) {
        Result(__LINE__).Stop();
        return;
    }
    TActionList& actions = FForm.FActions;
    FForm.FRunning = true;
    actions.SetEnabled(TActionId::RunAction, false);
    actions.SetEnabled(TActionId::Alt_R_RunAction, false);
    actions.SetEnabled(TActionId::CopyMessageToClipboardAction, false);
    actions.SetEnabled(TActionId::RescanUserlib, false);
    actions.SetEnabled(TActionId::StopAction, true);
    actions.SetEnabled(TActionId::Alt_S_StopAction, true);
    FForm.EnableTreeCommands(false);
    FForm.AutoSaveSettings();
    if (FForm.FTestResult) {
        FForm.FTestResult.reset();
        FLayer.ErrorBoxClear();
    }
    FForm.FTestResult = std::make_unique<TTestResult>();
    TTestResult& result = *FForm.FTestResult;
    result.AddListener(std::make_shared<TRunListener>(*this));
    result.BreakOnFailures = actions.GetChecked(TActionId::BreakOnFailuresAction);
    result.FailsIfNoChecksExecuted = actions.GetChecked(TActionId::FailIfNoChecksExecutedAction);
    result.FailsIfMemoryLeaked = actions.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction);
    result.IgnoresMemoryLeakInSetUpTearDown = actions.GetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction);

    // Whatever the run does, the window must come back idle.
    TFinally runEnd([this] {
        FForm.FTestResult.reset();
        FForm.FRunning = false;
        FTimerExpired = false;
        FLayer.SetUpdateTimerEnabled(false);
        FForm.EnableTreeCommands(true);
        // The run's last state, whatever was coalesced away.
        FLayer.Repaint();
    });
    test->Run(result);
}

void TRunDisplay::RunAll()
{
    // A run command during a run stops it; resetting first would wipe the display of
    // the run that is still going.
    if (FForm.FRunning) {
        RunTestTree(FForm.FSuite);
        return;
    }
    if (!FForm.FSuite)
        return;
    Reset();
    RunTestTree(FForm.FSuite);
}

void TRunDisplay::RunSelected()
{
    if (FForm.FRunning) {
        RunTestTree(FForm.FSuite);
        return;
    }
    Reset();
    FSelectedPath.clear();
    TTreeNode* selected = FForm.FTree.Selected();
    for (TTreeNode* node = selected; node; node = node->Parent)
        FSelectedPath.insert(FForm.FTree.TestOfNode(node).get());
    FSelectedOnly = true;
    SetBars(1, FProgressPos, 1, FScorePos);
    TFinally dropPath([this] {
        FSelectedOnly = false;
        FSelectedPath.clear();
    });
    RunTestTree(FForm.FSuite);
}

void TRunDisplay::Rescan()
{
    // The suite, the tree and the test list it replaces are what a run's listener works
    // on, so there is no rescan during a run.
    if (FForm.FRunning)
        return;
    // Check boxes changed since the last save stay as they are for the tests that are
    // still there: a rescan reloads scripts, it does not undo the user's choice.
    std::unordered_map<std::string, bool> enabled;
    TTestTree& tree = FForm.FTree;
    for (TTreeNode* n = tree.Nodes().FirstNode(); n; n = tree.Nodes().GetNext(*n))
        enabled.emplace(PathOf(*n), tree.TestOfNode(n)->GetEnabled());

    FForm.AssignSuite(nullptr);
    Wexel::RefreshHostTables();
    TestFramework::ClearRegistry();
    if (Wexel::WexelAdapter)
        Wexel::WexelAdapter->RegisterTests();
    FForm.AssignSuite(TestFramework::RegisteredTests());
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
    FLayer.SetClipboardText(FLayer.ErrorBoxText());
}

void TRunDisplay::TimerTick()
{
    FTimerExpired = true;
    FLayer.SetUpdateTimerEnabled(false);
}

void TRunDisplay::FailureListViewClick()
{
    const int row = FLayer.FailureSelected();
    if (row >= 0)
        FLayer.TreeSetSelected(FLayer.FailureRow(row).Node);
}

void TRunDisplay::FailureListViewSelectItem(int row, bool selected)
{
    if (selected)
        ShowFailureDetails(row);
    else
        FLayer.ErrorBoxClear();
}

// --- listener ---

void TRunDisplay::TestingStarts()
{
    FLastTotalTime = 0;
    // The statistics are also rewritten at least this often, not only every 16 tests.
    FTimerExpired = false;
    FLayer.SetUpdateTimerEnabled(true);
    RefreshStatus(true);
    SetScoreColor(Colors::Green);
}

void TRunDisplay::StartTest(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    Result(__LINE__);
    TTreeNode* node = FForm.FTree.NodeOfTest(test);
    RaiseRunImage(node, RunImage::Running);
    FLayer.ShowRunningNode(*node, FForm.FActions.GetChecked(TActionId::ShowTestedNodeAction));
    if (FLayer.ErrorBoxLineCount() > 0)
        FLayer.ErrorBoxClear();
    RefreshStatus(false);
}

void TRunDisplay::Status(const ITestPtr& test, const std::string& msg)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    if (FLayer.ErrorBoxLineCount() == 0)
        FLayer.ErrorBoxAddLine(test->GetName() + ":");
    FLayer.ErrorBoxAddLine(msg);
    FLayer.RepaintErrorBox();
}

bool TRunDisplay::IsOverridden(const ITestPtr& test) const
{
    const TActionList& a = FForm.FActions;
    const bool leaks = a.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction);
    return (a.GetChecked(TActionId::FailIfNoChecksExecutedAction) && !test->GetFailsOnNoChecksExecuted()) ||
           (leaks && !test->GetFailsOnMemoryLeak()) ||
           (leaks && test->GetIgnoreSetUpTearDownLeaks() &&
            !a.GetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction));
}

bool TRunDisplay::HasRunTimeProperties(const ITestPtr& test) const
{
    const TActionList& a = FForm.FActions;
    const bool leaks = a.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction);
    return (test->GetFailsOnNoChecksExecuted() && !a.GetChecked(TActionId::FailIfNoChecksExecutedAction)) ||
           (test->GetFailsOnMemoryLeak() && !leaks) || (leaks && test->GetIgnoreSetUpTearDownLeaks()) ||
           test->GetAllowedMemoryLeakSize() != 0;
}

void TRunDisplay::AddSuccess(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    TTestResult& result = Result(__LINE__);
    TTreeNode* node = FForm.FTree.NodeOfTest(test);
    if (!TestFramework::IsTestMethod(test)) {
        RaiseRunImage(node, RunImage::Passed);
        return;
    }
    const bool overridden = IsOverridden(test);
    if (overridden)
        ++result.Overrides;
    const TActionList& a = FForm.FActions;
    const bool notice = (a.GetChecked(TActionId::WarnOnFailTestOverrideAction) && overridden) ||
                        (a.GetChecked(TActionId::ShowTestCasesWithRunTimePropertiesAction) &&
                         HasRunTimeProperties(test));
    RaiseRunImage(node, notice ? RunImage::PassedWithNotice : RunImage::Passed);
}

void TRunDisplay::AddFailure(TTestFailure& failure)
{
    TTestResult& result = Result(__LINE__);
    AddFailureRow(failure, RunImage::Failed);
    if (result.ErrorCount() == 0)
        SetScoreColor(Colors::Fuchsia);
    RaiseRunImage(FForm.FTree.NodeOfTest(failure.FailedTest()), RunImage::Failed);
    RefreshStatus(false);
}

void TRunDisplay::AddError(TTestFailure& failure)
{
    Result(__LINE__);
    AddFailureRow(failure, RunImage::Error);
    SetScoreColor(Colors::Red);
    RaiseRunImage(FForm.FTree.NodeOfTest(failure.FailedTest()), RunImage::Error);
    RefreshStatus(false);
}

void TRunDisplay::EndTest(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    Result(__LINE__);
    RefreshStatus(false);
}

void TRunDisplay::EndSuite(const ITestPtr& suite)
{
    Sys::Assert(suite != nullptr, GUITestRunnerUnit, __LINE__);
    Result(__LINE__);
    // Counting walks the whole tree, a thousand times in a run of a thousand suites. The
    // count changes only through the check boxes, and every change there refreshes with
    // a count of its own.
    Refresh(true, false);
}

void TRunDisplay::TestingEnds(TTestResult& result)
{
    FLastTotalTime = result.TotalTime;
}

bool TRunDisplay::ShouldRunTest(const ITestPtr& test)
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    if (FSelectedOnly)
        return FSelectedPath.count(test.get()) != 0;
    return test->GetEnabled();
}

// --- images, rows and details ---

void TRunDisplay::RaiseRunImage(TTreeNode* node, int image)
{
    TTreeNodes& nodes = FForm.FTree.Nodes();
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
    row.Node = FForm.FTree.NodeOfTest(test);
    FLayer.FailureAddRow(row);
    for (TTreeNode* n = row.Node; n; n = n->Parent)
        FLayer.TreeExpand(*n, false);
}

void TRunDisplay::ErrorBoxAttributes(int size, bool bold, std::optional<TColor> color)
{
    FLayer.ErrorBoxSetAttributes({size, bold, color});
}

void TRunDisplay::ShowFailureDetails(int row)
{
    // A copy: selecting the node runs the tree's change handler (the layer reports the
    // change), which may select rows and so change the list.
    const TFailureRow failure = FLayer.FailureRow(row);
    if (FLayer.TreeSelected() != failure.Node)
        FLayer.TreeSetSelected(failure.Node);
    const ITestPtr test = FForm.FTree.TestOfNode(failure.Node);
    const int size = FLayer.FontSize();
    FLayer.ErrorBoxClear();
    ErrorBoxAttributes(size, true);
    FLayer.ErrorBoxInsert(failure.Caption + ": ");
    ErrorBoxAttributes(size, true, failure.Image < RunImage::Error ? Colors::Fuchsia : Colors::Red);
    FLayer.ErrorBoxInsert(failure.FailureType);
    FLayer.ErrorBoxAddLine({});
    ErrorBoxAttributes(size, false);
    FLayer.ErrorBoxInsert("at " + failure.Location);
    if (!failure.Message.empty()) {
        FLayer.ErrorBoxAddLine({});
        ErrorBoxAttributes(MessageFontSize, false);
        FLayer.ErrorBoxInsert(failure.Message);
        ErrorBoxAttributes(size, false);
    }
    if (const std::string status = test->GetStatus(); !status.empty()) {
        FLayer.ErrorBoxAddLine({});
        FLayer.ErrorBoxAddLine({});
        ErrorBoxAttributes(size, true);
        FLayer.ErrorBoxAddLine("Status Messages");
        ErrorBoxAttributes(size, false);
        FLayer.ErrorBoxAddLine(status);
    }
    if (!failure.StackTrace.empty()) {
        FLayer.ErrorBoxAddLine({});
        ErrorBoxAttributes(size, true);
        FLayer.ErrorBoxAddLine("StackTrace");
        ErrorBoxAttributes(size, false);
        FLayer.ErrorBoxInsert(failure.StackTrace);
    }
}

} // namespace GUITestRunner

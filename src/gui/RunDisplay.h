#pragma once
// The window's runs: starting, listening to and stopping a run, the run images of the
// tree, the bars and their colours, the statistics row, the failure list with the error
// box, and the rescan of the script library. Plain C++ over the widget layer. The display
// owns the run (its result and whether one is going); the form is reached only through
// IRunHost.

#include "core/TestInterfaces.h"
#include "gui/RunnerActions.h"
#include "gui/RunnerLayer.h"
#include "gui/TestTree.h"

#include <array>
#include <cstdint>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace GUITestRunner {

// What the display needs of the form that holds it.
class IRunHost {
public:
    virtual const TestFramework::ITestPtr& Suite() const = 0;
    // A null suite empties the tree; a suite loads its tests' states and rebuilds it.
    virtual void AssignSuite(const TestFramework::ITestPtr& suite) = 0;
    virtual void EnableTreeCommands(bool enabled) = 0;
    // The settings' save at a run's start, just after the reset refreshed every check image.
    virtual void AutoSaveBeforeRun() = 0;

protected:
    ~IRunHost() = default;
};

// The script library behind the tests, handed in by whoever creates the window; either
// operation may be empty, and then does nothing.
struct TScriptLibrary {
    // Before every run, so that it sees freshly compiled scripts.
    std::function<void()> Refresh;
    // Registers the library's tests anew in the registry.
    std::function<void()> Rescan;
    // Sets the pulse of a run (null removes it): a call of pulse(context) about every
    // PulseInterval from inside a long script test, on the window's thread.
    std::function<void(void (*pulse)(void* context), void* context)> SetPulse{};
    // Ends the script test running now, if any, as an error "Test was stopped".
    std::function<void()> StopTest{};
    // Where the library declares the test ("" when it does not say): for a library of
    // Lua source the library's full path, which a bare file name in a message stands for.
    std::function<std::string(const TestFramework::ITestPtr&)> DeclaredFile;
};

// How often a run lets the window handle its events, from inside a long test or between
// short ones.
inline constexpr int PulseIntervalMs = 25;

// The views the display writes to.
struct TRunDisplayViews {
    IWindowView& Window;
    ITreeView& TreeView;
    IFailureListView& Failures;
    IErrorBoxView& ErrorBox;
    IProgressView& Progress;
};

// "h:mm:ss.fff", the hours not limited to two digits.
std::string FormatDuration(std::int64_t ms);

class TRunDisplay {
public:
    TRunDisplay(IRunHost& host, TTestTree& tree, TActionList& actions, TRunDisplayViews views,
                TScriptLibrary library);
    ~TRunDisplay();
    TRunDisplay(const TRunDisplay&) = delete;
    TRunDisplay& operator=(const TRunDisplay&) = delete;

    bool Running() const { return FRunning; }
    bool HasResult() const { return FTestResult != nullptr; }
    // Stops the run in progress, if any: the running test ends as an error and no
    // other test starts.
    void Stop();
    // The run's pulse: handles the window's pending events, unless it is doing so already.
    void Pulse();
    // Frees the last run's result (and its details in the error box).
    void DropResult();

    void Reset();
    void RefreshStatus(bool full);
    void ClearProgress();

    // --- commands ---
    void RunTestTree(const TestFramework::ITestPtr& test);
    void RunAll();
    void RunSelected();
    void Rescan();
    void CopyMessageToClipboard();
    void TimerTick();
    void FailureListViewClick();
    void FailureListViewSelectItem(int row, bool selected);

    // --- the run's listener ---
    void TestingStarts();
    void StartTest(const TestFramework::ITestPtr& test);
    void Status(const TestFramework::ITestPtr& test, const std::string& msg);
    void AddSuccess(const TestFramework::ITestPtr& test);
    void AddFailure(TestFramework::TTestFailure& failure);
    void AddError(TestFramework::TTestFailure& failure);
    void EndTest(const TestFramework::ITestPtr& test);
    void EndSuite(const TestFramework::ITestPtr& suite);
    void TestingEnds(TestFramework::TTestResult& result);
    bool ShouldRunTest(const TestFramework::ITestPtr& test);

    // Raises the image of the node and, unless it is "running", of its ancestors; an
    // image is never lowered.
    void RaiseRunImage(TTreeNode* node, int image);
    void AddFailureRow(TestFramework::TTestFailure& failure, int image);
    void ShowFailureDetails(int row);

    // --- what the display shows, as the layer was last told ---
    const TStatistics& Statistics() const { return FCells; }
    int BarMax(TBar bar) const { return bar == TBar::Progress ? FProgressMax : FScoreMax; }
    int BarPosition(TBar bar) const { return bar == TBar::Progress ? FProgressPos : FScorePos; }
    const std::optional<TColor>& ScoreColor() const { return FScoreColor; }
    const std::string& ScoreLabel() const { return FScoreLabel; }
    std::int64_t LastTotalTime() const { return FLastTotalTime; }

    // --- runs of chosen tests (Run Failed, Run Selected on any node, a filtered Run) ---
    // Runs the suite admitting the set's tests only, by membership, whatever their check
    // boxes; the bars count the set's test cases. An empty set runs nothing.
    void RunOnly(const TRunSet& set);
    // --- going from failure to failure and to the source ---
    // Selects the next (step 1) or previous (step -1) failure row as the list shows it,
    // round past either end, with its test's node.
    void GoToFailure(int step);
    // The selected row's script position opened in the editor: the settings' command
    // when set, else $VISUAL or $EDITOR. What stands in the way goes to the status line.
    void OpenSelectedFailureInEditor(const std::string& editorSetting);
    // A row is selected and its message starts with a script position.
    bool SelectedFailureHasSource();

private:
    TestFramework::TTestResult& Result(int line);
    // A full refresh that takes the enabled count from the last full one unless recount.
    void Refresh(bool full, bool recount);
    // Between tests: the statistics rewritten only when a rewrite is due.
    void RefreshBetweenTests(int runCount);
    // Every RewriteEvery tests, but no more than once per tick of the coarse clock: a
    // paint shows them at most every PulseIntervalMs, and thousands of tests may run
    // between two ticks.
    bool RewriteDue(int runCount) const;
    void SetCell(int cell, std::string text);
    // The cell shows the number, or with duration the time of so many milliseconds.
    void SetValueCell(int cell, std::int64_t value, bool duration);
    void SetBars(int progressMax, int progressPos, int scoreMax, int scorePos);
    void SetScoreColor(std::optional<TColor> color);
    void SetLabel(std::string text);
    void SetPercentLabel(long long percent);
    void RewriteRunStatistics(TestFramework::TTestResult& result);
    // Both against the options the run started with, which its result holds: an option
    // changed during the run applies to the next one.
    static bool IsOverridden(TestFramework::ITest& test, const TestFramework::TTestResult& result);
    static bool HasRunTimeProperties(TestFramework::ITest& test, const TestFramework::TTestResult& result);
    void ErrorBoxAttributes(int size, bool bold, std::optional<TColor> color = {});
    // After a run: the time cells for the selected test, the counts left as they were.
    void ShowLastRunTimes();

    IRunHost& FHost;
    TTestTree& FTree;
    TActionList& FActions;
    TRunDisplayViews FViews;
    TScriptLibrary FLibrary;
    // Present only while a run is in progress.
    std::unique_ptr<TestFramework::TTestResult> FTestResult;
    bool FRunning = false;
    TStatistics FCells;
    bool FCellsDirty = false;
    // The number each cell shows, where SetValueCell wrote it; the label's percentage.
    std::array<std::optional<std::int64_t>, StatCell::Count> FCellValues;
    long long FLabelPercent = -1;
    int FProgressMax = 0;
    int FProgressPos = 0;
    int FScoreMax = 0;
    int FScorePos = 0;
    std::optional<TColor> FScoreColor;
    std::string FScoreLabel;
    // The tests of Run Selected Test, by identity; only admitted while FSelectedOnly.
    std::unordered_set<const TestFramework::ITest*> FSelectedPath;
    bool FSelectedOnly = false;
    std::int64_t FLastTotalTime = 0;
    bool FTimerExpired = false;
    int FTotalEnabled = 0;
    // FTotalEnabled was counted by the last reset, and no full refresh has counted since.
    bool FCountedAtReset = false;

    // --- events during a run ---
    // Between tests: the events are handled when a pulse is due; true when they were.
    bool PulseIfDue();
    bool FInPulse = false;
    std::uint32_t FLastPulse = 0;
    // The last run's outcome is on display (from its start until the next reset), so
    // that a click does not take it away.
    bool FRunShown = false;
    // The failure rows of the running test, whose times are known once it ends.
    std::vector<int> FRowsOfTest;
    // A test method has started and not yet ended; the run count at the last start.
    bool FTestOpen = false;
    int FRunCountAtStart = 0;
    // The coarse clock's reading at the last rewrite of the run's statistics.
    std::uint32_t FRewrittenAt = 0;
    // The test started last and its node, which its outcome and end find again.
    const TestFramework::ITest* FStartedTest = nullptr;
    TTreeNode* FStartedNode = nullptr;
    TTreeNode* NodeOfStarted(const TestFramework::ITestPtr& test) const;
};

} // namespace GUITestRunner

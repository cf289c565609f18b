// Runs from the window through the fake layer: images, bars and colours, the statistics
// row and its rewrite rule, the failure list, the error box and Run Selected Test.

#include "FakeHost.h"
#include "FakeRunnerLayer.h"
#include "HostProcess.h"

#include "core/AbstractTest.h"
#include "core/TestExceptions.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "gui/RunDisplay.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <chrono>
#include <thread>
#include <tuple>

namespace {

using namespace GUITestRunner;
using GUITestRunner::Testing::TFakeRunnerLayer;
using TestFramework::ITestPtr;
using TestFramework::TTestResult;

using TBody = std::function<void(TTestResult&)>;

// A single test that counts as run the way a script test does, with a body of the test's
// choosing and, optionally, status text of its own.
class TProbe : public TestFramework::TAbstractTest {
public:
    TProbe(std::string name, TBody body) : TAbstractTest(std::move(name)), FBody(std::move(body)) {}
    void RunWithFixture(TTestResult* result) override
    {
        if (result->ShouldRunTest(shared_from_this())) {
            ++result->RunTests;
            TAbstractTest::RunWithFixture(result);
        }
    }
    void RunTest(TTestResult* result) override
    {
        if (FBody)
            FBody(*result);
    }
    std::string GetStatus() override { return Status; }
    std::string Status;

private:
    TBody FBody;
};

ITestPtr Pass(std::string name, TBody body = {})
{
    return std::make_shared<TProbe>(std::move(name), std::move(body));
}
ITestPtr Fail(std::string name, std::string msg = "expected 1")
{
    return Pass(std::move(name), [msg](TTestResult&) { throw TestFramework::ETestFailure(msg); });
}
ITestPtr Err(std::string name)
{
    return Pass(std::move(name), [](TTestResult&) { throw Sys::Exception("boom"); });
}
using GUITestRunner::Testing::Suite;

class RunDisplayTest : public ::testing::Test {
protected:
    // Each window keeps its settings apart, so that no test sees another's.
    TestSupport::TTempDir Dir;
    TFakeRunnerLayer Layer;
    std::unique_ptr<TGUITestRunner> Form = std::make_unique<TGUITestRunner>(Layer, Dir.File("roved.ini"), GUITestRunner::Testing::BridgeLibrary());

    void SetUp() override { FakeHost::Reset(); }
    // The window loads the tests' states from its settings, so the states a test sets
    // up are saved there first.
    void Show(const ITestPtr& suite)
    {
        suite->SaveConfiguration(Form->ConfigFile(), false, true);
        Form->RunModal(suite);
    }
    TRunDisplay& Display() { return Form->RunDisplay(); }
    const std::string& Cell(int cell) { return Display().Statistics()[static_cast<std::size_t>(cell)]; }
    TTreeNode& Node(const std::string& caption) { return GUITestRunner::Testing::NodeCaptioned(Form->Tree().Nodes(), caption); }
    int Image(const std::string& caption) { return Node(caption).ImageIndex; }
    void Run() { Form->ExecuteAction(TActionId::RunAction); }
};

TEST_F(RunDisplayTest, AllPassingIsGreenAndFullAndDisabledTestsStayNotRun)
{
    ITestPtr off = Pass("off");
    off->SetEnabled(false);
    Show(Suite("Root", {Suite("S", {Pass("a"), Pass("b")}), off}));
    Run();
    EXPECT_EQ(Display().ScoreColor(), Colors::Green);
    EXPECT_EQ(Display().ScoreLabel(), "100%");
    EXPECT_EQ(Display().BarPosition(TBar::Score), 2);
    EXPECT_EQ(Display().BarMax(TBar::Score), 2);
    for (int cell : {StatCell::Failures, StatCell::Errors, StatCell::Overrides})
        EXPECT_EQ(Cell(cell), "0");
    EXPECT_EQ(Cell(StatCell::Run), "2");
    for (const char* name : {"Root", "S", "a", "b"})
        EXPECT_EQ(Image(name), RunImage::Passed) << name;
    EXPECT_EQ(Image("off"), RunImage::NotRun);
    EXPECT_EQ(Layer.FailureCount(), 0);
    EXPECT_FALSE(Form->Running());
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::RunAction));
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::StopAction));
    EXPECT_FALSE(Layer.TimerEnabled);
    // Every reset refreshes the host's tables, so the run saw fresh scripts.
    EXPECT_NE(std::find(FakeHost::Journal().begin(), FakeHost::Journal().end(), "ResetProcContainer"),
              FakeHost::Journal().end());
}

TEST_F(RunDisplayTest, ScoreColourTurnsFuchsiaThenRedAndStaysRed)
{
    std::vector<std::optional<TColor>> seen;
    auto look = [&](TTestResult&) { seen.push_back(Display().ScoreColor()); };
    Show(Suite("Root", {Pass("p", look), Fail("f"), Pass("q", look), Err("e"), Fail("g"), Pass("r", look)}));
    Run();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], Colors::Green);
    EXPECT_EQ(seen[1], Colors::Fuchsia);
    EXPECT_EQ(seen[2], Colors::Red);
    EXPECT_EQ(Display().ScoreColor(), Colors::Red);
    EXPECT_EQ(Cell(StatCell::Failures), "2");
    EXPECT_EQ(Cell(StatCell::Errors), "1");
    EXPECT_EQ(Display().ScoreLabel(), "50%");
    EXPECT_EQ(Image("Root"), RunImage::Error);
}

TEST_F(RunDisplayTest, ErrorInTheMiddleOfASuite)
{
    Show(Suite("Root", {Suite("S", {Pass("t1"), Err("t2"), Pass("t3")})}));
    Layer.Expanded.clear();
    Run();
    EXPECT_EQ(Image("S"), RunImage::Error);
    EXPECT_EQ(Image("t1"), RunImage::Passed);
    EXPECT_EQ(Image("t2"), RunImage::Error);
    EXPECT_EQ(Image("t3"), RunImage::Passed);
    ASSERT_EQ(Layer.RowDetails.size(), 1u);
    const TFailureRow& row = Layer.RowDetails[0];
    EXPECT_EQ(row.Image, RunImage::Error);
    EXPECT_EQ(row.Node, &Node("t2"));
    EXPECT_EQ(row.Caption, "t2");
    EXPECT_EQ(row.FailureType, "Exception");
    EXPECT_EQ(row.Message, "boom");
    EXPECT_EQ(row.Location, " $00000000");
    EXPECT_TRUE(Layer.Expanded.count(&Node("S")));
    EXPECT_TRUE(Layer.Expanded.count(&Node("Root")));
}

TEST_F(RunDisplayTest, RunSelectedTestRunsOnlyThatTestEvenWhenUnchecked)
{
    Show(Suite("Root", {Suite("Outer", {Pass("x"), Suite("Inner", {Pass("y"), Pass("z")})}), Pass("w")}));
    Form->TestOfNode(&Node("z"))->SetEnabled(false);
    Layer.Selected = &Node("z");
    Form->UpdateActions();
    ASSERT_TRUE(Form->Actions().GetEnabled(TActionId::RunSelectedTestAction));
    Form->ExecuteAction(TActionId::RunSelectedTestAction);
    EXPECT_EQ(Cell(StatCell::Run), "1");
    EXPECT_EQ(Display().BarMax(TBar::Progress), 1);
    EXPECT_EQ(Display().BarMax(TBar::Score), 1);
    EXPECT_EQ(Display().ScoreLabel(), "100%");
    EXPECT_EQ(Image("z"), RunImage::Passed);
    EXPECT_EQ(Image("Inner"), RunImage::Passed);
    for (const char* name : {"x", "y", "w"})
        EXPECT_EQ(Image(name), RunImage::NotRun) << name;
    // The next run goes by the check boxes again.
    Run();
    EXPECT_EQ(Cell(StatCell::Run), "3");
}

TEST_F(RunDisplayTest, NoEnabledTestsDisablesRun)
{
    Show(Suite("Root", {Pass("a")}));
    Form->DeselectAllActionExecute();
    Form->UpdateActions();
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::RunAction));
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::Alt_R_RunAction));
    Form->RebuildTree();
    EXPECT_EQ(Cell(StatCell::Tests), "0");
}

TEST_F(RunDisplayTest, PartialRefreshRewritesEverySixteenTestsAtMostOncePerClockTick)
{
    // What each test's body finds in cell "Run": the last rewrite before it. The 15th and
    // the 31st wait past a tick of the coarse clock, so that the next rewrite is due.
    std::vector<std::string> seen;
    TBody look = [&](TTestResult&) { seen.push_back(Cell(StatCell::Run)); };
    TBody lookAndWait = [&](TTestResult& result) {
        look(result);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    };
    auto suite = std::make_shared<TestFramework::TTestSuite>("S");
    for (int i = 1; i <= 33; ++i)
        suite->AddTest(Pass("t" + std::to_string(i), i == 15 || i == 31 ? lookAndWait : look));
    Show(suite);
    Run();
    ASSERT_EQ(seen.size(), 33u);
    EXPECT_EQ(seen[14], "0");  // 15 run: not yet
    EXPECT_EQ(seen[15], "15"); // the 16th is still running
    EXPECT_EQ(seen[29], seen[16]); // nothing due from the 17th to the 30th
    EXPECT_EQ(seen[31], "31");
    EXPECT_EQ(Cell(StatCell::Run), "33"); // the suite's end is a full refresh

    // Thousands of quick tests between two ticks are no reason for thousands of rewrites.
    auto many = std::make_shared<TestFramework::TTestSuite>("M");
    for (int i = 0; i < 4096; ++i)
        many->AddTest(Pass("m" + std::to_string(i)));
    Show(many);
    const int writes = Layer.StatisticsWrites;
    Run();
    EXPECT_LT(Layer.StatisticsWrites - writes, 64); // every 16 tests would be 256
    EXPECT_EQ(Cell(StatCell::Run), "4096");

    // Nor are a thousand suites' ends; the run's end still shows the whole outcome.
    auto suites = std::make_shared<TestFramework::TTestSuite>("Many");
    for (int i = 0; i < 1000; ++i)
        suites->AddTest(Suite("s" + std::to_string(i), {i == 999 ? Fail("f") : Pass("p")}));
    Show(suites);
    const int before = Layer.StatisticsWrites;
    Run();
    EXPECT_LT(Layer.StatisticsWrites - before, 250);
    EXPECT_EQ(Cell(StatCell::Run), "1000");
    EXPECT_EQ(Cell(StatCell::Failures), "1");
    EXPECT_EQ(Display().ScoreLabel(), "99%");

    // Once the update timer has ticked, the next partial refresh rewrites too.
    seen.clear();
    auto tick = [&](TTestResult&) { Form->UpdateTimerTimer(); };
    Show(Suite("R", {Pass("a"), Pass("b", tick), Pass("c", look)}));
    Run();
    EXPECT_EQ(seen, std::vector<std::string>{"2"});
}

// An option the run started with holds for its whole run, in the result as in what the
// window counts and shows: a change during the run is for the next one.
TEST_F(RunDisplayTest, OverridesAreJudgedByTheOptionsTheRunStartedWith)
{
    Form->Actions().SetChecked(TActionId::FailIfNoChecksExecutedAction, true);
    Form->Actions().SetChecked(TActionId::WarnOnFailTestOverrideAction, true);
    ITestPtr a, b;
    a = Pass("a", [&](TTestResult&) {
        a->SetFailsOnNoChecksExecuted(false);
        Form->Actions().SetChecked(TActionId::FailIfNoChecksExecutedAction, false);
    });
    b = Pass("b", [&](TTestResult&) { b->SetFailsOnNoChecksExecuted(false); });
    Show(Suite("Root", {a, b, Pass("c")}));
    Run();
    EXPECT_EQ(Cell(StatCell::Overrides), "2");
    EXPECT_EQ(Image("a"), RunImage::PassedWithNotice);
    EXPECT_EQ(Image("b"), RunImage::PassedWithNotice);
    EXPECT_EQ(Image("c"), RunImage::Passed);
}

// The statistics of a run are rewritten from numbers that only turn into text when they
// change; a second run with the same outcome must still show it all again after the reset.
TEST_F(RunDisplayTest, ARunAfterTheSameRunShowsItsStatisticsAgain)
{
    Show(Suite("Root", {Pass("a"), Fail("b"), Pass("c")}));
    for (int run = 0; run < 2; ++run) {
        Run();
        EXPECT_EQ(Cell(StatCell::Run), "3") << run;
        EXPECT_EQ(Cell(StatCell::Failures), "1") << run;
        EXPECT_EQ(Cell(StatCell::Errors), "0") << run;
        EXPECT_FALSE(Cell(StatCell::TestTime).empty()) << run;
        EXPECT_EQ(Display().ScoreLabel(), "66%") << run;
        EXPECT_EQ(Layer.Statistics, Display().Statistics()) << "the layer shows what the display holds";
        // A click after the run shows the selected test's times; the next run starts over.
        Form->TestTreeChange(Form->Tree().Selected());
    }
}

TEST(FormatDuration, HoursMinutesSecondsAndMilliseconds)
{
    EXPECT_EQ(FormatDuration(59999), "0:00:59.999");
    EXPECT_EQ(FormatDuration(3600000), "1:00:00.000");
    EXPECT_EQ(FormatDuration(3723004), "1:02:03.004");
    EXPECT_EQ(FormatDuration(0), "0:00:00.000");
    EXPECT_EQ(FormatDuration(360000000), "100:00:00.000");
    // Either side of where the short form ends.
    EXPECT_EQ(FormatDuration(35999999), "9:59:59.999");
    EXPECT_EQ(FormatDuration(36000000), "10:00:00.000");
}

TEST_F(RunDisplayTest, FailureDetailsInTheErrorBox)
{
    auto withStatus = std::make_shared<TProbe>("s", [](TTestResult&) { throw TestFramework::ETestFailure(""); });
    withStatus->Status = "line one";
    Show(Suite("Root", {Fail("f", "expected 1"), Fail("empty", ""), withStatus, Err("e")}));
    Run();
    ASSERT_EQ(Layer.FailureCount(), 4);

    Layer.SetFailureSelected(0);
    EXPECT_EQ(Layer.Selected, &Node("f"));
    EXPECT_EQ(Layer.ErrorBox, (std::vector<std::string>{"=8,b,-", "+f: ", "=8,b,255.0.255", "+ETestFailure", "\n",
                                                         "=8,,-", "+at  $00000000", "\n", "=12,,-", "+expected 1",
                                                         "=8,,-"}));
    Form->UpdateActions();
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::CopyMessageToClipboardAction));
    Form->ExecuteAction(TActionId::CopyMessageToClipboardAction);
    EXPECT_EQ(Layer.Clipboard, "f: ETestFailure\nat  $00000000\nexpected 1");

    // No message: no message line and nothing at size 12.
    Layer.SetFailureSelected(1);
    EXPECT_EQ(Layer.ErrorBox.size(), 7u);
    EXPECT_EQ(std::count(Layer.ErrorBox.begin(), Layer.ErrorBox.end(), "=12,,-"), 0);

    Layer.SetFailureSelected(2);
    const std::vector<std::string> tail(Layer.ErrorBox.end() - 6, Layer.ErrorBox.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"\n", "\n", "=8,b,-", "\nStatus Messages", "=8,,-", "\nline one"}));

    Layer.SetFailureSelected(3);
    EXPECT_EQ(Layer.ErrorBox[2], "=8,b,255.0.0");
    Layer.SetFailureSelected(-1);
    EXPECT_TRUE(Layer.ErrorBox.empty());
}

TEST_F(RunDisplayTest, StatusMessagesGoToTheErrorBoxUnderTheTestsName)
{
    std::vector<std::string> during;
    auto talk = [&](TTestResult& result) {
        result.Status(Form->TestOfNode(&Node("talker")), "first");
        result.Status(Form->TestOfNode(&Node("talker")), "second");
        during = Layer.ErrorBox;
    };
    Show(Suite("Root", {Pass("talker", talk), Pass("quiet")}));
    Run();
    EXPECT_EQ(during, (std::vector<std::string>{"\ntalker:", "\nfirst", "\nsecond"}));
    // The next test starts with an empty box.
    EXPECT_TRUE(Layer.ErrorBox.empty());
}

TEST_F(RunDisplayTest, TimeCellsAfterACompleteAndAfterAPartialRun)
{
    Show(Suite("Root", {Pass("a"), Pass("b")}));
    Run();
    ASSERT_EQ(Cell(StatCell::Run), "2");
    Layer.Selected = &Node("a");
    Form->TestTreeChange(&Node("a"));
    EXPECT_EQ(Cell(StatCell::TestTime), FormatDuration(Form->TestOfNode(&Node("a"))->ElapsedTestTime()));
    EXPECT_FALSE(Cell(StatCell::TotalTime).empty());

    // A run of fewer tests than are checked keeps its counts as well; a test it did not
    // run has no time of its own to show.
    Form->TestOfNode(&Node("b"))->SetEnabled(false);
    Show(Form->Suite());
    Run();
    Form->TestOfNode(&Node("b"))->SetEnabled(true);
    Layer.Selected = &Node("b");
    Form->TestTreeChange(&Node("b"));
    EXPECT_EQ(Cell(StatCell::Tests), "2");
    EXPECT_EQ(Cell(StatCell::Run), "1");
    EXPECT_EQ(Cell(StatCell::Failures), "0");
    EXPECT_EQ(Cell(StatCell::TestTime), "");
    EXPECT_EQ(Cell(StatCell::TotalTime), FormatDuration(Display().LastTotalTime()));
}

// The last run's outcome stays on display while the user reads it: through clicks on
// failure rows and tree nodes, after a whole run, a stopped run and a one-test run,
// until the next run or a rescan resets it.
TEST_F(RunDisplayTest, ClicksAfterARunKeepItsBarsAndCounts)
{
    auto outcome = [&] {
        return std::make_tuple(Display().ScoreColor(), Display().ScoreLabel(), Display().BarPosition(TBar::Score),
                               Display().BarPosition(TBar::Progress), Cell(StatCell::Run), Cell(StatCell::Failures),
                               Cell(StatCell::Errors));
    };
    auto clickAround = [&] {
        Layer.SetFailureSelected(0);
        Form->FailureListViewClick();
        Layer.Selected = &Node("p");
        Form->TestTreeChange(&Node("p"));
        Layer.Selected = &Node("Root");
        Form->TestTreeClick();
    };
    Show(Suite("Root", {Pass("p"), Fail("f"), Err("e"), Pass("q")}));

    Run();
    const auto whole = outcome();
    EXPECT_EQ(std::get<0>(whole), Colors::Red);
    EXPECT_EQ(std::get<5>(whole), "1");
    clickAround();
    EXPECT_EQ(outcome(), whole);

    // Stopped after the failure: two of four run.
    Form->TestOfNode(&Node("e"))->SetEnabled(false);
    auto stopper = Pass("stopper", [&](TTestResult&) { Form->StopActionExecute(); });
    Show(Suite("Root", {Pass("p"), Fail("f"), stopper, Err("e"), Pass("q")}));
    Run();
    const auto stopped = outcome();
    EXPECT_EQ(std::get<0>(stopped), Colors::Fuchsia);
    EXPECT_EQ(std::get<4>(stopped), "3");
    clickAround();
    EXPECT_EQ(outcome(), stopped);

    Layer.Selected = &Node("f");
    Form->ExecuteAction(TActionId::RunSelectedTestAction);
    const auto one = outcome();
    EXPECT_EQ(std::get<4>(one), "1");
    EXPECT_EQ(std::get<5>(one), "1");
    clickAround();
    EXPECT_EQ(outcome(), one);

    // A rescan shows the tree anew, without the old outcome.
    Form->RebuildTree();
    EXPECT_EQ(Display().ScoreColor(), std::nullopt);
    EXPECT_EQ(Display().ScoreLabel(), "");
    EXPECT_EQ(Cell(StatCell::Run), "");
    EXPECT_EQ(Cell(StatCell::Failures), "");
}

TEST_F(RunDisplayTest, RunCommandDuringARunStopsItWithoutResettingTheDisplay)
{
    Show(Suite("Root", {Fail("f"), Pass("p", [&](TTestResult&) { Form->RunSelectedTestActionExecute(); }), Pass("q")}));
    Layer.Selected = &Node("q");
    Run();
    EXPECT_EQ(Cell(StatCell::Run), "2");
    EXPECT_EQ(Layer.FailureCount(), 1);
    EXPECT_EQ(Image("q"), RunImage::NotRun);
    EXPECT_EQ(Image("f"), RunImage::Failed);
}

TEST_F(RunDisplayTest, AnExceptionEscapingTheRunLeavesTheWindowIdle)
{
    // A listener that raises is not the run loop's to classify: its exception leaves the run.
    struct TThrowingListener : TestFramework::TEmptySuiteListener {
        void AddError(TestFramework::TTestFailure&) override { throw std::runtime_error("listener"); }
    };
    auto addListener = [](TTestResult& result) { result.AddListener(std::make_shared<TThrowingListener>()); };
    Show(Suite("Root", {Pass("adder", addListener), Err("e")}));
    EXPECT_THROW(Run(), std::runtime_error);
    Form->UpdateActions();
    EXPECT_FALSE(Form->Running());
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::SelectAllAction));
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::RunAction));
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::StopAction));
}

// The run as a long script test sees it: the host calls the pulse from inside the test,
// and the window handles its events there.
class TPulsedLayer : public TFakeRunnerLayer {
public:
    std::function<void()> OnEvents;
    int Depth = 0;
    int MaxDepth = 0;
    void ProcessMessages() override
    {
        MaxDepth = std::max(MaxDepth, ++Depth);
        if (OnEvents)
            OnEvents();
        --Depth;
    }
};

TEST(RunDisplayPulseTest, EventsDuringALongTestCanStopItButStartOrChangeNothing)
{
    TestSupport::TTempDir dir;
    TPulsedLayer layer;
    void (*pulse)(void*) = nullptr;
    void* context = nullptr;
    int testStops = 0;
    TScriptLibrary library;
    library.SetPulse = [&](void (*p)(void*), void* c) {
        pulse = p;
        context = c;
    };
    library.StopTest = [&] { ++testStops; };
    TGUITestRunner form(layer, dir.File("roved.ini"), library);
    auto tick = [&] {
        ASSERT_NE(pulse, nullptr);
        pulse(context);
    };

    bool nextRan = false;
    bool pressed = false;
    ITestPtr longTest = Pass("long", [&](TTestResult&) {
        layer.OnEvents = [&] {
            TActionList& actions = form.Actions();
            for (TActionId id : {TActionId::RunAction, TActionId::Alt_R_RunAction, TActionId::RunSelectedTestAction,
                                 TActionId::RescanUserlib, TActionId::RestoreSavedAction, TActionId::SelectAllAction})
                EXPECT_FALSE(actions.GetEnabled(id)) << ActionDefs()[static_cast<std::size_t>(id)].Name;
            // What gets through anyway starts nothing and changes no check box.
            form.ExecuteAction(TActionId::RestoreSavedAction);
            layer.Selected = form.NodeOfTest(longTest);
            EXPECT_TRUE(form.TestTreeKeyPress(' '));
            EXPECT_TRUE(form.TestOfNode(layer.Selected)->GetEnabled());
            // A refresh that handles events does not handle them inside themselves.
            pulse(context);
        };
        tick();
        EXPECT_EQ(testStops, 0);
        // Stop pressed once; the events between tests may come after it.
        layer.OnEvents = [&] {
            if (!std::exchange(pressed, true))
                form.ExecuteAction(TActionId::StopAction);
        };
        tick();
        // As the host answers a stopped script test.
        if (testStops > 0)
            throw Sys::Exception("Test was stopped");
    });
    form.RunModal(Suite("Root", {longTest, Pass("next", [&](TTestResult&) { nextRan = true; })}));
    form.ExecuteAction(TActionId::RunAction);

    EXPECT_EQ(testStops, 1);
    EXPECT_FALSE(nextRan);
    EXPECT_EQ(layer.MaxDepth, 1);
    ASSERT_EQ(layer.FailureCount(), 1);
    EXPECT_EQ(layer.FailureRow(0).Message, "Test was stopped");
    // The pulse is the run's alone.
    EXPECT_EQ(pulse, nullptr);
    EXPECT_TRUE(form.Actions().GetEnabled(TActionId::RunAction));
    EXPECT_TRUE(form.Actions().GetEnabled(TActionId::RestoreSavedAction));
}

// A suite's end hands the window what the program posted to itself, so a command queued
// during a suite stops the run there; the window system is read only when the pulse is
// due, not at every one of many short suites.
TEST(RunDisplayPulseTest, ASuitesEndHandlesPostedCommandsAndReadsTheWindowOnlyOnThePulse)
{
    struct TCountingLayer : TFakeRunnerLayer {
        int Full = 0;
        int Posted = 0;
        std::function<void()> Queued;
        void ProcessMessages() override
        {
            ++Full;
            ProcessPostedMessages();
        }
        void ProcessPostedMessages() override
        {
            ++Posted;
            if (auto command = std::exchange(Queued, nullptr))
                command();
        }
    } layer;
    TestSupport::TTempDir dir;
    TGUITestRunner form(layer, dir.File("roved.ini"), TScriptLibrary{});
    constexpr int Suites = 200;
    auto root = std::make_shared<TestFramework::TTestSuite>("Root");
    for (int i = 0; i < Suites; ++i)
        root->AddTest(Suite("S" + std::to_string(i), {Pass("t" + std::to_string(i))}));
    form.RunModal(root);
    form.ExecuteAction(TActionId::RunAction);
    EXPECT_EQ(form.RunDisplay().Statistics()[StatCell::Run], std::to_string(Suites));
    // Every suite's end, the root's and the run's start had their pass.
    EXPECT_GE(layer.Posted, Suites + 2);
    // A full pass at most once per pulse interval: a whole suite would have to last one.
    EXPECT_LT(layer.Full, Suites / 2);

    bool lastRan = false;
    ITestPtr queueStop = Pass("queues", [&](TTestResult&) {
        layer.Queued = [&] { form.ExecuteAction(TActionId::StopAction); };
    });
    form.RunModal(Suite("Root", {Suite("A", {queueStop, Pass("same suite")}),
                                 Suite("B", {Pass("last", [&](TTestResult&) { lastRan = true; })})}));
    form.ExecuteAction(TActionId::RunAction);
    EXPECT_EQ(form.RunDisplay().Statistics()[StatCell::Run], "2");
    EXPECT_FALSE(lastRan);
}

// The statistics' times run on during a long test whenever the update timer asks for
// them, and settle on the run's own time at its end; the test counts as run, and in the
// score, only once it has ended.
TEST(RunDisplayPulseTest, TheTimesRunOnDuringALongTest)
{
    TestSupport::TTempDir dir;
    TPulsedLayer layer;
    void (*pulse)(void*) = nullptr;
    void* context = nullptr;
    TScriptLibrary library;
    library.SetPulse = [&](void (*p)(void*), void* c) {
        pulse = p;
        context = c;
    };
    TGUITestRunner form(layer, dir.File("roved.ini"), library);
    auto cell = [&](int c) { return form.RunDisplay().Statistics()[static_cast<std::size_t>(c)]; };
    std::string during, runDuring, scoreDuring;
    ITestPtr longTest = Pass("long", [&](TTestResult&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        form.UpdateTimerTimer();
        ASSERT_NE(pulse, nullptr);
        pulse(context);
        during = cell(StatCell::TestTime);
        runDuring = cell(StatCell::Run);
        scoreDuring = form.RunDisplay().ScoreLabel();
    });
    form.RunModal(Suite("Root", {longTest}));
    form.ExecuteAction(TActionId::RunAction);

    // Formatted durations of one width compare as their times do.
    EXPECT_GE(during, FormatDuration(120));
    EXPECT_LT(during, FormatDuration(60000));
    EXPECT_EQ(runDuring, "0");
    EXPECT_EQ(scoreDuring, "0%");
    EXPECT_EQ(cell(StatCell::Run), "1");
    EXPECT_EQ(form.RunDisplay().ScoreLabel(), "100%");
    EXPECT_GE(cell(StatCell::TestTime), during);
    EXPECT_EQ(cell(StatCell::TotalTime), cell(StatCell::TestTime));
}

// With a thousand failures every row must say which test it is, and where it failed.
TEST_F(RunDisplayTest, FailureRowsCarryPathTimeAndScriptPosition)
{
    auto slow = Pass("T1", [](TTestResult&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        throw TestFramework::ETestFailure("Csv.lua:35: expected 1");
    });
    Show(Suite("WexelRunner.so", {Suite("Csv", {Suite("Parse", {slow})}), Suite("Orders", {Fail("T1", "plain")})}));
    Run();
    ASSERT_EQ(Layer.RowDetails.size(), 2u);
    const TFailureRow& positioned = Layer.RowDetails[0];
    EXPECT_EQ(positioned.Path, "Csv/Parse/T1");
    EXPECT_EQ(positioned.Location, "Csv.lua:35");
    EXPECT_EQ(positioned.SourceFile, "Csv.lua");
    EXPECT_EQ(positioned.SourceLine, 35);
    EXPECT_GE(positioned.ElapsedMs, 20);
    EXPECT_EQ(positioned.ElapsedMs, Form->TestOfNode(Node("Parse").Children[0])->ElapsedTestTime());
    const TFailureRow& plain = Layer.RowDetails[1];
    EXPECT_EQ(plain.Path, "Orders/T1");
    EXPECT_EQ(plain.Location, " $00000000");
    EXPECT_EQ(plain.SourceLine, 0);

    Layer.SetFailureSelected(0);
    EXPECT_NE(std::find(Layer.ErrorBox.begin(), Layer.ErrorBox.end(), "+at Csv.lua:35"), Layer.ErrorBox.end());
    Form->UpdateActions();
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::OpenInEditorAction));
    Layer.SetFailureSelected(1);
    Form->UpdateActions();
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::OpenInEditorAction));
}

TEST_F(RunDisplayTest, NextAndPreviousFailureFollowTheListAsShownRoundTheEnds)
{
    Show(Suite("Root", {Fail("a"), Pass("p"), Fail("b"), Err("c")}));
    Form->UpdateActions();
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::NextFailureAction));
    Run();
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::NextFailureAction));
    // Sorted as the user left it: c, a, b.
    Layer.ShownOrder = {2, 0, 1};
    std::vector<std::string> visited;
    auto step = [&](TActionId id) {
        Form->ExecuteAction(id);
        const int row = Layer.FailureSelected();
        EXPECT_EQ(Layer.Selected, Layer.FailureNode(row));
        EXPECT_EQ(Layer.ScrolledTo, Layer.FailureNode(row));
        visited.push_back(Layer.Selected->Caption);
    };
    for (int i = 0; i < 4; ++i)
        step(TActionId::NextFailureAction);
    step(TActionId::PreviousFailureAction);
    step(TActionId::PreviousFailureAction);
    EXPECT_EQ(visited, (std::vector<std::string>{"c", "a", "b", "c", "b", "a"}));
    // The row's details show as for a click.
    EXPECT_EQ(Layer.ErrorBox[1], "+a: ");
}

class OpenInEditorTest : public RunDisplayTest {
protected:
    TestSupport::TTempDir Scripts;
    std::string Declared = Scripts.File("Orders.qlx");
    TestSupport::TEnvOverride Visual{"VISUAL", ""};
    TestSupport::TEnvOverride Editor{"EDITOR", ""};

    void SetUp() override
    {
        RunDisplayTest::SetUp();
        TestSupport::WriteFile(Declared, "-- the library\n");
        TestSupport::WriteFile(Scripts.File("Money.lua"), "-- a helper beside it\n");
        Form.reset();
        TScriptLibrary library = GUITestRunner::Testing::BridgeLibrary();
        library.DeclaredFile = [this](const ITestPtr&) { return Declared; };
        Form = std::make_unique<TGUITestRunner>(Layer, Dir.File("roved.ini"), library);
    }
    // Runs a failure with the message and opens it from its row.
    void Open(const std::string& message)
    {
        Show(Suite("Root", {Fail("t", message)}));
        Run();
        Layer.SetFailureSelected(0);
        Layer.Started.clear();
        Layer.StatusLines.clear();
        Form->FailureListViewDblClick();
    }
};

TEST_F(OpenInEditorTest, StartsTheEditorAtTheLineOfTheLibraryThatTheMessageNames)
{
    Sys::SetEnv("VISUAL", "ed -s");
    Sys::SetEnv("EDITOR", "vi");
    // A library of source runs under its bare name; the declaration knows its path.
    Open("Orders.qlx:30: expected 1");
    ASSERT_EQ(Layer.Started.size(), 1u);
    EXPECT_EQ(Layer.Started[0], (std::vector<std::string>{"ed", "-s", "+30", Declared}));
    // A file of another name is looked for beside the library.
    Open("Money.lua:7: bad sum");
    ASSERT_EQ(Layer.Started.size(), 1u);
    EXPECT_EQ(Layer.Started[0], (std::vector<std::string>{"ed", "-s", "+7", Scripts.File("Money.lua")}));
    // The sources of compiled libraries are where coverage is told they are.
    TestSupport::TTempDir sources;
    TestSupport::WriteFile(sources.File("Tax.lua"), "-- compiled elsewhere\n");
    TestSupport::TEnvOverride sourceDirs{"WEXEL_COVERAGE_SOURCES", "/nowhere;" + sources.Path()};
    Open("Tax.lua:2: bad rate");
    ASSERT_EQ(Layer.Started.size(), 1u);
    EXPECT_EQ(Layer.Started[0], (std::vector<std::string>{"ed", "-s", "+2", sources.File("Tax.lua")}));

    Sys::SetEnv("VISUAL", "");
    Open("Orders.qlx:30: expected 1");
    EXPECT_EQ(Layer.Started[0], (std::vector<std::string>{"vi", "+30", Declared}));

    // The settings' command wins, with the file and line where it puts them; the words
    // of the message never reach a shell, however they look.
    TestSupport::WriteFile(Dir.File("roved.ini"), "[GUITestRunner Config]\r\nEditorCommand=\"my editor\" --goto %f:%l\r\n");
    Form->ExecuteAction(TActionId::RestoreSavedAction);
    Open("Orders.qlx:30: $(touch x); `rm -rf`");
    EXPECT_EQ(Layer.Started[0], (std::vector<std::string>{"my editor", "--goto", Declared + ":30"}));
}

TEST_F(OpenInEditorTest, SaysInTheStatusLineWhatStandsInTheWay)
{
    Open("Orders.qlx:30: expected 1");
    EXPECT_TRUE(Layer.Started.empty());
    ASSERT_EQ(Layer.StatusLines.size(), 1u);
    EXPECT_NE(Layer.StatusLines[0].find("No editor to open Orders.qlx:30"), std::string::npos);

    Sys::SetEnv("EDITOR", "vi");
    Open("Gone.lua:3: expected 1");
    EXPECT_TRUE(Layer.Started.empty());
    EXPECT_NE(Layer.StatusLines.at(0).find("Cannot open Gone.lua:3"), std::string::npos);

    Layer.StartSucceeds = false;
    Open("Orders.qlx:30: expected 1");
    EXPECT_NE(Layer.StatusLines.at(0).find("vi could not be started"), std::string::npos);

    Open("no position here");
    EXPECT_TRUE(Layer.Started.empty());
    EXPECT_EQ(Layer.StatusLines.size(), 1u);
}

} // namespace

// The tree's filter box and the runs of chosen tests (Run Failed, Run Selected on a
// suite, Run under a filter), driven through the fake layer.

#include "FakeHost.h"
#include "FakeRunnerLayer.h"
#include "HostProcess.h"

#include "core/AbstractTest.h"
#include "core/TestExceptions.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

namespace {

using namespace GUITestRunner;
using GUITestRunner::Testing::TFakeRunnerLayer;
using TestFramework::ITestPtr;
using TestFramework::TTestResult;

// A single test that counts as run the way a script test does, and fails when asked.
class TProbe : public TestFramework::TAbstractTest {
public:
    TProbe(std::string name, bool fails, std::function<void()> body = {})
        : TAbstractTest(std::move(name)), FFails(fails), FBody(std::move(body))
    {
    }
    void RunWithFixture(TTestResult* result) override
    {
        if (result->ShouldRunTest(shared_from_this())) {
            ++result->RunTests;
            TAbstractTest::RunWithFixture(result);
        }
    }
    void RunTest(TTestResult*) override
    {
        if (FBody)
            FBody();
        if (FFails)
            throw TestFramework::ETestFailure("expected 1");
    }

private:
    bool FFails;
    std::function<void()> FBody;
};

ITestPtr Pass(std::string name) { return std::make_shared<TProbe>(std::move(name), false); }
ITestPtr Fail(std::string name) { return std::make_shared<TProbe>(std::move(name), true); }
using GUITestRunner::Testing::Suite;

class TreeFilterTest : public ::testing::Test {
protected:
    TestSupport::TTempDir Dir;
    TFakeRunnerLayer Layer;
    std::unique_ptr<TGUITestRunner> Form =
        std::make_unique<TGUITestRunner>(Layer, Dir.File("roved.ini"), GUITestRunner::Testing::BridgeLibrary());

    void SetUp() override { FakeHost::Reset(); }
    void Show(const ITestPtr& suite)
    {
        suite->SaveConfiguration(Form->ConfigFile(), false, true);
        Form->RunModal(suite);
    }
    TTreeNode& Node(const std::string& caption) { return GUITestRunner::Testing::NodeCaptioned(Form->Tree().Nodes(), caption); }
    ITestPtr Test(const std::string& caption) { return Form->TestOfNode(&Node(caption)); }
    // The captions the tree shows, in pre-order, walking only shown children.
    std::string Shown()
    {
        std::string text;
        const TTreeNodes& nodes = Form->Tree().Nodes();
        std::vector<const TTreeNode*> stack;
        for (auto it = nodes.ShownChildren(nullptr).rbegin(); it != nodes.ShownChildren(nullptr).rend(); ++it)
            stack.push_back(*it);
        while (!stack.empty()) {
            const TTreeNode* n = stack.back();
            stack.pop_back();
            text += (text.empty() ? "" : " ") + n->Caption;
            const auto& children = nodes.ShownChildren(n);
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.push_back(*it);
        }
        return text;
    }
    std::string Cell(int cell) { return Form->RunDisplay().Statistics()[static_cast<std::size_t>(cell)]; }
    std::set<std::string> Ran()
    {
        std::set<std::string> ran;
        TTreeNodes& nodes = Form->Tree().Nodes();
        for (TTreeNode* n = nodes.FirstNode(); n; n = nodes.GetNext(*n))
            if (!n->HasChildren() && n->ImageIndex >= RunImage::Passed)
                ran.insert(n->Caption);
        return ran;
    }
    void Do(TActionId id)
    {
        Form->UpdateActions();
        ASSERT_TRUE(Form->Actions().GetEnabled(id));
        Form->ExecuteAction(id);
    }
};

TEST_F(TreeFilterTest, FilterShowsMatchingPathsWithSuitesAndRunTakesTheCheckedOnesShown)
{
    Show(Suite("Root", {Suite("Csv", {Pass("ReadsQuotes"), Pass("WritesQuotes")}),
                        Suite("Orders", {Pass("ReadsCsvExport"), Pass("Totals")})}));
    Test("WritesQuotes")->SetEnabled(false);
    Layer.Selected = &Node("Totals");

    // The whole path counts, in any case: "csv" finds the suite's tests and a test name.
    Form->FilterChanged("cSV");
    EXPECT_EQ(Shown(), "Root Csv ReadsQuotes WritesQuotes Orders ReadsCsvExport");
    // The selection moves off a node the filter hides, and no check box changed.
    EXPECT_EQ(Layer.Selected, &Node("Root"));
    EXPECT_FALSE(Test("WritesQuotes")->GetEnabled());
    EXPECT_TRUE(Test("Totals")->GetEnabled());

    Form->FilterChanged("csv/reads");
    EXPECT_EQ(Shown(), "Root Csv ReadsQuotes");
    // A rebuild (as after a rescan) keeps what the box says.
    Form->RebuildTree();
    Form->FormShow();
    EXPECT_EQ(Shown(), "Root Csv ReadsQuotes");
    Form->FilterChanged("nothing");
    EXPECT_EQ(Shown(), "");

    Form->FilterChanged("quotes");
    Do(TActionId::RunAction);
    EXPECT_EQ(Ran(), std::set<std::string>{"ReadsQuotes"});
    EXPECT_EQ(Form->RunDisplay().BarMax(TBar::Progress), 1);

    Form->FilterChanged("");
    EXPECT_EQ(Shown(), "Root Csv ReadsQuotes WritesQuotes Orders ReadsCsvExport Totals");
    Do(TActionId::RunAction);
    EXPECT_EQ(Cell(StatCell::Run), "3");
}

TEST_F(TreeFilterTest, RunFailedRunsTheLastFailuresAndLeavesChecksAndSettingsAlone)
{
    // Run Failed is off while a run goes, like Run.
    bool offDuringRun = false;
    auto watch = std::make_shared<TProbe>("a3", true, [this, &offDuringRun] {
        offDuringRun = !Form->Actions().GetEnabled(TActionId::RunFailedAction);
    });
    Show(Suite("Root", {Suite("A", {Fail("a1"), Pass("a2"), watch}), Suite("B", {Pass("b1"), Fail("b2")}),
                        Pass("c")}));
    Form->UpdateActions();
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::RunFailedAction)) << "no run yet";
    Test("c")->SetEnabled(false);
    Do(TActionId::RunAction);
    ASSERT_EQ(Cell(StatCell::Failures), "3");
    const std::string settings = TestSupport::ReadFile(Form->ConfigFile());
    ASSERT_NE(settings.find("c=0"), std::string::npos) << settings;

    Do(TActionId::RunFailedAction);
    EXPECT_TRUE(offDuringRun);
    EXPECT_EQ(Cell(StatCell::Run), "3");
    EXPECT_EQ(Ran(), (std::set<std::string>{"a1", "a3", "b2"}));
    EXPECT_EQ(Form->RunDisplay().BarMax(TBar::Score), 3);
    EXPECT_FALSE(Test("c")->GetEnabled());
    for (const char* name : {"a1", "a2", "b1"})
        EXPECT_TRUE(Test(name)->GetEnabled()) << name;
    EXPECT_EQ(TestSupport::ReadFile(Form->ConfigFile()), settings);
}

TEST_F(TreeFilterTest, RunSelectedOnASuiteRunsItsWholeSubtreeAndNothingElse)
{
    Show(Suite("Root", {Suite("S", {Pass("s1"), Suite("Inner", {Pass("s2")})}), Suite("T", {Pass("t1")}), Pass("u")}));
    // F8 goes by the node, not the check boxes.
    Test("s2")->SetEnabled(false);
    Layer.Selected = &Node("S");
    Do(TActionId::RunSelectedTestAction);
    EXPECT_EQ(Ran(), (std::set<std::string>{"s1", "s2"}));
    EXPECT_EQ(Form->RunDisplay().BarMax(TBar::Progress), 2);
    EXPECT_EQ(Node("T").ImageIndex, RunImage::NotRun);
    EXPECT_FALSE(Test("s2")->GetEnabled());
}

TEST_F(TreeFilterTest, ShowOnlyFailuresHidesWhatDidNotFailAndFollowsEachRun)
{
    Show(Suite("Root", {Suite("A", {Fail("a1"), Pass("a2")}), Suite("B", {Pass("b1"), Fail("b2")})}));
    Do(TActionId::RunAction);
    Do(TActionId::ShowOnlyFailuresAction);
    EXPECT_TRUE(Form->Actions().GetChecked(TActionId::ShowOnlyFailuresAction));
    EXPECT_EQ(Shown(), "Root A a1 B b2");
    // It narrows with the filter box's text.
    Form->FilterChanged("b");
    EXPECT_EQ(Shown(), "Root B b2");
    Form->FilterChanged("");
    // Show Only Failures is a view: Run still runs every checked test, and the tree then
    // shows that run's failures.
    Test("a1")->SetEnabled(false);
    Do(TActionId::RunAction);
    EXPECT_EQ(Cell(StatCell::Run), "3");
    EXPECT_EQ(Shown(), "Root B b2");
    Do(TActionId::ShowOnlyFailuresAction);
    EXPECT_EQ(Shown(), "Root A a1 a2 B b1 b2");
}

TEST(TreeNodesFilter, KeepingTheSameRowsIsNoChangeForAView)
{
    struct TCounter : ITreeNodesObserver {
        int Changes = 0;
        void StructureChanging() override { ++Changes; }
        void NodeChanged(TTreeNode&) override {}
        void NodesDestroyed() override {}
    } counter;
    TTreeNodes nodes;
    TTreeNode& suite = nodes.AddChild(nullptr, "Suite1");
    nodes.AddChild(&suite, "Test1");
    nodes.AddChild(&suite, "Test2");
    nodes.SetObserver(&counter);
    const auto startsWith = [](std::string prefix) {
        return [prefix](const TTreeNode& n) { return n.Caption.rfind(prefix, 0) == 0; };
    };
    EXPECT_FALSE(nodes.Filter(startsWith("T")));
    EXPECT_TRUE(nodes.Filtered());
    EXPECT_TRUE(nodes.Filter(startsWith("Test2")));
    EXPECT_EQ(nodes.ShownChildren(&suite).size(), 1U);
    EXPECT_EQ(nodes.ShownRow(*suite.Children[1]), 0);
    EXPECT_FALSE(nodes.IsShown(*suite.Children[0]));
    EXPECT_TRUE(nodes.Filter({}));
    EXPECT_EQ(counter.Changes, 2);
    nodes.SetObserver(nullptr);
}

} // namespace

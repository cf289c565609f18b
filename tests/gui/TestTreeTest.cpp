// The window's tree logic through the fake layer: check images, enabling through the
// tree, the tree commands and the keyboard and mouse rules.

#include "FakeRunnerLayer.h"
#include "HostProcess.h"

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

namespace {

using namespace GUITestRunner;
using GUITestRunner::Testing::TFakeRunnerLayer;
using TestFramework::ITestPtr;

ITestPtr Case(std::string name)
{
    return std::make_shared<TestFramework::TAbstractTest>(std::move(name));
}

using GUITestRunner::Testing::Suite;

ITestPtr Disabled(ITestPtr test)
{
    test->SetEnabled(false);
    return test;
}

class TestTreeWindow : public ::testing::Test {
protected:
    // Each window keeps its settings apart, so that no test sees another's.
    TestSupport::TTempDir Dir;
    TFakeRunnerLayer Layer;
    std::unique_ptr<TGUITestRunner> Form = std::make_unique<TGUITestRunner>(Layer, Dir.File("roved.ini"));

    // The window loads the tests' states from its settings, so the states a test sets
    // up are saved there first.
    void Show(const ITestPtr& suite)
    {
        suite->SaveConfiguration(Form->ConfigFile(), false, true);
        Form->RunModal(suite);
    }
    TTestTree& Tree() { return Form->Tree(); }

    TTreeNode& Node(const std::string& caption) { return GUITestRunner::Testing::NodeCaptioned(Tree().Nodes(), caption); }
    int Image(const std::string& caption) { return Node(caption).StateIndex; }
    void Select(const std::string& caption) { Layer.Selected = &Node(caption); }
    void Execute(TActionId id) { Form->ExecuteAction(id); }

    void TearDown() override { EXPECT_EQ(Layer.UpdateDepth, 0) << "unbalanced update bracket"; }
};

TEST_F(TestTreeWindow, OneRootWithoutChildrenIsCheckedAndHasNoNextTest)
{
    Show(Suite("Root"));
    ASSERT_EQ(Tree().Nodes().Count(), 1u);
    EXPECT_EQ(Image("Root"), StateImage::Enabled);
    EXPECT_EQ(Layer.Selected, &Node("Root"));
    Execute(TActionId::GoToNextSelectedTestAction);
    Execute(TActionId::GoToPrevSelectedTestAction);
    EXPECT_EQ(Layer.Selected, &Node("Root"));
}

TEST_F(TestTreeWindow, SuiteToggledOffShowsItsChildrenInheritedDisabled)
{
    Show(Suite("Root", {Suite("S", {Case("a"), Suite("T", {Case("b")})}), Case("c")}));
    Select("S");
    EXPECT_TRUE(Form->TestTreeKeyPress(' '));

    EXPECT_EQ(Image("S"), StateImage::Disabled);
    EXPECT_EQ(Image("a"), StateImage::InheritedDisabled);
    EXPECT_EQ(Image("T"), StateImage::InheritedDisabled);
    EXPECT_EQ(Image("b"), StateImage::InheritedDisabled);
    EXPECT_EQ(Image("c"), StateImage::Enabled);
    EXPECT_TRUE(Form->TestOfNode(&Node("a"))->GetEnabled());
}

TEST_F(TestTreeWindow, SelectCurrentOnInheritedDisabledChildRestoresWholeSubtree)
{
    Show(Suite("Root", {Disabled(Suite("S", {Case("a"), Suite("T", {Case("b")})}))}));
    ASSERT_EQ(Image("a"), StateImage::InheritedDisabled);
    Select("a");
    Execute(TActionId::SelectCurrentAction);
    for (const char* name : {"Root", "S", "a", "T", "b"})
        EXPECT_EQ(Image(name), StateImage::Enabled) << name;
}

TEST_F(TestTreeWindow, TogglingInheritedDisabledChildClearsItsOwnFlag)
{
    Show(Suite("Root", {Disabled(Suite("S", {Case("a")}))}));
    Select("a");
    Form->TestTreeKeyPress(' ');
    EXPECT_EQ(Image("a"), StateImage::Disabled);
    EXPECT_EQ(Image("S"), StateImage::Disabled);
    // Enabling it again enables the disabled suite above it.
    Form->TestTreeKeyPress(' ');
    EXPECT_EQ(Image("S"), StateImage::Enabled);
    EXPECT_EQ(Image("a"), StateImage::Enabled);
}

TEST_F(TestTreeWindow, SelectFailedEnablesOnlyFailedTestsAndTheirSuites)
{
    Show(Suite("Root", {Suite("S", {Case("a"), Case("b")}), Case("c")}));
    Execute(TActionId::SelectFailedAction);
    for (const char* name : {"Root", "S", "a", "b", "c"})
        EXPECT_FALSE(Form->TestOfNode(&Node(name))->GetEnabled()) << name;
    EXPECT_EQ(Image("Root"), StateImage::Disabled);
    EXPECT_EQ(Image("a"), StateImage::Disabled);

    Layer.FailureRows = {&Node("b")};
    Execute(TActionId::SelectFailedAction);
    EXPECT_EQ(Image("Root"), StateImage::Enabled);
    EXPECT_EQ(Image("S"), StateImage::Enabled);
    EXPECT_EQ(Image("b"), StateImage::Enabled);
    EXPECT_EQ(Image("a"), StateImage::Disabled);
    EXPECT_EQ(Image("c"), StateImage::Disabled);
}

TEST_F(TestTreeWindow, DeselectCurrentLeavesSiblingsAndAncestorsAlone)
{
    Show(Suite("Root", {Suite("S", {Case("a")}), Suite("T", {Case("b")})}));
    Select("S");
    Execute(TActionId::DeselectCurrentAction);
    EXPECT_EQ(Image("S"), StateImage::Disabled);
    EXPECT_EQ(Image("a"), StateImage::Disabled);
    EXPECT_EQ(Image("Root"), StateImage::Enabled);
    EXPECT_EQ(Image("b"), StateImage::Enabled);
    Execute(TActionId::SelectAllAction);
    EXPECT_EQ(Image("a"), StateImage::Enabled);
}

TEST_F(TestTreeWindow, HideTestNodesCollapsesRootWhoseChildrenAreLeaves)
{
    Show(Suite("Root", {Case("a"), Case("b")}));
    Layer.Selected = nullptr;
    Execute(TActionId::HideTestNodesAction);
    EXPECT_FALSE(Layer.Expanded.count(&Node("Root")));
    EXPECT_EQ(Layer.Selected, &Node("Root"));
    EXPECT_EQ(Layer.ScrolledTo, &Node("Root"));
}

TEST_F(TestTreeWindow, HideTestNodesKeepsSuitesWithGrandchildrenExpanded)
{
    Show(Suite("Root", {Suite("S", {Case("a"), Suite("T", {Case("b")})}), Suite("U", {Case("c")})}));
    Execute(TActionId::HideTestNodesAction);
    EXPECT_TRUE(Layer.Expanded.count(&Node("Root")));
    EXPECT_TRUE(Layer.Expanded.count(&Node("S")));
    EXPECT_FALSE(Layer.Expanded.count(&Node("T")));
    EXPECT_FALSE(Layer.Expanded.count(&Node("U")));
}

TEST_F(TestTreeWindow, HideTestNodesOnOpenOptionAppliesWhenTreeIsBuilt)
{
    Execute(TActionId::HideTestNodesOnOpenAction);
    Show(Suite("Root", {Case("a")}));
    EXPECT_FALSE(Layer.Expanded.count(&Node("Root")));
}

TEST_F(TestTreeWindow, GoToNextAndPreviousSkipDisabledTestsAndOneTestSuites)
{
    Show(Suite("Root", {Suite("A", {Case("a1")}), Disabled(Case("b")), Case("c"),
                        Suite("D", {Disabled(Case("d1")), Case("d2")})}));
    const auto next = [&] { Execute(TActionId::GoToNextSelectedTestAction); return Layer.Selected->Caption; };
    const auto prev = [&] { Execute(TActionId::GoToPrevSelectedTestAction); return Layer.Selected->Caption; };
    EXPECT_EQ(next(), "a1");
    EXPECT_EQ(next(), "c");
    EXPECT_EQ(next(), "d2");
    EXPECT_EQ(next(), "d2");
    EXPECT_EQ(prev(), "c");
    EXPECT_EQ(prev(), "a1");
    EXPECT_EQ(prev(), "a1");
    EXPECT_EQ(Layer.ScrolledTo, &Node("a1"));
}

TEST_F(TestTreeWindow, SpaceWithoutSelectionReachesTheTree)
{
    Show(Suite("Root", {Case("a")}));
    Layer.Selected = nullptr;
    EXPECT_FALSE(Form->TestTreeKeyPress(' '));
    EXPECT_EQ(Image("Root"), StateImage::Enabled);
    Select("a");
    EXPECT_FALSE(Form->TestTreeKeyPress('x'));
    EXPECT_EQ(Image("a"), StateImage::Enabled);
}

TEST_F(TestTreeWindow, ClickTogglesOnlyOnTheStateIcon)
{
    Show(Suite("Root", {Case("a")}));
    Layer.Hits[1] = {&Node("a"), false, true};
    Layer.Hits[2] = {&Node("a"), true, true};
    Layer.Cursor = {40, 1};
    Form->TestTreeClick();
    EXPECT_EQ(Image("a"), StateImage::Enabled);
    Layer.Cursor = {5, 2};
    Form->TestTreeClick();
    EXPECT_EQ(Image("a"), StateImage::Disabled);
}

TEST_F(TestTreeWindow, RightButtonSelectsTheNodeUnderTheMouse)
{
    Show(Suite("Root", {Case("a")}));
    Layer.Hits[7] = {&Node("a"), false, true};
    Form->TestTreeMouseDown(TMouseButton::Left, {10, 7});
    EXPECT_EQ(Layer.Selected, &Node("Root"));
    Form->TestTreeMouseDown(TMouseButton::Right, {10, 8});
    EXPECT_EQ(Layer.Selected, &Node("Root"));
    Form->TestTreeMouseDown(TMouseButton::Right, {10, 7});
    EXPECT_EQ(Layer.Selected, &Node("a"));
}

TEST_F(TestTreeWindow, SelectingANodeSelectsItsFirstFailureRow)
{
    Show(Suite("Root", {Case("a"), Case("b")}));
    Layer.FailureRows = {&Node("a"), &Node("b"), &Node("b")};
    Layer.SelectedFailure = 0;
    Select("b");
    Form->TestTreeChange(&Node("b"));
    EXPECT_EQ(Layer.SelectedFailure, 1);
    Select("Root");
    Form->TestTreeChange(&Node("Root"));
    EXPECT_EQ(Layer.SelectedFailure, -1);
    // Only the selected node counts.
    Form->TestTreeChange(&Node("a"));
    EXPECT_EQ(Layer.SelectedFailure, -1);
}

TEST_F(TestTreeWindow, CopyTestnameAndPropertiesAreForSingleTestsOnly)
{
    Show(Suite("Root", {Suite("S", {Case("only")})}));
    const auto& actions = Form->Actions();
    Select("S");
    Form->UpdateActions();
    Form->pmTestTreePopup();
    EXPECT_FALSE(actions.GetEnabled(TActionId::CopyProcnameToClipboardAction));
    EXPECT_FALSE(actions.GetEnabled(TActionId::TestCasePropertiesAction));
    EXPECT_TRUE(actions.GetEnabled(TActionId::RunSelectedTestAction)) << "one test case";

    Select("only");
    Form->UpdateActions();
    Form->pmTestTreePopup();
    EXPECT_TRUE(actions.GetEnabled(TActionId::CopyProcnameToClipboardAction));
    EXPECT_TRUE(actions.GetEnabled(TActionId::TestCasePropertiesAction));
    Execute(TActionId::CopyProcnameToClipboardAction);
    EXPECT_EQ(Layer.Clipboard, "only");
}

TEST_F(TestTreeWindow, CreationSetsShortcutsAndTreeCommandsFollowTheSuite)
{
    const auto& actions = Form->Actions();
    EXPECT_EQ(actions.GetShortCut(TActionId::GoToNextSelectedTestAction), "Ctrl+Right");
    EXPECT_EQ(actions.GetShortCut(TActionId::GoToPrevSelectedTestAction), "Ctrl+Left");
    for (TActionId leak : {TActionId::FailTestCaseIfMemoryLeakedAction,
                           TActionId::IgnoreMemoryLeakInSetUpTearDownAction,
                           TActionId::ReportMemoryLeakTypeOnShutdownAction}) {
        EXPECT_FALSE(actions.GetEnabled(leak));
        EXPECT_FALSE(actions.GetChecked(leak));
    }
    EXPECT_FALSE(actions.GetEnabled(TActionId::SelectAllAction));
    EXPECT_FALSE(actions.GetEnabled(TActionId::RunAction));

    Show(Suite("Root", {Case("a")}));
    EXPECT_TRUE(actions.GetEnabled(TActionId::ExpandAllNodesAction));
    EXPECT_TRUE(actions.GetEnabled(TActionId::RunAction));
    Form->EnableTreeCommands(false);
    EXPECT_FALSE(actions.GetEnabled(TActionId::HideTestNodesAction));
    EXPECT_TRUE(actions.GetEnabled(TActionId::GoToNextSelectedTestAction)) << "not a tree command";
    Form->AssignSuite(nullptr);
    EXPECT_EQ(Tree().Nodes().Count(), 2u) << "the tree keeps what it shows";
}

TEST_F(TestTreeWindow, NodesAndTestsMapBothWaysWhileTheWindowLives)
{
    ITestPtr a = Case("a");
    Show(Suite("Root", {a}));
    EXPECT_EQ(Form->NodeOfTest(a), &Node("a"));
    EXPECT_EQ(Form->TestOfNode(&Node("a")), a);

    Form.reset();
    EXPECT_EQ(a->GetGUIObject(), nullptr) << "no pointer into freed nodes";
}

TEST_F(TestTreeWindow, BrokenMappingRaisesTheAssertionError)
{
    Show(Suite("Root"));
    TTreeNode stray;
    stray.Data = 1;
    const auto expectAssertion = [](auto call) {
        try {
            call();
            ADD_FAILURE() << "no assertion error";
        } catch (const Sys::EAssertionFailed& e) {
            EXPECT_NE(std::string(e.what()).find("Assertion failure (roved\\src\\GUITestRunner"),
                      std::string::npos) << e.what();
        }
    };
    expectAssertion([&] { Form->TestOfNode(nullptr); });
    expectAssertion([&] { Form->TestOfNode(&stray); });
    expectAssertion([&] { Form->NodeOfTest(Case("unshown")); });
    expectAssertion([&] { Form->NodeOfTest(nullptr); });
}

// The walk before a run counts what the suite counts, and Run's enabling asks the same
// question without the count, whatever the check boxes and empty suites look like.
TEST_F(TestTreeWindow, TheWalkBeforeARunCountsAsTheSuiteDoes)
{
    const ITestPtr root = Suite("Root", {Disabled(Suite("Off", {Case("a"), Case("b")})),
                                         Suite("S", {Disabled(Case("c")), Case("d"), Suite("Empty")}), Case("e")});
    Show(root);
    const auto agrees = [&](int expected) {
        EXPECT_EQ(root->CountEnabledTestCases(), expected);
        EXPECT_EQ(Tree().ResetForRun(), expected);
        EXPECT_EQ(Tree().HasEnabledTestCase(), expected > 0);
    };
    agrees(2);
    // Flags changed behind the tree's back: the walk shows them, and lowers run images.
    Node("a").ImageIndex = RunImage::Error;
    Form->TestOfNode(&Node("Off"))->SetEnabled(true);
    Form->TestOfNode(&Node("e"))->SetEnabled(false);
    agrees(3);
    EXPECT_EQ(Image("a"), StateImage::Enabled);
    EXPECT_EQ(Image("e"), StateImage::Disabled);
    EXPECT_EQ(Node("a").ImageIndex, RunImage::NotRun);
    Select("Root");
    Execute(TActionId::DeselectAllAction);
    agrees(0);
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::RunAction));
    // Only an empty suite checked: nothing to run either.
    Form->TestOfNode(&Node("Root"))->SetEnabled(true);
    Form->TestOfNode(&Node("S"))->SetEnabled(true);
    Form->TestOfNode(&Node("Empty"))->SetEnabled(true);
    agrees(0);
    Form->TestOfNode(&Node("d"))->SetEnabled(true);
    agrees(1);
    Form->UpdateActions();
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::RunAction));
}

// A suite that counts how often it is asked to count.
class TCountingSuite : public TestFramework::TTestSuite {
public:
    using TTestSuite::TTestSuite;
    int CountTestCases() override { return ++Counts, TTestSuite::CountTestCases(); }
    int CountEnabledTestCases() override { return ++Counts, TTestSuite::CountEnabledTestCases(); }
    int Counts = 0;
};

// The action states are updated after every command: with the root selected they must
// not count a hundred thousand tests, and the answers stay the framework's.
TEST_F(TestTreeWindow, ActionStatesAreFoundWithoutCountingTheTree)
{
    auto root = std::make_shared<TCountingSuite>("Root");
    root->AddTest(Suite("One", {Case("a")}));
    root->AddTest(Case("b"));
    Show(root);
    Select("Root");
    root->Counts = 0;
    Form->UpdateActions();
    EXPECT_EQ(root->Counts, 0);
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::RunAction));
    for (const auto& [name, single] : {std::pair{"Root", false}, {"One", false}, {"a", true}, {"b", true}}) {
        Select(name);
        EXPECT_EQ(Tree().SelectedIsTestMethod(), single) << name;
        EXPECT_EQ(TestFramework::IsTestMethod(Form->TestOfNode(&Node(name))), single) << name;
    }
    EXPECT_EQ(root->Counts, 0) << "a suite is told by its kind, never by counting it";
}

} // namespace

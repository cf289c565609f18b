// The run-time properties popup: its texts and highlights for a test and the options,
// the names its lines copy, and its navigation, through the fake layer.

#include "FakeRunnerLayer.h"

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "gui/PropertiesPopup.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace GUITestRunner;
using GUITestRunner::Testing::TFakeRunnerLayer;

std::shared_ptr<TestFramework::TAbstractTest> Case(std::string name)
{
    return std::make_shared<TestFramework::TAbstractTest>(std::move(name));
}

int IndexOf(const std::vector<TPopupLine>& lines, const std::string& name)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].Name == name)
            return static_cast<int>(i);
    throw std::runtime_error("no line " + name);
}

TEST(PropertiesPopup, TextsAndHighlightsFollowTheTestAndTheOptions)
{
    auto test = Case("t");
    TTestCaseProperties p = ComputeTestCaseProperties(*test, {});
    EXPECT_EQ(p.NoChecksText, " FailsOnNoChecksExecuted  := False");
    EXPECT_EQ(p.LeakText, " FailsOnMemoryLeak        := False");
    EXPECT_EQ(p.RecoveryText, " FailsOnMemoryRecovery    := False");
    EXPECT_EQ(p.SetUpTearDownText, " IgnoreSetUpTearDownLeaks := False");
    EXPECT_EQ(p.AllowedSizeText, " AllowedMemoryLeakSize := 0 Bytes");
    for (const TPopupLine& line : PropertyPopupLines(p))
        EXPECT_FALSE(line.Highlight) << line.Name;

    // The option asks for checks that the test does not demand: the test overrides it.
    p = ComputeTestCaseProperties(*test, {.FailIfNoChecksExecuted = true});
    EXPECT_TRUE(p.NoChecksHighlight);
    test->SetFailsOnNoChecksExecuted(true);
    p = ComputeTestCaseProperties(*test, {.FailIfNoChecksExecuted = true});
    EXPECT_FALSE(p.NoChecksHighlight);
    EXPECT_EQ(p.NoChecksText, " FailsOnNoChecksExecuted  := True ");

    // Recovery and the set-up/tear-down leaks count only with leak detection on.
    test->SetFailsOnMemoryRecovery(true);
    test->SetIgnoreSetUpTearDownLeaks(true);
    p = ComputeTestCaseProperties(*test, {});
    EXPECT_EQ(p.RecoveryText, " FailsOnMemoryRecovery    := False");
    EXPECT_EQ(p.SetUpTearDownText, " IgnoreSetUpTearDownLeaks := False");
    EXPECT_FALSE(p.SetUpTearDownHighlight);
    test->SetFailsOnMemoryLeak(true);
    test->SetAllowedMemoryLeakSize(128);
    p = ComputeTestCaseProperties(*test, {});
    EXPECT_EQ(p.RecoveryText, " FailsOnMemoryRecovery    := True ");
    EXPECT_TRUE(p.SetUpTearDownHighlight);
    EXPECT_EQ(p.AllowedSizeText, " AllowedMemoryLeakSize := 128 Bytes");
    EXPECT_FALSE(ComputeTestCaseProperties(*test, {.IgnoreMemoryLeakInSetUpTearDown = true}).SetUpTearDownHighlight);
}

TEST(PropertiesPopup, EachPropertyLineCopiesItsNameWhateverTheValues)
{
    const std::vector<TPopupLine> lines = PropertyPopupLines(ComputeTestCaseProperties(*Case("t"), {}));
    EXPECT_EQ(lines[IndexOf(lines, "FailNoCheckExecutedMenuItem")].PropertyName, "FailsOnNoChecksExecuted");
    EXPECT_EQ(lines[IndexOf(lines, "FailsOnMemoryLeakMenuItem")].PropertyName, "FailsOnMemoryLeak");
    EXPECT_EQ(lines[IndexOf(lines, "AllowedLeakSizeMemuItem")].PropertyName, "AllowedMemoryLeakSize");
    EXPECT_EQ(lines[IndexOf(lines, "FailsOnMemoryRecoveryMenuItem")].PropertyName, "FailsOnMemoryRecovery");
    EXPECT_EQ(lines[IndexOf(lines, "TestCaseIgnoreSetUpTearDownLeaksMenuItem")].PropertyName,
              "IgnoreSetUpTearDownLeaks");
    EXPECT_EQ(PropertyNameOf("  OneWord  "), "OneWord");
    EXPECT_EQ(ValueColumnLeft(283), 175);
}

class PropertiesPopupWindow : public ::testing::Test {
protected:
    TFakeRunnerLayer Layer;
    std::unique_ptr<TGUITestRunner> Form = std::make_unique<TGUITestRunner>(Layer);
    std::shared_ptr<TestFramework::TTestSuite> Root = std::make_shared<TestFramework::TTestSuite>("Root");

    void SetUp() override
    {
        auto suite = std::make_shared<TestFramework::TTestSuite>("S");
        suite->AddTest(Case("a"));
        suite->AddTest(Case("b"));
        Root->AddTest(suite);
        Form->RunModal(Root);
    }
    void Select(const std::string& caption)
    {
        for (TTreeNode* n = Form->Tree().Nodes().FirstNode(); n; n = Form->Tree().Nodes().GetNext(*n))
            if (n->Caption == caption)
                Layer.Selected = n;
    }
    std::string SelectedName() { return Layer.Selected ? Layer.Selected->Caption : ""; }
};

TEST_F(PropertiesPopupWindow, OpensAtItsOffsetForTestMethodsOnly)
{
    Select("S");
    Form->pmTestTreePopup();
    EXPECT_FALSE(Form->Actions().GetEnabled(TActionId::TestCasePropertiesAction));
    Form->ExecuteAction(TActionId::TestCasePropertiesAction);
    EXPECT_TRUE(Layer.PopupsShown.empty()) << "the shortcut does nothing on a suite";

    Select("a");
    Form->pmTestTreePopup();
    EXPECT_TRUE(Form->Actions().GetEnabled(TActionId::TestCasePropertiesAction));
    Form->ExecuteAction(TActionId::TestCasePropertiesAction);
    ASSERT_EQ(Layer.PopupPositions.size(), 1u);
    EXPECT_EQ(Layer.PopupPositions[0].X, 190 + 350);
    EXPECT_EQ(Layer.PopupPositions[0].Y, 105 + 30);
}

TEST_F(PropertiesPopupWindow, NavigationReopensThePopupAndAPropertyLineCopiesItsName)
{
    Select("a");
    const std::vector<TPopupLine> lines = PropertyPopupLines(ComputeTestCaseProperties(*Case("x"), {}));
    const int next = IndexOf(lines, "Next1");
    Layer.PopupChoices = {next, next, IndexOf(lines, "AllowedLeakSizeMemuItem")};
    Form->ExecuteAction(TActionId::TestCasePropertiesAction);

    // a -> b, then b is the last test method: the popup opens again for b, then copies.
    EXPECT_EQ(Layer.PopupsShown.size(), 3u);
    EXPECT_EQ(SelectedName(), "b");
    EXPECT_EQ(Layer.Clipboard, "AllowedMemoryLeakSize");

    // The title line changes nothing and closes the popup.
    Layer.Clipboard.clear();
    Layer.PopupChoices.push_back(IndexOf(lines, "TestCaseProperties"));
    Form->ExecuteAction(TActionId::TestCasePropertiesAction);
    EXPECT_EQ(Layer.PopupsShown.size(), 4u);
    EXPECT_EQ(Layer.Clipboard, "");
}

} // namespace

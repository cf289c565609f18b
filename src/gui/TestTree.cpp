#include "gui/TestTree.h"

#include "core/TestResult.h"
#include "platform/SysUtils.h"

#include <utility>
#include <vector>

namespace GUITestRunner {

using TestFramework::ITestPtr;

namespace {

// The node after the given one in a pre-order walk of top's subtree, nullptr at its end;
// with descend false the node's own children are skipped. Walking instead of recursing
// keeps the stack flat however deep the suites nest.
TTreeNode* NextInSubtree(const TTreeNodes& nodes, const TTreeNode& node, const TTreeNode& top,
                         bool descend)
{
    if (descend && node.HasChildren())
        return node.Children.front();
    for (const TTreeNode* n = &node; n && n != &top; n = n->Parent)
        if (TTreeNode* sibling = nodes.NextSibling(*n))
            return sibling;
    return nullptr;
}

template <class Visit>
void ForEachInSubtree(const TTreeNodes& nodes, TTreeNode& top, Visit visit)
{
    for (TTreeNode* n = &top; n; n = NextInSubtree(nodes, *n, top, true))
        visit(*n);
}

bool Enable(const ITestPtr& test)
{
    test->SetEnabled(true);
    return true;
}

bool Disable(const ITestPtr& test)
{
    test->SetEnabled(false);
    return true;
}

// Whether the test is a single test case, asked the cheap way first: for a suite the
// count alone would walk its whole subtree, a hundred thousand tests under the root.
bool IsSingleTestCase(const ITestPtr& test)
{
    return !TestFramework::Supports<TestFramework::ITestSuite>(test) && TestFramework::IsTestMethod(test);
}

} // namespace

TTestTree::TTestTree(ITreeView& view, IFailureListView& failures, IWindowView& window)
    : FLayer(view), FFailures(failures), FWindow(window)
{
}

TTestTree::~TTestTree()
{
    DetachNodes();
}

void TTestTree::DetachNodes()
{
    // The tests outlive the tree (the registry holds them): a GUI object left behind
    // would point into freed nodes.
    for (const ITestPtr& test : FTests)
        test->SetGUIObject(nullptr);
}

void TTestTree::Clear()
{
    // The bracket lets a view take the whole rebuild as one change.
    TTreeUpdate update(FLayer);
    DetachNodes();
    FNodes.Clear();
    FTests.clear();
    FFilter.Forget();
}

void TTestTree::BuildTestTree(const ITestPtr& suite)
{
    TTreeUpdate update(FLayer);
    Clear();
    if (!suite)
        return;
    // A work list instead of recursion; children are pushed in reverse so they are
    // appended in order.
    std::vector<std::pair<ITestPtr, TTreeNode*>> pending{{suite, nullptr}};
    while (!pending.empty()) {
        auto [test, parent] = std::move(pending.back());
        pending.pop_back();
        TTreeNode& node = FNodes.AddChild(parent, test->GetName());
        node.Data = static_cast<int>(FTests.size());
        FTests.push_back(test);
        const TestFramework::TTestList& children = test->Tests();
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.emplace_back(*child, &node);
    }
    // A rescan keeps what the user narrowed the tree to.
    if (FFilter.Active())
        FFilter.Apply(FNodes);
}

void TTestTree::AttachNodes()
{
    for (TTreeNode* root : FNodes.Roots())
        ForEachInSubtree(FNodes, *root, [this](TTreeNode& node) {
            TestOfNode(&node)->SetGUIObject(&node);
        });
}

ITestPtr TTestTree::TestOfNode(const TTreeNode* node) const
{
    Sys::Assert(node != nullptr, GUITestRunnerUnit, __LINE__);
    Sys::Assert(node->Data >= 0 && static_cast<std::size_t>(node->Data) < FTests.size(),
                GUITestRunnerUnit, __LINE__);
    return FTests[static_cast<std::size_t>(node->Data)];
}

TTreeNode* TTestTree::NodeOfTest(const ITestPtr& test) const
{
    Sys::Assert(test != nullptr, GUITestRunnerUnit, __LINE__);
    auto* node = static_cast<TTreeNode*>(test->GetGUIObject());
    Sys::Assert(node != nullptr, GUITestRunnerUnit, __LINE__);
    return node;
}

void TTestTree::RefreshCheckImage(TTreeNode& node)
{
    int state = StateImage::Enabled;
    // By reference, and checked without a message made each time: this runs for every
    // node before every run.
    if (node.Data < 0 || static_cast<std::size_t>(node.Data) >= FTests.size()) [[unlikely]]
        Sys::AssertionFailure(GUITestRunnerUnit, __LINE__);
    const ITestPtr& test = FTests[static_cast<std::size_t>(node.Data)];
    if (!test->GetEnabled())
        state = StateImage::Disabled;
    else if (node.Parent && node.Parent->StateIndex <= StateImage::InheritedDisabled)
        state = StateImage::InheritedDisabled;
    FNodes.SetStateIndex(node, state);
}

void TTestTree::RefreshCheckImages(TTreeNode& node)
{
    // Pre-order visits a parent before its children, which is what the images rely on.
    ForEachInSubtree(FNodes, node, [this](TTreeNode& n) { RefreshCheckImage(n); });
}

void TTestTree::RefreshAllCheckImages()
{
    if (FNodes.Count() == 0)
        return;
    TTreeUpdate update(FLayer);
    // The store's order, a parent before its children, which is what the images rely on;
    // a walk from node to node costs more than the images themselves.
    FNodes.ForEachNode([this](TTreeNode& n) { RefreshCheckImage(n); });
}

void TTestTree::SetTestEnabled(TTreeNode& node, bool enabled)
{
    TestOfNode(&node)->SetEnabled(enabled);
    TTreeNode* senior = &node;
    if (enabled) {
        for (TTreeNode* ancestor = node.Parent; ancestor; ancestor = ancestor->Parent) {
            ITestPtr test = TestOfNode(ancestor);
            if (!test->GetEnabled()) {
                test->SetEnabled(true);
                RefreshCheckImage(*ancestor);
                senior = ancestor;
            }
        }
    }
    TTreeUpdate update(FLayer);
    RefreshCheckImages(*senior);
}

void TTestTree::ToggleTestEnabled(TTreeNode& node)
{
    SetTestEnabled(node, !TestOfNode(&node)->GetEnabled());
}

void TTestTree::ApplyToSubtree(TTreeNode* node, const TTestOperation& op)
{
    {
        TTreeUpdate update(FLayer);
        for (TTreeNode* n = node; n;) {
            const bool descend = op(TestOfNode(n));
            n = NextInSubtree(FNodes, *n, *node, descend);
        }
    }
    RefreshAllCheckImages();
}

int TTestTree::ResetForRun()
{
    if (FNodes.Count() == 0)
        return 0;
    TTreeUpdate update(FLayer);
    int enabledCases = 0;
    // The store's order puts a parent before its children, so a node's check image knows
    // its parent's. A suite's count is its children's while it is enabled, and nothing
    // otherwise: a leaf shown checked (not disabled, nor under a disabled suite) counts
    // what its test counts, which is nothing for an empty suite.
    FNodes.ForEachNode([this, &enabledCases](TTreeNode& n) {
        FNodes.SetImageIndex(n, RunImage::NotRun);
        RefreshCheckImage(n);
        if (n.StateIndex == StateImage::Enabled && !n.HasChildren())
            enabledCases += FTests[static_cast<std::size_t>(n.Data)]->CountEnabledTestCases();
    });
    return enabledCases;
}

bool TTestTree::HasEnabledTestCase()
{
    for (TTreeNode* root : FNodes.Roots())
        for (TTreeNode* n = root; n;) {
            const ITestPtr& test = FTests[static_cast<std::size_t>(n->Data)];
            const bool enabled = test->GetEnabled();
            if (enabled && !n->HasChildren() && test->CountEnabledTestCases() > 0)
                return true;
            n = NextInSubtree(FNodes, *n, *root, enabled);
        }
    return false;
}

bool TTestTree::SelectedIsTestMethod()
{
    TTreeNode* selected = Selected();
    return selected && IsSingleTestCase(TestOfNode(selected));
}

void TTestTree::SelectAll()
{
    ApplyToSubtree(FNodes.FirstNode(), Enable);
}

void TTestTree::DeselectAll()
{
    ApplyToSubtree(FNodes.FirstNode(), Disable);
}

void TTestTree::SelectFailed()
{
    ApplyToSubtree(FNodes.FirstNode(), Disable);
    const int rows = FFailures.FailureCount();
    for (int row = 0; row < rows; ++row)
        if (TTreeNode* node = FFailures.FailureNode(row))
            SetTestEnabled(*node, true);
}

void TTestTree::SelectCurrent()
{
    TTreeNode* selected = Selected();
    if (!selected)
        return;
    ApplyToSubtree(selected, Enable);
    SetTestEnabled(*selected, true);
}

void TTestTree::DeselectCurrent()
{
    ApplyToSubtree(Selected(), Disable);
}

void TTestTree::HideTestNodes()
{
    TTreeNode* first = FNodes.FirstNode();
    if (!first)
        return;
    TTreeUpdate update(FLayer);
    FLayer.TreeExpand(*first, true);
    CollapseLowestSuiteNodes(*first);
    FLayer.TreeSetSelected(first);
    FLayer.TreeScrollIntoView(*first);
}

void TTestTree::CollapseLowestSuiteNodes(TTreeNode& node)
{
    ForEachInSubtree(FNodes, node, [this](TTreeNode& n) {
        for (const TTreeNode* child : n.Children)
            if (child->HasChildren())
                return;
        FLayer.TreeCollapse(n);
    });
}

void TTestTree::ExpandAll()
{
    FLayer.TreeExpandAll();
    if (TTreeNode* selected = Selected())
        FLayer.TreeScrollIntoView(*selected);
    else if (TTreeNode* first = FNodes.FirstNode())
        FLayer.TreeSetSelected(first);
}

void TTestTree::GoToSelectedTest(TTreeNode* (TTreeNodes::*step)(const TTreeNode&) const)
{
    TTreeNode* selected = Selected();
    if (!selected)
        return;
    for (TTreeNode* n = (FNodes.*step)(*selected); n; n = (FNodes.*step)(*n)) {
        ITestPtr test = TestOfNode(n);
        if (test->GetEnabled() && IsSingleTestCase(test) && FNodes.IsShown(*n)) {
            FLayer.TreeSetSelected(n);
            FLayer.TreeScrollIntoView(*n);
            return;
        }
    }
}

void TTestTree::GoToNextSelectedTest()
{
    GoToSelectedTest(&TTreeNodes::GetNext);
}

void TTestTree::GoToPrevSelectedTest()
{
    GoToSelectedTest(&TTreeNodes::GetPrev);
}

void TTestTree::CopyTestName()
{
    if (TTreeNode* selected = Selected())
        FWindow.SetClipboardText(selected->Caption);
}

// --- filter and run sets ---

bool TTestTree::ApplyFilter()
{
    TTreeUpdate update(FLayer);
    return FFilter.Apply(FNodes);
}

bool TTestTree::HasTestCase(TTreeNode& node)
{
    for (TTreeNode* n = &node; n; n = NextInSubtree(FNodes, *n, node, true))
        if (!n->HasChildren() && TestOfNode(n)->CountTestCases() > 0)
            return true;
    return false;
}

TTreeNode* TTestTree::FirstShown() const
{
    const std::vector<TTreeNode*>& roots = FNodes.ShownChildren(nullptr);
    return roots.empty() ? nullptr : roots.front();
}

TRunSet TTestTree::RunSetOf(const std::vector<TTreeNode*>& tops, bool checkedOnly, bool matchingOnly)
{
    TRunSet set;
    // A suite is admitted only with a test case of its own admitted, so that no suite
    // runs its set-up for nothing.
    const auto admit = [this, &set](TTreeNode& leaf) {
        const ITestPtr test = TestOfNode(&leaf);
        if (!set.Tests.insert(test.get()).second)
            return;
        set.Count += test->CountTestCases();
        for (TTreeNode* n = leaf.Parent; n && set.Tests.insert(TestOfNode(n).get()).second; n = n->Parent) {
        }
    };
    for (TTreeNode* top : tops) {
        if (!top)
            continue;
        for (TTreeNode* n = top; n;) {
            const bool checked = !checkedOnly || TestOfNode(n)->GetEnabled();
            if (checked && !n->HasChildren() && (!matchingOnly || FFilter.MatchesText(*n)))
                admit(*n);
            n = NextInSubtree(FNodes, *n, *top, checked);
        }
    }
    return set;
}

} // namespace GUITestRunner

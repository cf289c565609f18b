#pragma once
// The test tree of the window: one node per test, the mapping between nodes and tests,
// the check images, enabling and disabling tests through the tree, and the tree
// commands. Plain C++ over the widget layer.

#include "core/TestInterfaces.h"
#include "gui/RunnerLayer.h"
#include "gui/TreeFilter.h"
#include "gui/TreeNodes.h"

#include <functional>
#include <unordered_set>
#include <vector>

namespace GUITestRunner {

// The unit the window's assertion errors name.
inline constexpr const char* GUITestRunnerUnit = "roved\\src\\GUITestRunner";

// Check images (state icons).
namespace StateImage {
inline constexpr int None = 0;
inline constexpr int Disabled = 1;
inline constexpr int InheritedDisabled = 2;
inline constexpr int Enabled = 3;
inline constexpr int Count = 4;
} // namespace StateImage

// Run images (node images and failure rows).
namespace RunImage {
inline constexpr int NotRun = 0;
inline constexpr int Running = 1;
inline constexpr int Passed = 2;
inline constexpr int PassedWithNotice = 3;
inline constexpr int Failed = 4;
inline constexpr int Error = 5;
inline constexpr int Count = 6;
} // namespace RunImage

// An operation applied to each test of a subtree; false skips the test's children.
using TTestOperation = std::function<bool(const TestFramework::ITestPtr&)>;

// The tests a run admits, by identity, suites included, and how many test cases they hold.
struct TRunSet {
    std::unordered_set<const TestFramework::ITest*> Tests;
    int Count = 0;
};

class TTestTree {
public:
    // The failure list is read by SelectFailed, the window takes the copied test name.
    TTestTree(ITreeView& view, IFailureListView& failures, IWindowView& window);
    ~TTestTree();
    TTestTree(const TTestTree&) = delete;
    TTestTree& operator=(const TTestTree&) = delete;

    TTreeNodes& Nodes() { return FNodes; }
    const TestFramework::TTestList& TestList() const { return FTests; }

    // Removes every node and empties the test list.
    void Clear();
    // Clears, then adds the suite's subtree, a node per test; nothing without a suite.
    void BuildTestTree(const TestFramework::ITestPtr& suite);
    // Gives each node's test that node as its GUI object, walking in pre-order.
    void AttachNodes();

    // Both raise the window's assertion error when the mapping does not hold.
    TestFramework::ITestPtr TestOfNode(const TTreeNode* node) const;
    TTreeNode* NodeOfTest(const TestFramework::ITestPtr& test) const;

    void RefreshCheckImage(TTreeNode& node);
    // The node, then its descendants, a parent always before its children.
    void RefreshCheckImages(TTreeNode& node);
    void RefreshAllCheckImages();
    // Enabling also enables every disabled ancestor; disabling touches only the node.
    void SetTestEnabled(TTreeNode& node, bool enabled);
    void ToggleTestEnabled(TTreeNode& node);
    void ApplyToSubtree(TTreeNode* node, const TTestOperation& op);
    // Before a run, in one walk over the nodes: every run image lowered, every check image
    // refreshed; answers the enabled test cases, as the root suite would count them.
    int ResetForRun();
    // Whether some test case would run by the check boxes; stops at the first one.
    bool HasEnabledTestCase();

    TTreeNode* Selected() { return FLayer.TreeSelected(); }
    // Whether a node is selected and its test is a single test case.
    bool SelectedIsTestMethod();

    // --- tree commands ---
    void SelectAll();
    void DeselectAll();
    // Disables everything, then enables the tests of the failure list's rows.
    void SelectFailed();
    void SelectCurrent();
    void DeselectCurrent();
    void HideTestNodes();
    void ExpandAll();
    void GoToNextSelectedTest();
    void GoToPrevSelectedTest();
    void CopyTestName();
    // Collapses every node of the subtree whose children are all leaves.
    void CollapseLowestSuiteNodes(TTreeNode& node);

    // --- filter and run sets ---
    TTreeFilter& Filter() { return FFilter; }
    // Shows what the filter lets through, in one update of the view; true when the nodes
    // shown changed.
    bool ApplyFilter();
    // Whether the node's subtree holds a test case; stops at the first one, where counting
    // would walk a hundred thousand tests under the root.
    bool HasTestCase(TTreeNode& node);
    // The first node shown, nullptr when the filter lets nothing through.
    TTreeNode* FirstShown() const;
    // The test cases under the given nodes (each node's whole subtree) with their suites.
    // checkedOnly leaves out unchecked tests and everything under an unchecked suite, as
    // a run of the check boxes does; matchingOnly leaves out tests whose path does not
    // contain the filter's text.
    TRunSet RunSetOf(const std::vector<TTreeNode*>& tops, bool checkedOnly, bool matchingOnly);

private:
    // Steps in pre-order until an enabled single test case; stays put when none comes.
    void GoToSelectedTest(TTreeNode* (TTreeNodes::*step)(const TTreeNode&) const);
    void DetachNodes();

    ITreeView& FLayer;
    IFailureListView& FFailures;
    IWindowView& FWindow;
    TTreeNodes FNodes;
    // One entry per node; a node's Data is its index here.
    TestFramework::TTestList FTests;
    TTreeFilter FFilter;
};

} // namespace GUITestRunner

#pragma once
// A widget layer without widgets: it keeps the view state the logic sets (expansion,
// selection, failure rows, clipboard) and answers hit tests from a table, so the
// window's logic runs in tests without a display.

#include "bridge/HostTables.h"
#include "bridge/TestCaseQuill.h"
#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "gui/RunnerLayer.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace GUITestRunner::Testing {

// A suite of the given tests, as the window tests build their trees.
inline TestFramework::ITestPtr Suite(std::string name, std::initializer_list<TestFramework::ITestPtr> children = {})
{
    auto suite = std::make_shared<TestFramework::TTestSuite>(std::move(name));
    for (const TestFramework::ITestPtr& child : children)
        suite->AddTest(child);
    return suite;
}

// The first node, in the tree's order, that shows the caption.
inline TTreeNode& NodeCaptioned(TTreeNodes& nodes, const std::string& caption)
{
    for (TTreeNode* n = nodes.FirstNode(); n; n = nodes.GetNext(*n))
        if (n->Caption == caption)
            return *n;
    throw std::runtime_error("no node " + caption);
}

// The script library as the window module hands it over: the bridge's host tables and
// its adapter, if one is set.
inline TScriptLibrary BridgeLibrary()
{
    return {[] { Wexel::RefreshHostTables(); },
            [] {
                Wexel::RefreshHostTables();
                TestFramework::ClearRegistry();
                if (Wexel::WexelAdapter)
                    Wexel::WexelAdapter->RegisterTests();
            },
            {},
            {},
            [](const TestFramework::ITestPtr& test) {
                const auto* script = dynamic_cast<const Wexel::TTestCaseQuill*>(test.get());
                return script ? script->DeclFile() : std::string();
            }};
}

class TFakeRunnerLayer : public IRunnerLayer {
public:
    TGUITestRunner* Form = nullptr;
    std::set<const TTreeNode*> Expanded;
    TTreeNode* Selected = nullptr;
    TTreeNode* ScrolledTo = nullptr;
    int UpdateDepth = 0;
    std::string Clipboard;
    std::vector<TTreeNode*> FailureRows;
    int SelectedFailure = -1;
    bool Closed = false;
    TPoint Cursor;
    // Hit tests answer from here by the point's Y (one row per Y); no entry is no node.
    std::map<int, THitTest> Hits;

    void Attach(TGUITestRunner& form) override { Form = &form; }
    void ShowModal() override { Form->FormShow(); }
    void Close() override { Closed = true; }
    void ProcessMessages() override {}
    void ProcessPostedMessages() override {}
    void Repaint() override {}
    void AssignImageLists() override {}
    void ActionChanged(TActionId) override {}
    // The popup answers from here, one choice per opening; -1 (closed) once they run out.
    std::vector<int> PopupChoices;
    std::vector<std::vector<TPopupLine>> PopupsShown;
    std::vector<TPoint> PopupPositions;
    TPoint WindowTopLeft() override { return {190, 105}; }
    int ShowPropertiesPopup(const std::vector<TPopupLine>& lines, TPoint at) override
    {
        PopupsShown.push_back(lines);
        PopupPositions.push_back(at);
        if (PopupsShown.size() > PopupChoices.size())
            return -1;
        return PopupChoices[PopupsShown.size() - 1];
    }
    void TreeBeginUpdate() override { ++UpdateDepth; }
    void TreeEndUpdate() override { --UpdateDepth; }
    void TreeExpand(TTreeNode& node, bool recurse) override
    {
        Expanded.insert(&node);
        if (recurse)
            for (TTreeNode* child : node.Children)
                TreeExpand(*child, true);
    }
    void TreeCollapse(TTreeNode& node) override { Expanded.erase(&node); }
    void TreeExpandAll() override
    {
        for (TTreeNode* root : Form->Tree().Nodes().Roots())
            TreeExpand(*root, true);
    }
    void TreeScrollIntoView(TTreeNode& node) override { ScrolledTo = &node; }
    TTreeNode* TreeSelected() override { return Selected; }
    void TreeSetSelected(TTreeNode* node) override { Selected = node; }
    TPoint TreeCursorPos() override { return Cursor; }
    THitTest TreeHitTest(TPoint pt) override
    {
        auto hit = Hits.find(pt.Y);
        return hit == Hits.end() ? THitTest{} : hit->second;
    }
    int FailureCount() override { return static_cast<int>(FailureRows.size()); }
    TTreeNode* FailureNode(int row) override { return FailureRows.at(static_cast<std::size_t>(row)); }
    int FailureSelected() override { return SelectedFailure; }
    // Like a list view, a change of selection is reported to the form.
    void SetFailureSelected(int row) override
    {
        if (row == SelectedFailure)
            return;
        if (const int old = SelectedFailure; old >= 0) {
            SelectedFailure = -1;
            Form->FailureListViewSelectItem(old, false);
        }
        SelectedFailure = row;
        if (row >= 0)
            Form->FailureListViewSelectItem(row, true);
    }
    void ErrorBoxClear() override { ErrorBox.clear(); }
    void SetClipboardText(const std::string& text) override { Clipboard = text; }
    void CreateUpdateTimer(int) override {}
    void FreeUpdateTimer() override {}

    // --- run display ---
    // What the error box was given, one entry per call: "+text" inserted, "\ntext" a line
    // added, "=size,bold,colour" new attributes (colour "-" is the window text colour).
    std::vector<std::string> ErrorBox;
    // Rows added through FailureAddRow; FailureRows holds their nodes too.
    std::vector<TFailureRow> RowDetails;
    TStatistics Statistics;
    int StatisticsWrites = 0;
    bool TimerEnabled = false;

    void FailureAddRow(const TFailureRow& row) override
    {
        RowDetails.push_back(row);
        FailureRows.push_back(row.Node);
    }
    const TFailureRow& FailureRow(int row) override
    {
        // Rows a test placed directly in FailureRows carry only their node.
        RowDetails.resize(std::max(RowDetails.size(), FailureRows.size()));
        TFailureRow& details = RowDetails.at(static_cast<std::size_t>(row));
        details.Node = FailureRows.at(static_cast<std::size_t>(row));
        return details;
    }
    void FailureClear() override
    {
        RowDetails.clear();
        FailureRows.clear();
        SelectedFailure = -1;
    }
    void SetStatistics(const TStatistics& cells) override
    {
        Statistics = cells;
        ++StatisticsWrites;
    }
    void SetBar(TBar, int, int) override {}
    void SetScoreBarColor(std::optional<TColor>) override {}
    void SetScoreLabel(const std::string&) override {}
    int FontSize() override { return 8; }
    void ErrorBoxSetAttributes(const TTextAttributes& a) override
    {
        const std::string colour =
            a.Color ? std::to_string(a.Color->R) + "." + std::to_string(a.Color->G) + "." + std::to_string(a.Color->B)
                    : "-";
        ErrorBox.push_back("=" + std::to_string(a.Size) + "," + (a.Bold ? "b" : "") + "," + colour);
    }
    void ErrorBoxInsert(const std::string& text) override { ErrorBox.push_back("+" + text); }
    void ErrorBoxAddLine(const std::string& text) override { ErrorBox.push_back("\n" + text); }
    int ErrorBoxLineCount() override
    {
        return static_cast<int>(std::count_if(ErrorBox.begin(), ErrorBox.end(),
                                              [](const std::string& e) { return e[0] != '='; }));
    }
    std::string ErrorBoxText() override
    {
        std::string text;
        for (const std::string& e : ErrorBox)
            if (e[0] != '=')
                text += (e[0] == '\n' && !text.empty() ? "\n" : "") + e.substr(1);
        return text;
    }
    void ShowRunningNode(TTreeNode& node, bool scroll) override
    {
        if (scroll)
            ScrolledTo = &node;
    }
    void RepaintResults() override {}
    void RepaintErrorBox() override {}
    void SetUpdateTimerEnabled(bool enabled) override { TimerEnabled = enabled; }

    // --- window placement, panels and columns (settings) ---
    TBounds Bounds{190, 105, 500, 500};
    bool Maximized = false;
    int ResultsHeight = 174;
    int ErrorBoxHeight = 75;
    int ErrorBoxTop = 400;
    int ErrorBoxSplitterTop = 394;
    bool ErrorBoxVisible = true;
    std::vector<int> ColumnWidths{120, 100, 200, 50};

    TBounds WindowBounds() override { return Bounds; }
    void SetWindowBounds(const TBounds& bounds) override { Bounds = bounds; }
    bool WindowMaximized() override { return Maximized; }
    void MaximizeWindow() override { Maximized = true; }
    TBounds Screen{0, 0, 1920, 1080};
    TBounds ScreenArea() override { return Screen; }
    int ResultsPanelHeight() override { return ResultsHeight; }
    void SetResultsPanelHeight(int height) override { ResultsHeight = height; }
    int ErrorBoxPanelHeight() override { return ErrorBoxHeight; }
    void SetErrorBoxPanelHeight(int height) override { ErrorBoxHeight = height; }
    int ErrorBoxPanelTop() override { return ErrorBoxTop; }
    void SetErrorBoxSplitterTop(int top) override { ErrorBoxSplitterTop = top; }
    void SetErrorBoxVisible(bool visible) override { ErrorBoxVisible = visible; }
    int FailureColumnCount() override { return static_cast<int>(ColumnWidths.size()); }
    int FailureColumnWidth(int column) override { return ColumnWidths.at(static_cast<std::size_t>(column)); }
    void SetFailureColumnWidth(int column, int width) override { ColumnWidths.at(static_cast<std::size_t>(column)) = width; }

    // --- sorted failure rows, the status line and started programs ---
    // The rows in the order shown; empty shows them in the order added.
    std::vector<int> ShownOrder;
    std::vector<std::string> StatusLines;
    std::vector<std::vector<std::string>> Started;
    bool StartSucceeds = true;

    int FailureRowShownAt(int position) override
    {
        return ShownOrder.empty() ? position : ShownOrder.at(static_cast<std::size_t>(position));
    }
    int FailurePositionOf(int row) override
    {
        if (ShownOrder.empty())
            return row;
        return static_cast<int>(std::find(ShownOrder.begin(), ShownOrder.end(), row) - ShownOrder.begin());
    }
    void FailureSetTime(int row, std::int64_t ms) override { RowDetails.at(static_cast<std::size_t>(row)).ElapsedMs = ms; }
    void ShowStatusText(const std::string& text) override { StatusLines.push_back(text); }
    bool StartDetached(const std::vector<std::string>& argv) override
    {
        Started.push_back(argv);
        return StartSucceeds;
    }
};

} // namespace GUITestRunner::Testing

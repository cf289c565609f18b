#pragma once
// A widget layer without widgets: it keeps the view state the logic sets (expansion,
// selection, failure rows, clipboard) and answers hit tests from a table, so the
// window's logic runs in tests without a display.

#include "gui/GUITestRunner.h"
#include "gui/RunnerLayer.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace GUITestRunner::Testing {

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
    void SetFailureSelected(int row) override { SelectedFailure = row; }
    void ErrorBoxClear() override {}
    void SetClipboardText(const std::string& text) override { Clipboard = text; }
    void CreateUpdateTimer(int) override {}
    void FreeUpdateTimer() override {}

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
};

} // namespace GUITestRunner::Testing

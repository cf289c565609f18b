#pragma once
// The runner window in Qt 6 Widgets: the form's components under their names, actions,
// menus and tool bar built from the action tables, and the widget layer the logic runs
// on. Widgets only pass events on to the form and show the form's state.

#include "gui/RunnerLayer.h"
#include "gui/qt/RunnerImages.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QPoint>
#include <QTextCharFormat>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTextEdit;
class QItemSelection;
class QTimer;
class QToolBar;
class QTreeView;
class QTreeWidget;

namespace GUITestRunner::QtLayer {

class TTestTreeModel;

class TQtRunnerLayer : public QMainWindow, public IRunnerLayer {
public:
    TQtRunnerLayer();
    ~TQtRunnerLayer() override;

    QTreeView* TestTree() const { return FTestTree; }
    TTestTreeModel* TreeModel() const { return FModel.get(); }
    QAction* Action(TActionId id) const { return FActions[static_cast<std::size_t>(id)]; }
    // The rectangle of the node's state icon in viewport coordinates; empty when the
    // node is not shown.
    QRect StateIconRect(const TTreeNode& node) const;

    // IRunnerLayer
    void Attach(TGUITestRunner& form) override;
    void ShowModal() override;
    void Close() override;
    void ProcessMessages() override;
    void Repaint() override;
    void AssignImageLists() override;
    void ActionChanged(TActionId id) override;
    TPoint WindowTopLeft() override;
    int ShowPropertiesPopup(const std::vector<TPopupLine>& lines, TPoint screenPos) override;
    void TreeBeginUpdate() override;
    void TreeEndUpdate() override;
    void TreeExpand(TTreeNode& node, bool recurse) override;
    void TreeCollapse(TTreeNode& node) override;
    void TreeExpandAll() override;
    void TreeScrollIntoView(TTreeNode& node) override;
    TTreeNode* TreeSelected() override;
    void TreeSetSelected(TTreeNode* node) override;
    TPoint TreeCursorPos() override;
    THitTest TreeHitTest(TPoint pt) override;
    int FailureCount() override;
    TTreeNode* FailureNode(int row) override;
    int FailureSelected() override;
    void SetFailureSelected(int row) override;
    void ErrorBoxClear() override;
    void SetClipboardText(const std::string& text) override;
    void CreateUpdateTimer(int intervalMs) override;
    void FreeUpdateTimer() override;

    // --- run display ---
    void FailureAddRow(const TFailureRow& row) override;
    const TFailureRow& FailureRow(int row) override;
    void FailureClear() override;
    void SetStatistics(const TStatistics& cells) override;
    void SetBar(TBar bar, int maximum, int position) override;
    void SetScoreBarColor(std::optional<TColor> color) override;
    void SetScoreLabel(const std::string& text) override;
    int FontSize() override;
    void ErrorBoxSetAttributes(const TTextAttributes& attributes) override;
    void ErrorBoxInsert(const std::string& text) override;
    void ErrorBoxAddLine(const std::string& text) override;
    int ErrorBoxLineCount() override;
    std::string ErrorBoxText() override;
    void ShowRunningNode(TTreeNode& node, bool scroll) override;
    void RepaintResults() override;
    void RepaintErrorBox() override;
    void SetUpdateTimerEnabled(bool enabled) override;
    // Paints now what the run display has changed, the way the paint clock would.
    void PaintNow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildComponents();
    void BuildActions();
    QMenu* BuildMenu(const TMenuDef& def, QWidget* parent);
    QAction* BuildMenuItem(const TMenuItemDef& def, QWidget* owner);
    void SyncAction(TActionId id);
    // Runs a form handler; what escapes is shown to the user, as the message loop would.
    void Dispatch(const std::function<void()>& handler);
    void FlushTree();
    bool TreeKeyPress(QKeyEvent& event);
    bool TreeMouseEvent(QEvent& event);

    TGUITestRunner* FForm = nullptr;
    std::unique_ptr<TImageLists> FImages;
    std::unique_ptr<TTestTreeModel> FModel;
    int FUpdateDepth = 0;
    bool FFlushQueued = false;
    QEventLoop FModalLoop;
    // Where the mouse last was over the tree: the cursor position of the event being
    // handled, also when the event was synthesised and the real cursor never moved.
    QPoint FTreeCursor;
    bool FSkipNextRelease = false;

    std::array<QAction*, ActionCount> FActions{};
    // The menu items of each action, which show its state under their own names.
    std::array<std::vector<QAction*>, ActionCount> FItems;

    QTreeView* FTestTree = nullptr;
    QTreeWidget* FResultsView = nullptr;
    QTreeWidget* FFailureListView = nullptr;
    QTextEdit* FErrorMessageRTF = nullptr;
    QMenu* FTestTreePopup = nullptr;
    QMenu* FErrorMessagePopup = nullptr;
    QTimer* FUpdateTimer = nullptr;

    // --- run display ---
    // Paints now, or once the clock allows it: at most one paint per PaintInterval.
    void RequestPaint();
    // Makes sure a paint follows within PaintInterval.
    void PaintLater();
    void ApplyRunDisplay();
    void OnFailureSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

    QProgressBar* FProgressBar = nullptr;
    QProgressBar* FScoreBar = nullptr;
    QLabel* FLbProgress = nullptr;
    std::vector<TFailureRow> FFailureRows;
    QTextCharFormat FErrorBoxFormat;
    int FErrorBoxLines = 0;
    // What the widgets are to show at the next paint: a run changes them far more often
    // than a screen can show.
    struct TPendingDisplay {
        bool Dirty = false;
        TStatistics Cells;
        int Max[2] = {0, 0};
        int Position[2] = {0, 0};
        std::optional<TColor> ScoreColor;
        QString Label;
    } FPending;
    TTreeNode* FPendingScroll = nullptr;
    QElapsedTimer FPaintClock;
    QTimer* FPaintTimer = nullptr;

    // --- window placement, panels and columns (settings) ---
public:
    TBounds WindowBounds() override;
    void SetWindowBounds(const TBounds& bounds) override;
    bool WindowMaximized() override;
    void MaximizeWindow() override;
    int ResultsPanelHeight() override;
    void SetResultsPanelHeight(int height) override;
    int ErrorBoxPanelHeight() override;
    void SetErrorBoxPanelHeight(int height) override;
    int ErrorBoxPanelTop() override;
    void SetErrorBoxSplitterTop(int top) override;
    void SetErrorBoxVisible(bool visible) override;
    int FailureColumnCount() override;
    int FailureColumnWidth(int column) override;
    void SetFailureColumnWidth(int column, int width) override;

private:
    void ConnectLayoutWidgets();
    // Gives the two bottom panels their heights once the window has its size; before
    // that a splitter would only share its height out in proportion.
    void ApplyPanelHeights();
    void ApplyPanelHeight(QSplitter* splitter, int height);

    QSplitter* FResultsSplitter = nullptr;
    QSplitter* FErrorBoxSplitter = nullptr;
    QWidget* FResultsPanel = nullptr;
    QWidget* FErrorBoxPanel = nullptr;
    // The heights to give the panels while they are not laid out (before the window is
    // shown, or the error box while it is hidden).
    int FResultsHeight = 174;
    int FErrorBoxHeight = 75;
    // Shown once: from then on the window system has placed the window and the widgets
    // hold the layout.
    bool FShown = false;
};

} // namespace GUITestRunner::QtLayer

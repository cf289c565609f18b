#pragma once
// The runner window in Qt 6 Widgets: the form's components under their names, actions,
// menus and tool bar built from the action tables, the window's own views (the window,
// the popup, the tree) and the run and settings views it holds (TQtRunView,
// TQtWindowLayout). Widgets only pass events on to the form and show the form's state.

#include "gui/RunnerLayer.h"
#include "gui/qt/QtRunView.h"
#include "gui/qt/QtWindowLayout.h"
#include "gui/qt/RunnerImages.h"

#include <QEventLoop>
#include <QMainWindow>
#include <QPoint>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
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

class TQtRunnerLayer : public QMainWindow, public IWindowView, public IPopupView, public ITreeView {
public:
    TQtRunnerLayer();
    ~TQtRunnerLayer() override;

    QTreeView* TestTree() const { return FTestTree; }
    QLineEdit* FilterEdit() const { return FFilterEdit; }
    TTestTreeModel* TreeModel() const { return FModel.get(); }
    QAction* Action(TActionId id) const { return FActions[static_cast<std::size_t>(id)]; }
    // The rectangle of the node's state icon in viewport coordinates; empty when the
    // node is not shown.
    QRect StateIconRect(const TTreeNode& node) const;

    // IWindowView, IPopupView, ITreeView
    void Attach(TGUITestRunner& form) override;
    void ShowModal() override;
    void Close() override;
    void ProcessMessages() override;
    void ProcessPostedMessages() override;
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
    void SetClipboardText(const std::string& text) override;
    void CreateUpdateTimer(int intervalMs) override;
    void FreeUpdateTimer() override;

    void SetUpdateTimerEnabled(bool enabled) override;
    void ShowStatusText(const std::string& text) override;
    bool StartDetached(const std::vector<std::string>& argv) override;

    // The views of the run and of the settings, and all of them for the form.
    TQtRunView& RunView() { return *FRunView; }
    TQtWindowLayout& Layout() { return *FLayout; }
    TRunnerViews Views() { return {*this, *this, *this, *FRunView, *FRunView, *FRunView, *FLayout, *FLayout}; }

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

    void OnFailureSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void ConnectLayoutWidgets();

    QWidget* FErrorBoxPanel = nullptr;

    // --- the tree's filter box and time column ---
    QLineEdit* BuildFilterEdit(QWidget* parent);
    bool FilterEditEvent(QEvent& event);
    void FocusFilterEdit();
    QLineEdit* FFilterEdit = nullptr;
    // While the filter changes: the node that was selected before.
    TTreeNode* FFilterKeeps = nullptr;
    std::unique_ptr<TQtRunView> FRunView;
    std::unique_ptr<TQtWindowLayout> FLayout;
    // The desktop font's line height over the form's: the factor of the form's sizes.
    double FScale = 1.0;
};

} // namespace GUITestRunner::QtLayer

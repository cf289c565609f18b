#pragma once
// The window's side of a run: the statistics row, the two bars, the failure list and the
// error box. A run changes them far more often than a screen can show, so the changes
// are held and painted on a clock.

#include "gui/RunnerLayer.h"

#include <QElapsedTimer>
#include <QString>
#include <QTextCharFormat>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

class QLabel;
class QModelIndex;
class QTreeWidgetItem;
class QMainWindow;
class QProgressBar;
class QTextEdit;
class QTimer;
class QTreeWidget;

namespace GUITestRunner::QtLayer {

class TImageLists;

class TQtRunView final : public IFailureListView, public IErrorBoxView, public IProgressView {
public:
    // The widgets of a run, all children of the window.
    struct TWidgets {
        QTreeWidget* ResultsView;
        QTreeWidget* FailureListView;
        QTextEdit* ErrorBox;
        QProgressBar* ProgressBar;
        QProgressBar* ScoreBar;
        QLabel* ScoreLabel;
    };
    // Before each paint the window shows the tree's pending changes and scrolls to the
    // node, if one is given.
    using TPaintTree = std::function<void(TTreeNode* scrollTo)>;

    TQtRunView(QMainWindow& window, const TImageLists& images, TWidgets widgets, TPaintTree paintTree);
    TQtRunView(const TQtRunView&) = delete;
    TQtRunView& operator=(const TQtRunView&) = delete;

    // IFailureListView
    int FailureCount() override;
    TTreeNode* FailureNode(int row) override;
    int FailureSelected() override;
    void SetFailureSelected(int row) override;
    void FailureAddRow(const TFailureRow& row) override;
    const TFailureRow& FailureRow(int row) override;
    void FailureClear() override;

    // IErrorBoxView
    int FontSize() override;
    void ErrorBoxSetAttributes(const TTextAttributes& attributes) override;
    void ErrorBoxInsert(const std::string& text) override;
    void ErrorBoxAddLine(const std::string& text) override;
    int ErrorBoxLineCount() override;
    std::string ErrorBoxText() override;
    void ErrorBoxClear() override;
    void RepaintErrorBox() override;

    // IProgressView
    void SetStatistics(const TStatistics& cells) override;
    void SetBar(TBar bar, int maximum, int position) override;
    void SetScoreBarColor(std::optional<TColor> color) override;
    void SetScoreLabel(const std::string& text) override;
    void ShowRunningNode(TTreeNode& node, bool scroll) override;
    void RepaintResults() override;

    // IFailureListView: sorting and times
    int FailureRowShownAt(int position) override;
    int FailurePositionOf(int row) override;
    void FailureSetTime(int row, std::int64_t ms) override;

    // The failure list's columns by their number (the settings' column index); the list
    // shows them in another order, with the message last so that it takes the room.
    enum TFailureColumn { NameColumn, TypeColumn, MessageColumn, LocationColumn, PathColumn, TimeColumn, ColumnCount };
    // Sets up the failure list's columns, widths scaled from the form's by the factor.
    static void SetUpFailureList(QTreeWidget& list, double scale);
    // The row number of a failure list index, whatever the order shown.
    static int RowOf(const QModelIndex& index);
    // Sizes the statistics columns so that each shows its whole header and cell, sharing
    // what is left of the view's width among them.
    void FitStatistics();

    // Paints now, or once the clock allows it: at most one paint per PaintInterval.
    void RequestPaint();
    // Makes sure a paint follows within PaintInterval.
    void PaintLater();
    // Paints now what the run has changed, the way the paint clock would.
    void PaintNow();
    // The tree's nodes are about to go; a pending scroll to one of them is dropped.
    void ForgetScroll() { FPendingScroll = nullptr; }

private:
    void ApplyRunDisplay();
    QTreeWidgetItem* FailureItem(int row) const;

    QMainWindow& FWindow;
    const TImageLists& FImages;
    TWidgets FWidgets;
    TPaintTree FPaintTree;
    std::vector<TFailureRow> FFailureRows;
    // Each row's item, by row number; the items are the list's.
    std::vector<QTreeWidgetItem*> FFailureItems;
    QTextCharFormat FErrorBoxFormat;
    int FErrorBoxLines = 0;
    // What the widgets are to show at the next paint.
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
    // When the last paint ended, by the coarse clock; before the first paint, long
    // enough ago for a paint to be due.
    std::int64_t FPaintedAt = std::numeric_limits<std::int64_t>::min() / 2;
    QTimer* FPaintTimer = nullptr;
    // The timer runs: set when PaintLater starts it, cleared by the paint it brings.
    bool FPaintTimerStarted = false;
};

} // namespace GUITestRunner::QtLayer

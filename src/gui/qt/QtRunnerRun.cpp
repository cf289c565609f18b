// The window's side of a run: statistics, bars, the failure list and the error box,
// held during a run and painted on a clock.

#include "gui/qt/QtRunnerLayer.h"

#include "gui/GUITestRunner.h"
#include "gui/qt/TestTreeModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

namespace GUITestRunner::QtLayer {

namespace {

// What a screen can show; a run's changes in between are painted together.
constexpr int PaintInterval = 20;

} // namespace

void TQtRunnerLayer::OnFailureSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    Dispatch([&] {
        for (const QModelIndex& index : deselected.indexes())
            if (index.column() == 0)
                FForm->FailureListViewSelectItem(index.row(), false);
        for (const QModelIndex& index : selected.indexes())
            if (index.column() == 0)
                FForm->FailureListViewSelectItem(index.row(), true);
        FForm->UpdateActions();
    });
}

void TQtRunnerLayer::FailureAddRow(const TFailureRow& row)
{
    FFailureRows.push_back(row);
    auto* item = new QTreeWidgetItem({QString::fromStdString(row.Caption), QString::fromStdString(row.FailureType),
                                      QString::fromStdString(row.Message), QString::fromStdString(row.Location)});
    item->setIcon(0, QIcon(FImages->RunImage(row.Image)));
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(row.Node)));
    FFailureListView->addTopLevelItem(item);
}

const TFailureRow& TQtRunnerLayer::FailureRow(int row)
{
    return FFailureRows.at(static_cast<std::size_t>(row));
}

void TQtRunnerLayer::FailureClear()
{
    FFailureListView->clear();
    FFailureRows.clear();
}

void TQtRunnerLayer::SetStatistics(const TStatistics& cells)
{
    FPending.Cells = cells;
    PaintLater();
}

void TQtRunnerLayer::SetBar(TBar bar, int maximum, int position)
{
    const int which = bar == TBar::Progress ? 0 : 1;
    FPending.Max[which] = maximum;
    FPending.Position[which] = position;
    PaintLater();
}

void TQtRunnerLayer::SetScoreBarColor(std::optional<TColor> color)
{
    FPending.ScoreColor = color;
    PaintLater();
}

void TQtRunnerLayer::SetScoreLabel(const std::string& text)
{
    FPending.Label = QString::fromStdString(text);
    PaintLater();
}

void TQtRunnerLayer::ApplyRunDisplay()
{
    if (!FPending.Dirty)
        return;
    FPending.Dirty = false;
    QTreeWidgetItem* statistics = FResultsView->topLevelItem(0);
    for (int cell = 0; cell < StatCell::Count; ++cell) {
        const QString text = QString::fromStdString(FPending.Cells[static_cast<std::size_t>(cell)]);
        if (statistics->text(cell + 1) == text)
            continue;
        statistics->setText(cell + 1, text);
        // "Test Time" sizes itself to its text, within its limits; the others keep 70.
        if (cell == StatCell::TestTime)
            FResultsView->setColumnWidth(cell + 1, std::clamp(FResultsView->fontMetrics().horizontalAdvance(text) + 12, 70, 200));
    }
    QProgressBar* bars[] = {FProgressBar, FScoreBar};
    for (int which = 0; which < 2; ++which) {
        // A bar of maximum 0 would show Qt's busy animation instead of an empty bar.
        bars[which]->setMaximum(std::max(FPending.Max[which], 1));
        bars[which]->setValue(FPending.Position[which]);
    }
    // The bar's chunk takes the colour; without one it takes the panel's, so that no
    // score shows at all.
    QPalette palette = FScoreBar->palette();
    const QColor chunk = FPending.ScoreColor
                             ? QColor(FPending.ScoreColor->R, FPending.ScoreColor->G, FPending.ScoreColor->B)
                             : FScoreBar->parentWidget()->palette().color(QPalette::Window);
    if (palette.color(QPalette::Highlight) != chunk) {
        palette.setColor(QPalette::Highlight, chunk);
        FScoreBar->setPalette(palette);
    }
    if (FLbProgress->text() != FPending.Label)
        FLbProgress->setText(FPending.Label);
}

int TQtRunnerLayer::FontSize()
{
    return QFontInfo(font()).pointSize();
}

void TQtRunnerLayer::ErrorBoxSetAttributes(const TTextAttributes& attributes)
{
    FErrorBoxFormat = QTextCharFormat();
    FErrorBoxFormat.setFontPointSize(attributes.Size);
    FErrorBoxFormat.setFontWeight(attributes.Bold ? QFont::Bold : QFont::Normal);
    FErrorBoxFormat.setForeground(attributes.Color
                                      ? QColor(attributes.Color->R, attributes.Color->G, attributes.Color->B)
                                      : FErrorMessageRTF->palette().color(QPalette::Text));
}

void TQtRunnerLayer::ErrorBoxInsert(const std::string& text)
{
    QTextCursor cursor(FErrorMessageRTF->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(text), FErrorBoxFormat);
    FErrorBoxLines = std::max(FErrorBoxLines, 1);
}

void TQtRunnerLayer::ErrorBoxAddLine(const std::string& text)
{
    QTextCursor cursor(FErrorMessageRTF->document());
    cursor.movePosition(QTextCursor::End);
    if (FErrorBoxLines > 0)
        cursor.insertBlock();
    cursor.insertText(QString::fromStdString(text), FErrorBoxFormat);
    ++FErrorBoxLines;
}

int TQtRunnerLayer::ErrorBoxLineCount()
{
    return FErrorBoxLines;
}

std::string TQtRunnerLayer::ErrorBoxText()
{
    return FErrorMessageRTF->toPlainText().toStdString();
}

void TQtRunnerLayer::ShowRunningNode(TTreeNode& node, bool scroll)
{
    if (scroll)
        FPendingScroll = &node;
    RequestPaint();
}

void TQtRunnerLayer::RepaintResults()
{
    RequestPaint();
}

void TQtRunnerLayer::RepaintErrorBox()
{
    RequestPaint();
}

void TQtRunnerLayer::SetUpdateTimerEnabled(bool enabled)
{
    if (!FUpdateTimer)
        return;
    if (enabled)
        FUpdateTimer->start();
    else
        FUpdateTimer->stop();
}

void TQtRunnerLayer::RequestPaint()
{
    if (!FPaintClock.isValid() || FPaintClock.elapsed() >= PaintInterval)
        PaintNow();
    else
        PaintLater();
}

void TQtRunnerLayer::PaintLater()
{
    FPending.Dirty = true;
    if (!FPaintTimer->isActive()) {
        const qint64 waited = FPaintClock.isValid() ? FPaintClock.elapsed() : PaintInterval;
        FPaintTimer->start(static_cast<int>(std::max<qint64>(0, PaintInterval - waited)));
    }
}

void TQtRunnerLayer::PaintNow()
{
    FPaintTimer->stop();
    FlushTree();
    if (FPendingScroll) {
        FTestTree->scrollTo(FModel->IndexOf(FPendingScroll));
        FPendingScroll = nullptr;
    }
    ApplyRunDisplay();
    if (isVisible())
        repaint();
    FPaintClock.restart();
}

} // namespace GUITestRunner::QtLayer

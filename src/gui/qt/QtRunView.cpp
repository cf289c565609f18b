#include "gui/qt/QtRunView.h"

#include "gui/qt/RunnerImages.h"

#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace GUITestRunner::QtLayer {

namespace {

// What a screen can show; a run's changes in between are painted together.
constexpr int PaintInterval = 20;

} // namespace

TQtRunView::TQtRunView(QMainWindow& window, const TImageLists& images, TWidgets widgets, TPaintTree paintTree)
    : FWindow(window), FImages(images), FWidgets(widgets), FPaintTree(std::move(paintTree)),
      FPaintTimer(new QTimer(&window))
{
    FPaintTimer->setSingleShot(true);
    QObject::connect(FPaintTimer, &QTimer::timeout, &window, [this] { PaintNow(); });
}

// --- failure list ---

int TQtRunView::FailureCount()
{
    return FWidgets.FailureListView->topLevelItemCount();
}

TTreeNode* TQtRunView::FailureNode(int row)
{
    const QTreeWidgetItem* item = FWidgets.FailureListView->topLevelItem(row);
    return item ? reinterpret_cast<TTreeNode*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

int TQtRunView::FailureSelected()
{
    QTreeWidgetItem* item = FWidgets.FailureListView->currentItem();
    return item && item->isSelected() ? FWidgets.FailureListView->indexOfTopLevelItem(item) : -1;
}

void TQtRunView::SetFailureSelected(int row)
{
    if (QTreeWidgetItem* item = row >= 0 ? FWidgets.FailureListView->topLevelItem(row) : nullptr) {
        FWidgets.FailureListView->setCurrentItem(item);
    } else {
        FWidgets.FailureListView->clearSelection();
        FWidgets.FailureListView->setCurrentItem(nullptr);
    }
}

void TQtRunView::FailureAddRow(const TFailureRow& row)
{
    FFailureRows.push_back(row);
    auto* item = new QTreeWidgetItem({QString::fromStdString(row.Caption), QString::fromStdString(row.FailureType),
                                      QString::fromStdString(row.Message), QString::fromStdString(row.Location)});
    item->setIcon(0, QIcon(FImages.RunImage(row.Image)));
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(row.Node)));
    FWidgets.FailureListView->addTopLevelItem(item);
}

const TFailureRow& TQtRunView::FailureRow(int row)
{
    return FFailureRows.at(static_cast<std::size_t>(row));
}

void TQtRunView::FailureClear()
{
    FWidgets.FailureListView->clear();
    FFailureRows.clear();
}

void TQtRunView::SetStatistics(const TStatistics& cells)
{
    FPending.Cells = cells;
    PaintLater();
}

void TQtRunView::SetBar(TBar bar, int maximum, int position)
{
    const int which = bar == TBar::Progress ? 0 : 1;
    FPending.Max[which] = maximum;
    FPending.Position[which] = position;
    PaintLater();
}

void TQtRunView::SetScoreBarColor(std::optional<TColor> color)
{
    FPending.ScoreColor = color;
    PaintLater();
}

void TQtRunView::SetScoreLabel(const std::string& text)
{
    FPending.Label = QString::fromStdString(text);
    PaintLater();
}

void TQtRunView::ApplyRunDisplay()
{
    if (!FPending.Dirty)
        return;
    FPending.Dirty = false;
    QTreeWidgetItem* statistics = FWidgets.ResultsView->topLevelItem(0);
    for (int cell = 0; cell < StatCell::Count; ++cell) {
        const QString text = QString::fromStdString(FPending.Cells[static_cast<std::size_t>(cell)]);
        if (statistics->text(cell + 1) == text)
            continue;
        statistics->setText(cell + 1, text);
        // "Test Time" sizes itself to its text, within its limits; the others keep 70.
        if (cell == StatCell::TestTime)
            FWidgets.ResultsView->setColumnWidth(cell + 1, std::clamp(FWidgets.ResultsView->fontMetrics().horizontalAdvance(text) + 12, 70, 200));
    }
    QProgressBar* bars[] = {FWidgets.ProgressBar, FWidgets.ScoreBar};
    for (int which = 0; which < 2; ++which) {
        // A bar of maximum 0 would show Qt's busy animation instead of an empty bar.
        bars[which]->setMaximum(std::max(FPending.Max[which], 1));
        bars[which]->setValue(FPending.Position[which]);
    }
    // The bar's chunk takes the colour; without one it takes the panel's, so that no
    // score shows at all.
    QPalette palette = FWidgets.ScoreBar->palette();
    const QColor chunk = FPending.ScoreColor
                             ? QColor(FPending.ScoreColor->R, FPending.ScoreColor->G, FPending.ScoreColor->B)
                             : FWidgets.ScoreBar->parentWidget()->palette().color(QPalette::Window);
    if (palette.color(QPalette::Highlight) != chunk) {
        palette.setColor(QPalette::Highlight, chunk);
        FWidgets.ScoreBar->setPalette(palette);
    }
    if (FWidgets.ScoreLabel->text() != FPending.Label)
        FWidgets.ScoreLabel->setText(FPending.Label);
}

int TQtRunView::FontSize()
{
    return QFontInfo(FWindow.font()).pointSize();
}

void TQtRunView::ErrorBoxSetAttributes(const TTextAttributes& attributes)
{
    FErrorBoxFormat = QTextCharFormat();
    FErrorBoxFormat.setFontPointSize(attributes.Size);
    FErrorBoxFormat.setFontWeight(attributes.Bold ? QFont::Bold : QFont::Normal);
    FErrorBoxFormat.setForeground(attributes.Color
                                      ? QColor(attributes.Color->R, attributes.Color->G, attributes.Color->B)
                                      : FWidgets.ErrorBox->palette().color(QPalette::Text));
}

void TQtRunView::ErrorBoxInsert(const std::string& text)
{
    QTextCursor cursor(FWidgets.ErrorBox->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(text), FErrorBoxFormat);
    FErrorBoxLines = std::max(FErrorBoxLines, 1);
}

void TQtRunView::ErrorBoxAddLine(const std::string& text)
{
    QTextCursor cursor(FWidgets.ErrorBox->document());
    cursor.movePosition(QTextCursor::End);
    if (FErrorBoxLines > 0)
        cursor.insertBlock();
    cursor.insertText(QString::fromStdString(text), FErrorBoxFormat);
    ++FErrorBoxLines;
}

void TQtRunView::ErrorBoxClear()
{
    FWidgets.ErrorBox->clear();
    FErrorBoxLines = 0;
}

int TQtRunView::ErrorBoxLineCount()
{
    return FErrorBoxLines;
}

std::string TQtRunView::ErrorBoxText()
{
    return FWidgets.ErrorBox->toPlainText().toStdString();
}

void TQtRunView::ShowRunningNode(TTreeNode& node, bool scroll)
{
    if (scroll)
        FPendingScroll = &node;
    RequestPaint();
}

void TQtRunView::RepaintResults()
{
    RequestPaint();
}

void TQtRunView::RepaintErrorBox()
{
    RequestPaint();
}

void TQtRunView::RequestPaint()
{
    if (!FPaintClock.isValid() || FPaintClock.elapsed() >= PaintInterval)
        PaintNow();
    else
        PaintLater();
}

void TQtRunView::PaintLater()
{
    FPending.Dirty = true;
    if (!FPaintTimer->isActive()) {
        const qint64 waited = FPaintClock.isValid() ? FPaintClock.elapsed() : PaintInterval;
        FPaintTimer->start(static_cast<int>(std::max<qint64>(0, PaintInterval - waited)));
    }
}

void TQtRunView::PaintNow()
{
    FPaintTimer->stop();
    TTreeNode* scrollTo = FPendingScroll;
    FPendingScroll = nullptr;
    FPaintTree(scrollTo);
    ApplyRunDisplay();
    if (FWindow.isVisible())
        FWindow.repaint();
    FPaintClock.restart();
}

} // namespace GUITestRunner::QtLayer

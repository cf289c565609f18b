#include "gui/qt/QtRunView.h"

#include "gui/qt/RunnerImages.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <ctime>

namespace GUITestRunner::QtLayer {

namespace {

// Twenty paints a second: the bars still move smoothly, and a run of fast tests pays for
// half as many paints of the tree (which scrolls, so each one repaints it whole) as at the
// pulse's rate. A run's changes in between are painted together.
constexpr int PaintInterval = 50;

// Item data: the row number a failure item was added with, and its time in ms.
constexpr int RowRole = Qt::UserRole + 1;
constexpr int TimeRole = Qt::UserRole + 2;

// Milliseconds of the monotonic clock as the kernel last ticked it.
std::int64_t CoarseMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QString TimeText(std::int64_t ms)
{
    return QString::number(ms) + QStringLiteral(" ms");
}

// A failure row that sorts by its time as a number, and keeps the order the rows came
// in among rows that compare equal.
class TFailureItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->header()->sortIndicatorSection() : 0;
        if (column == TQtRunView::TimeColumn) {
            const qlonglong mine = data(column, TimeRole).toLongLong();
            const qlonglong theirs = other.data(column, TimeRole).toLongLong();
            if (mine != theirs)
                return mine < theirs;
        } else if (const int order = text(column).localeAwareCompare(other.text(column)); order != 0) {
            return order < 0;
        }
        return data(0, RowRole).toInt() < other.data(0, RowRole).toInt();
    }
};

} // namespace

TQtRunView::TQtRunView(QMainWindow& window, const TImageLists& images, TWidgets widgets, TPaintTree paintTree)
    : FWindow(window), FImages(images), FWidgets(widgets), FPaintTree(std::move(paintTree)),
      FPaintTimer(new QTimer(&window))
{
    FPaintTimer->setSingleShot(true);
    QObject::connect(FPaintTimer, &QTimer::timeout, &window, [this] { PaintNow(); });
    // A click on a header sorts by that column; the header flips the order itself.
    QTreeWidget* list = FWidgets.FailureListView;
    QObject::connect(list->header(), &QHeaderView::sortIndicatorChanged, &window,
                     [list](int column, Qt::SortOrder order) {
                         if (column >= 0)
                             list->sortItems(column, order);
                     });
}

// --- failure list ---

// Rows are numbered in the order they were added, whatever order the list shows.

QTreeWidgetItem* TQtRunView::FailureItem(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < FFailureItems.size() ? FFailureItems[static_cast<std::size_t>(row)]
                                                                             : nullptr;
}

int TQtRunView::FailureCount()
{
    return static_cast<int>(FFailureItems.size());
}

TTreeNode* TQtRunView::FailureNode(int row)
{
    const QTreeWidgetItem* item = FailureItem(row);
    return item ? reinterpret_cast<TTreeNode*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

int TQtRunView::FailureSelected()
{
    QTreeWidgetItem* item = FWidgets.FailureListView->currentItem();
    return item && item->isSelected() ? item->data(0, RowRole).toInt() : -1;
}

int TQtRunView::FailureRowShownAt(int position)
{
    const QTreeWidgetItem* item = FWidgets.FailureListView->topLevelItem(position);
    return item ? item->data(0, RowRole).toInt() : -1;
}

int TQtRunView::FailurePositionOf(int row)
{
    QTreeWidgetItem* item = FailureItem(row);
    return item ? FWidgets.FailureListView->indexOfTopLevelItem(item) : -1;
}

void TQtRunView::FailureSetTime(int row, std::int64_t ms)
{
    QTreeWidgetItem* item = FailureItem(row);
    if (!item)
        return;
    FFailureRows[static_cast<std::size_t>(row)].ElapsedMs = ms;
    item->setData(TimeColumn, TimeRole, QVariant::fromValue<qlonglong>(ms));
    item->setText(TimeColumn, TimeText(ms));
}

void TQtRunView::SetFailureSelected(int row)
{
    if (QTreeWidgetItem* item = FailureItem(row)) {
        FWidgets.FailureListView->setCurrentItem(item);
        FWidgets.FailureListView->scrollToItem(item);
    } else {
        FWidgets.FailureListView->clearSelection();
        FWidgets.FailureListView->setCurrentItem(nullptr);
    }
}

void TQtRunView::FailureAddRow(const TFailureRow& row)
{
    const int number = static_cast<int>(FFailureRows.size());
    FFailureRows.push_back(row);
    auto* item = new TFailureItem({QString::fromStdString(row.Caption), QString::fromStdString(row.FailureType),
                                   QString::fromStdString(row.Message), QString::fromStdString(row.Location),
                                   QString::fromStdString(row.Path), TimeText(row.ElapsedMs)});
    item->setIcon(0, QIcon(FImages.RunImage(row.Image)));
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(row.Node)));
    item->setData(0, RowRole, number);
    item->setData(TimeColumn, TimeRole, QVariant::fromValue<qlonglong>(row.ElapsedMs));
    item->setTextAlignment(TimeColumn, Qt::AlignRight | Qt::AlignVCenter);
    // The message's first line: the list has one line per row, the error box the rest.
    if (const std::size_t end = row.Message.find('\n'); end != std::string::npos)
        item->setText(MessageColumn, QString::fromStdString(row.Message.substr(0, static_cast<std::size_t>(end))));
    FFailureItems.push_back(item);
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
    FFailureItems.clear();
    // A new run's rows come in as reported, until the user sorts them again.
    FWidgets.FailureListView->header()->setSortIndicator(-1, Qt::AscendingOrder);
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
    bool refit = false;
    for (int cell = 0; cell < StatCell::Count; ++cell) {
        const QString text = QString::fromStdString(FPending.Cells[static_cast<std::size_t>(cell)]);
        const QString shown = statistics->text(cell + 1);
        if (shown == text)
            continue;
        // The columns have room for a count or a time; a text as long as the one it
        // replaces needs no new measuring, which would lay out every cell again.
        refit = refit || shown.size() != text.size();
        statistics->setText(cell + 1, text);
    }
    if (refit)
        FitStatistics();
    QProgressBar* bars[] = {FWidgets.ProgressBar, FWidgets.ScoreBar};
    for (int which = 0; which < 2; ++which) {
        // A bar repaints itself at once on a new value; here the paint that follows shows
        // it with the rest.
        QProgressBar* bar = bars[which];
        const bool updates = bar->updatesEnabled();
        bar->setUpdatesEnabled(false);
        // A bar of maximum 0 would show Qt's busy animation instead of an empty bar.
        bar->setMaximum(std::max(FPending.Max[which], 1));
        bar->setValue(FPending.Position[which]);
        bar->setUpdatesEnabled(updates);
        bar->update();
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
    // Asked for at every test's start: the coarse clock answers in a fraction of the
    // precise one's time, and a few milliseconds' error do not show in a paint's timing.
    if (CoarseMs() - FPaintedAt >= PaintInterval)
        PaintNow();
    else
        PaintLater();
}

void TQtRunView::PaintLater()
{
    FPending.Dirty = true;
    // Asked at every test's start between paints: the flag spares the timer's own check.
    if (FPaintTimerStarted)
        return;
    FPaintTimerStarted = true;
    if (!FPaintTimer->isActive()) {
        const qint64 waited = FPaintClock.isValid() ? FPaintClock.elapsed() : PaintInterval;
        FPaintTimer->start(static_cast<int>(std::max<qint64>(0, PaintInterval - waited)));
    }
}

void TQtRunView::PaintNow()
{
    FPaintTimer->stop();
    FPaintTimerStarted = false;
    TTreeNode* scrollTo = FPendingScroll;
    FPendingScroll = nullptr;
    FPaintTree(scrollTo);
    ApplyRunDisplay();
    // What changed has asked for its update; painting only that, now, spares the rest of
    // the window a paint dozens of times a second.
    if (FWindow.isVisible())
        QCoreApplication::sendPostedEvents(&FWindow, QEvent::UpdateRequest);
    FPaintClock.restart();
    FPaintedAt = CoarseMs();
}

} // namespace GUITestRunner::QtLayer

namespace GUITestRunner::QtLayer {

void TQtRunView::SetUpFailureList(QTreeWidget& list, double scale)
{
    list.setHeaderLabels({"Test Name", "Failure Type", "Message", "Location", "Path", "Time"});
    auto scaled = [scale](int width) { return static_cast<int>(width * scale + 0.5); };
    list.setColumnWidth(NameColumn, scaled(120));
    list.setColumnWidth(TypeColumn, scaled(100));
    list.setColumnWidth(MessageColumn, scaled(200));
    list.setColumnWidth(LocationColumn, scaled(110));
    list.setColumnWidth(PathColumn, scaled(180));
    list.setColumnWidth(TimeColumn, scaled(60));
    list.headerItem()->setTextAlignment(TimeColumn, Qt::AlignRight | Qt::AlignVCenter);
    // The slowest first is what one looks for in times.
    list.headerItem()->setData(TimeColumn, Qt::InitialSortOrderRole, QVariant::fromValue(int(Qt::DescendingOrder)));
    QHeaderView* header = list.header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setStretchLastSection(true);
    // Shown as Name, Path, Time, Type, Location, Message: the message, the longest,
    // last, where it stretches over the rest of the width.
    const int shown[] = {NameColumn, PathColumn, TimeColumn, TypeColumn, LocationColumn, MessageColumn};
    for (int position = 0; position < ColumnCount; ++position)
        header->moveSection(header->visualIndex(shown[position]), position);
}

int TQtRunView::RowOf(const QModelIndex& index)
{
    return index.siblingAtColumn(0).data(RowRole).toInt();
}

void TQtRunView::FitStatistics()
{
    QTreeWidget* view = FWidgets.ResultsView;
    const QTreeWidgetItem* cells = view->topLevelItem(0);
    const QTreeWidgetItem* headings = view->headerItem();
    if (!cells)
        return;
    const QFontMetrics cellMetrics(view->font());
    const QFontMetrics headingMetrics(view->header()->font());
    // The header's text margins and a pixel of air on either side.
    const int padding = 2 * view->style()->pixelMetric(QStyle::PM_HeaderMargin) + 2;
    const int columns = view->columnCount();
    std::vector<int> widths(static_cast<std::size_t>(columns), 0);
    widths[0] = std::max(8, view->header()->minimumSectionSize());
    int total = widths[0];
    for (int column = 1; column < columns; ++column) {
        // Room for what the cell will hold, not only what it holds now, so that the
        // columns do not move during a run.
        const bool time = column - 1 == StatCell::TestTime || column - 1 == StatCell::TotalTime;
        const QString sample = time ? QStringLiteral("0:00:00.000") : QStringLiteral("00000");
        const int width = std::max({headingMetrics.horizontalAdvance(headings->text(column)),
                                    cellMetrics.horizontalAdvance(cells->text(column)),
                                    cellMetrics.horizontalAdvance(sample)}) +
                          padding;
        widths[static_cast<std::size_t>(column)] = width;
        total += width;
    }
    const int spare = std::max(0, view->viewport()->width() - total);
    for (int column = 1; column < columns; ++column) {
        // The spare width shared out evenly, the remainder to the first columns.
        const int share = spare / (columns - 1) + (column - 1 < spare % (columns - 1) ? 1 : 0);
        view->setColumnWidth(column, widths[static_cast<std::size_t>(column)] + share);
    }
    view->setColumnWidth(0, widths[0]);
}

} // namespace GUITestRunner::QtLayer

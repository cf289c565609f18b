// The window's side of the settings: its place, its panels and the failure list's
// columns.

#include "gui/qt/QtRunnerLayer.h"

#include "gui/GUITestRunner.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>

namespace GUITestRunner::QtLayer {

namespace {

// The form's own place, which the window system overrides: the window opens where the
// window system puts new windows until a stored place says otherwise.
constexpr int FormLeft = 190;
constexpr int FormTop = 105;

} // namespace

void TQtRunnerLayer::ConnectLayoutWidgets()
{
    FResultsSplitter = findChild<QSplitter*>("ResultsSplitter");
    FErrorBoxSplitter = findChild<QSplitter*>("ErrorBoxSplitter");
    FResultsPanel = findChild<QWidget*>("ResultsPanel");
    FErrorBoxPanel = findChild<QWidget*>("ErrorBoxPanel");
    FErrorBoxPanel->installEventFilter(this);
    connect(FErrorBoxSplitter, &QSplitter::splitterMoved, this,
            [this] { Dispatch([this] { FForm->ErrorBoxSplitterMoved(); }); });
}

void TQtRunnerLayer::ApplyPanelHeights()
{
    if (FShown)
        return;
    FShown = true;
    ApplyPanelHeight(FResultsSplitter, FResultsHeight);
    if (FErrorBoxPanel->isVisibleTo(this))
        ApplyPanelHeight(FErrorBoxSplitter, FErrorBoxHeight);
}

void TQtRunnerLayer::ApplyPanelHeight(QSplitter* splitter, int height)
{
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    splitter->setSizes({std::max(0, total - height), height});
}

IRunnerLayer::TBounds TQtRunnerLayer::WindowBounds()
{
    // A maximized window answers the place it returns to.
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    const bool placed = FShown || testAttribute(Qt::WA_Moved);
    // pos() is the frame's corner and move() places the frame, so the two round-trip.
    const QPoint corner = isMaximized() ? normal.topLeft() : pos();
    return {placed ? corner.x() : FormLeft, placed ? corner.y() : FormTop, normal.width(), normal.height()};
}

void TQtRunnerLayer::SetWindowBounds(const TBounds& bounds)
{
    const TBounds current = WindowBounds();
    if (bounds.Left != current.Left || bounds.Top != current.Top)
        move(bounds.Left, bounds.Top);
    resize(bounds.Width, bounds.Height);
}

bool TQtRunnerLayer::WindowMaximized()
{
    return isMaximized();
}

void TQtRunnerLayer::MaximizeWindow()
{
    setWindowState(windowState() | Qt::WindowMaximized);
}

int TQtRunnerLayer::ResultsPanelHeight()
{
    return FShown ? FResultsPanel->height() : FResultsHeight;
}

void TQtRunnerLayer::SetResultsPanelHeight(int height)
{
    FResultsHeight = height;
    if (FShown)
        ApplyPanelHeight(FResultsSplitter, height);
}

int TQtRunnerLayer::ErrorBoxPanelHeight()
{
    return FShown && FErrorBoxPanel->isVisibleTo(this) ? FErrorBoxPanel->height() : FErrorBoxHeight;
}

void TQtRunnerLayer::SetErrorBoxPanelHeight(int height)
{
    FErrorBoxHeight = height;
    if (FShown && FErrorBoxPanel->isVisibleTo(this))
        ApplyPanelHeight(FErrorBoxSplitter, height);
}

int TQtRunnerLayer::ErrorBoxPanelTop()
{
    return FErrorBoxPanel->mapTo(this, QPoint(0, 0)).y();
}

void TQtRunnerLayer::SetErrorBoxSplitterTop(int /*top*/)
{
    // The splitter's handle belongs to the splitter and always lies directly above the
    // panel, so it never needs moving back there.
}

void TQtRunnerLayer::SetErrorBoxVisible(bool visible)
{
    if (visible == FErrorBoxPanel->isVisibleTo(this))
        return;
    // The splitter hides its handle with the panel. A hidden panel keeps the height it
    // had, so that showing it again restores it.
    if (!visible) {
        FErrorBoxHeight = ErrorBoxPanelHeight();
        FErrorBoxPanel->hide();
        return;
    }
    FErrorBoxPanel->show();
    if (FShown)
        ApplyPanelHeight(FErrorBoxSplitter, FErrorBoxHeight);
}

int TQtRunnerLayer::FailureColumnCount()
{
    return FFailureListView->columnCount();
}

int TQtRunnerLayer::FailureColumnWidth(int column)
{
    return FFailureListView->columnWidth(column);
}

void TQtRunnerLayer::SetFailureColumnWidth(int column, int width)
{
    FFailureListView->setColumnWidth(column, width);
}
} // namespace GUITestRunner::QtLayer

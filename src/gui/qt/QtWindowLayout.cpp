#include "gui/qt/QtWindowLayout.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QMainWindow>
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>

namespace GUITestRunner::QtLayer {

namespace {

// The form's own place, which the window system overrides: the window opens where the
// window system puts new windows until a stored place says otherwise.
constexpr int FormLeft = 190;
constexpr int FormTop = 105;

} // namespace

TQtWindowLayout::TQtWindowLayout(QMainWindow& window, TWidgets widgets) : FWindow(window), FWidgets(widgets) {}

void TQtWindowLayout::WindowShown()
{
    if (FShown)
        return;
    FShown = true;
    ApplyPanelHeight(FWidgets.ResultsSplitter, FResultsHeight);
    if (FWidgets.ErrorBoxPanel->isVisibleTo(&FWindow))
        ApplyPanelHeight(FWidgets.ErrorBoxSplitter, FErrorBoxHeight);
}

void TQtWindowLayout::ApplyPanelHeight(QSplitter* splitter, int height)
{
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    splitter->setSizes({std::max(0, total - height), height});
}

void TQtWindowLayout::ScaleDefaultHeights(double scale)
{
    FResultsHeight = static_cast<int>(FResultsHeight * scale + 0.5);
    FErrorBoxHeight = static_cast<int>(FErrorBoxHeight * scale + 0.5);
}

TBounds TQtWindowLayout::WindowBounds()
{
    // A maximized window answers the place it returns to.
    const QRect normal = FWindow.isMaximized() ? FWindow.normalGeometry() : FWindow.geometry();
    const bool placed = FShown || FWindow.testAttribute(Qt::WA_Moved);
    // pos() is the frame's corner and move() places the frame, so the two round-trip.
    const QPoint corner = FWindow.isMaximized() ? normal.topLeft() : FWindow.pos();
    return {placed ? corner.x() : FormLeft, placed ? corner.y() : FormTop, normal.width(), normal.height()};
}

void TQtWindowLayout::SetWindowBounds(const TBounds& bounds)
{
    const TBounds current = WindowBounds();
    if (bounds.Left != current.Left || bounds.Top != current.Top)
        FWindow.move(bounds.Left, bounds.Top);
    FWindow.resize(bounds.Width, bounds.Height);
}

bool TQtWindowLayout::WindowMaximized()
{
    return FWindow.isMaximized();
}

void TQtWindowLayout::MaximizeWindow()
{
    FWindow.setWindowState(FWindow.windowState() | Qt::WindowMaximized);
}

TBounds TQtWindowLayout::ScreenArea()
{
    // The primary screen's neighbours included, so that a window kept on a second
    // screen stays there.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect area = screen->availableVirtualGeometry();
    return {area.left(), area.top(), area.width(), area.height()};
}

int TQtWindowLayout::ResultsPanelHeight()
{
    return FShown ? FWidgets.ResultsPanel->height() : FResultsHeight;
}

void TQtWindowLayout::SetResultsPanelHeight(int height)
{
    FResultsHeight = height;
    if (FShown)
        ApplyPanelHeight(FWidgets.ResultsSplitter, height);
}

int TQtWindowLayout::ErrorBoxPanelHeight()
{
    return FShown && FWidgets.ErrorBoxPanel->isVisibleTo(&FWindow) ? FWidgets.ErrorBoxPanel->height() : FErrorBoxHeight;
}

void TQtWindowLayout::SetErrorBoxPanelHeight(int height)
{
    FErrorBoxHeight = height;
    if (FShown && FWidgets.ErrorBoxPanel->isVisibleTo(&FWindow))
        ApplyPanelHeight(FWidgets.ErrorBoxSplitter, height);
}

int TQtWindowLayout::ErrorBoxPanelTop()
{
    return FWidgets.ErrorBoxPanel->mapTo(&FWindow, QPoint(0, 0)).y();
}

void TQtWindowLayout::SetErrorBoxSplitterTop(int /*top*/)
{
    // The splitter's handle belongs to the splitter and always lies directly above the
    // panel, so it never needs moving back there.
}

void TQtWindowLayout::SetErrorBoxVisible(bool visible)
{
    if (visible == FWidgets.ErrorBoxPanel->isVisibleTo(&FWindow))
        return;
    // The splitter hides its handle with the panel. A hidden panel keeps the height it
    // had, so that showing it again restores it.
    if (!visible) {
        FErrorBoxHeight = ErrorBoxPanelHeight();
        FWidgets.ErrorBoxPanel->hide();
        return;
    }
    FWidgets.ErrorBoxPanel->show();
    if (FShown)
        ApplyPanelHeight(FWidgets.ErrorBoxSplitter, FErrorBoxHeight);
}

int TQtWindowLayout::FailureColumnCount()
{
    return FWidgets.FailureListView->columnCount();
}

int TQtWindowLayout::FailureColumnWidth(int column)
{
    return FWidgets.FailureListView->columnWidth(column);
}

void TQtWindowLayout::SetFailureColumnWidth(int column, int width)
{
    FWidgets.FailureListView->setColumnWidth(column, width);
}
} // namespace GUITestRunner::QtLayer

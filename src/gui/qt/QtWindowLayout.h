#pragma once
// The window's side of the settings: its place on the screen, its two bottom panels and
// the failure list's columns.

#include "gui/RunnerLayer.h"

class QMainWindow;
class QSplitter;
class QTreeWidget;
class QWidget;

namespace GUITestRunner::QtLayer {

class TQtWindowLayout final : public IPlacementView, public ILayoutView {
public:
    // The widgets the layout reads and sets, all children of the window.
    struct TWidgets {
        QSplitter* ResultsSplitter;
        QSplitter* ErrorBoxSplitter;
        QWidget* ResultsPanel;
        QWidget* ErrorBoxPanel;
        QTreeWidget* FailureListView;
    };

    TQtWindowLayout(QMainWindow& window, TWidgets widgets);
    TQtWindowLayout(const TQtWindowLayout&) = delete;
    TQtWindowLayout& operator=(const TQtWindowLayout&) = delete;

    // The window is being shown: gives the two bottom panels their heights once the
    // window has its size; before that a splitter would only share its height out in
    // proportion.
    void WindowShown();
    // The form's panel heights grown with the font, until the settings give others.
    void ScaleDefaultHeights(double scale);

    // IPlacementView
    TBounds WindowBounds() override;
    void SetWindowBounds(const TBounds& bounds) override;
    bool WindowMaximized() override;
    void MaximizeWindow() override;
    TBounds ScreenArea() override;

    // ILayoutView
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
    void ApplyPanelHeight(QSplitter* splitter, int height);

    QMainWindow& FWindow;
    TWidgets FWidgets;
    // The heights to give the panels while they are not laid out (before the window is
    // shown, or the error box while it is hidden).
    int FResultsHeight = 174;
    int FErrorBoxHeight = 75;
    // Shown once: from then on the window system has placed the window and the widgets
    // hold the layout.
    bool FShown = false;
};

} // namespace GUITestRunner::QtLayer

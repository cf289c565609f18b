#pragma once
// What the window's logic needs from a widget set, and no more, one small interface per
// concern: the window, the properties popup, the tree view's view state (expansion,
// selection, scrolling, hit tests), the failure list, the error box, the progress
// display and the two parts the settings keep (placement, panels and columns).
// The nodes themselves are the logic's (TTreeNodes); a view follows them as an observer.
// The Qt window implements these; tests drive the logic through a fake.

#include "gui/PropertiesPopup.h"
#include "gui/RunnerActions.h"
#include "gui/TreeNodes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace GUITestRunner {

class TGUITestRunner;

struct TPoint {
    int X = 0;
    int Y = 0;
};

// Where a point in tree coordinates lies: on a node's state icon, on the node's item
// area (state icon, run image and caption), or on no node at all.
struct THitTest {
    TTreeNode* Node = nullptr;
    bool OnStateIcon = false;
    bool OnItem = false;
};

enum class TMouseButton { Left, Right, Middle };

// --- run display ---

// A colour as red, green and blue.
struct TColor {
    int R = 0;
    int G = 0;
    int B = 0;
    friend bool operator==(const TColor&, const TColor&) = default;
};

namespace Colors {
inline constexpr TColor Green{0, 128, 0};
inline constexpr TColor Fuchsia{255, 0, 255};
inline constexpr TColor Red{255, 0, 0};
} // namespace Colors

// The cells of the statistics row, in column order.
namespace StatCell {
inline constexpr int Tests = 0;
inline constexpr int Run = 1;
inline constexpr int Failures = 2;
inline constexpr int Errors = 3;
inline constexpr int Overrides = 4;
inline constexpr int TestTime = 5;
inline constexpr int TotalTime = 6;
inline constexpr int Count = 7;
} // namespace StatCell

using TStatistics = std::array<std::string, StatCell::Count>;

// One row of the failure list; the stack trace has no column and shows in the error box only.
struct TFailureRow {
    std::string Caption;
    std::string FailureType;
    std::string Message;
    std::string Location;
    std::string StackTrace;
    int Image = 0;
    TTreeNode* Node = nullptr;

    // --- where the failure leads ---
    // The failed test's full path below the tree's root and its time in milliseconds.
    std::string Path;
    std::int64_t ElapsedMs = 0;
    // The script position the message starts with, as the message names it; "" and 0
    // when it names none.
    std::string SourceFile;
    int SourceLine = 0;
};

// What the error box writes from now on; no colour is the system's window text colour.
struct TTextAttributes {
    int Size = 0;
    bool Bold = false;
    std::optional<TColor> Color;
};

enum class TBar { Progress, Score };

// The window's views, one interface per concern; the logic takes only those it uses.

// The window itself: its life, its paints and messages, the action states, the
// clipboard and the update timer.
class IWindowView {
public:
    // The form is created; from now on the window reports its events to it and follows
    // its nodes and actions.
    virtual void Attach(TGUITestRunner& form) = 0;
    // Shows the window and returns once it has closed; the window calls FormShow as it
    // appears.
    virtual void ShowModal() = 0;
    virtual void Close() = 0;
    // Handles pending window messages (user commands included).
    virtual void ProcessMessages() = 0;
    // Handles only the messages the program has posted to itself, not the input waiting
    // from the window system: a small part of ProcessMessages' cost.
    virtual void ProcessPostedMessages() = 0;
    // Paints the whole window now.
    virtual void Repaint() = 0;
    // Gives the tree its node and state images and the failure list its row images.
    virtual void AssignImageLists() = 0;
    // An action's enabled or checked state or its shortcut changed.
    virtual void ActionChanged(TActionId id) = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    // A disabled timer whose ticks go to the form's UpdateTimerTimer.
    virtual void CreateUpdateTimer(int intervalMs) = 0;
    virtual void FreeUpdateTimer() = 0;
    virtual void SetUpdateTimerEnabled(bool enabled) = 0;

    // --- status line and helper programs ---
    // One line in the window's status area, replacing the last.
    virtual void ShowStatusText(const std::string& text) = 0;
    // Starts the program (argv[0]) with its arguments exactly as given, never through a
    // shell, and does not wait for it; false when it could not be started.
    virtual bool StartDetached(const std::vector<std::string>& argv) = 0;

protected:
    ~IWindowView() = default;
};

// The test case's properties popup.
class IPopupView {
public:
    // The window's top-left corner on the screen.
    virtual TPoint WindowTopLeft() = 0;
    // Shows the owner-drawn popup modally at the screen point and answers the index of
    // the line chosen, or -1 when it closed without a choice.
    virtual int ShowPropertiesPopup(const std::vector<TPopupLine>& lines, TPoint screenPos) = 0;

protected:
    ~IPopupView() = default;
};

// The tree view's view state; the nodes themselves are the logic's.
class ITreeView {
public:
    // Brackets a batch of node changes; the view shows the outcome once, at the end.
    virtual void TreeBeginUpdate() = 0;
    virtual void TreeEndUpdate() = 0;
    virtual void TreeExpand(TTreeNode& node, bool recurse) = 0;
    virtual void TreeCollapse(TTreeNode& node) = 0;
    virtual void TreeExpandAll() = 0;
    virtual void TreeScrollIntoView(TTreeNode& node) = 0;
    virtual TTreeNode* TreeSelected() = 0;
    virtual void TreeSetSelected(TTreeNode* node) = 0;
    // The mouse cursor position in tree coordinates.
    virtual TPoint TreeCursorPos() = 0;
    virtual THitTest TreeHitTest(TPoint pt) = 0;

protected:
    ~ITreeView() = default;
};

// The failure list's rows and selection.
class IFailureListView {
public:
    virtual int FailureCount() = 0;
    // The tree node of the row's failed test.
    virtual TTreeNode* FailureNode(int row) = 0;
    // -1 when no row is selected.
    virtual int FailureSelected() = 0;
    // -1 clears the selection.
    virtual void SetFailureSelected(int row) = 0;
    virtual void FailureAddRow(const TFailureRow& row) = 0;
    virtual const TFailureRow& FailureRow(int row) = 0;
    virtual void FailureClear() = 0;

    // --- sorting and times ---
    // Rows keep the numbers they were added with; the list may show them sorted. The row
    // shown at a position (0 the top), and the position a row is shown at.
    virtual int FailureRowShownAt(int position) = 0;
    virtual int FailurePositionOf(int row) = 0;
    // The row's test has ended: its time is now known in full.
    virtual void FailureSetTime(int row, std::int64_t ms) = 0;

protected:
    ~IFailureListView() = default;
};

// The error box under the failure list.
class IErrorBoxView {
public:
    // The window font's size in points, the error box's normal size.
    virtual int FontSize() = 0;
    virtual void ErrorBoxSetAttributes(const TTextAttributes& attributes) = 0;
    // Inserts at the end of the box, in the current attributes.
    virtual void ErrorBoxInsert(const std::string& text) = 0;
    // Appends the text as a line of its own.
    virtual void ErrorBoxAddLine(const std::string& text) = 0;
    virtual int ErrorBoxLineCount() = 0;
    virtual std::string ErrorBoxText() = 0;
    virtual void ErrorBoxClear() = 0;
    virtual void RepaintErrorBox() = 0;

protected:
    ~IErrorBoxView() = default;
};

// The bars, the statistics row and the running test's node.
class IProgressView {
public:
    virtual void SetStatistics(const TStatistics& cells) = 0;
    virtual void SetBar(TBar bar, int maximum, int position) = 0;
    // No colour: the colour of the panel the bar sits on.
    virtual void SetScoreBarColor(std::optional<TColor> color) = 0;
    virtual void SetScoreLabel(const std::string& text) = 0;
    // The running test's node: scrolled into view when asked, then the tree repainted.
    // Repaints here and in Repaint may be coalesced (at most one per 20 ms) as long as
    // the last state is painted.
    virtual void ShowRunningNode(TTreeNode& node, bool scroll) = 0;
    virtual void RepaintResults() = 0;

protected:
    ~IProgressView() = default;
};

// The window's outer position and its size, as the window system keeps them for a
// window that is not maximized.
struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// Where the window sits on the screen (settings).
class IPlacementView {
public:
    virtual TBounds WindowBounds() = 0;
    virtual void SetWindowBounds(const TBounds& bounds) = 0;
    virtual bool WindowMaximized() = 0;
    // Before the window is shown: it then opens maximized.
    virtual void MaximizeWindow() = 0;
    // The screens' area a window may take (without panels and docks); empty when no
    // screen is known.
    virtual TBounds ScreenArea() = 0;

protected:
    ~IPlacementView() = default;
};

// The panels and the failure list's columns (settings).
class ILayoutView {
public:
    virtual int ResultsPanelHeight() = 0;
    virtual void SetResultsPanelHeight(int height) = 0;
    virtual int ErrorBoxPanelHeight() = 0;
    virtual void SetErrorBoxPanelHeight(int height) = 0;
    // The error panel's top in the window's client coordinates.
    virtual int ErrorBoxPanelTop() = 0;
    virtual void SetErrorBoxSplitterTop(int top) = 0;
    // Shows or hides the error box's splitter and panel together.
    virtual void SetErrorBoxVisible(bool visible) = 0;
    virtual int FailureColumnCount() = 0;
    virtual int FailureColumnWidth(int column) = 0;
    virtual void SetFailureColumnWidth(int column, int width) = 0;

protected:
    ~ILayoutView() = default;
};

// The views a form works on; each outlives the form.
struct TRunnerViews {
    IWindowView& Window;
    IPopupView& Popup;
    ITreeView& Tree;
    IFailureListView& Failures;
    IErrorBoxView& ErrorBox;
    IProgressView& Progress;
    IPlacementView& Placement;
    ILayoutView& Layout;
};

// All views in one object, for a widget set that keeps them together (the tests' fake).
class IRunnerLayer : public IWindowView,
                     public IPopupView,
                     public ITreeView,
                     public IFailureListView,
                     public IErrorBoxView,
                     public IProgressView,
                     public IPlacementView,
                     public ILayoutView {
public:
    virtual ~IRunnerLayer() = default;
    TRunnerViews Views() { return {*this, *this, *this, *this, *this, *this, *this, *this}; }
};

// Brackets node changes for as long as it lives.
class TTreeUpdate {
public:
    explicit TTreeUpdate(ITreeView& view) : FLayer(view) { FLayer.TreeBeginUpdate(); }
    ~TTreeUpdate() { FLayer.TreeEndUpdate(); }
    TTreeUpdate(const TTreeUpdate&) = delete;
    TTreeUpdate& operator=(const TTreeUpdate&) = delete;

private:
    ITreeView& FLayer;
};

} // namespace GUITestRunner

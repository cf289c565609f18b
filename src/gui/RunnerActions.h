#pragma once
// The window's commands as data: every action with its category, caption, hint, glyph
// and shortcut, their enabled and checked states, and the menus and tool bar that show
// them. The widget layer builds its actions and menus from these tables, so the names
// and texts live in one place and the logic can read and change every state.

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace GUITestRunner {

enum class TActionId {
    RunAction,
    Alt_R_RunAction,
    StopAction,
    Alt_S_StopAction,
    ExitAction,
    SelectAllAction,
    DeselectAllAction,
    SelectFailedAction,
    SelectCurrentAction,
    DeselectCurrentAction,
    HideTestNodesAction,
    ExpandAllNodesAction,
    GoToNextSelectedTestAction,
    GoToPrevSelectedTestAction,
    CopyProcnameToClipboardAction,
    RunSelectedTestAction,
    RescanUserlib,
    CopyMessageToClipboardAction,
    TestCasePropertiesAction,
    RunSelectedTestAltAction,
    PropertyPopUpAction,
    SaveConfigurationAction,
    RestoreSavedAction,
    AutoSaveAction,
    ErrorBoxVisibleAction,
    HideTestNodesOnOpenAction,
    BreakOnFailuresAction,
    ShowTestedNodeAction,
    UseRegistryAction,
    FailIfNoChecksExecutedAction,
    FailTestCaseIfMemoryLeakedAction,
    IgnoreMemoryLeakInSetUpTearDownAction,
    ReportMemoryLeakTypeOnShutdownAction,
    ShowTestCasesWithRunTimePropertiesAction,
    WarnOnFailTestOverrideAction,
    // The tree's filter and its runs of chosen tests.
    FilterAction,
    RunFailedAction,
    ShowOnlyFailuresAction,
    // --- the failure list ---
    NextFailureAction,
    PreviousFailureAction,
    OpenInEditorAction,
    // Not an action: a separator in menus and on the tool bar.
    None
};

inline constexpr std::size_t ActionCount = static_cast<std::size_t>(TActionId::None);

// Glyph indices into the action image list.
namespace Glyph {
inline constexpr int None = -1;
inline constexpr int SelectAll = 0;
inline constexpr int DeselectAll = 1;
inline constexpr int SelectCurrent = 2;
inline constexpr int DeselectCurrent = 3;
inline constexpr int SelectFailed = 4;
inline constexpr int Exit = 6;
inline constexpr int Run = 7;
inline constexpr int Stop = 8;
inline constexpr int RunFailed = 9;
inline constexpr int RunSelected = 10;
inline constexpr int Rescan = 11;
inline constexpr int Count = 12;
} // namespace Glyph

// Shortcuts are written as the key names read ("Ctrl+Shift+Del", "Enter", "Esc"); the
// widget layer maps them to its own key codes.
struct TActionDef {
    TActionId Id;
    const char* Name;
    const char* Category;
    const char* Caption;
    const char* Hint;
    int Glyph;
    const char* ShortCut;
    bool Checked;
    bool Enabled;
};

// Every action in the order of the action list.
std::span<const TActionDef> ActionDefs();
const TActionDef& ActionDef(TActionId id);
// The Options actions toggle their checked state when executed.
bool IsOption(TActionId id);
// Whether the action has a checked state to show: the options and the tree's view toggles.
bool IsCheckable(TActionId id);

// A menu item: bound to an action, or a separator (Action None). An item's own shortcut
// or caption, where given, replaces the action's on that item.
struct TMenuItemDef {
    const char* Name;
    TActionId Action;
    const char* ShortCut = nullptr;
    const char* Caption = nullptr;
};

struct TMenuDef {
    const char* Name;
    const char* Caption;
    std::span<const TMenuItemDef> Items;
};

// "MainMenu": its four drop-down menus in order.
std::span<const TMenuDef> MainMenuDefs();
const TMenuDef& TestTreePopupDef();
const TMenuDef& ErrorMessagePopupDef();
// "ToolBar1": its buttons in order, None for a separator.
std::span<const TActionId> ToolBarDef();
// The failure list's popup menu.
const TMenuDef& FailureListPopupDef();

// The live states of the actions. A change is passed to the observer, so the widget
// layer can follow without polling.
class TActionList {
public:
    TActionList();

    void SetObserver(std::function<void(TActionId)> observer) { FObserver = std::move(observer); }

    bool GetEnabled(TActionId id) const { return State(id).Enabled; }
    bool GetChecked(TActionId id) const { return State(id).Checked; }
    const std::string& GetShortCut(TActionId id) const { return State(id).ShortCut; }
    void SetEnabled(TActionId id, bool value);
    void SetChecked(TActionId id, bool value);
    void SetShortCut(TActionId id, std::string value);

private:
    struct TState {
        bool Enabled;
        bool Checked;
        std::string ShortCut;
    };
    const TState& State(TActionId id) const { return FStates[static_cast<std::size_t>(id)]; }
    TState& State(TActionId id) { return FStates[static_cast<std::size_t>(id)]; }
    void Changed(TActionId id);

    std::array<TState, ActionCount> FStates;
    std::function<void(TActionId)> FObserver;
};

} // namespace GUITestRunner

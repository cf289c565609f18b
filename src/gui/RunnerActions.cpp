#include "gui/RunnerActions.h"

namespace GUITestRunner {

namespace {

using A = TActionId;

constexpr bool On = true;
constexpr bool Off = false;

// clang-format off
constexpr TActionDef Actions[] = {
    {A::RunAction, "RunAction", "Commands", "&Run", "Run selected tests", Glyph::Run, "Enter", Off, On},
    {A::Alt_R_RunAction, "Alt_R_RunAction", "Commands", "&Run", "Run selected tests", Glyph::Run, "Alt+R", Off, On},
    {A::StopAction, "StopAction", "Commands", "&Stop", "Stop", Glyph::Stop, "Enter", Off, On},
    {A::Alt_S_StopAction, "Alt_S_StopAction", "Commands", "&Stop", "Stop", Glyph::Stop, "Alt+S", Off, On},
    {A::ExitAction, "ExitAction", "File", "E&xit", "Close", Glyph::Exit, "Esc", Off, On},
    {A::SelectAllAction, "SelectAllAction", "TestTree", "Select &All", "Select all tests", Glyph::SelectAll, "Ctrl+Alt+A", Off, On},
    {A::DeselectAllAction, "DeselectAllAction", "TestTree", "&Deselect All", "Deselect all tests", Glyph::DeselectAll, "Ctrl+Del", Off, On},
    {A::SelectFailedAction, "SelectFailedAction", "TestTree", "Select Fai&led", "Select all failed tests", Glyph::SelectFailed, "Ctrl+F", Off, On},
    {A::SelectCurrentAction, "SelectCurrentAction", "TestTree", "Select &Current", "Select current test", Glyph::SelectCurrent, "Ctrl+Shift+A", Off, On},
    {A::DeselectCurrentAction, "DeselectCurrentAction", "TestTree", "Deselect C&urrent", "Deselect current test", Glyph::DeselectCurrent, "Ctrl+Shift+Del", Off, On},
    {A::HideTestNodesAction, "HideTestNodesAction", "TestTree", "&Hide Test Nodes", "", Glyph::None, "Ctrl+H", Off, On},
    {A::ExpandAllNodesAction, "ExpandAllNodesAction", "TestTree", "Ex&pand All", "", Glyph::None, "Ctrl+P", Off, On},
    // The window replaces these two when it is created.
    {A::GoToNextSelectedTestAction, "GoToNextSelectedTestAction", "TestTree", "Go To Next Selected Test", "", Glyph::None, "Alt+Down", Off, On},
    {A::GoToPrevSelectedTestAction, "GoToPrevSelectedTestAction", "TestTree", "Go To Previous Selected Test", "", Glyph::None, "Alt+Up", Off, On},
    {A::CopyProcnameToClipboardAction, "CopyProcnameToClipboardAction", "Edit", "Copy Testname to Clipboard", "", Glyph::None, "Ctrl+Alt+C", Off, On},
    {A::RunSelectedTestAction, "RunSelectedTestAction", "TestTree", "Run Selected Test", "Run current test", Glyph::RunSelected, "F8", Off, On},
    {A::RescanUserlib, "RescanUserlib", "TestTree", "Rescan Userlib", "Rescan userlib", Glyph::Rescan, "Ctrl+F5", Off, On},
    {A::CopyMessageToClipboardAction, "CopyMessageToClipboardAction", "Edit", "&Copy Error Message to Clipboard", "", Glyph::None, "Ctrl+Shift+C", Off, Off},
    {A::TestCasePropertiesAction, "TestCasePropertiesAction", "TestTree", "TestCase Properties", "", Glyph::None, "", Off, On},
    {A::RunSelectedTestAltAction, "RunSelectedTestAltAction", "PopUp", "Run Selected Test", "", Glyph::None, "", Off, On},
    {A::PropertyPopUpAction, "PropertyPopUpAction", "PopUp", "PropertyPopUpAction", "", Glyph::None, "", Off, On},
    {A::SaveConfigurationAction, "SaveConfigurationAction", "File", "&Save Configuration", "", Glyph::None, "Ctrl+S", Off, On},
    {A::RestoreSavedAction, "RestoreSavedAction", "File", "&Restore Saved Configuration", "", Glyph::None, "", Off, On},
    {A::AutoSaveAction, "AutoSaveAction", "Options", "&Auto Save Configuration", "", Glyph::None, "", On, On},
    {A::ErrorBoxVisibleAction, "ErrorBoxVisibleAction", "Options", "&Error Box Visible", "", Glyph::None, "", On, On},
    {A::HideTestNodesOnOpenAction, "HideTestNodesOnOpenAction", "Options", "&Hide Test Nodes On Open", "", Glyph::None, "", Off, On},
    {A::BreakOnFailuresAction, "BreakOnFailuresAction", "Options", "&Break on Failures", "", Glyph::None, "", Off, On},
    {A::ShowTestedNodeAction, "ShowTestedNodeAction", "Options", "&Show Tested Node", "", Glyph::None, "", On, On},
    {A::UseRegistryAction, "UseRegistryAction", "Options", "UseRegistryAction", "", Glyph::None, "", Off, On},
    {A::FailIfNoChecksExecutedAction, "FailIfNoChecksExecutedAction", "Options", "Fail TestCase if No Checks Executed", "", Glyph::None, "", Off, On},
    {A::FailTestCaseIfMemoryLeakedAction, "FailTestCaseIfMemoryLeakedAction", "Options", "Fail TestCase if Memory Leaked", "", Glyph::None, "", Off, On},
    {A::IgnoreMemoryLeakInSetUpTearDownAction, "IgnoreMemoryLeakInSetUpTearDownAction", "Options", "Ignore Memory Leak in SetUp/TearDown", "", Glyph::None, "", Off, On},
    {A::ReportMemoryLeakTypeOnShutdownAction, "ReportMemoryLeakTypeOnShutdownAction", "Options", "Report Memory Leak Type on Shutdown", "", Glyph::None, "", Off, On},
    {A::ShowTestCasesWithRunTimePropertiesAction, "ShowTestCasesWithRunTimePropertiesAction", "Options", "Show TestCases with RunTime Properties", "", Glyph::None, "", Off, On},
    {A::WarnOnFailTestOverrideAction, "WarnOnFailTestOverrideAction", "Options", "Warn if Fail Test Overridden", "", Glyph::None, "", Off, On},
    {A::FilterAction, "FilterAction", "TestTree", "&Filter Tests", "Show only the tests whose path contains the text", Glyph::None, "Ctrl+L", Off, On},
    {A::RunFailedAction, "RunFailedAction", "Commands", "Run &Failed", "Run the tests that failed in the last run", Glyph::RunFailed, "Ctrl+Shift+F", Off, Off},
    {A::ShowOnlyFailuresAction, "ShowOnlyFailuresAction", "TestTree", "Show &Only Failures", "Hide the tests that did not fail in the last run", Glyph::None, "Ctrl+Shift+O", Off, On},
    // --- the failure list ---
    {A::NextFailureAction, "NextFailureAction", "Failures", "Ne&xt Failure", "Select the next failure and its test", Glyph::None, "F4", Off, Off},
    {A::PreviousFailureAction, "PreviousFailureAction", "Failures", "Pre&vious Failure", "Select the previous failure and its test", Glyph::None, "Shift+F4", Off, Off},
    {A::OpenInEditorAction, "OpenInEditorAction", "Failures", "&Open in Editor", "Open the failure's script line in the editor", Glyph::None, "Ctrl+Shift+E", Off, Off},
};
static_assert(std::size(Actions) == ActionCount);

constexpr TMenuItemDef Separator{nullptr, A::None};

constexpr TMenuItemDef FileItems[] = {
    {"SaveConfigurationItem", A::SaveConfigurationAction},
    {"RestoreSavedConfigurationItem", A::RestoreSavedAction},
    {"CloseItem", A::ExitAction, "Alt+X"},
};
constexpr TMenuItemDef TestTreeItems[] = {
    {"SelectAllItem", A::SelectAllAction},
    {"DeselectAllItem", A::DeselectAllAction},
    {"SelectFailedItem", A::SelectFailedAction},
    {"SelectCurrent1", A::SelectCurrentAction},
    {"DeselectCurrent1", A::DeselectCurrentAction},
    Separator,
    {"CollapseLowestSuiteNodesItem", A::HideTestNodesAction},
    {"ExpandAllItem", A::ExpandAllNodesAction},
    Separator,
    {"GoToNextSelectedNode2", A::GoToNextSelectedTestAction},
    {"GoToPreviousSelectedNode2", A::GoToPrevSelectedTestAction},
    Separator,
    {"Copytestnametoclipboard1", A::CopyProcnameToClipboardAction},
    Separator,
    {"Runcurrenttest1", A::RunSelectedTestAction},
    Separator,
    {"FilterItem", A::FilterAction},
    {"ShowOnlyFailuresItem", A::ShowOnlyFailuresAction},
};
constexpr TMenuItemDef OptionsItems[] = {
    {"AutoSaveItem", A::AutoSaveAction},
    {"HideErrorBoxItem", A::ErrorBoxVisibleAction},
    {"HideTestNodesItem", A::HideTestNodesOnOpenAction},
    {"SelectTestedNodeItem", A::ShowTestedNodeAction},
    {"BreakonFailuresItem", A::BreakOnFailuresAction},
    {"UseRegistryItem", A::UseRegistryAction, nullptr, "Use Registry"},
    Separator,
    {"ShowTestCaseswithRunTimeProperties", A::ShowTestCasesWithRunTimePropertiesAction},
    {"WarnOnFailTestOverride", A::WarnOnFailTestOverrideAction},
    Separator,
    {"FailIfNoChecksExecuted", A::FailIfNoChecksExecutedAction},
    Separator,
    {"ReportMemoryLeakTypeOnShutdown", A::ReportMemoryLeakTypeOnShutdownAction},
    {"FailTestCaseIfMemoryLeaked", A::FailTestCaseIfMemoryLeakedAction},
    {"IgnoreMemoryLeakInSetUpTearDown", A::IgnoreMemoryLeakInSetUpTearDownAction},
};
constexpr TMenuItemDef ActionsItems[] = {
    {"RunItem", A::RunAction, "F9"},
    {"RunSelectedTestItem", A::RunSelectedTestAction},
    {"RunFailedItem", A::RunFailedAction},
    {"StopActionItem", A::StopAction, "Ctrl+F2"},
    {"CopyMessagetoCllipboardItem", A::CopyMessageToClipboardAction},
    Separator,
    {"ReloadTestsItem", A::RescanUserlib},
    // --- the failure list ---
    Separator,
    {"NextFailureItem", A::NextFailureAction},
    {"PreviousFailureItem", A::PreviousFailureAction},
    {"OpenInEditorItem", A::OpenInEditorAction},
};
constexpr TMenuDef MainMenu[] = {
    {"File1", "&File", FileItems},
    {"TestTree1", "Test &Tree", TestTreeItems},
    {"Options1", "&Options", OptionsItems},
    {"Actions1", "Actio&ns", ActionsItems},
};

constexpr TMenuItemDef TestTreePopupItems[] = {
    {"TestCasePopup", A::TestCasePropertiesAction, "Ctrl+Shift+T"},
    Separator,
    {"SelectCurrent2", A::SelectCurrentAction},
    {"DeselectCurrent2", A::DeselectCurrentAction},
    Separator,
    {"pmiSelectFailed", A::SelectFailedAction},
    Separator,
    {"pmiSelectAll", A::SelectAllAction},
    {"pmiDeselectAll", A::DeselectAllAction},
    Separator,
    {"CollapseLowestSuiteNodes1", A::HideTestNodesAction},
    {"ExpandAll2", A::ExpandAllNodesAction},
    Separator,
    {"GoToNextSelectedNode1", A::GoToNextSelectedTestAction},
    {"GoToPreviousSelectedNode1", A::GoToPrevSelectedTestAction},
    Separator,
    {"Copytestnametoclipboard2", A::CopyProcnameToClipboardAction},
    Separator,
    {"Runcurrenttest2", A::RunSelectedTestAction},
};
constexpr TMenuDef TestTreePopup{"pmTestTree", "", TestTreePopupItems};

constexpr TMenuItemDef ErrorMessagePopupItems[] = {
    {"CopyFailureMessage", A::CopyMessageToClipboardAction},
    {"OpenInEditorPopupItem", A::OpenInEditorAction},
};
constexpr TMenuDef ErrorMessagePopup{"ErrorMessagePopup", "", ErrorMessagePopupItems};

constexpr TMenuItemDef FailureListPopupItems[] = {
    {"OpenInEditorListItem", A::OpenInEditorAction},
    {"CopyMessageListItem", A::CopyMessageToClipboardAction},
    Separator,
    {"NextFailureListItem", A::NextFailureAction},
    {"PreviousFailureListItem", A::PreviousFailureAction},
};
constexpr TMenuDef FailureListPopup{"FailureListPopup", "", FailureListPopupItems};

constexpr TActionId ToolBar[] = {
    A::SelectAllAction, A::DeselectAllAction, A::None, A::SelectFailedAction, A::None,
    A::SelectCurrentAction, A::DeselectCurrentAction, A::None, A::RunAction,
    A::RunSelectedTestAction, A::RunFailedAction, A::StopAction, A::None, A::RescanUserlib,
};
// clang-format on

} // namespace

std::span<const TActionDef> ActionDefs()
{
    return Actions;
}

const TActionDef& ActionDef(TActionId id)
{
    return Actions[static_cast<std::size_t>(id)];
}

bool IsOption(TActionId id)
{
    return id != TActionId::None && std::string_view(ActionDef(id).Category) == "Options";
}

bool IsCheckable(TActionId id)
{
    return IsOption(id) || id == TActionId::ShowOnlyFailuresAction;
}

std::span<const TMenuDef> MainMenuDefs()
{
    return MainMenu;
}

const TMenuDef& TestTreePopupDef()
{
    return TestTreePopup;
}

const TMenuDef& ErrorMessagePopupDef()
{
    return ErrorMessagePopup;
}

std::span<const TActionId> ToolBarDef()
{
    return ToolBar;
}

const TMenuDef& FailureListPopupDef()
{
    return FailureListPopup;
}

TActionList::TActionList()
{
    for (const TActionDef& def : Actions)
        State(def.Id) = {def.Enabled, def.Checked, def.ShortCut};
}

void TActionList::SetEnabled(TActionId id, bool value)
{
    if (State(id).Enabled != value) {
        State(id).Enabled = value;
        Changed(id);
    }
}

void TActionList::SetChecked(TActionId id, bool value)
{
    if (State(id).Checked != value) {
        State(id).Checked = value;
        Changed(id);
    }
}

void TActionList::SetShortCut(TActionId id, std::string value)
{
    if (State(id).ShortCut != value) {
        State(id).ShortCut = std::move(value);
        Changed(id);
    }
}

void TActionList::Changed(TActionId id)
{
    if (FObserver)
        FObserver(id);
}

} // namespace GUITestRunner

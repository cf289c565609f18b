#include "gui/GUITestRunner.h"

#include "platform/Signals.h"

namespace GUITestRunner {

using TestFramework::ITestPtr;

namespace {

constexpr TActionId TreeCommands[] = {
    TActionId::SelectAllAction,      TActionId::DeselectAllAction,    TActionId::SelectFailedAction,
    TActionId::SelectCurrentAction,  TActionId::DeselectCurrentAction, TActionId::HideTestNodesAction,
    TActionId::ExpandAllNodesAction,
};

constexpr int UpdateTimerInterval = 200;

} // namespace

TGUITestRunner::TGUITestRunner(const TRunnerViews& views, TScriptLibrary library)
    : TGUITestRunner(views, ConfigFilePath(), std::move(library))
{
}

TGUITestRunner::TGUITestRunner(const TRunnerViews& views, std::string configFilePath, TScriptLibrary library)
    : FViews(views), FTree(views.Tree, views.Failures, views.Window),
      FRunDisplay(std::make_unique<TRunDisplay>(
          static_cast<IRunHost&>(*this), FTree, FActions,
          TRunDisplayViews{views.Window, views.Tree, views.Failures, views.ErrorBox, views.Progress},
          std::move(library))),
      FSettings({views.Placement, views.Layout, FActions, FTree, FSuite, PopupX, PopupY}, std::move(configFilePath))
{
    FActions.SetObserver([this](TActionId id) { FViews.Window.ActionChanged(id); });
    FViews.Window.Attach(*this);
    FormCreate();
}

TGUITestRunner::~TGUITestRunner()
{
    FormDestroy();
    // The tree's nodes go after the run display and tell the window as they go, which
    // asks Running(): the display must read as gone by then, not merely be destroyed.
    FRunDisplay.reset();
}

void TGUITestRunner::FormCreate()
{
    // The test list is the tree's and starts empty.
    LoadSettings();
    // Times are written by our own formatting with ":" already, so there is no
    // process-wide separator to set.
    FViews.Window.AssignImageLists();
    FActions.SetShortCut(TActionId::GoToNextSelectedTestAction, "Ctrl+Right");
    FActions.SetShortCut(TActionId::GoToPrevSelectedTestAction, "Ctrl+Left");
    FTree.Clear();
    EnableTreeCommands(false);
    FViews.ErrorBox.ErrorBoxClear();
    FViews.Window.CreateUpdateTimer(UpdateTimerInterval);
    ResetRunDisplay();

    // Leak detection is not available, so its options end unchecked and disabled
    // whatever the settings held; a disabled action counts as unchecked.
    FActions.SetEnabled(TActionId::FailTestCaseIfMemoryLeakedAction, false);
    FActions.SetChecked(TActionId::ReportMemoryLeakTypeOnShutdownAction, false);
    FActions.SetEnabled(TActionId::ReportMemoryLeakTypeOnShutdownAction, false);
    FActions.SetChecked(TActionId::FailTestCaseIfMemoryLeakedAction, false);
    const bool leaksChecked = FActions.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction);
    FActions.SetEnabled(TActionId::IgnoreMemoryLeakInSetUpTearDownAction, leaksChecked);
    if (!leaksChecked)
        FActions.SetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction, false);
    UpdateActions();
}

void TGUITestRunner::FormDestroy()
{
    FViews.Window.FreeUpdateTimer();
    FRunDisplay->DropResult();
    AutoSaveSettings();
    AssignSuite(nullptr);
    FTree.Clear();
}

void TGUITestRunner::FormShow()
{
    FTree.AttachNodes();
}

void TGUITestRunner::RunModal(const ITestPtr& suite)
{
    AssignSuite(suite);
    FViews.Window.ShowModal();
}

void TGUITestRunner::AssignSuite(const ITestPtr& suite)
{
    FSuite = suite;
    if (FSuite) {
        LoadTestStates();
        EnableTreeCommands(true);
        RebuildTree();
        FSettings.ChecksShownAsLoaded();
    } else {
        EnableTreeCommands(false);
    }
    UpdateActions();
}

void TGUITestRunner::RebuildTree()
{
    FTree.BuildTestTree(FSuite);
    ResetRunDisplay();
    if (FActions.GetChecked(TActionId::HideTestNodesOnOpenAction))
        HideTestNodesActionExecute();
    else
        ExpandAllNodesActionExecute();
    FViews.Tree.TreeSetSelected(FTree.Nodes().FirstNode());
}

void TGUITestRunner::EnableTreeCommands(bool enabled)
{
    for (TActionId id : TreeCommands)
        FActions.SetEnabled(id, enabled);
}

// --- events ---

void TGUITestRunner::TestTreeClick()
{
    if (FRunDisplay->Running())
        return;
    const THitTest hit = FViews.Tree.TreeHitTest(FViews.Tree.TreeCursorPos());
    if (hit.Node && hit.OnStateIcon)
        FTree.ToggleTestEnabled(*hit.Node);
    TestTreeChange(FTree.Selected());
}

void TGUITestRunner::TestTreeChange(TTreeNode* node)
{
    if (!node || node != FTree.Selected())
        return;
    FViews.Failures.SetFailureSelected(-1);
    const int rows = FViews.Failures.FailureCount();
    for (int row = 0; row < rows; ++row)
        if (FViews.Failures.FailureNode(row) == node) {
            FViews.Failures.SetFailureSelected(row);
            break;
        }
    RefreshStatus(true);
}

bool TGUITestRunner::TestTreeKeyPress(char key)
{
    TTreeNode* selected = FTree.Selected();
    if (key != ' ' || !selected)
        return false;
    // As a click, the space changes no check box during a run: the run reads them.
    if (FRunDisplay->Running())
        return true;
    FTree.ToggleTestEnabled(*selected);
    RefreshStatus(true);
    return true;
}

void TGUITestRunner::TestTreeMouseDown(TMouseButton button, TPoint pt)
{
    // So that the popup menu acts on the node under the mouse.
    if (button != TMouseButton::Right)
        return;
    const THitTest hit = FViews.Tree.TreeHitTest(pt);
    if (hit.Node && hit.OnItem)
        FViews.Tree.TreeSetSelected(hit.Node);
}

void TGUITestRunner::pmTestTreePopup()
{
    if (FTree.Selected())
        FActions.SetEnabled(TActionId::TestCasePropertiesAction, FTree.SelectedIsTestMethod());
}

void TGUITestRunner::UpdateTimerTimer()
{
    FRunDisplay->TimerTick();
}

void TGUITestRunner::FailureListViewClick()
{
    FRunDisplay->FailureListViewClick();
}

void TGUITestRunner::FailureListViewSelectItem(int row, bool selected)
{
    FRunDisplay->FailureListViewSelectItem(row, selected);
}

void TGUITestRunner::ExecuteAction(TActionId id)
{
    switch (id) {
    case TActionId::RunAction:
    case TActionId::Alt_R_RunAction: RunActionExecute(); break;
    case TActionId::StopAction:
    case TActionId::Alt_S_StopAction: StopActionExecute(); break;
    case TActionId::ExitAction: ExitActionExecute(); break;
    case TActionId::SelectAllAction: SelectAllActionExecute(); break;
    case TActionId::DeselectAllAction: DeselectAllActionExecute(); break;
    case TActionId::SelectFailedAction: SelectFailedActionExecute(); break;
    case TActionId::SelectCurrentAction: SelectCurrentActionExecute(); break;
    case TActionId::DeselectCurrentAction: DeselectCurrentActionExecute(); break;
    case TActionId::HideTestNodesAction: HideTestNodesActionExecute(); break;
    case TActionId::ExpandAllNodesAction: ExpandAllNodesActionExecute(); break;
    case TActionId::GoToNextSelectedTestAction: GoToNextSelectedTestActionExecute(); break;
    case TActionId::GoToPrevSelectedTestAction: GoToPrevSelectedTestActionExecute(); break;
    case TActionId::CopyProcnameToClipboardAction: CopyProcnameToClipboardActionExecute(); break;
    case TActionId::RunSelectedTestAction: RunSelectedTestActionExecute(); break;
    case TActionId::RescanUserlib: RescanUserlibExecute(); break;
    case TActionId::CopyMessageToClipboardAction: CopyMessageToClipboardActionExecute(); break;
    case TActionId::TestCasePropertiesAction: TestCasePropertiesActionExecute(); break;
    case TActionId::RunSelectedTestAltAction: RunSelectedTestAltActionExecute(); break;
    case TActionId::SaveConfigurationAction: SaveConfigurationActionExecute(); break;
    case TActionId::RestoreSavedAction: RestoreSavedActionExecute(); break;
    case TActionId::NextFailureAction: NextFailureActionExecute(); break;
    case TActionId::PreviousFailureAction: PreviousFailureActionExecute(); break;
    case TActionId::OpenInEditorAction: OpenInEditorActionExecute(); break;
    case TActionId::RunFailedAction: RunFailedActionExecute(); break;
    case TActionId::ShowOnlyFailuresAction: ShowOnlyFailuresActionExecute(); break;
    // The widget layer focuses its filter box; the logic has nothing to do.
    case TActionId::FilterAction:
    case TActionId::PropertyPopUpAction:
    case TActionId::None: break;
    default:
        if (IsOption(id))
            ToggleOption(id);
        break;
    }
    UpdateActions();
}

void TGUITestRunner::UpdateActions()
{
    RunActionUpdate();
    RunSelectedTestActionUpdate();
    StopActionUpdate();
    CopyMessageToClipboardActionUpdate();
    CopyProcnameToClipboardActionUpdate();
    RescanUserlibUpdate();
    FailureActionsUpdate();
    RunFailedActionUpdate();
    RunLockUpdate();
}

// --- tree commands ---

void TGUITestRunner::SelectAllActionExecute()
{
    FTree.SelectAll();
    RefreshStatus(true);
}

void TGUITestRunner::DeselectAllActionExecute()
{
    FTree.DeselectAll();
    RefreshStatus(true);
}

void TGUITestRunner::SelectFailedActionExecute()
{
    FTree.SelectFailed();
    RefreshStatus(true);
}

void TGUITestRunner::SelectCurrentActionExecute()
{
    if (!FTree.Selected())
        return;
    FTree.SelectCurrent();
    RefreshStatus(true);
}

void TGUITestRunner::DeselectCurrentActionExecute()
{
    FTree.DeselectCurrent();
    RefreshStatus(true);
}

void TGUITestRunner::HideTestNodesActionExecute()
{
    FTree.HideTestNodes();
}

void TGUITestRunner::ExpandAllNodesActionExecute()
{
    FTree.ExpandAll();
}

void TGUITestRunner::GoToNextSelectedTestActionExecute()
{
    FTree.GoToNextSelectedTest();
}

void TGUITestRunner::GoToPrevSelectedTestActionExecute()
{
    FTree.GoToPrevSelectedTest();
}

void TGUITestRunner::CopyProcnameToClipboardActionExecute()
{
    FTree.CopyTestName();
}

void TGUITestRunner::ExitActionExecute()
{
    FRunDisplay->Stop();
    FViews.Window.Close();
}

void TGUITestRunner::FormClose()
{
    FRunDisplay->Stop();
}

void TGUITestRunner::CheckStopSignal()
{
    // The signal's handler has asked every result to stop and ended the running script;
    // a window left open would only show runs that stop before their first test.
    if (Sys::StopSignal() != 0)
        ExitActionExecute();
}

// --- run commands ---

void TGUITestRunner::RunActionExecute()
{
    TreeRunStarting();
    // With a filter Run takes the checked tests the filter box lets through.
    if (FTree.Filter().Text().empty() || FRunDisplay->Running())
        FRunDisplay->RunAll();
    else
        FRunDisplay->RunOnly(FTree.RunSetOf(FTree.Nodes().Roots(), true, true));
    TreeRunEnded();
}

void TGUITestRunner::RunSelectedTestActionExecute()
{
    // The selected node whatever it is: a suite runs its whole subtree, as far as the
    // filter box lets it through.
    TreeRunStarting();
    TTreeNode* selected = FTree.Selected();
    if (FRunDisplay->Running() || !selected)
        FRunDisplay->RunSelected();
    else
        FRunDisplay->RunOnly(FTree.RunSetOf({selected}, false, true));
    TreeRunEnded();
}

void TGUITestRunner::StopActionExecute()
{
    FRunDisplay->Stop();
}

void TGUITestRunner::RescanUserlibExecute()
{
    FRunDisplay->Rescan();
}

void TGUITestRunner::CopyMessageToClipboardActionExecute()
{
    FRunDisplay->CopyMessageToClipboard();
}

// --- the properties popup brings these ---

void TGUITestRunner::TestCasePropertiesActionExecute()
{
    // A navigation line closes the popup and opens it anew for the test then selected:
    // a loop here rather than a popup opened from inside the popup's own handler.
    for (;;) {
        if (!FTree.SelectedIsTestMethod())
            return;
        const TestFramework::ITestPtr test = FTree.TestOfNode(FTree.Selected());
        const TPropertyOptions options{FActions.GetChecked(TActionId::FailIfNoChecksExecutedAction),
                                       FActions.GetChecked(TActionId::FailTestCaseIfMemoryLeakedAction),
                                       FActions.GetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction)};
        const std::vector<TPopupLine> lines = PropertyPopupLines(ComputeTestCaseProperties(*test, options));
        const TPoint corner = FViews.Popup.WindowTopLeft();
        const int chosen = FViews.Popup.ShowPropertiesPopup(lines, {corner.X + PopupX, corner.Y + PopupY});
        if (chosen < 0 || static_cast<std::size_t>(chosen) >= lines.size())
            return;
        const TPopupLine& line = lines[static_cast<std::size_t>(chosen)];
        switch (line.Command) {
        case TPopupCommand::Previous:
            GoToPrevSelectedTestActionExecute();
            break;
        case TPopupCommand::Next:
            GoToNextSelectedTestActionExecute();
            break;
        case TPopupCommand::RunSelectedTest:
            RunSelectedTestActionExecute();
            break;
        case TPopupCommand::CopyPropertyName:
            FViews.Window.SetClipboardText(line.PropertyName);
            return;
        case TPopupCommand::None:
            return;
        }
    }
}

void TGUITestRunner::RunSelectedTestAltActionExecute()
{
    RunSelectedTestActionExecute();
    TestCasePropertiesActionExecute();
}

// --- settings commands ---

void TGUITestRunner::SaveConfigurationActionExecute()
{
    SaveSettings();
}

void TGUITestRunner::RestoreSavedActionExecute()
{
    if (FRunDisplay->Running())
        return;
    LoadSettings();
    // The restored check boxes change the count of enabled tests.
    FRunDisplay->RefreshStatus(true);
}

// --- update handlers ---

void TGUITestRunner::RunActionUpdate()
{
    // Alt+R follows Run, so that it cannot reset the display of a run in progress.
    // The tree is the suite's, and finds a checked test case without counting them all.
    const bool enabled = !FRunDisplay->Running() && FSuite && FTree.HasEnabledTestCase();
    FActions.SetEnabled(TActionId::RunAction, enabled);
    FActions.SetEnabled(TActionId::Alt_R_RunAction, enabled);
}

void TGUITestRunner::RunSelectedTestActionUpdate()
{
    TTreeNode* selected = FTree.Selected();
    FActions.SetEnabled(TActionId::RunSelectedTestAction, selected && FTree.HasTestCase(*selected));
}

void TGUITestRunner::StopActionUpdate()
{
    const bool enabled = FRunDisplay->Running() && FRunDisplay->HasResult();
    FActions.SetEnabled(TActionId::StopAction, enabled);
    FActions.SetEnabled(TActionId::Alt_S_StopAction, enabled);
}

void TGUITestRunner::CopyMessageToClipboardActionUpdate()
{
    FActions.SetEnabled(TActionId::CopyMessageToClipboardAction, FViews.Failures.FailureSelected() >= 0);
}

void TGUITestRunner::RescanUserlibUpdate()
{
    FActions.SetEnabled(TActionId::RescanUserlib, !FRunDisplay->Running());
}

void TGUITestRunner::RunLockUpdate()
{
    // The window handles its events during a run; what would start another run or
    // change the test list waits for its end.
    if (!FRunDisplay->Running())
        FActions.SetEnabled(TActionId::RestoreSavedAction, true);
    else
        for (TActionId id : {TActionId::RunSelectedTestAction, TActionId::RunFailedAction,
                             TActionId::RestoreSavedAction})
            FActions.SetEnabled(id, false);
}

void TGUITestRunner::CopyProcnameToClipboardActionUpdate()
{
    FActions.SetEnabled(TActionId::CopyProcnameToClipboardAction, FTree.SelectedIsTestMethod());
}

// --- hooks ---

void TGUITestRunner::LoadSettings()
{
    FSettings.LoadSettings();
}

void TGUITestRunner::SaveSettings()
{
    FSettings.SaveSettings();
}

void TGUITestRunner::AutoSaveSettings()
{
    FSettings.AutoSaveSettings();
}

void TGUITestRunner::AutoSaveBeforeRun()
{
    FSettings.AutoSaveBeforeRun();
}

void TGUITestRunner::LoadTestStates()
{
    FSettings.LoadTestStates();
}

void TGUITestRunner::SaveTestStates()
{
    FSettings.SaveTestStates();
}

void TGUITestRunner::ResetRunDisplay()
{
    FRunDisplay->Reset();
}

void TGUITestRunner::RefreshStatus(bool full)
{
    FRunDisplay->RefreshStatus(full);
}

void TGUITestRunner::ToggleOption(TActionId id)
{
    FSettings.ToggleOption(id);
}

// --- settings ---

void TGUITestRunner::ErrorBoxSplitterMoved()
{
    FSettings.PlaceErrorBoxSplitter();
    FViews.Window.Repaint();
}

void TGUITestRunner::ErrorBoxPanelResize()
{
    FSettings.PlaceErrorBoxSplitter();
}

// --- the tree's filter and runs of chosen tests ---

void TGUITestRunner::FilterChanged(const std::string& text)
{
    if (FTree.Filter().SetText(text))
        ShowFilteredTree();
}

void TGUITestRunner::ShowFilteredTree()
{
    TTreeNode* selected = FTree.Selected();
    TTreeUpdate update(FViews.Tree);
    if (!FTree.ApplyFilter())
        return;
    if (!FTree.Filter().Active() && FActions.GetChecked(TActionId::HideTestNodesOnOpenAction))
        HideTestNodesActionExecute();
    else
        FViews.Tree.TreeExpandAll();
    if (!selected || !FTree.Nodes().IsShown(*selected))
        selected = FTree.FirstShown();
    FViews.Tree.TreeSetSelected(selected);
    if (selected)
        FViews.Tree.TreeScrollIntoView(*selected);
}

void TGUITestRunner::RunFailedActionExecute()
{
    if (FRunDisplay->Running()) {
        FRunDisplay->RunAll();
        return;
    }
    // The failure list is the last run's; the run about to start clears it.
    std::vector<TTreeNode*> failed;
    const int rows = FViews.Failures.FailureCount();
    for (int row = 0; row < rows; ++row)
        failed.push_back(FViews.Failures.FailureNode(row));
    TreeRunStarting();
    FRunDisplay->RunOnly(FTree.RunSetOf(failed, false, false));
    TreeRunEnded();
}

void TGUITestRunner::ShowOnlyFailuresActionExecute()
{
    const bool only = !FActions.GetChecked(TActionId::ShowOnlyFailuresAction);
    FActions.SetChecked(TActionId::ShowOnlyFailuresAction, only);
    FTree.Filter().SetOnlyFailures(only);
    ShowFilteredTree();
}

void TGUITestRunner::RunFailedActionUpdate()
{
    FActions.SetEnabled(TActionId::RunFailedAction,
                        !FRunDisplay->Running() && FSuite && FViews.Failures.FailureCount() > 0);
}

void TGUITestRunner::TreeRunStarting()
{
    // The run's own start disables Run; Run Failed goes with it until the run is over.
    if (!FRunDisplay->Running())
        FActions.SetEnabled(TActionId::RunFailedAction, false);
}

void TGUITestRunner::TreeRunEnded()
{
    // During a run the tree keeps its rows: the run's listener holds on to them. A run
    // command that only stopped the run in progress ends up here too.
    if (!FRunDisplay->Running() && FTree.Filter().OnlyFailures())
        ShowFilteredTree();
}

} // namespace GUITestRunner

namespace GUITestRunner {

// --- the failure list ---

void TGUITestRunner::NextFailureActionExecute()
{
    FRunDisplay->GoToFailure(1);
}

void TGUITestRunner::PreviousFailureActionExecute()
{
    FRunDisplay->GoToFailure(-1);
}

void TGUITestRunner::OpenInEditorActionExecute()
{
    FRunDisplay->OpenSelectedFailureInEditor(FSettings.EditorCommand());
}

void TGUITestRunner::FailureListViewDblClick()
{
    OpenInEditorActionExecute();
}

void TGUITestRunner::FailureActionsUpdate()
{
    const bool any = FViews.Failures.FailureCount() > 0;
    FActions.SetEnabled(TActionId::NextFailureAction, any);
    FActions.SetEnabled(TActionId::PreviousFailureAction, any);
    FActions.SetEnabled(TActionId::OpenInEditorAction, FRunDisplay->SelectedFailureHasSource());
}

} // namespace GUITestRunner

#pragma once
// The runner window's form: its state, the creation, showing and destruction steps, the
// action handlers and the tree's event handlers. The widgets are behind the views of
// RunnerLayer.h; the run display, the settings and the properties popup plug in at the
// marked hooks.

#include "core/TestInterfaces.h"
#include "core/TestResult.h"
#include "gui/RunnerActions.h"
#include "gui/RunDisplay.h"
#include "gui/RunnerLayer.h"
#include "gui/RunnerSettings.h"
#include "gui/TestTree.h"

#include <memory>
#include <string>

namespace GUITestRunner {

class TGUITestRunner : private IRunHost {
public:
    static constexpr const char* FormName = "GUITestRunner";
    static constexpr const char* FormCaption = "Wexel: A unit testing framework";

    // Attaches to the views and runs FormCreate, with the settings in ConfigFilePath();
    // the script library is what Rescan and each run's start refresh.
    TGUITestRunner(const TRunnerViews& views, TScriptLibrary library);
    TGUITestRunner(const TRunnerViews& views, std::string configFilePath, TScriptLibrary library = {});
    // All views in one object.
    TGUITestRunner(IRunnerLayer& layer, std::string configFilePath, TScriptLibrary library = {})
        : TGUITestRunner(layer.Views(), std::move(configFilePath), std::move(library))
    {
    }
    // Runs FormDestroy.
    virtual ~TGUITestRunner();
    TGUITestRunner(const TGUITestRunner&) = delete;
    TGUITestRunner& operator=(const TGUITestRunner&) = delete;

    // Assigns the suite, shows the window modally and returns when it has closed.
    void RunModal(const TestFramework::ITestPtr& suite);

    // With a suite: loads the tests' enabled flags, enables the tree commands and rebuilds
    // the tree. Without one: disables the tree commands and leaves the tree as it is.
    void AssignSuite(const TestFramework::ITestPtr& suite) override;
    const TestFramework::ITestPtr& Suite() const override { return FSuite; }
    virtual void RebuildTree();
    TestFramework::ITestPtr TestOfNode(const TTreeNode* node) const { return FTree.TestOfNode(node); }
    TTreeNode* NodeOfTest(const TestFramework::ITestPtr& test) const { return FTree.NodeOfTest(test); }
    // The seven tree commands, and no other action.
    void EnableTreeCommands(bool enabled) override;
    // The tree's nodes may ask while the form is torn down, after the run display.
    bool Running() const { return FRunDisplay && FRunDisplay->Running(); }

    TTestTree& Tree() { return FTree; }
    TActionList& Actions() { return FActions; }

    // --- events the layer reports ---
    void FormShow();
    void TestTreeClick();
    // The tree's selection moved to the node.
    void TestTreeChange(TTreeNode* node);
    // True when the key was consumed; the tree gets it otherwise.
    bool TestTreeKeyPress(char key);
    void TestTreeMouseDown(TMouseButton button, TPoint pt);
    // The tree's popup menu is about to open.
    void pmTestTreePopup();
    void ExecuteAction(TActionId id);
    // Runs every action's update handler; the layer calls it when the window idles
    // after an event that may change what is enabled.
    void UpdateActions();
    void UpdateTimerTimer();
    // A click in the failure list; a row selected or deselected there.
    void FailureListViewClick();
    void FailureListViewSelectItem(int row, bool selected);

    // --- action handlers ---
    void SelectAllActionExecute();
    void DeselectAllActionExecute();
    void SelectFailedActionExecute();
    void SelectCurrentActionExecute();
    void DeselectCurrentActionExecute();
    void HideTestNodesActionExecute();
    void ExpandAllNodesActionExecute();
    void GoToNextSelectedTestActionExecute();
    void GoToPrevSelectedTestActionExecute();
    void CopyProcnameToClipboardActionExecute();
    void ExitActionExecute();
    // The window is closing, by the window manager or a key: a run still going stops
    // before its next test, so that the program does not go on running out of sight.
    void FormClose();
    // Called on an idle clock and after each run: after a stop signal the window closes
    // as Exit does, with its settings saved as at any close; the host then exits as the
    // signal asks.
    void CheckStopSignal();
    void RunActionExecute();
    void RunSelectedTestActionExecute();
    void StopActionExecute();
    void RescanUserlibExecute();
    void CopyMessageToClipboardActionExecute();
    void TestCasePropertiesActionExecute();
    void RunSelectedTestAltActionExecute();
    void SaveConfigurationActionExecute();
    void RestoreSavedActionExecute();

    // --- update handlers ---
    void RunActionUpdate();
    void RunSelectedTestActionUpdate();
    void StopActionUpdate();
    void CopyMessageToClipboardActionUpdate();
    void CopyProcnameToClipboardActionUpdate();
    void RescanUserlibUpdate();
    // Disables during a run what the other update handlers leave to their own rules.
    void RunLockUpdate();

    // --- run display ---
    TRunDisplay& RunDisplay() { return *FRunDisplay; }

    // --- the tree's filter and runs of chosen tests ---
    // The filter box's text changed: the tree shows the tests whose path contains it.
    void FilterChanged(const std::string& text);
    void RunFailedActionExecute();
    void ShowOnlyFailuresActionExecute();
    void RunFailedActionUpdate();

    // --- settings ---
    const std::string& ConfigFile() const { return FSettings.ConfigFile(); }
    // Both keep the error box's splitter directly above its panel.
    void ErrorBoxSplitterMoved();
    void ErrorBoxPanelResize();

    // --- the failure list ---
    void NextFailureActionExecute();
    void PreviousFailureActionExecute();
    void OpenInEditorActionExecute();
    void FailureActionsUpdate();
    // A double click on a failure row opens its script position, as Open in Editor does.
    void FailureListViewDblClick();

protected:
    // --- settings ---
    void LoadSettings();
    void SaveSettings();
    void AutoSaveSettings();
    void AutoSaveBeforeRun() override;
    void LoadTestStates();
    void SaveTestStates();
    // --- run display ---
    void ResetRunDisplay();
    void RefreshStatus(bool full);
    // --- options ---
    void ToggleOption(TActionId id);

private:
    void FormCreate();
    void FormDestroy();
    // Shows what the filter lets through, expanded, keeping the selection where it can.
    void ShowFilteredTree();
    // Around a run command: Run Failed is off during the run, and the failures view
    // follows the run's outcome.
    void TreeRunStarting();
    void TreeRunEnded();

    TRunnerViews FViews;
    TActionList FActions;
    // Offsets of the properties popup from the window's top-left corner.
    int PopupY = 30;
    int PopupX = 350;
    TestFramework::ITestPtr FSuite;
    TTestTree FTree;

    // --- run display ---
    std::unique_ptr<TRunDisplay> FRunDisplay;

    // --- settings ---
    TRunnerSettings FSettings;
};

} // namespace GUITestRunner

#pragma once
// What the window keeps from one use to the next: its options, its layout and the
// enabled flag of every test, in "roved.ini" beside the host program or, with "Use
// Registry" checked, in the per-user store; and the option commands with their effects
// on other actions. The window calls in at fixed moments (creation, assigning a suite,
// the two settings commands, the start of a run, destruction) and at no others.

#include "core/TestInterfaces.h"
#include "gui/RunnerActions.h"
#include "gui/RunnerLayer.h"
#include "gui/TestTree.h"
#include "platform/IniFiles.h"

#include <cstdint>
#include <memory>
#include <string>

namespace GUITestRunner {

inline constexpr const char* ConfigSection = "GUITestRunner Config";

// "roved.ini" in the directory of the host executable (not of the runner library).
std::string ConfigFilePath();

// The store of the window's settings: the per-user store named after the file's path,
// or the file itself. Either is read once and written by UpdateFile.
std::unique_ptr<TestFramework::TCustomIniFile> OpenSettingsStore(const std::string& path, bool useRegistry);

class TRunnerSettings {
public:
    // The form's state that the settings read and write; all of it outlives this object.
    struct TFormState {
        IPlacementView& Placement;
        ILayoutView& Layout;
        TActionList& Actions;
        TTestTree& Tree;
        const TestFramework::ITestPtr& Suite;
        int& PopupX;
        int& PopupY;
    };

    TRunnerSettings(TFormState form, std::string configFilePath);

    const std::string& ConfigFile() const { return FPath; }

    // A store that cannot be read leaves the window's current state; one that cannot be
    // written leaves the files as they were. Either way one line on standard error says
    // why, and the window goes on (and closes) as usual.
    void LoadSettings();
    void SaveSettings();
    // SaveSettings when "Auto Save Configuration" is checked.
    void AutoSaveSettings();
    // AutoSaveSettings at a run's start, when every check image has just been refreshed
    // from the tests: the check boxes, a walk over every test, are written only when a
    // check image changed or the file was changed since the last such save.
    void AutoSaveBeforeRun();
    void LoadTestStates();
    void SaveTestStates();
    // After LoadTestStates, once the tree's check images show the flags it loaded: a
    // run's start need not write them again while they and the file stay as they are.
    void ChecksShownAsLoaded();

    // The parts, which raise when the store does.
    void LoadWindowPlacement(const TestFramework::TCustomIniFile& store);
    void SaveWindowPlacement(TestFramework::TCustomIniFile& store);
    void LoadStoreChoice();
    // The choice is always kept in the ini file, beside whatever else the file holds.
    void SaveStoreChoice(TestFramework::TCustomIniFile& store);

    // An Options command: toggles the action, with the command's further effects.
    void ToggleOption(TActionId id);
    // Keeps the error box's splitter directly above the panel.
    void PlaceErrorBoxSplitter();

    // The editor command of the settings ("" when none is set), as last loaded.
    const std::string& EditorCommand() const { return FEditorCommand; }

private:
    bool UseRegistry() const;
    // Raise when the store does; the public operations report.
    void ReadSettings();
    void WriteSettings(bool checksShown = false);
    void WriteWindowKeys(TestFramework::TCustomIniFile& store, bool withStoreChoice);
    void ReadTestStates();
    void WriteTestStates();

    TFormState FForm;
    std::string FPath;
    std::string FEditorCommand;

    // What the last save at a run's start left in the file: the suite, the tree's count of
    // check image changes then, and the file's text. Valid only after a save that went
    // through, to the file rather than the per-user store.
    struct TChecksSaved {
        bool Valid = false;
        const TestFramework::ITest* Suite = nullptr;
        std::uint64_t StateChanges = 0;
        std::string Text;
    } FChecksSaved;
    // The file's text that the last LoadTestStates read the check boxes from.
    std::string FChecksLoaded;
    bool FLoadedFromFile = false;
};

} // namespace GUITestRunner

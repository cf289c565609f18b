#include "gui/RunnerSettings.h"

#include "core/TestRegistry.h"
#include "platform/Process.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

namespace GUITestRunner {

using TestFramework::TCustomIniFile;

namespace {

constexpr const char* ConfigFileName = "roved.ini";
constexpr const char* UseRegistryKey = "UseRegistry";
constexpr int MinColumnWidth = 4;
// The splitter sits this far above the error panel's top, so that it stays docked
// directly above the panel.
constexpr int ErrorBoxSplitterOffset = 8;

// The option flags after the column widths, with their keys, in the order they are
// written (a new file lists them so); reading them has no order that shows.
struct TOptionKey {
    const char* Key;
    TActionId Action;
};
constexpr TOptionKey StoredOptions[] = {
    {"HideTestNodesOnOpen", TActionId::HideTestNodesOnOpenAction},
    {"BreakOnFailures", TActionId::BreakOnFailuresAction},
    {"FailOnNoChecksExecuted", TActionId::FailIfNoChecksExecutedAction},
    {"FailOnMemoryLeaked", TActionId::FailTestCaseIfMemoryLeakedAction},
    {"IgnoreSetUpTearDownLeaks", TActionId::IgnoreMemoryLeakInSetUpTearDownAction},
    {"ReportMemoryLeakTypes", TActionId::ReportMemoryLeakTypeOnShutdownAction},
    {"SelectTestedNode", TActionId::ShowTestedNodeAction},
    {"WarnOnFailTestOverride", TActionId::WarnOnFailTestOverrideAction},
    {"ShowTestCasesWithRunTimeProperties", TActionId::ShowTestCasesWithRunTimePropertiesAction},
};

// The smallest window that still shows its panels; anything stored is clamped to this
// and to the screens' available area, so that a hostile or stale file cannot open the
// window off-screen or at a size the window system cannot back.
constexpr int MinWindowWidth = 200;
constexpr int MinWindowHeight = 150;

TBounds ClampToArea(TBounds bounds, const TBounds& area)
{
    if (area.Width <= 0 || area.Height <= 0)
        return bounds; // no screen known: nothing to clamp to
    bounds.Width = std::clamp(bounds.Width, std::min(MinWindowWidth, area.Width), area.Width);
    bounds.Height = std::clamp(bounds.Height, std::min(MinWindowHeight, area.Height), area.Height);
    // In 64 bits, so that stored extremes cannot overflow.
    const long long left = std::clamp<long long>(bounds.Left, area.Left, 0LL + area.Left + area.Width - bounds.Width);
    const long long top = std::clamp<long long>(bounds.Top, area.Top, 0LL + area.Top + area.Height - bounds.Height);
    bounds.Left = static_cast<int>(left);
    bounds.Top = static_cast<int>(top);
    return bounds;
}

// The file's bytes; empty for a file that is not there, nothing for one that cannot be read.
std::optional<std::string> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        return std::filesystem::exists(path, error) || error ? std::nullopt : std::optional<std::string>("");
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in.bad() ? std::nullopt : std::optional<std::string>(std::move(bytes).str());
}

// The program that "Open in Editor" starts, in place of $VISUAL and $EDITOR.
constexpr const char* EditorCommandKey = "EditorCommand";

std::string ColumnWidthKey(int column)
{
    return "FailureList.ColumnWidth[" + std::to_string(column) + "]";
}

// The window must open and close whatever the files are like, and a dialog box would
// stop an unattended session, so a failure is one line on standard error. The options and
// the check boxes are read from the same file one after the other: a problem is said once.
std::string LastReported;

template <class TAction>
void Reporting(const char* what, TAction action)
{
    try {
        action();
    } catch (const std::exception& e) {
        std::string line = std::string("The settings were not ") + what + ": " + e.what() + "\r\n";
        if (line != LastReported)
            Sys::WriteRaw(Sys::TStdHandle::Error, line);
        LastReported = std::move(line);
    }
}

} // namespace

std::string ConfigFilePath()
{
    return Sys::ExeDir() + Sys::PathDelim + ConfigFileName;
}

std::unique_ptr<TCustomIniFile> OpenSettingsStore(const std::string& path, bool useRegistry)
{
    if (useRegistry)
        return std::make_unique<TestFramework::TMemRegistryIniFile>(TestFramework::GetRegistryKeyBase() + path);
    return std::make_unique<TestFramework::TMemIniFile>(path);
}

TRunnerSettings::TRunnerSettings(TFormState form, std::string configFilePath)
    : FForm(form), FPath(std::move(configFilePath))
{
}

bool TRunnerSettings::UseRegistry() const
{
    return FForm.Actions.GetChecked(TActionId::UseRegistryAction);
}

// --- reading ---

void TRunnerSettings::LoadSettings()
{
    Reporting("read", [this] { ReadSettings(); });
}

void TRunnerSettings::ReadSettings()
{
    TActionList& actions = FForm.Actions;
    ILayoutView& layer = FForm.Layout;
    LoadStoreChoice();
    const auto store = OpenSettingsStore(FPath, UseRegistry());
    LoadWindowPlacement(*store);
    if (FForm.Suite)
        ReadTestStates();

    auto readOption = [&](const char* key, TActionId id) {
        actions.SetChecked(id, store->ReadBool(ConfigSection, key, actions.GetChecked(id)));
    };
    readOption("AutoSave", TActionId::AutoSaveAction);
    layer.SetResultsPanelHeight(store->ReadInteger(ConfigSection, "ResultsPanel.Height", layer.ResultsPanelHeight()));
    layer.SetErrorBoxPanelHeight(store->ReadInteger(ConfigSection, "ErrorMessage.Height", layer.ErrorBoxPanelHeight()));
    readOption("ErrorMessage.Visible", TActionId::ErrorBoxVisibleAction);
    layer.SetErrorBoxVisible(actions.GetChecked(TActionId::ErrorBoxVisibleAction));
    for (int column = 0, count = layer.FailureColumnCount(); column < count; ++column) {
        const int width = store->ReadInteger(ConfigSection, ColumnWidthKey(column), layer.FailureColumnWidth(column));
        layer.SetFailureColumnWidth(column, std::max(width, MinColumnWidth));
    }
    for (const TOptionKey& option : StoredOptions)
        readOption(option.Key, option.Action);
    FForm.PopupX = store->ReadInteger(ConfigSection, "PopupX", 350);
    FForm.PopupY = store->ReadInteger(ConfigSection, "PopupY", 30);
    // Set by hand and only read, so a window never writes one in.
    FEditorCommand = store->ReadString(ConfigSection, EditorCommandKey, "");

    if (FForm.Suite)
        FForm.Tree.RefreshAllCheckImages();
}

void TRunnerSettings::LoadStoreChoice()
{
    const TestFramework::TMemIniFile ini(FPath);
    FForm.Actions.SetChecked(TActionId::UseRegistryAction,
                             ini.ReadBool(ConfigSection, UseRegistryKey, UseRegistry()));
}

void TRunnerSettings::LoadWindowPlacement(const TCustomIniFile& store)
{
    IPlacementView& layer = FForm.Placement;
    TBounds bounds = layer.WindowBounds();
    bounds.Width = store.ReadInteger(ConfigSection, "Width", bounds.Width);
    bounds.Height = store.ReadInteger(ConfigSection, "Height", bounds.Height);
    bounds.Top = store.ReadInteger(ConfigSection, "Top", bounds.Top);
    bounds.Left = store.ReadInteger(ConfigSection, "Left", bounds.Left);
    layer.SetWindowBounds(ClampToArea(bounds, layer.ScreenArea()));
    if (store.ReadBool(ConfigSection, "Maximized", false))
        layer.MaximizeWindow();
}

void TRunnerSettings::LoadTestStates()
{
    FChecksSaved = {};
    FChecksLoaded.clear();
    FLoadedFromFile = false;
    Reporting("read", [this] {
        const bool inFile = FForm.Suite && !UseRegistry();
        // The same bytes before and after the read are the ones the check boxes came from.
        const std::optional<std::string> before = inFile ? FileBytes(FPath) : std::nullopt;
        ReadTestStates();
        if (before && FileBytes(FPath) == before) {
            // As a save reads it back under its lock.
            FChecksLoaded = TestFramework::TIniDocument(*before).Text();
            FLoadedFromFile = true;
        }
    });
}

void TRunnerSettings::ChecksShownAsLoaded()
{
    // Every test's flag is what the file says (a test it does not name is enabled), so
    // until a check image or the file changes a save would write nothing new of them.
    if (FLoadedFromFile)
        FChecksSaved = {true, FForm.Suite.get(), FForm.Tree.Nodes().StateChanges(), std::move(FChecksLoaded)};
    FLoadedFromFile = false;
    FChecksLoaded.clear();
}

void TRunnerSettings::ReadTestStates()
{
    if (FForm.Suite)
        FForm.Suite->LoadConfiguration(FPath, UseRegistry(), true);
}

// --- writing ---

void TRunnerSettings::SaveSettings()
{
    Reporting("saved", [this] { WriteSettings(); });
}

void TRunnerSettings::AutoSaveSettings()
{
    if (FForm.Actions.GetChecked(TActionId::AutoSaveAction))
        SaveSettings();
}

void TRunnerSettings::AutoSaveBeforeRun()
{
    if (FForm.Actions.GetChecked(TActionId::AutoSaveAction))
        Reporting("saved", [this] { WriteSettings(true); });
}

void TRunnerSettings::WriteSettings(bool checksShown)
{
    // One read-modify-write per file, so that two windows closing together leave one
    // window's settings whole: the tests' check boxes and the window's keys in one edit.
    const bool inFile = !UseRegistry();
    TChecksSaved saved = std::exchange(FChecksSaved, {});
    bool remember = false;
    const TestFramework::TIniEdit edit = [&, this](TCustomIniFile& store) {
        const auto* file = dynamic_cast<const TestFramework::TMemIniFile*>(&store);
        remember = checksShown && inFile && file;
        // The check images are the tests' flags as they are now; the same count of image
        // changes means the same check boxes as at the last save, and the same text
        // under the lock means nobody has written the file since.
        const bool unchanged = remember && saved.Valid && saved.Suite == FForm.Suite.get() &&
                               saved.StateChanges == FForm.Tree.Nodes().StateChanges() &&
                               saved.Text == file->Document().Text();
        if (FForm.Suite && !unchanged)
            FForm.Suite->SaveConfiguration(store, "Tests");
        WriteWindowKeys(store, inFile);
        if (remember)
            saved = {true, FForm.Suite.get(), FForm.Tree.Nodes().StateChanges(), file->Document().Text()};
    };
    if (inFile) {
        TestFramework::UpdateIniFile(FPath, edit);
        // Only a save that went through says what the file holds.
        if (remember)
            FChecksSaved = std::move(saved);
        return;
    }
    TestFramework::UpdateRegistryIniFile(TestFramework::GetRegistryKeyBase() + FPath, edit);
    // Last, so that an ini file that cannot be written costs nothing of what the
    // per-user store has taken.
    TestFramework::UpdateIniFile(FPath, [this](TCustomIniFile& store) { SaveStoreChoice(store); });
}

void TRunnerSettings::WriteWindowKeys(TCustomIniFile& store, bool withStoreChoice)
{
    const TActionList& actions = FForm.Actions;
    ILayoutView& layer = FForm.Layout;
    SaveWindowPlacement(store);
    if (withStoreChoice)
        SaveStoreChoice(store);
    store.WriteInteger(ConfigSection, "ResultsPanel.Height", layer.ResultsPanelHeight());
    store.WriteInteger(ConfigSection, "ErrorMessage.Height", layer.ErrorBoxPanelHeight());
    store.WriteBool(ConfigSection, "ErrorMessage.Visible", actions.GetChecked(TActionId::ErrorBoxVisibleAction));
    for (int column = 0, count = layer.FailureColumnCount(); column < count; ++column)
        store.WriteInteger(ConfigSection, ColumnWidthKey(column), layer.FailureColumnWidth(column));
    for (const TOptionKey& option : StoredOptions)
        store.WriteBool(ConfigSection, option.Key, actions.GetChecked(option.Action));
    store.WriteInteger(ConfigSection, "PopupX", FForm.PopupX);
    store.WriteInteger(ConfigSection, "PopupY", FForm.PopupY);
}

void TRunnerSettings::SaveWindowPlacement(TCustomIniFile& store)
{
    IPlacementView& layer = FForm.Placement;
    store.WriteBool(ConfigSection, "AutoSave", FForm.Actions.GetChecked(TActionId::AutoSaveAction));
    // A maximized window's bounds are the screen's; the ones to restore to stay stored.
    const bool maximized = layer.WindowMaximized();
    if (!maximized) {
        const TBounds bounds = ClampToArea(layer.WindowBounds(), layer.ScreenArea());
        store.WriteInteger(ConfigSection, "Left", bounds.Left);
        store.WriteInteger(ConfigSection, "Top", bounds.Top);
        store.WriteInteger(ConfigSection, "Width", bounds.Width);
        store.WriteInteger(ConfigSection, "Height", bounds.Height);
    }
    store.WriteBool(ConfigSection, "Maximized", maximized);
}

void TRunnerSettings::SaveStoreChoice(TCustomIniFile& store)
{
    // The file keeps other programs' sections and comments in either mode.
    store.WriteBool(ConfigSection, UseRegistryKey, UseRegistry());
}

void TRunnerSettings::SaveTestStates()
{
    Reporting("saved", [this] { WriteTestStates(); });
}

void TRunnerSettings::WriteTestStates()
{
    if (FForm.Suite)
        FForm.Suite->SaveConfiguration(FPath, UseRegistry(), true);
}

// --- option commands ---

void TRunnerSettings::ToggleOption(TActionId id)
{
    TActionList& actions = FForm.Actions;
    const bool checked = !actions.GetChecked(id);
    actions.SetChecked(id, checked);
    switch (id) {
    case TActionId::AutoSaveAction:
        // Either way at once: unchecking is itself a choice to keep, and no later
        // automatic save would write it.
        SaveSettings();
        break;
    case TActionId::ErrorBoxVisibleAction:
        FForm.Layout.SetErrorBoxVisible(checked);
        if (checked)
            PlaceErrorBoxSplitter();
        break;
    case TActionId::FailTestCaseIfMemoryLeakedAction:
        actions.SetEnabled(TActionId::IgnoreMemoryLeakInSetUpTearDownAction, checked);
        if (!checked)
            actions.SetChecked(TActionId::IgnoreMemoryLeakInSetUpTearDownAction, false);
        break;
    case TActionId::ShowTestCasesWithRunTimePropertiesAction:
        if (checked)
            actions.SetChecked(TActionId::WarnOnFailTestOverrideAction, false);
        break;
    case TActionId::WarnOnFailTestOverrideAction:
        if (checked)
            actions.SetChecked(TActionId::ShowTestCasesWithRunTimePropertiesAction, false);
        break;
    default:
        break;
    }
}

void TRunnerSettings::PlaceErrorBoxSplitter()
{
    FForm.Layout.SetErrorBoxSplitterTop(FForm.Layout.ErrorBoxPanelTop() - ErrorBoxSplitterOffset);
}

} // namespace GUITestRunner

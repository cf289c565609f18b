// The window's settings through the fake layer: what a first start writes, when the
// stores are read and written, the per-user store, the tests' check boxes across
// windows and rescans, stores that cannot be read or written, and the option commands.

#include "FakeRunnerLayer.h"
#include "HostProcess.h"

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "platform/IniFiles.h"
#include "platform/Signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

namespace {

using namespace GUITestRunner;
using GUITestRunner::Testing::TFakeRunnerLayer;
using TestFramework::ITestPtr;
using TestSupport::ReadFile;
using TestSupport::WriteFile;
using A = TActionId;

ITestPtr Case(std::string name)
{
    return std::make_shared<TestFramework::TAbstractTest>(std::move(name));
}

using GUITestRunner::Testing::Suite;

// What the registry holds after discovery: a fresh tree, every test enabled.
ITestPtr Registered()
{
    return Suite("WexelRunner.so", {Suite("Orders", {Suite("Pricing", {Case("Discount"), Case("a=b"), Case(";x")})}),
                                    Suite("Calc", {Case("Add")})});
}

const std::string DefaultConfig = "[GUITestRunner Config]\r\n"
                                  "AutoSave=1\r\nLeft=190\r\nTop=105\r\nWidth=500\r\nHeight=500\r\n"
                                  "Maximized=0\r\nUseRegistry=0\r\n"
                                  "ResultsPanel.Height=174\r\nErrorMessage.Height=75\r\nErrorMessage.Visible=1\r\n"
                                  "FailureList.ColumnWidth[0]=120\r\nFailureList.ColumnWidth[1]=100\r\n"
                                  "FailureList.ColumnWidth[2]=200\r\nFailureList.ColumnWidth[3]=50\r\n"
                                  "HideTestNodesOnOpen=0\r\nBreakOnFailures=0\r\nFailOnNoChecksExecuted=0\r\n"
                                  "FailOnMemoryLeaked=0\r\nIgnoreSetUpTearDownLeaks=0\r\nReportMemoryLeakTypes=0\r\n"
                                  "SelectTestedNode=1\r\nWarnOnFailTestOverride=0\r\n"
                                  "ShowTestCasesWithRunTimeProperties=0\r\nPopupX=350\r\nPopupY=30\r\n";

class WindowSettings : public ::testing::Test {
protected:
    TestSupport::TTempDir Dir;
    TestSupport::TEnvOverride ConfigHome{"XDG_CONFIG_HOME", Dir.Path()};
    std::string Path = Dir.File("roved.ini");
    std::unique_ptr<TFakeRunnerLayer> Layer;
    std::unique_ptr<TGUITestRunner> Form;

    // A new window on a newly registered tree, as the next start of the program.
    void Open(const std::string& path)
    {
        Close();
        Layer = std::make_unique<TFakeRunnerLayer>();
        Form = std::make_unique<TGUITestRunner>(*Layer, path);
        Form->RunModal(Registered());
    }
    void Open() { Open(Path); }
    void Close()
    {
        Form.reset();
        Layer.reset();
    }
    void TearDown() override { Close(); }

    TActionList& Actions() { return Form->Actions(); }
    void Execute(A id) { Form->ExecuteAction(id); }
    TTreeNode& Node(const std::string& caption) { return GUITestRunner::Testing::NodeCaptioned(Form->Tree().Nodes(), caption); }
    void Toggle(const std::string& caption)
    {
        Layer->Selected = &Node(caption);
        Form->TestTreeKeyPress(' ');
    }
    bool Enabled(const std::string& caption) { return Form->TestOfNode(&Node(caption))->GetEnabled(); }
    std::string RegistryFile() const { return TestFramework::TRegistryIniFile::KeyFilePath(Path); }
};

TEST_F(WindowSettings, FirstStartShowsTheFormsStatesAndClosingWritesEveryKey)
{
    Open();
    EXPECT_TRUE(Actions().GetChecked(A::AutoSaveAction));
    EXPECT_TRUE(Actions().GetChecked(A::ErrorBoxVisibleAction));
    EXPECT_TRUE(Actions().GetChecked(A::ShowTestedNodeAction));
    EXPECT_FALSE(Actions().GetChecked(A::UseRegistryAction));
    EXPECT_FALSE(std::filesystem::exists(Path));

    Toggle("Discount");
    Toggle("a=b"); // names the ini format cannot hold as they are
    Toggle(";x");
    Close();
    EXPECT_EQ(ReadFile(Path), "[Tests.WexelRunner.so.Orders.Pricing]\r\nDiscount=0\r\n%a%3Db=0\r\n%;x=0\r\n\r\n" +
                                  DefaultConfig);
    // Only the file itself is left: the temporary file it was written to is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1);

    Open();
    EXPECT_FALSE(Enabled("Discount"));
    EXPECT_FALSE(Enabled("a=b"));
    EXPECT_FALSE(Enabled(";x"));
    EXPECT_TRUE(Enabled("Add"));
    EXPECT_EQ(Node("Discount").StateIndex, StateImage::Disabled);
}

TEST_F(WindowSettings, MaximizedKeepsTheBoundsToReturnTo)
{
    WriteFile(Path, "[GUITestRunner Config]\r\nLeft=11\r\nTop=12\r\nWidth=613\r\nHeight=414\r\n");
    Open();
    EXPECT_EQ(Layer->Bounds.Left, 11);
    EXPECT_EQ(Layer->Bounds.Height, 414);
    EXPECT_FALSE(Layer->Maximized);
    Layer->Maximized = true;
    Layer->Bounds = {0, 0, 1024, 768};
    Close();
    const std::string text = ReadFile(Path);
    EXPECT_NE(text.find("Left=11\r\nTop=12\r\nWidth=613\r\nHeight=414\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Maximized=1\r\n"), std::string::npos) << text;
    Open();
    EXPECT_TRUE(Layer->Maximized);
}

TEST_F(WindowSettings, AutoSaveUncheckedIsKeptAndLaterChangesAreNot)
{
    Open();
    Execute(A::RunAction); // the start of a run saves
    EXPECT_TRUE(std::filesystem::exists(Path));
    Execute(A::AutoSaveAction); // unchecking is written at once
    const std::string saved = ReadFile(Path);
    EXPECT_NE(saved.find("AutoSave=0\r\n"), std::string::npos) << saved;
    Toggle("Add");
    Execute(A::BreakOnFailuresAction);
    Close();
    EXPECT_EQ(ReadFile(Path), saved);

    Open();
    EXPECT_FALSE(Actions().GetChecked(A::AutoSaveAction));
    EXPECT_TRUE(Enabled("Add"));
    Toggle("Add");
    Execute(A::AutoSaveAction); // checked again: saved at once
    EXPECT_NE(ReadFile(Path).find("[Tests.WexelRunner.so.Calc]\r\nAdd=0\r\n"), std::string::npos);
    Toggle("Add");
    Execute(A::RestoreSavedAction);
    EXPECT_FALSE(Enabled("Add"));
    EXPECT_EQ(Layer->Statistics[StatCell::Tests], "3");
}

TEST_F(WindowSettings, UseRegistryKeepsTheFilesOtherSectionsAndComments)
{
    WriteFile(Path, "; another program's\r\n[Other]\r\nk=v\r\n");
    Open();
    Execute(A::UseRegistryAction);
    Execute(A::BreakOnFailuresAction);
    Toggle("Discount");
    Execute(A::SaveConfigurationAction);
    EXPECT_EQ(ReadFile(Path), "; another program's\r\n[Other]\r\nk=v\r\n\r\n[GUITestRunner Config]\r\nUseRegistry=1\r\n");
    const std::string registry = ReadFile(RegistryFile());
    EXPECT_NE(registry.find("[Tests.WexelRunner.so.Orders.Pricing]\r\nDiscount=0\r\n"), std::string::npos);
    EXPECT_NE(registry.find("BreakOnFailures=1\r\n"), std::string::npos);
    EXPECT_EQ(registry.find("UseRegistry"), std::string::npos) << registry;
    Close();

    Open();
    EXPECT_TRUE(Actions().GetChecked(A::UseRegistryAction));
    EXPECT_TRUE(Actions().GetChecked(A::BreakOnFailuresAction));
    EXPECT_FALSE(Enabled("Discount"));
}

TEST_F(WindowSettings, StoredPlacesAndSizesAreClampedToTheScreen)
{
    WriteFile(Path, "[GUITestRunner Config]\r\nLeft=-99999\r\nTop=-99999\r\nWidth=2147483647\r\nHeight=2\r\n"
                    "ShowTestCasesWithRunTimeProperties=1\r\n");
    Open();
    EXPECT_EQ(Layer->Bounds.Left, 0);
    EXPECT_EQ(Layer->Bounds.Top, 0);
    EXPECT_EQ(Layer->Bounds.Width, 1920);
    EXPECT_EQ(Layer->Bounds.Height, 150);
    EXPECT_TRUE(Actions().GetChecked(A::ShowTestCasesWithRunTimePropertiesAction));
    Layer->Bounds = {5000, 900, 800, 16777215}; // as the window system may report it
    Close();
    const std::string text = ReadFile(Path);
    EXPECT_NE(text.find("Left=1120\r\nTop=0\r\nWidth=800\r\nHeight=1080\r\n"), std::string::npos) << text;
}

TEST_F(WindowSettings, StoredValuesAreCheckedAsTheyLoad)
{
    WriteFile(Path, "[GUITestRunner Config]\r\nFailureList.ColumnWidth[2]=0\r\nFailureList.ColumnWidth[1]=wide\r\n"
                    "ResultsPanel.Height=90\r\nErrorMessage.Visible=0\r\nPopupX=-5\r\n"
                    "FailOnMemoryLeaked=1\r\nIgnoreSetUpTearDownLeaks=1\r\nReportMemoryLeakTypes=1\r\n"
                    "WarnOnFailTestOverride=1\r\n");
    Open();
    EXPECT_EQ(Layer->ColumnWidths, (std::vector<int>{120, 100, 4, 50}));
    EXPECT_EQ(Layer->ResultsHeight, 90);
    EXPECT_FALSE(Layer->ErrorBoxVisible);
    // Leak detection is not available: whatever was stored, its options start off.
    for (A leak : {A::FailTestCaseIfMemoryLeakedAction, A::IgnoreMemoryLeakInSetUpTearDownAction,
                   A::ReportMemoryLeakTypeOnShutdownAction}) {
        EXPECT_FALSE(Actions().GetChecked(leak));
        EXPECT_FALSE(Actions().GetEnabled(leak));
    }
    // Restoring applies the stored states and leaves what is enabled as it is; it can
    // leave both exclusive options checked.
    Execute(A::ShowTestCasesWithRunTimePropertiesAction);
    Execute(A::RestoreSavedAction);
    EXPECT_TRUE(Actions().GetChecked(A::FailTestCaseIfMemoryLeakedAction));
    EXPECT_FALSE(Actions().GetEnabled(A::FailTestCaseIfMemoryLeakedAction));
    EXPECT_TRUE(Actions().GetChecked(A::WarnOnFailTestOverrideAction));
    EXPECT_TRUE(Actions().GetChecked(A::ShowTestCasesWithRunTimePropertiesAction));
}

TEST_F(WindowSettings, AnUncheckedTestStaysUncheckedAfterARescanAndInTheNextWindow)
{
    Open();
    Toggle("Discount");
    Execute(A::SaveConfigurationAction);
    // A rescan registers the tests anew and assigns the new tree.
    Form->AssignSuite(Registered());
    EXPECT_FALSE(Enabled("Discount"));
    EXPECT_TRUE(Enabled("Add"));
    Close();
    Open();
    EXPECT_FALSE(Enabled("Discount"));

    Toggle("Discount");
    Close();
    EXPECT_EQ(ReadFile(Path).find("Discount"), std::string::npos);
}

TEST_F(WindowSettings, AnotherProgramsSectionsAndCommentsSurviveASave)
{
    const std::string foreign = "; kept by another tool\n[Other]\n  Path = /opt/x  \n# note\n\n";
    WriteFile(Path, foreign);
    Open();
    Toggle("Add");
    Close();
    const std::string text = ReadFile(Path);
    EXPECT_EQ(text.substr(0, foreign.size()), foreign);
    EXPECT_NE(text.find("[Tests.WexelRunner.so.Calc]\nAdd=0\n"), std::string::npos) << text;
}

TEST_F(WindowSettings, AStopSignalClosesTheWindowWithItsSettingsSaved)
{
    Open();
    Toggle("Add");
    Form->CheckStopSignal();
    EXPECT_FALSE(Layer->Closed);
    {
        const Sys::TStopSignals signals([](int) {});
        std::raise(SIGTERM);
        Form->CheckStopSignal();
    }
    EXPECT_TRUE(Layer->Closed);
    Close();
    EXPECT_NE(ReadFile(Path).find("[Tests.WexelRunner.so.Calc]\r\nAdd=0\r\n"), std::string::npos);
}

// A root suite that counts the saves of its tests' check boxes.
class TSavingRoot : public TestFramework::TTestSuite {
public:
    using TTestSuite::TTestSuite;
    using TTestSuite::SaveConfiguration;
    void SaveConfiguration(TestFramework::TCustomIniFile& store, const std::string& section) override
    {
        ++Saves;
        TTestSuite::SaveConfiguration(store, section);
    }
    int Saves = 0;
};

// A run's start leaves the file with the check boxes as they are then (a run killed by a
// signal has nothing else to leave), but writes them only when they or the file changed.
TEST_F(WindowSettings, ARunStartWritesTheCheckBoxesWhenTheyOrTheFileChanged)
{
    WriteFile(Path, DefaultConfig + "[Tests.WexelRunner.so.Calc]\r\nSub=0\r\n");
    auto root = std::make_shared<TSavingRoot>("WexelRunner.so");
    root->AddTest(Suite("Calc", {Case("Add"), Case("Sub")}));
    Layer = std::make_unique<TFakeRunnerLayer>();
    Form = std::make_unique<TGUITestRunner>(*Layer, Path);
    Form->RunModal(root);
    const auto run = [&] {
        root->Saves = 0;
        Execute(A::RunAction);
        return root->Saves;
    };
    const auto saved = [&](const char* key) {
        const std::string text = ReadFile(Path);
        const std::size_t section = text.find("[Tests.WexelRunner.so.Calc]");
        return section != std::string::npos && text.find(key, section) != std::string::npos;
    };
    // The check boxes are as the window read them from the file.
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(saved("Sub=0"));
    Toggle("Sub");
    Toggle("Add");
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(saved("Add=0"));
    EXPECT_FALSE(saved("Sub=0"));
    EXPECT_EQ(run(), 0);
    // Another program wrote the file meanwhile: the check boxes go in again.
    WriteFile(Path, DefaultConfig);
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(saved("Add=0"));
    // A flag changed behind the tree's back shows in the reset's check images and is saved.
    Form->TestOfNode(&Node("Sub"))->SetEnabled(false);
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(saved("Sub=0"));
    // After any other save, and after a new tree, the next run's start writes them again.
    Execute(A::SaveConfigurationAction);
    EXPECT_EQ(run(), 1);
    Form->RebuildTree();
    Form->FormShow();
    EXPECT_EQ(run(), 1);
    // A file changed between the window's start and its first run is written too.
    Close();
    Layer = std::make_unique<TFakeRunnerLayer>();
    Form = std::make_unique<TGUITestRunner>(*Layer, Path);
    Form->RunModal(root);
    WriteFile(Path, DefaultConfig);
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(saved("Add=0"));
    // Without automatic saves a run's start writes nothing.
    Execute(A::AutoSaveAction);
    Toggle("Add");
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(saved("Add=0"));
}

TEST_F(WindowSettings, AStoreThatCannotBeWrittenOrReadIsOneLineOnStandardError)
{
    // The directory is a plain file, so nothing can be created in it.
    WriteFile(Dir.File("plain"), "");
    const std::string unwritable = Dir.File("plain") + "/roved.ini";
    Open(unwritable);
    Toggle("Add");
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(Close());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "The settings were not saved: Cannot write ini file \"" + unwritable + "\": Not a directory\r\n");

    // A settings file that is a directory cannot be read: the window opens with its own
    // states, and closes, saying so each time.
    std::filesystem::create_directory(Path);
    ::testing::internal::CaptureStderr();
    Open();
    EXPECT_TRUE(Actions().GetChecked(A::AutoSaveAction));
    Close();
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.find("The settings were not read: Cannot read ini file \"" + Path + "\": Is a directory\r\n"), 0u)
        << errors;
    EXPECT_NE(errors.find("The settings were not saved: "), std::string::npos) << errors;
}

TEST_F(WindowSettings, OptionCommandsChangeTheirPartners)
{
    Open();
    Layer->ErrorBoxTop = 380;
    Execute(A::ErrorBoxVisibleAction);
    EXPECT_FALSE(Layer->ErrorBoxVisible);
    Execute(A::ErrorBoxVisibleAction);
    EXPECT_TRUE(Layer->ErrorBoxVisible);
    EXPECT_EQ(Layer->ErrorBoxSplitterTop, 372);

    Execute(A::WarnOnFailTestOverrideAction);
    Execute(A::ShowTestCasesWithRunTimePropertiesAction);
    EXPECT_FALSE(Actions().GetChecked(A::WarnOnFailTestOverrideAction));
    Execute(A::WarnOnFailTestOverrideAction);
    EXPECT_FALSE(Actions().GetChecked(A::ShowTestCasesWithRunTimePropertiesAction));
    Execute(A::WarnOnFailTestOverrideAction); // unchecking leaves the other alone
    EXPECT_FALSE(Actions().GetChecked(A::ShowTestCasesWithRunTimePropertiesAction));

    Execute(A::FailTestCaseIfMemoryLeakedAction);
    EXPECT_TRUE(Actions().GetEnabled(A::IgnoreMemoryLeakInSetUpTearDownAction));
    Execute(A::IgnoreMemoryLeakInSetUpTearDownAction);
    Execute(A::FailTestCaseIfMemoryLeakedAction);
    EXPECT_FALSE(Actions().GetEnabled(A::IgnoreMemoryLeakInSetUpTearDownAction));
    EXPECT_FALSE(Actions().GetChecked(A::IgnoreMemoryLeakInSetUpTearDownAction));
}

} // namespace

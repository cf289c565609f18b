#include "runner/WexelRunner.h"

#include "bridge/HostPlatform.h"
#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "report/JUnitTestRunner.h"
#include "report/ReportRun.h"
#include "report/TextTestRunner.h"
#include "report/XMLTestRunner.h"
#include "report/XMLTestRunner2.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "runner/CiSettings.h"
#include "runner/CmdLineParser.h"
#include "runner/GuiModule.h"

#include <cstdlib>
#include <exception>
#include <memory>

namespace WexelRunner {

void WriteLine(unsigned char level, std::string_view text)
{
    if (level != 1 && level != 2)
        return;
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    Sys::WriteRaw(level == 1 ? Sys::TStdHandle::Output : Sys::TStdHandle::Error, line);
}

TRunSettings& RunSettings()
{
    static TRunSettings settings;
    return settings;
}

namespace {

// The XML modes write this file in the current directory unless told otherwise.
constexpr const char* ReportFileName = "roved-report.xml";

// Bazel names the file where it collects a test's JUnit report.
constexpr const char* BazelReportVariable = "XML_OUTPUT_FILE";

// The report file of the mode: --report, else for JUnit Bazel's file, else the default.
std::string ReportFileFor(const std::string& mode)
{
    const std::string& chosen = RunSettings().ReportFile;
    if (!chosen.empty())
        return chosen;
    if (mode == "xml_junit")
        if (const char* bazel = std::getenv(BazelReportVariable); bazel && *bazel)
            return bazel;
    return ReportFileName;
}

// Where a script test is declared, for the JUnit report. The bridge's test case does not
// carry its declaration yet; once it does, this answers
// {JUnitTestRunner::ShownPath(file), line} for it.
JUnitTestRunner::TTestPosition ScriptTestPosition(const TestFramework::ITestPtr& test)
{
    (void)test;
    return {};
}

JUnitTestRunner::TReportHooks JUnitHooks()
{
    JUnitTestRunner::TReportHooks hooks;
    hooks.Position = ScriptTestPosition;
    hooks.BeginOutput = WexelHost::BeginOutputCapture;
    hooks.TakeOutput = WexelHost::EndOutputCapture;
    return hooks;
}

// Reads the options into the run settings; "ver" and every option error end the process.
void ReadOptions()
{
    try {
        CmdLineParser::TCommandLineReader reader;
        reader.AllowSlashPrefix = true;
        reader.DeclareFlag("ver", false);
        reader.DeclareString("mode", "gui");
        reader.DeclareString("config", "");
        reader.DeclareString("report", "");
        reader.Parse();
        if (reader.ReadFlag("ver")) {
            WriteLine(1, std::string("Build version: ") + BuildVersion +
                             ". Protocol version: " + Wexel::ProtocolVersion + ".");
            Sys::Halt(0);
        }
        TRunSettings& settings = RunSettings();
        settings.RunMode = reader.ReadString("mode");
        settings.ConfigFile = reader.ReadString("config");
        settings.ReportFile = reader.ReadString("report");
        settings.FileMask = "*.qlx";
        if (!reader.ReadPositional().empty())
            settings.FileMask = reader.ReadPositional().front();
    } catch (const std::exception& e) {
        WriteLine(2, e.what());
        Sys::Halt(1);
    }
}

void WriteBanner(const TRunSettings& settings)
{
    WriteLine(1, "***  Wexel Runner  ***");
    WriteLine(1, "Mode: " + settings.RunMode);
    WriteLine(1, "Config: " + settings.ConfigFile);
    WriteLine(1, "Filemask: " + settings.FileMask);
}

// Runs the registered tests in the given mode; false for a mode that is not one of the
// known words (compared exactly, case-sensitively). The run's result goes to result; the
// window keeps the results of its runs to itself and leaves it empty.
bool Dispatch(const std::string& mode, std::unique_ptr<TestFramework::TTestResult>& result)
{
    if (mode == "txt")
        result = TextTestRunner::RunRegisteredTests();
    else if (mode == "xml")
        result = XMLTestRunner::RunRegisteredTests(ReportFileFor(mode));
    else if (mode == "xml_nunit")
        result = XMLTestRunner2::RunRegisteredTests(ReportFileFor(mode));
    else if (mode == "xml_junit")
        result = JUnitTestRunner::RunRegisteredTests(ReportFileFor(mode), JUnitHooks());
    else if (mode == "gui")
        RunInWindow();
    else
        return false;
    return true;
}

// The first stop signal ends the running script test as an error and stops the run as
// Stop does, so that every report is still finished; the host then exits with 128 plus
// the signal's number.
void OnStopSignal(int signal)
{
    TestFramework::RequestStop();
    ReportRun::NoteStopCause(Sys::SignalName(signal));
    WexelHost::StopScripts(Sys::SignalName(signal));
}

// Registers the discovered tests and runs them, or reports why the library cannot be used.
void RunWithAdapter(Wexel::TWexelAdapter& adapter, const std::string& mode, const TCiSettings& ci)
{
    if (!adapter.Ready) {
        WriteLine(2, "Error: " + adapter.ErrorText);
        Sys::SetExitCode(1);
        return;
    }
    // The tree is named after this library, whichever module holds the registry.
    TestFramework::NameRootAfterModule(reinterpret_cast<const void*>(&Main));
    adapter.Shard = ci.Shard;
    adapter.RegisterTests();
    std::unique_ptr<TestFramework::TTestResult> result;
    if (!Dispatch(mode, result))
        WriteLine(2, "Unknown mode");
    // Only raises a clean exit: 1 already says that something worse went wrong.
    if (ci.ExitOnFailure && result && (result->FailureCount() > 0 || result->ErrorCount() > 0) &&
        Sys::ExitCode() == 0)
        Sys::SetExitCode(FailingTestsExitCode);
}

} // namespace

} // namespace WexelRunner

void Main()
{
    using namespace WexelRunner;
    Sys::SetExitCode(0);
    TestFramework::ResetStopRequest();
    ReportRun::NoteStopCause(nullptr);
    WexelHost::ResumeScripts();
    Sys::TStopSignals stopSignals(OnStopSignal);
    ReadOptions();
    const TRunSettings& settings = RunSettings();
    WriteBanner(settings);
    const TCiSettings ci = ReadCiSettings();
    TouchShardStatusFile(ci.ShardStatusFile);

    // A failed login or an adapter that cannot be created raises out of Main before
    // anything needs cleaning up.
    const bool loggedIn = !settings.ConfigFile.empty();
    if (loggedIn)
        WexelHost::PerformLogin(settings.ConfigFile);
    auto adapter = std::make_unique<Wexel::TWexelAdapter>(settings.FileMask, settings.ConfigFile);
    Wexel::WexelAdapter = adapter.get();

    // From here the clean-up runs whatever happens: the connections are closed first,
    // then the adapter is freed.
    auto cleanUp = [&] {
        Wexel::WexelAdapter = nullptr;
        std::unique_ptr<Wexel::TWexelAdapter> freed = std::move(adapter);
        if (loggedIn)
            WexelHost::BaseMng->CloseConnections();
    };
    try {
        RunWithAdapter(*adapter, settings.RunMode, ci);
    } catch (...) {
        try {
            cleanUp();
        } catch (...) {
            // The run's own exception is the one the host reports.
        }
        throw;
    }
    cleanUp();
}

#include "runner/WexelRunner.h"

#include "bridge/HostPlatform.h"
#include "bridge/TestCaseQuill.h"
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
#include "runner/TestSelection.h"

#include <charconv>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <random>
#include <typeinfo>

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

// Decimal digits only, in range: no sign, blank or exponent slips through as a number.
template <typename T>
T WholeNumber(const std::string& option, const std::string& text, T least)
{
    T value{};
    const char* end = text.data() + text.size();
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        std::from_chars(text.data(), end, value).ptr != end || value < least)
        throw Sys::Exception("Error: --" + option + " must be a whole number from " + std::to_string(least) +
                             ", not \"" + text + "\"");
    return value;
}

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

// Where a script test is declared, for the JUnit report. The schema that Jenkins' xUnit
// plugin checks has no such attributes: WEXEL_JUNIT_POSITIONS=0 leaves them out for it.
JUnitTestRunner::TTestPosition ScriptTestPosition(const TestFramework::ITestPtr& test)
{
    static const bool wanted = Sys::GetEnv("WEXEL_JUNIT_POSITIONS") != "0";
    if (!wanted)
        return {};
    const TestFramework::ITest* raw = test.get();
    if (!raw)
        return {};
    // A cast across the framework's virtual bases walks the whole class hierarchy, for
    // every test; a script test's own class is recognised and reached far more cheaply.
    const auto* script = typeid(*raw) == typeid(Wexel::TTestCaseQuill)
                             ? static_cast<const Wexel::TTestCaseQuill*>(dynamic_cast<const void*>(raw))
                             : dynamic_cast<const Wexel::TTestCaseQuill*>(raw);
    if (!script || script->DeclFileView().empty())
        return {};
    // Tests come library by library: the shown form of the last file (which asks the
    // file system) serves the next test nearly always. Each file's stays for the process,
    // as the report holds a view of it.
    static std::map<std::string, std::string, std::less<>> shownPaths;
    static const std::pair<const std::string, std::string>* last = nullptr;
    if (!last || script->DeclFileView() != last->first) {
        auto found = shownPaths.find(script->DeclFileView());
        if (found == shownPaths.end()) {
            std::string file(script->DeclFileView());
            std::string shown = JUnitTestRunner::ShownPath(file);
            found = shownPaths.emplace(std::move(file), std::move(shown)).first;
        }
        last = &*found;
    }
    return {last->second, script->DeclLine()};
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
        reader.DeclareString("coverage", "");
        reader.DeclareList("filter");
        reader.DeclareFlag("list", false);
        reader.DeclareString("rerun-failed", "");
        reader.DeclareString("repeat", "1");
        reader.DeclareOptional("shuffle");
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
        // A shell expands a mask into one argument per library: every one of them counts.
        settings.FileMasks = reader.ReadPositional();
        if (settings.FileMasks.empty())
            settings.FileMasks.push_back("*.qlx");
        settings.FileMask = settings.FileMasks.front();
        settings.CoverageFile = reader.ReadString("coverage");
        if (settings.CoverageFile.empty())
            settings.CoverageFile = Sys::GetEnv("WEXEL_COVERAGE");
        settings.ReportFile = reader.ReadString("report");
        settings.Filters = reader.ReadList("filter");
        settings.List = reader.ReadFlag("list");
        settings.RerunFailedFile = reader.ReadString("rerun-failed");
        settings.Repeat = WholeNumber<std::size_t>("repeat", reader.ReadString("repeat"), 1);
        settings.Shuffle = reader.ReadFlag("shuffle");
        settings.ShuffleSeed = reader.ReadString("shuffle");
        if (!settings.ShuffleSeed.empty())
            WholeNumber<std::uint64_t>("shuffle", settings.ShuffleSeed, 0);
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
    std::string masks;
    for (const std::string& mask : settings.FileMasks)
        masks += (masks.empty() ? "" : " ") + mask;
    WriteLine(1, "Filemask: " + masks);
}

// What chose the tests, for the line that says nothing was chosen.
std::string SelectionText(const TRunSettings& settings, std::size_t discovered)
{
    auto quoted = [](const std::vector<std::string>& words) {
        std::string text;
        for (const std::string& word : words)
            text += " \"" + word + "\"";
        return text;
    };
    std::string text = (settings.FileMasks.size() == 1 ? "the mask" : "the masks") + quoted(settings.FileMasks);
    if (discovered == 0)
        return text;
    if (!settings.Filters.empty())
        text += (settings.Filters.size() == 1 ? ", the filter" : ", the filters") + quoted(settings.Filters);
    if (!settings.RerunFailedFile.empty())
        text += ", the failures in" + quoted({settings.RerunFailedFile});
    return text;
}

// The selection of the options and the environment. The report of --rerun-failed is read
// here, so that a missing one ends the run before anything is discovered.
TSelection MakeSelection(const TRunSettings& settings, const TCiSettings& ci)
{
    TSelection selection;
    selection.Filters = settings.Filters;
    if (selection.Filters.empty() && !ci.TestOnly.empty())
        selection.Filters.push_back(ci.TestOnly);
    if (!settings.RerunFailedFile.empty())
        selection.Failed = ReadFailedTests(settings.RerunFailedFile);
    selection.Shard = ci.Shard;
    selection.Repeat = settings.Repeat;
    if (settings.Shuffle) {
        std::uint64_t seed = 0;
        if (!settings.ShuffleSeed.empty())
            std::from_chars(settings.ShuffleSeed.data(), settings.ShuffleSeed.data() + settings.ShuffleSeed.size(), seed);
        else
            seed = (std::uint64_t(std::random_device()()) << 32) | std::random_device()();
        selection.ShuffleSeed = seed;
    }
    return selection;
}

// How many tests discovery found and how many the selection chose, before the shard.
struct TSelectionCounts {
    std::size_t Discovered = 0;
    std::size_t Selected = 0;
};

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

// Registers the discovered tests and runs them (or lists them), or reports why the library
// cannot be used.
void RunWithAdapter(Wexel::TWexelAdapter& adapter, const TRunSettings& settings, const TCiSettings& ci,
                    const TSelectionCounts& counts)
{
    if (!adapter.Ready) {
        WriteLine(2, "Error: " + adapter.ErrorText);
        Sys::SetExitCode(1);
        return;
    }
    // The tree is named after this library, whichever module holds the registry.
    TestFramework::NameRootAfterModule(reinterpret_cast<const void*>(&Main));
    // Only the window loads the libraries again (before each run); elsewhere a kept
    // compiled library would never be used.
    WexelHost::KeepCompiledLibraries(settings.RunMode == "gui" && !settings.List);
    adapter.RegisterTests();
    if (settings.List) {
        for (const std::string& line : ListRegisteredTests())
            WriteLine(1, line);
        return;
    }
    std::unique_ptr<TestFramework::TTestResult> result;
    const bool known = Dispatch(settings.RunMode, result);
    if (!known)
        WriteLine(2, "Unknown mode");
    // Only raises a clean exit: 1 already says that something worse went wrong. The
    // window keeps its results to itself and leaves result empty.
    if (!ci.ExitOnFailure || Sys::ExitCode() != 0)
        return;
    if (!known) {
        Sys::SetExitCode(NothingRanExitCode);
    } else if (result && counts.Selected == 0) {
        WriteLine(2, "No test matched " + SelectionText(settings, counts.Discovered));
        Sys::SetExitCode(NothingRanExitCode);
    } else if (result && (result->FailureCount() > 0 || result->ErrorCount() > 0)) {
        Sys::SetExitCode(FailingTestsExitCode);
    }
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
    // A list is for programs to read: nothing but its lines on standard output.
    if (!settings.List)
        WriteBanner(settings);
    const TCiSettings ci = ReadCiSettings();
    TouchShardStatusFile(ci.ShardStatusFile);
    if (!settings.CoverageFile.empty())
        WexelHost::StartCoverage(settings.CoverageFile);
    const TSelection selection = MakeSelection(settings, ci);
    if (selection.ShuffleSeed)
        WriteLine(2, "Shuffle seed: " + std::to_string(*selection.ShuffleSeed));

    // A failed login or an adapter that cannot be created raises out of Main before
    // anything needs cleaning up.
    const bool loggedIn = !settings.ConfigFile.empty();
    if (loggedIn)
        WexelHost::PerformLogin(settings.ConfigFile);
    auto adapter = std::make_unique<Wexel::TWexelAdapter>(settings.FileMask, settings.ConfigFile);
    Wexel::WexelAdapter = adapter.get();
    adapter->MoreMasks.assign(settings.FileMasks.begin() + 1, settings.FileMasks.end());
    // Only the list, the JUnit report and the window show where a test is declared.
    adapter->WantPositions = settings.List || settings.RunMode == "xml_junit" || settings.RunMode == "gui";
    // Shared with the planner, which the window calls again on every rescan.
    auto counts = std::make_shared<TSelectionCounts>();
    adapter->Plan = [selection, counts](const std::vector<std::string_view>& paths) {
        counts->Discovered = paths.size();
        return PlanRegistration(selection, paths, &counts->Selected);
    };

    // From here the clean-up runs whatever happens: the connections are closed first,
    // then the adapter is freed.
    auto cleanUp = [&] {
        Wexel::WexelAdapter = nullptr;
        std::unique_ptr<Wexel::TWexelAdapter> freed = std::move(adapter);
        if (loggedIn)
            WexelHost::BaseMng->CloseConnections();
    };
    try {
        RunWithAdapter(*adapter, settings, ci, *counts);
    } catch (...) {
        try {
            cleanUp();
            WexelHost::FinishCoverage();
        } catch (...) {
            // The run's own exception is the one the host reports.
        }
        throw;
    }
    cleanUp();
    WexelHost::FinishCoverage();
}

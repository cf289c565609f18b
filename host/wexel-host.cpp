// The host program: loads the runner library from its own directory, calls its entry
// and ends with the exit code the run left. It is the last line of defence: whatever
// escapes the run becomes one "Error: " line and exit code 1, never an abort.

#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/Signals.h"

#include <exception>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view Usage =
    "Usage: wexel-host [--mode=txt|xml|xml_nunit|xml_junit|gui] [--config=FILE] [--ver]\r\n"
    "                  [--filter=GLOB]... [--list] [--rerun-failed=FILE] [--repeat=N]\r\n"
    "                  [--shuffle[=SEED]] [--coverage=FILE] [MASK]...\r\n"
    "\r\n"
    "Loads WexelRunner.so from the directory of this program and runs the script tests\r\n"
    "whose libraries match the masks (default *.qlx, relative to ../USER). Every MASK\r\n"
    "counts, so a glob that the shell expands runs every library it names, each once.\r\n"
    "\r\n"
    "  --mode=MODE    txt: progress and a plain-text report on standard output\r\n"
    "                 xml, xml_nunit, xml_junit: an XML report in roved-report.xml\r\n"
    "                 (xml_junit: the JUnit XML that CI servers read)\r\n"
    "                 gui: the interactive window (the default)\r\n"
    "  --config=FILE  log in to the host platform with FILE (\"default\" for the built-in one)\r\n"
    "  --coverage=FILE  write line coverage of the script libraries to FILE (LCOV, or\r\n"
    "                 Cobertura XML for a name ending in .xml)\r\n"
    "  --filter=GLOB  run only the tests whose full path (Orders/Pricing/Round) matches;\r\n"
    "                 * is any run of characters, / included, ? one character; give it\r\n"
    "                 again for more, and start it with ! to leave out what it matches\r\n"
    "  --list         print the chosen tests' paths in run order and run nothing\r\n"
    "  --rerun-failed=FILE\r\n"
    "                 run only the tests that failed or erred in the JUnit report FILE\r\n"
    "  --repeat=N     run the chosen tests N times\r\n"
    "  --shuffle[=SEED]\r\n"
    "                 run suites and tests in an order drawn from SEED (random when not\r\n"
    "                 given), printed as \"Shuffle seed: N\" on standard error\r\n"
    "  --ver          print the build and protocol versions\r\n"
    "  -h, --help     print this text (handled by the host; the runner is not loaded)\r\n"
    "\r\n"
    "Environment:\r\n"
    "  WEXEL_TEST_TIMEOUT=SECONDS  end a script test that runs longer (a decimal number,\r\n"
    "                 such as 30 or 2.5) as an error and go on with the next test\r\n"
    "  WEXEL_EXIT_ON_FAILURE=1     exit with 2 when a test failed or erred, with 5 when no\r\n"
    "                 test matched or the mode is unknown (not in mode gui)\r\n"
    "  TEST_TOTAL_SHARDS=N, TEST_SHARD_INDEX=I\r\n"
    "                 run only shard I (from 0) of N; shards are dealt over the chosen\r\n"
    "                 tests sorted by full path, so every process deals them alike\r\n"
    "  TEST_SHARD_STATUS_FILE=FILE touched to say the shard variables are honoured\r\n"
    "  WEXEL_COVERAGE=FILE         as --coverage=FILE\r\n"
    "  WEXEL_COVERAGE_INCLUDE, WEXEL_COVERAGE_EXCLUDE=PATTERNS\r\n"
    "                 Lua patterns over the file path, separated by \";\": only the files\r\n"
    "                 matching one, none of the files matching one (default: no test library)\r\n"
    "  WEXEL_COVERAGE_SOURCES=DIRS where the sources of compiled libraries are, by \";\"\r\n"
    "  TESTBRIDGE_TEST_ONLY=GLOB   one --filter when none is given (bazel test --test_filter)\r\n"
    "\r\n"
    "Examples:\r\n"
    "  wexel-host --mode=txt --filter='Orders/*' --filter='!*/Tax/*'\r\n"
    "  wexel-host --mode=txt --rerun-failed=roved-report.xml   (after a run in xml_junit)\r\n"
    "  bazel test //tests:scripts --test_filter='Orders/Pricing/*'   (arrives as\r\n"
    "                 TESTBRIDGE_TEST_ONLY when the target runs wexel-host)\r\n"
    "\r\n"
    "SIGINT, SIGTERM or SIGHUP end the running test as an error, finish the reports and\r\n"
    "exit with 128 plus the signal's number; a second signal ends the program at once.\r\n";

void WriteError(const std::string& message)
{
    Sys::WriteRaw(Sys::TStdHandle::Error, "Error: " + message + "\r\n");
}

} // namespace

int main(int argc, char** argv)
{
    Sys::OpenClosedStdHandles();
    // A reader that goes away ("| head") ends console output, not the run.
    Sys::IgnoreBrokenPipes();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Sys::WriteRaw(Sys::TStdHandle::Output, Usage);
            return 0;
        }
    }

    const std::string path = Sys::ExeDir() + "/WexelRunner.so";
    Sys::TLibrary runner;
    if (!runner.Load(path)) {
        WriteError("cannot load the runner library: " + runner.LastError());
        return 1;
    }
    auto entry = reinterpret_cast<void (*)()>(runner.Symbol("Main"));
    if (!entry) {
        WriteError(path + " has no entry Main");
        return 1;
    }
    int code = 0;
    try {
        entry();
        code = Sys::ExitCode();
    } catch (const std::exception& e) {
        WriteError(e.what());
        code = 1;
    } catch (...) {
        WriteError("unknown exception");
        code = 1;
    }
    // A run cut short by a crash of a script or by a stop signal says so the way a
    // shell does.
    if (int signal = Sys::FatalSignal())
        Sys::HaltWithoutCleanUp(128 + signal);
    if (int signal = Sys::StopSignal())
        return 128 + signal;
    return code;
}

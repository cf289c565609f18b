// The staged host against scripts and surroundings that try to end the run early: deep
// test trees, os.exit, tests that never return, stop signals, a time limit, closed
// standard streams, NUL bytes in answers and unreadable configurations. Whatever they
// do, the run must finish its reports and end with one clear exit code.

#include "E2eStage.h"
#include "Libraries.h"
#include "XmlCheck.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

using namespace E2e;
using ReportTestSupport::Parse;
using ReportTestSupport::TextOf;
using ReportTestSupport::XmllintComplaint;
using TestSupport::ReadFile;

namespace {

const std::vector<std::string> Modes{"txt", "xml", "xml_nunit"};

// Each test's outcome from the report of the mode, one "name result: message" a line;
// for mode "txt" the console's failure list. The XML report must be well-formed.
std::string Outcomes(const TE2eStage& stage, const std::string& mode, const TProcessResult& run)
{
    if (mode == "txt")
        return run.Out;
    const std::string report = ReadFile(stage.ReportPath());
    EXPECT_EQ(XmllintComplaint(report), "");
    pugi::xml_document doc;
    const bool nunit = mode == "xml_nunit";
    EXPECT_TRUE(Parse(doc, report, nunit ? pugi::encoding_utf8 : pugi::encoding_latin1)) << report;
    std::string lines;
    for (const pugi::xpath_node& node : doc.select_nodes(nunit ? "//test-case" : "//Test")) {
        const pugi::xml_node test = node.node();
        std::string name = test.attribute("name").value();
        name = name.substr(name.rfind('.') + 1);
        const std::string message = TextOf(nunit ? test.child("failure").child("message") : test.child("Message"));
        lines += name + " " + test.attribute("result").value() + ": " + message.substr(0, message.find('\r')) + "\n";
    }
    return lines;
}

// The peak resident size of the largest child this test process has waited for, in MB.
long PeakChildMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether any process runs with exactly this command line (words joined by blanks).
bool ProcessRuns(const std::string& commandLine)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (line == commandLine + " ")
            return true;
    }
    return false;
}

// The staged host in mode "xml", its standard input a pipe that never delivers (a FIFO
// opened for reading and writing at once), with the time limit.
TProcessResult RunWithSilentInput(const TE2eStage& stage, const std::string& limit)
{
    const std::string fifo = stage.WorkDir() + "/silent-input";
    ::mkfifo(fifo.c_str(), 0600);
    TestSupport::TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    if (!limit.empty())
        options.Env["WEXEL_TEST_TIMEOUT"] = limit;
    return TestSupport::RunProcess({"/usr/bin/timeout", "-s", "KILL", "20", "/bin/sh", "-c",
                                    "exec \"$0\" --mode=xml <> silent-input", stage.HostPath()},
                                   options);
}

} // namespace

TEST(HostileScripts, DeepTreesEndWithOneErrorLineAndShallowerOnesRun)
{
    for (int levels : {20000, 100000}) {
        TE2eStage stage;
        std::string line;
        for (int i = 0; i < levels; ++i)
            line += "a/";
        stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", line + "t"));
        const auto start = std::chrono::steady_clock::now();
        const auto r = stage.Run({"--mode=xml"});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.ExitCode, 1) << levels;
        EXPECT_EQ(r.Err.rfind("Error: Assertion failure", 0), 0u) << r.Err.substr(0, 300);
        EXPECT_NE(r.Err.find("test path \"a/a/a/"), std::string::npos) << r.Err.substr(0, 300);
        EXPECT_LT(r.Err.size(), 1000u) << "the message quotes only the start of the line";
        EXPECT_EQ(r.Err.find("\r\n"), r.Err.size() - 2) << "one line";
        EXPECT_LT(seconds, 2.0) << levels;
        EXPECT_LT(PeakChildMegabytes(), 200) << levels;
    }

    TE2eStage stage;
    std::string line;
    for (int i = 0; i < 900; ++i)
        line += i % 2 ? "b/" : "A/";
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", line + "t\n" + line + "u", Answer(line + "u", "##failure deep")));
    const auto r = stage.Run({"--mode=txt"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("Run:             2\r\nFailures:        1\r\n"), std::string::npos) << r.Out.substr(0, 2000);
}

TEST(HostileScripts, OsExitInATestIsAnErrorOfThatTestInEveryMode)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Exits.qlx", "suite('S', function()\n"
                                        "  test('Zero', function() os.exit(0) end)\n"
                                        "  test('Three', function() os.exit(3) end)\n"
                                        "  test('Closing', function() os.exit(0, true) end)\n"
                                        "  test('After', function() end)\n"
                                        "end)\n"
                                        "suite('T', function()\n"
                                        "  setup(function() os.exit(0) end)\n"
                                        "  test('InSetUp', function() end)\n"
                                        "end)\n");
    const std::string refused = "Exits.qlx:2: os.exit is not available to script libraries";
    for (const std::string& mode : Modes) {
        const auto r = stage.Run({"--mode=" + mode});
        EXPECT_EQ(r.ExitCode, 0) << mode << r.Err;
        EXPECT_EQ(r.Signal, 0) << mode;
        EXPECT_EQ(r.Err, "") << mode;
        const std::string outcomes = Outcomes(stage, mode, r);
        if (mode == "txt") {
            EXPECT_NE(outcomes.find("Run:             5\r\nFailures:        0\r\nErrors:          4\r\n"),
                      std::string::npos) << outcomes;
            EXPECT_NE(outcomes.find("  1) Zero: Exception\r\n     at \r\n      \"" + refused + "\n  Exits.qlx:2 in Zero\""),
                      std::string::npos) << outcomes;
            continue;
        }
        const bool nunit = mode == "xml_nunit";
        const std::string error = nunit ? " Error: Exception: [Exception] " : " ERROR: ";
        EXPECT_EQ(outcomes, "Zero" + error + refused + "\n  Exits.qlx:2 in Zero\n" +
                                "Three" + error + "Exits.qlx:3: os.exit is not available to script libraries\n" +
                                "  Exits.qlx:3 in Three\n" +
                                "Closing" + error + "Exits.qlx:4: os.exit is not available to script libraries\n" +
                                "  Exits.qlx:4 in Closing\n" +
                                "After " + (nunit ? "Pass" : "PASS") + ": \n" +
                                "InSetUp" + error + "Exits.qlx:8: os.exit is not available to script libraries\n" +
                                "  Exits.qlx:8 in setup\n")
            << mode;
    }
}

TEST(HostileScripts, OsExitInTheProtocolCallOrAtShutdownKeepsTheErrorExitCode)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Wexel.qlx", "function GetProtocolVersion() os.exit(0) end\n");
    auto r = stage.Run({"--mode=txt"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("os.exit is not available to script libraries"), std::string::npos) << r.Err;

    stage.WriteUserLibrary("Wexel.qlx", "keep = setmetatable({}, { __gc = function() os.exit(0) end })\n"
                                        "function GetProtocolVersion() return '0.86' end\n");
    r = stage.Run({"--mode=txt"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: Incorrect protocol version: 0.87 at WexelRunner, 0.86 at Wexel.\r\n");
}

TEST(HostileScripts, AStopSignalEndsTheHungTestAndFinishesEveryReport)
{
    struct Case {
        std::string Signal;
        int Exit;
    };
    // A shell without job control starts background jobs with SIGINT ignored, and the
    // host rightly keeps a signal ignored from the start; the host here must see it.
    std::signal(SIGINT, SIG_DFL);
    for (const Case& c : {Case{"TERM", 143}, Case{"INT", 130}}) {
        for (const std::string& mode : Modes) {
            TE2eStage stage;
            stage.WriteUserLibrary("Hang.qlx", HangingLibrary(c.Signal));
            TestSupport::TProcessOptions options;
            options.WorkDir = stage.WorkDir();
            // If the signal were lost, the host would hang; the timeout turns that into a
            // failure here instead of a hung test suite.
            const auto r = TestSupport::RunProcess({"/usr/bin/timeout", "-s", "KILL", "20", stage.HostPath(),
                                                    "--mode=" + mode}, options);
            const std::string label = mode + " SIG" + c.Signal;
            EXPECT_EQ(r.ExitCode, c.Exit) << label << r.Err;
            EXPECT_EQ(r.Err, "") << label;
            const std::string message = "Test was interrupted by SIG" + c.Signal;
            const std::string outcomes = Outcomes(stage, mode, r);
            if (mode == "txt") {
                EXPECT_NE(outcomes.find("\r\nRun:             2\r\nFailures:        0\r\nErrors:          1\r\n"
                                        "There was 1 error:\r\n  1) Hangs: Exception\r\n     at \r\n      \"" +
                                        message + "\"\r\n"),
                          std::string::npos) << label << outcomes;
                continue;
            }
            const bool nunit = mode == "xml_nunit";
            // The test the stop kept from running is listed as not run.
            EXPECT_EQ(outcomes, std::string("Before ") + (nunit ? "Pass" : "PASS") + ": \nHangs " +
                                    (nunit ? "Error: Exception: [Exception] " : "ERROR: ") + message + "\n" +
                                    (nunit ? "After : \n" : ""))
                << label;
        }
    }
}

TEST(HostileScripts, ATestPastTheTimeLimitErrsAndTheRunGoesOn)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Slow.qlx", "suite('S', function()\n"
                                       "  test('Loops', function() while true do end end)\n"
                                       "  test('Catches', function()\n"
                                       "    while true do pcall(function() while true do end end) end\n"
                                       "  end)\n"
                                       "  test('Quick', function() end)\n"
                                       "end)\n");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_TEST_TIMEOUT"] = "0.5";
    const auto start = std::chrono::steady_clock::now();
    const auto r = stage.Run({"--mode=xml"}, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Outcomes(stage, "xml", r), "Loops ERROR: Test exceeded the time limit of 0.5 s\n"
                                         "Catches ERROR: Test exceeded the time limit of 0.5 s\n"
                                         "Quick PASS: \n");
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);

    for (const char* bad : {"soon", "-1", "0", "1e3", "2s"}) {
        options.Env["WEXEL_TEST_TIMEOUT"] = bad;
        const auto refused = stage.Run({"--mode=txt"}, options);
        EXPECT_EQ(refused.ExitCode, 1) << bad;
        EXPECT_EQ(refused.Err, std::string("Error: WEXEL_TEST_TIMEOUT must be a positive number of seconds, not \"") +
                                   bad + "\"\r\n");
    }
}

TEST(HostileScripts, ClosedStandardOutputDoesNotLetPrintsIntoTheReport)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Prints.qlx", "suite('S', function() test('Prints', function() print('<oops>') end) end)\n");
    TestSupport::TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    const auto r = TestSupport::RunProcess({"/bin/sh", "-c", "exec \"$0\" --mode=xml >&-", stage.HostPath()}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Outcomes(stage, "xml", r), "Prints PASS: \n");
}

TEST(HostileScripts, ANulByteInAnAnswerKeepsTheWholeMessage)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", "S/t", Answer("S/t", std::string("##failure before\0after", 23))));
    const auto txt = stage.Run({"--mode=txt"});
    EXPECT_NE(txt.Out.find(std::string("\"before\0after\"", 14)), std::string::npos) << txt.Out;
    stage.Run({"--mode=xml"});
    EXPECT_EQ(Outcomes(stage, "xml", {}), "t FAILS: before\xEF\xBF\xBD" "after\n");
}

TEST(HostileScripts, AnUnreadableConfigurationIsNamed)
{
    TE2eStage stage;
    const auto r = stage.Run({"--mode=txt", "--config=/proc/self/mem"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: Cannot log in: the configuration file /proc/self/mem cannot be read\r\n");
}

TEST(HostileScripts, TestsBlockedInSystemCallsEndAtTheTimeLimitWithTheirChildren)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Blocks.qlx", "suite('S', function()\n"
                                         "  test('Reads', function() io.read('l') end)\n"
                                         "  test('Executes', function() os.execute('sleep 97.25') end)\n"
                                         "  test('Pipes', function() io.popen('sleep 97.5'):read('a') end)\n"
                                         "  test('Opens', function() io.open('fifo') end)\n"
                                         "  test('Passes', function() check(true) end)\n"
                                         "end)\n");
    ::mkfifo((stage.WorkDir() + "/fifo").c_str(), 0600);
    const auto start = std::chrono::steady_clock::now();
    const auto r = RunWithSilentInput(stage, "0.5");
    const double seconds = SecondsSince(start);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string limit = " ERROR: Test exceeded the time limit of 0.5 s\n";
    EXPECT_EQ(Outcomes(stage, "xml", r), "Reads" + limit + "Executes" + limit + "Pipes" + limit + "Opens" + limit +
                                             "Passes PASS: \n");
    EXPECT_LT(seconds, 5.0);
    EXPECT_FALSE(ProcessRuns("sleep 97.25"));
    EXPECT_FALSE(ProcessRuns("sleep 97.5"));
}

TEST(HostileScripts, AStopSignalEndsACommandTheTestWaitsForAndTheCommand)
{
    std::signal(SIGINT, SIG_DFL);
    TE2eStage stage;
    stage.WriteUserLibrary("Waits.qlx", "suite('S', function()\n"
                                        "  test('Before', function() end)\n"
                                        "  test('Waits', function() os.execute('(sleep 0.3; kill -TERM $PPID) & sleep 97.75') end)\n"
                                        "  test('After', function() end)\n"
                                        "end)\n");
    const auto r = RunWithSilentInput(stage, "");
    EXPECT_EQ(r.ExitCode, 143) << r.Err;
    EXPECT_EQ(Outcomes(stage, "xml", r), "Before PASS: \nWaits ERROR: Test was interrupted by SIGTERM\n");
    EXPECT_FALSE(ProcessRuns("sleep 97.75"));
}

TEST(HostileScripts, StopsReachEveryCoroutineAndTheScriptKeepsItsOwnHook)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Threads.qlx",
                           "local older = coroutine.create(function() while true do end end)\n"
                           "suite('S', function()\n"
                           "  test('Unhooks', function() while true do debug.sethook() end end)\n"
                           "  test('Counts', function()\n"
                           "    lines = 0\n"
                           "    debug.sethook(function() lines = lines + 1 end, 'l')\n"
                           "  end)\n"
                           "  test('Wrapped', function() coroutine.wrap(function() while true do end end)() end)\n"
                           "  test('Older', function() coroutine.resume(older) end)\n"
                           "  test('StillCounts', function()\n"
                           "    local before = lines\n"
                           "    check(lines > before, 'the hook is gone')\n"
                           "    check(debug.gethook() ~= nil)\n"
                           "  end)\n"
                           "end)\n");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_TEST_TIMEOUT"] = "0.5";
    const auto start = std::chrono::steady_clock::now();
    const auto r = stage.Run({"--mode=xml"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string limit = " ERROR: Test exceeded the time limit of 0.5 s\n";
    EXPECT_EQ(Outcomes(stage, "xml", r),
              "Unhooks" + limit + "Counts PASS: \nWrapped" + limit + "Older" + limit + "StillCounts PASS: \n");
    EXPECT_LT(SecondsSince(start), 4.0);
}

TEST(HostileScripts, WhatNoStopReachesIsGivenUpWithWholeReports)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Stuck.qlx", "suite('S', function()\n"
                                        "  test('Before', function() end)\n"
                                        "  test('Finalizer', function()\n"
                                        "    setmetatable({}, { __gc = function() while true do end end })\n"
                                        "    collectgarbage()\n"
                                        "  end)\n"
                                        "  test('After', function() end)\n"
                                        "end)\n");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_TEST_TIMEOUT"] = "0.5";
    auto start = std::chrono::steady_clock::now();
    auto r = stage.Run({"--mode=xml"}, options);
    EXPECT_EQ(r.ExitCode, 1);
    const std::string message = "could not be stopped within 2 s after exceeding the time limit of 0.5 s";
    EXPECT_EQ(r.Err, "Error: Test Stuck/S/Finalizer " + message + "\r\n");
    EXPECT_EQ(Outcomes(stage, "xml", r), "Before PASS: \nFinalizer ERROR: Test " + message + "\n");
    EXPECT_LT(SecondsSince(start), 4.0);

    // A finalizer that loops when the state closes, after a finished run.
    stage.WriteUserLibrary("Stuck.qlx", "keep = setmetatable({}, { __gc = function() while true do end end })\n"
                                        "suite('S', function() test('Passes', function() end) end)\n");
    start = std::chrono::steady_clock::now();
    r = stage.Run({"--mode=xml"}, options);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: a finalizer of a script library could not be stopped\r\n");
    EXPECT_EQ(Outcomes(stage, "xml", r), "Passes PASS: \n");
    EXPECT_LT(SecondsSince(start), 4.0);
}

TEST(HostileScripts, ALibraryThatHangsWhileLoadingIsItsLoadErrorAndDiscoveryGoesOn)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Bad.qlx", "while true do end\n");
    stage.WriteUserLibrary("Good.qlx", "suite('S', function() test('Passes', function() end) end)\n");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_TEST_TIMEOUT"] = "0.5";
    const auto r = stage.Run({"--mode=xml"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Outcomes(stage, "xml", r),
              "(load) ERROR: Loading the library exceeded the time limit of 0.5 s\nPasses PASS: \n");
}

TEST(HostileScripts, ACrashInATestIsNamedAndTheReportFinished)
{
    TE2eStage stage;
    // The signal a damaged compiled library would raise, sent while the test runs.
    stage.WriteUserLibrary("Crash.qlx", "suite('S', function()\n"
                                        "  test('Before', function() end)\n"
                                        "  test('Crashes', function() os.execute('kill -SEGV $PPID; sleep 5') end)\n"
                                        "  test('After', function() end)\n"
                                        "end)\n");
    const auto r = stage.Run({"--mode=xml"});
    EXPECT_EQ(r.ExitCode, 128 + SIGSEGV);
    EXPECT_EQ(r.Err, "Error: Test Crash/S/Crashes crashed with SIGSEGV\r\n");
    EXPECT_EQ(Outcomes(stage, "xml", r), "Before PASS: \nCrashes ERROR: Test crashed with SIGSEGV\n");
}

TEST(HostileScripts, AConsoleThatGoesAwayEndsOnlyTheConsoleOutput)
{
    TE2eStage stage;
    std::string library = "suite('S', function()\n";
    for (int i = 0; i < 200; ++i)
        library += "  test('T" + std::to_string(i) + "', function() end)\n";
    stage.WriteUserLibrary("Many.qlx", library + "end)\n");
    TestSupport::TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    for (const std::string mode : {"txt", "xml_junit", "xml_junit", "xml_junit"}) {
        std::filesystem::remove(stage.ReportPath());
        const auto r = TestSupport::RunProcess(
            {"/bin/bash", "-c", "\"$0\" --mode=" + mode + " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}",
             stage.HostPath()},
            options);
        EXPECT_EQ(r.ExitCode, 0) << mode << r.Err;
        if (mode != "txt") {
            EXPECT_NE(ReadFile(stage.ReportPath()).find("</testsuites>"), std::string::npos);
        }
    }
}

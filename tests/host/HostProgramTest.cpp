// The staged host program with the substitute: login, closing, and a copied installation.

#include "HostProcess.h"
#include "StageCopy.h"

#include "bridge/WexelCaller.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

using TestSupport::ReadFile;
using TestSupport::RunHost;

TEST(HostProgram, MissingConfigurationEndsWithOneErrorLine)
{
    auto r = RunHost({"--config=no-such.cfg", "--mode=txt"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: Cannot log in: the configuration file no-such.cfg does not exist\r\n");
    EXPECT_EQ(r.Out, "***  Wexel Runner  ***\r\nMode: txt\r\nConfig: no-such.cfg\r\nFilemask: *.qlx\r\n");
}

namespace {

// The journal with each external call reduced to its procedure and the run of the tests
// counted, so that the order of login, library calls and closing stands out.
std::string JournalSummary(const std::string& journal)
{
    std::string summary;
    std::size_t start = 0;
    int runs = 0;
    auto flushRuns = [&] {
        if (runs > 0)
            summary += "RunTest x" + std::to_string(runs) + "\n";
        runs = 0;
    };
    while (start < journal.size()) {
        std::size_t end = journal.find('\n', start);
        if (end == std::string::npos)
            end = journal.size();
        std::string line = journal.substr(start, end - start);
        start = end + 1;
        if (line.rfind("ExtCall ", 0) == 0) {
            std::string proc = line.substr(line.find(' ', 8) + 1);
            proc = proc.substr(0, proc.find(' '));
            if (proc == "RunTest") {
                ++runs;
                continue;
            }
            line = proc;
        }
        flushRuns();
        summary += line + "\n";
    }
    flushRuns();
    return summary;
}

} // namespace

TEST(HostProgram, JournalShowsLoginThenCloseOnlyWhenAConfigurationIsNamed)
{
    TestSupport::TTempDir dir;
    const std::string journal = dir.File("journal.txt");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_HOST_JOURNAL"] = journal;

    auto r = RunHost({"--config=default", "--mode=txt"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(JournalSummary(ReadFile(journal)),
              "PerformLogin default\nGetProtocolVersion\nFindTests\nRunTest x12\nCloseConnections\n");

    // An unknown mode still closes the connections. The name is relative to the working
    // directory and reaches the login as given.
    TestSupport::WriteFile(dir.File("app.cfg"), "[Login]\nUser=tester\n");
    options.WorkDir = dir.Path();
    r = RunHost({"--config", "app.cfg", "--mode=TXT"}, options);
    EXPECT_EQ(r.Err, "Unknown mode\r\n");
    const std::string first = "PerformLogin default\nGetProtocolVersion\nFindTests\nRunTest x12\nCloseConnections\n"
                              "PerformLogin app.cfg\nGetProtocolVersion\nFindTests\nCloseConnections\n";
    EXPECT_EQ(JournalSummary(ReadFile(journal)), first);

    // No configuration: no login and nothing to close; a failed login closes nothing.
    RunHost({"--mode=TXT"}, options);
    RunHost({"--config=no-such.cfg", "--mode=txt"}, options);
    EXPECT_EQ(JournalSummary(ReadFile(journal)),
              first + "GetProtocolVersion\nFindTests\nPerformLogin no-such.cfg\n");
}

TEST(HostProgram, CopiedStageRunsWithItsOwnLibraries)
{
    TestSupport::TStageCopy stage;
    stage.WriteUserLibrary("Wexel.qlx", "function GetProtocolVersion() return '0.90' end\n");
    std::string savedPath = Sys::GetEnv("PATH");
    Wexel::TWexelCaller caller("", stage.ExeDir());
    EXPECT_EQ(caller.GetProtocolVersion(), "0.90");
    Sys::SetEnv("PATH", savedPath);

    auto r = TestSupport::RunProcess({stage.HostPath(), "--ver"});
    EXPECT_EQ(r.Out, "Build version: 3.17.5.640. Protocol version: 0.87.\r\n");
}

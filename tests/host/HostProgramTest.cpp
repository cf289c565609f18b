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

TEST(HostProgram, JournalShowsLoginThenCloseOnlyWhenAConfigurationIsNamed)
{
    TestSupport::TTempDir dir;
    const std::string journal = dir.File("journal.txt");
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_HOST_JOURNAL"] = journal;

    auto r = RunHost({"--config=default", "--mode=txt"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(journal), "PerformLogin default\nCloseConnections\n");

    // An unknown mode still closes the connections. The name is relative to the working
    // directory and reaches the login as given.
    TestSupport::WriteFile(dir.File("app.cfg"), "[Login]\nUser=tester\n");
    options.WorkDir = dir.Path();
    r = RunHost({"--config", "app.cfg", "--mode=TXT"}, options);
    EXPECT_EQ(r.Err, "Unknown mode\r\n");
    EXPECT_EQ(ReadFile(journal), "PerformLogin default\nCloseConnections\nPerformLogin app.cfg\nCloseConnections\n");

    // No configuration: no login and nothing to close; a failed login closes nothing.
    RunHost({"--mode=txt"}, options);
    RunHost({"--config=no-such.cfg", "--mode=txt"}, options);
    EXPECT_EQ(ReadFile(journal), "PerformLogin default\nCloseConnections\nPerformLogin app.cfg\nCloseConnections\n"
                                 "PerformLogin no-such.cfg\n");
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

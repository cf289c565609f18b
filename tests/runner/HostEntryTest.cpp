// End to end: the staged host program with the runner library, as a user runs it.

#include "HostProcess.h"

#include <gtest/gtest.h>

using TestSupport::RunHost;

TEST(HostEntry, VersionLineOnlyAndExitZero)
{
    for (auto args : {std::vector<std::string>{"--ver"}, {"--ver", "--mode=bad"}, {"-x", "/VER"}}) {
        auto r = RunHost(args);
        EXPECT_EQ(r.Out, "Build version: 3.17.5.640. Protocol version: 0.87.\r\n");
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.ExitCode, 0);
    }
}

TEST(HostEntry, OptionErrorGoesToStandardErrorWithoutBanner)
{
    auto r = RunHost({"--colour", "red"});
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Error before  red\r\n");
    EXPECT_EQ(r.ExitCode, 1);

    r = RunHost({"--mode=txt", "-"});
    EXPECT_EQ(r.Err, "Error before -\r\n");
    EXPECT_EQ(r.ExitCode, 1);
}

TEST(HostEntry, UnknownModeIsCaseSensitiveAndKeepsExitZero)
{
    auto r = RunHost({"--mode=TXT"});
    EXPECT_EQ(r.Out, "***  Wexel Runner  ***\r\nMode: TXT\r\nConfig: \r\nFilemask: *.qlx\r\n");
    EXPECT_EQ(r.Err, "Unknown mode\r\n");
    EXPECT_EQ(r.ExitCode, 0);
}

TEST(HostEntry, BannerShowsEveryPositionalAsAMask)
{
    auto r = RunHost({"/mode", "nonsense", "c:\\tests\\*.qlx", "extra"});
    EXPECT_EQ(r.Out.substr(0, r.Out.find("\r\n", r.Out.find("Filemask")) + 2),
              "***  Wexel Runner  ***\r\nMode: nonsense\r\nConfig: \r\nFilemask: c:\\tests\\*.qlx extra\r\n");
    EXPECT_EQ(r.ExitCode, 0);
}

TEST(HostEntry, HelpIsTheHostsOwnAndLoadsNoRunner)
{
    for (const char* opt : {"--help", "-h"}) {
        auto r = RunHost({opt});
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_NE(r.Out.find("Usage: wexel-host"), std::string::npos);
        EXPECT_EQ(r.Out.find("Wexel Runner  ***"), std::string::npos);
    }
}

#include "platform/Process.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

TEST(CommandLine, QuotesEmptyArgumentsAndArgumentsWithBlanks)
{
    EXPECT_EQ(Sys::JoinCommandLine({"/x/wexel-host", "--mode=txt", "a b", "", "c"}),
              "/x/wexel-host --mode=txt \"a b\" \"\" c");
    // An option keeps its name outside the quotes, so that it stays an option.
    EXPECT_EQ(Sys::JoinCommandLine({"p", "--filter=*a b*", "--x y=z"}), "p --filter=\"*a b*\" \"--x y=z\"");
    // A quotation mark inside an argument is passed on as it is.
    EXPECT_EQ(Sys::JoinCommandLine({"p", "it's", "say\"hi\""}), "p it's say\"hi\"");
    EXPECT_EQ(Sys::JoinCommandLine({}), "");
}

TEST(CommandLine, OverrideReplacesTheProcessArguments)
{
    Sys::SetCommandLineArgs({"prog name", "--ver"});
    EXPECT_EQ(Sys::CommandLine(), "\"prog name\" --ver");
    Sys::ResetCommandLineArgs();
    EXPECT_NE(Sys::CommandLine().find("platform_tests"), std::string::npos);
}

TEST(AssertionError, NamesTheUnitAndLine)
{
    try {
        Sys::AssertionFailure("roved\\src\\TestFramework", 2128);
        FAIL();
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Assertion failure (roved\\src\\TestFramework, line 2128)");
    }
    try {
        Sys::Assert(false, "Wexel", 7, "listener is nil");
        FAIL();
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "listener is nil (Wexel, line 7)");
    }
}

TEST(ExceptionClassName, UsesOwnNamesAndDemangledStandardNames)
{
    EXPECT_EQ(Sys::ExceptionClassName(Sys::EAbort("x")), "EAbort");
    EXPECT_EQ(Sys::ExceptionClassName(std::out_of_range("x")), "std::out_of_range");
}

TEST(ModuleFileName, FindsTheModuleOfAnAddress)
{
    std::string runtime = Sys::ModuleFileName(reinterpret_cast<const void*>(&Sys::ExitCode));
    EXPECT_NE(runtime.find("libWexelRuntime.so"), std::string::npos) << runtime;
    EXPECT_EQ(Sys::ModuleBase(nullptr), nullptr);
}

namespace {
bool Stopped() { return true; }
} // namespace

TEST(ChildProcesses, AnswerAsTheShellAndAStoppedWaitEndsTheWholeGroup)
{
    int end = -1;
    int pid = Sys::SpawnShell("echo out; exit 3", Sys::TChildPipe::FromChild, &end);
    ASSERT_GT(pid, 0);
    std::FILE* out = Sys::OpenPipeStream(end, true);
    ASSERT_NE(out, nullptr);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    EXPECT_STREQ(line, "out\n");
    std::fclose(out);
    int status = Sys::WaitChild(pid, nullptr);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);

    // The child and what it started share a group of their own; a stopped wait ends it,
    // even when the shell ignores SIGTERM.
    pid = Sys::SpawnShell("trap '' TERM; sleep 30 & echo $!; wait", Sys::TChildPipe::FromChild, &end);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::getpgid(pid), pid);
    out = Sys::OpenPipeStream(end, true);
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    std::fclose(out);
    const std::string sleeper = "/proc/" + std::to_string(std::stoi(line)) + "/stat";
    const auto start = std::chrono::steady_clock::now();
    Sys::SignalChildGroups(SIGTERM);
    // Without pokes, nothing interrupts the wait: an alarm stands in for them.
    struct sigaction tick {};
    tick.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &tick, nullptr);
    ::ualarm(100000, 100000);
    status = Sys::WaitChild(pid, Stopped);
    ::ualarm(0, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    // What the shell started is gone too (or a zombie waiting to be reaped by init); the
    // kill of the group is delivered to it asynchronously, so it may take a moment.
    std::string fields;
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat(sleeper);
        fields.clear();
        std::getline(stat, fields);
        if (fields.empty() || fields.find(") Z ") != std::string::npos || fields.find(") X ") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fields.empty() || fields.find(") Z ") != std::string::npos || fields.find(") X ") != std::string::npos)
        << fields;
}

// The caller against a fake host: the exact external-call sequence, the search path and
// what happens when the host raises.

#include "FakeHost.h"

#include "bridge/HostTables.h"
#include "bridge/WexelCaller.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <stdexcept>

using Wexel::TWexelCaller;

namespace {

class WexelCallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeHost::Reset();
        SavedPath = Sys::GetEnv("PATH");
        Sys::SetEnv("PATH", "/usr/bin:/bin");
    }
    void TearDown() override { Sys::SetEnv("PATH", SavedPath); }

    std::string SavedPath;
};

} // namespace

TEST_F(WexelCallerTest, AppendsSystemThenUserToSearchPathOncePerCaller)
{
    TWexelCaller first("", "/opt/App/EXE");
    EXPECT_EQ(first.LibraryPath(), "/opt/App/EXE/../USER/Wexel.qlx");
    EXPECT_EQ(Sys::GetEnv("PATH"), "/usr/bin:/bin:/opt/App/EXE/../SYSTEM:/opt/App/EXE/../USER");

    TWexelCaller second("", "/opt/App/EXE");
    EXPECT_EQ(Sys::GetEnv("PATH"), "/usr/bin:/bin:/opt/App/EXE/../SYSTEM:/opt/App/EXE/../USER"
                                   ":/opt/App/EXE/../SYSTEM:/opt/App/EXE/../USER");
}

TEST_F(WexelCallerTest, EmptySearchPathGetsNoEmptyEntry)
{
    // An empty entry would put the current directory on the search path.
    Sys::SetEnv("PATH", "");
    TWexelCaller caller("", "/opt/App/EXE");
    EXPECT_EQ(Sys::GetEnv("PATH"), "/opt/App/EXE/../SYSTEM:/opt/App/EXE/../USER");
}

TEST_F(WexelCallerTest, DefaultsToTheRunningExecutablesDirectory)
{
    TWexelCaller caller("");
    EXPECT_EQ(caller.ExeDir, Sys::ExeDir());
    EXPECT_EQ(caller.LibraryPath(), Sys::ExeDir() + "/../USER/Wexel.qlx");
}

TEST_F(WexelCallerTest, ExpandsOnlyTheExactWordDefault)
{
    EXPECT_EQ(TWexelCaller("default", "/a/EXE").Config, "/a/EXE/../EXE/default.cfg");
    EXPECT_EQ(TWexelCaller("Default", "/a/EXE").Config, "Default");
    EXPECT_EQ(TWexelCaller("default ", "/a/EXE").Config, "default ");
    EXPECT_EQ(TWexelCaller("", "/a/EXE").Config, "");
    EXPECT_EQ(TWexelCaller("my.cfg", "/a/EXE").Config, "my.cfg");
}

TEST_F(WexelCallerTest, EachProcedureRunsOneFullCallOnAFreshObject)
{
    FakeHost::SetHandler([](const FakeHost::TExecutedCall& call) -> std::string {
        if (call.ProcName == "GetProtocolVersion")
            return "0.87";
        if (call.ProcName == "FindTests")
            return "A/x\r\nA/B/y\r\n";
        return std::string("##failure  with\0nul ", 20);
    });
    TWexelCaller caller("", "/opt/App/EXE");

    // Answers come back exactly as the library gave them: no trimming, no checks.
    EXPECT_EQ(caller.GetProtocolVersion(), "0.87");
    EXPECT_EQ(caller.FindTests("*.qlx"), "A/x\r\nA/B/y\r\n");
    EXPECT_EQ(caller.RunTest("A/B/y"), std::string("##failure  with\0nul ", 20));

    const auto& calls = FakeHost::ExecutedCalls();
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.CallKind, 3u);
        EXPECT_EQ(call.LibraryPath, "/opt/App/EXE/../USER/Wexel.qlx");
    }
    EXPECT_EQ(calls[0].ProcName, "GetProtocolVersion");
    EXPECT_TRUE(calls[0].Params.empty());
    EXPECT_EQ(calls[1].ProcName, "FindTests");
    EXPECT_EQ(calls[1].Params, (std::vector<std::optional<std::string>>{"*.qlx"}));
    EXPECT_EQ(calls[2].ProcName, "RunTest");
    EXPECT_EQ(calls[2].Params, (std::vector<std::optional<std::string>>{"A/B/y"}));

    // The argument is stored after Prepare (which empties the call data), never before;
    // RunTest is prepared once and its call kept for the next test, with the new path.
    caller.RunTest("A/x");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].Params, (std::vector<std::optional<std::string>>{"A/x"}));
    EXPECT_EQ(FakeHost::Journal(),
              (std::vector<std::string>{"Prepare GetProtocolVersion", "Execute GetProtocolVersion",
                                        "Prepare FindTests", "Execute FindTests", "Prepare RunTest",
                                        "Execute RunTest", "Execute RunTest"}));
    EXPECT_EQ(FakeHost::LiveCalls(), 1);
}

TEST_F(WexelCallerTest, HostExceptionsPassUnchangedAndTheCallIsFreed)
{
    {
        TWexelCaller caller("", "/opt/App/EXE");

        FakeHost::SetHandler([](const FakeHost::TExecutedCall&) -> std::string {
            throw WexelHost::EExtCallError("library gone");
        });
        for (int i = 0; i < 2; ++i) {
            try {
                caller.RunTest("A/x");
                FAIL() << "no exception";
            } catch (const WexelHost::EExtCallError& e) {
                EXPECT_EQ(e.Message(), "library gone");
                EXPECT_EQ(e.ClassName(), "EExtCallError");
            }
            // The one call object that every test uses, whatever the tests did.
            EXPECT_EQ(FakeHost::LiveCalls(), 1);
        }

        FakeHost::SetHandler([](const FakeHost::TExecutedCall&) -> std::string {
            throw std::runtime_error("not ours");
        });
        EXPECT_THROW(caller.GetProtocolVersion(), std::runtime_error);
        EXPECT_EQ(FakeHost::LiveCalls(), 1);
    }
    EXPECT_EQ(FakeHost::LiveCalls(), 0);
}

TEST_F(WexelCallerTest, RefreshesTablesThenResetsTheProcedureContainer)
{
    Wexel::RefreshHostTables();
    EXPECT_EQ(FakeHost::Journal(),
              (std::vector<std::string>{"Refresh DSPTable", "Refresh LocalizatorTable", "Refresh LanguagesTable",
                                        "Refresh DSPContainer.GetDSPTable()",
                                        "Refresh LContainer.GetLocalizatorTable()",
                                        "Refresh LContainer.GetLanguagesTable()", "ResetProcContainer"}));
}

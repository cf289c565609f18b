// Mode "gui" where no window can be shown: one "Error: " line and exit 1, so that a CI job
// that forgets --mode fails instead of passing with no test run; the run still cleans up.

#include "E2eStage.h"
#include "Libraries.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace E2e;
using TestSupport::ReadFile;

namespace {

void ExpectRefusedWithCleanUp(const TE2eStage& stage, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env, const std::string& why)
{
    const std::string journal = stage.Root() + "/journal.txt";
    std::filesystem::remove(journal);
    TestSupport::TProcessOptions options;
    options.Env = env;
    options.Env["WEXEL_HOST_JOURNAL"] = journal;

    const auto r = stage.Run(args, options);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.Err.rfind("Error: " + why, 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("--mode=txt"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("\r\n"), r.Err.size() - 2) << "one line: " << r.Err;
    EXPECT_EQ(JournalProcedures(ReadFile(journal)),
              "PerformLogin default\nGetProtocolVersion\nFindTests\nGetTestPositions\nCloseConnections\n");
}

const std::map<std::string, std::string> NoDisplay{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

} // namespace

TEST(GuiMode, WithoutADisplayIsOneErrorLineAndExitOne)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
    for (const auto& args : {std::vector<std::string>{"--config=default"},
                             std::vector<std::string>{"--mode=gui", "--config=default"}}) {
        SCOPED_TRACE(args.size());
        ExpectRefusedWithCleanUp(stage, args, NoDisplay, "mode \"gui\" needs a display");
    }
}

TEST(GuiMode, WithoutTheWindowModuleIsOneErrorLineThatSaysWhy)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
    std::filesystem::remove(stage.ExeDir() + "/WexelRunnerGui.so");
    ExpectRefusedWithCleanUp(stage, {"--config=default"}, {{"QT_QPA_PLATFORM", "offscreen"}},
                             "the window cannot be shown: " + stage.ExeDir() + "/WexelRunnerGui.so");
}

// A CI server without X or GL libraries must run the headless modes: they never load Qt.
TEST(GuiMode, HeadlessModesLoadNoQtLibrary)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
    for (const char* mode : {"--mode=txt", "--mode=xml", "--mode=xml_nunit"}) {
        SCOPED_TRACE(mode);
        TestSupport::TProcessOptions options;
        options.Env["LD_DEBUG"] = "libs";
        const auto r = stage.Run({mode}, options);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_NE(r.Err.find("libWexelFramework.so"), std::string::npos) << "LD_DEBUG shows the loads";
        EXPECT_EQ(r.Err.find("libQt"), std::string::npos);
        EXPECT_EQ(r.Err.find("WexelRunnerGui"), std::string::npos);
    }
}

// Line coverage as a user gets it from the staged host: the samples' tracefile as lcov and
// genhtml read it, the Cobertura form of the same run, the file a stopped run still
// leaves, and the hooks that share the line events.

#include "E2eStage.h"
#include "Libraries.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sstream>

using namespace E2e;
using TestSupport::ReadFile;

namespace {

using TLines = std::map<int, unsigned long long>;

// SF -> DA of an LCOV tracefile.
std::map<std::string, TLines> ReadLcov(const std::string& text)
{
    std::map<std::string, TLines> files;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.rfind("SF:", 0) == 0)
            current = line.substr(3);
        else if (line.rfind("DA:", 0) == 0)
            files[current][std::stoi(line.substr(3))] = std::stoull(line.substr(line.find(',') + 1));
    }
    return files;
}

// The last line on standard error, without its CR LF.
std::string LastLine(const std::string& err)
{
    std::string text = err.substr(0, err.size() - 2);
    return text.substr(text.rfind('\n') + 1);
}

const std::string Userlib = WEXEL_USERLIB;
const std::string SampleSources = Userlib + "/USER;" + Userlib + "/SYSTEM";

TProcessResult Tool(const std::vector<std::string>& argv, const std::string& dir)
{
    TProcessOptions options;
    options.WorkDir = dir;
    return TestSupport::RunProcess(argv, options);
}

} // namespace

TEST(Coverage, SamplesTracefileAsLcovAndGenhtmlReadIt)
{
    TestSupport::TStageCopy stage; // with the shipped samples
    const std::string work = stage.Root() + "/work";
    std::filesystem::create_directory(work);
    TProcessOptions options;
    options.WorkDir = work;
    options.Env["WEXEL_COVERAGE_SOURCES"] = SampleSources;
    const auto r = TestSupport::RunProcess({stage.HostPath(), "--mode=txt", "--coverage=samples.info"}, options);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;

    // Only the code under test: the test libraries and the script library stay out.
    const auto files = ReadLcov(ReadFile(work + "/samples.info"));
    const std::string money = Userlib + "/SYSTEM/Money.lua";
    ASSERT_EQ(files.size(), 1u) << ReadFile(work + "/samples.info");
    ASSERT_EQ(files.count(money), 1u);
    const TLines& lines = files.at(money);
    // Format and Discount run, Round never does; its "function" line runs as the library loads.
    EXPECT_GT(lines.at(4), 0u);
    EXPECT_EQ(lines.at(8), 2u);
    EXPECT_EQ(lines.at(13), 0u);
    EXPECT_GT(lines.at(12), 0u);
    // No comment, blank line or lone end is a line to run.
    std::istringstream source(ReadFile(money));
    std::string text;
    for (int number = 1; std::getline(source, text); ++number) {
        const auto first = text.find_first_not_of(' ');
        if (first == std::string::npos || text.compare(first, 2, "--") == 0 || text.substr(first) == "end") {
            EXPECT_EQ(lines.count(number), 0u) << number << ": " << text;
        }
    }
    std::size_t hit = 0;
    for (const auto& [line, count] : lines)
        hit += count > 0;
    EXPECT_EQ(LastLine(r.Err), "Coverage: " + std::to_string(hit * 1000 / lines.size() / 10) + "." +
                                   std::to_string(hit * 1000 / lines.size() % 10) + "% of " +
                                   std::to_string(lines.size()) + " lines in 1 file (samples.info)");

    if (std::string(WEXEL_LCOV).empty() || std::string(WEXEL_GENHTML).empty())
        GTEST_SKIP() << "lcov is not installed";
    const auto summary = Tool({WEXEL_LCOV, "--summary", "samples.info"}, work);
    EXPECT_EQ(summary.ExitCode, 0) << summary.Out << summary.Err;
    EXPECT_NE(summary.Out.find("lines......: "), std::string::npos) << summary.Out;
    const auto html = Tool({WEXEL_GENHTML, "-q", "-o", "html", "samples.info"}, work);
    EXPECT_EQ(html.ExitCode, 0) << html.Err;
    EXPECT_EQ(html.Out + html.Err, "");
    EXPECT_TRUE(std::filesystem::exists(work + "/html/index.html"));

    // The same run as Cobertura XML agrees with the tracefile.
    const auto x = TestSupport::RunProcess({stage.HostPath(), "--mode=xml", "--coverage=samples.xml"}, options);
    ASSERT_EQ(x.ExitCode, 0) << x.Err;
    const std::string xml = ReadFile(work + "/samples.xml");
    if (!std::string(WEXEL_XMLLINT).empty()) {
        EXPECT_EQ(Tool({WEXEL_XMLLINT, "--noout", "samples.xml"}, work).ExitCode, 0) << xml;
    }
    EXPECT_NE(xml.find("lines-covered=\"" + std::to_string(hit) + "\" lines-valid=\"" +
                       std::to_string(lines.size()) + "\""),
              std::string::npos) << xml;
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.4f", static_cast<double>(hit) / static_cast<double>(lines.size()));
    EXPECT_NE(xml.find(std::string("<coverage line-rate=\"") + rate + "\""), std::string::npos) << xml;
    EXPECT_EQ(LastLine(x.Err), LastLine(r.Err).replace(LastLine(r.Err).find("samples.info"), 12, "samples.xml"));
}

TEST(Coverage, PatternsStrippedLibrariesAndShards)
{
    TE2eStage stage;
    stage.WriteSystemLibrary("Helper.qlx", "local M = {}\nfunction M.twice(x)\n  return 2 * x\nend\nreturn M\n");
    stage.WriteSystemLibrary("Quiet.qlx", "function Id(x)\n  return x\nend\n");
    stage.WriteUserLibrary("Uses.qlx", "local h = require('Helper')\nlocal q = host.load('Quiet')\n"
                                       "test('a', function() check_equals(4, h.twice(2)) end)\n"
                                       "test('b', function() check_equals(1, q.Id(1)) end)\n");
    const std::string helper = stage.Root() + "/SYSTEM/Helper.qlx";
    const std::string quiet = stage.Root() + "/SYSTEM/Quiet.qlx";
    const std::string uses = stage.Root() + "/USER/Uses.qlx";

    auto run = [&](std::map<std::string, std::string> env, const std::string& file = "c.info") {
        TProcessOptions options;
        options.Env = std::move(env);
        const auto r = stage.Run({"--mode=txt", "--coverage=" + file}, options);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        std::string names;
        for (const auto& [path, lines] : ReadLcov(ReadFile(stage.WorkDir() + "/" + file)))
            names += path.substr(path.rfind('/') + 1) + " ";
        return names;
    };
    EXPECT_EQ(run({}), "Helper.qlx Quiet.qlx ");
    // An exclude list of its own replaces the default, which leaves out the test libraries.
    EXPECT_EQ(run({{"WEXEL_COVERAGE_EXCLUDE", ""}}), "Helper.qlx Quiet.qlx Uses.qlx ");
    EXPECT_EQ(run({{"WEXEL_COVERAGE_EXCLUDE", "Quiet;Nothing"}}), "Helper.qlx Uses.qlx ");
    EXPECT_EQ(run({{"WEXEL_COVERAGE_INCLUDE", "/SYSTEM/H%a+%.qlx$"}}), "Helper.qlx ");
    // The environment names the file as the option does.
    TProcessOptions byVariable;
    byVariable.Env["WEXEL_COVERAGE"] = "env.info";
    EXPECT_EQ(stage.Run({"--mode=xml_junit"}, byVariable).ExitCode, 0);
    EXPECT_EQ(ReadLcov(ReadFile(stage.WorkDir() + "/env.info")).count(helper), 1u);

    TProcessOptions bad;
    bad.Env["WEXEL_COVERAGE_INCLUDE"] = "ok;[unclosed";
    const auto refused = stage.Run({"--mode=txt", "--coverage=c.info"}, bad);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find("Error: WEXEL_COVERAGE_INCLUDE: the pattern [unclosed is not valid"), std::string::npos)
        << refused.Err;

    const auto unwritable = stage.Run({"--mode=txt", "--coverage=no/such/dir/c.info"});
    EXPECT_EQ(unwritable.ExitCode, 1);
    EXPECT_EQ(unwritable.Out, Banner("txt")); // and no test ran
    EXPECT_EQ(unwritable.Err, "Error: the coverage file no/such/dir/c.info cannot be written\r\n");

    // Shards each write their own file; together they cover what one run covers.
    auto shard = [&](const char* index) {
        TProcessOptions options;
        options.Env = {{"TEST_TOTAL_SHARDS", "2"}, {"TEST_SHARD_INDEX", index}};
        EXPECT_EQ(stage.Run({"--mode=txt", std::string("--coverage=shard") + index + ".info"}, options).ExitCode, 0);
        return ReadLcov(ReadFile(stage.WorkDir() + "/shard" + index + ".info"));
    };
    auto first = shard("0"), second = shard("1");
    EXPECT_EQ(first.at(helper).at(3), 1u);
    EXPECT_EQ(first.at(quiet).at(2), 0u);
    EXPECT_EQ(second.at(helper).at(3), 0u);
    EXPECT_EQ(second.at(quiet).at(2), 1u);

    // A library without debug information is named once, and the run goes on.
    const std::string luac = WEXEL_LUAC;
    TestSupport::WriteFile(stage.WorkDir() + "/q.lua", "function Id(x)\n  return x\nend\n");
    ASSERT_EQ(Tool({luac, "-s", "-o", quiet, "q.lua"}, stage.WorkDir()).ExitCode, 0);
    const auto r = stage.Run({"--mode=txt", "--coverage=c.info"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "Coverage: " + quiet + " cannot be measured: it was compiled without debug information "
                     "(luac -s)\r\nCoverage: 100.0% of 4 lines in 1 file (c.info)\r\n");

    // A stripped test library is named only when the test libraries are measured.
    ASSERT_EQ(Tool({luac, "-s", "-o", uses, "q.lua"}, stage.WorkDir()).ExitCode, 0);
    EXPECT_EQ(stage.Run({"--mode=txt", "--coverage=c.info"}).Err.find(uses), std::string::npos);
    TProcessOptions all;
    all.Env["WEXEL_COVERAGE_EXCLUDE"] = "";
    EXPECT_NE(stage.Run({"--mode=txt", "--coverage=c.info"}, all).Err.find("Coverage: " + uses + " cannot be measured"),
              std::string::npos);
}

TEST(Coverage, ARunStoppedBySigtermStillWritesTheFile)
{
    std::signal(SIGTERM, SIG_DFL);
    TE2eStage stage;
    stage.WriteSystemLibrary("Spin.qlx", "function Spin()\n  while true do end\nend\n");
    stage.WriteUserLibrary("Hang.qlx", "local s = host.load('Spin')\n" + HangingLibrary("TERM"));
    const std::string spin = stage.Root() + "/SYSTEM/Spin.qlx";
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    const auto r = TestSupport::RunProcess(
        {"/usr/bin/timeout", "-s", "KILL", "20", stage.HostPath(), "--mode=txt", "--coverage=c.info"}, options);
    EXPECT_EQ(r.ExitCode, 143) << r.Err;
    EXPECT_EQ(LastLine(r.Err), "Coverage: 50.0% of 2 lines in 1 file (c.info)");
    EXPECT_EQ(ReadLcov(ReadFile(stage.WorkDir() + "/c.info")).at(spin), (TLines{{1, 1}, {2, 0}}));
}

TEST(Coverage, TimeLimitScriptHookAndLineCounterAllWork)
{
    TE2eStage stage;
    stage.WriteSystemLibrary("Work.qlx", "function Add(a, b)\n  return a + b\nend\n"
                                         "function Spin()\n  while true do end\nend\n");
    stage.WriteUserLibrary("Hooks.qlx", R"(local work = host.load("Work")
test("OwnHook", function()
  local seen = 0
  debug.sethook(function() seen = seen + 1 end, "l")
  check_equals(3, work.Add(1, 2))
  debug.sethook()
  check(seen > 0, "the script's hook saw no line")
end)
test("Spins", function() work.Spin() end)
test("After", function() check_equals(5, work.Add(2, 3)) end)
)");
    TProcessOptions options;
    options.Env["WEXEL_TEST_TIMEOUT"] = "0.5";
    const auto r = stage.Run({"--mode=txt", "--coverage=c.info"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("Run:             3\r\nFailures:        0\r\nErrors:          1\r\n"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("Test exceeded the time limit of 0.5 s"), std::string::npos) << r.Out;
    // Add ran in both tests, also while the script's own hook was set.
    EXPECT_EQ(ReadLcov(ReadFile(stage.WorkDir() + "/c.info")).at(stage.Root() + "/SYSTEM/Work.qlx").at(2), 2u);
}

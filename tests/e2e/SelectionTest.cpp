// The staged host choosing what runs: several masks, filters, the list, reruns of
// failures, repeats, shuffles, shards, and the exit status of a run that runs nothing.

#include "E2eStage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

using namespace E2e;
using TestSupport::ReadFile;

namespace {

const std::vector<std::string> HeadlessModes{"txt", "xml", "xml_nunit", "xml_junit"};

// Lines of standard output without their CR LF.
std::vector<std::string> Lines(const std::string& out)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(out.substr(start, end - start));
    return lines;
}

std::vector<std::string> List(const TE2eStage& stage, std::vector<std::string> args, TProcessOptions options = {})
{
    args.insert(args.begin(), "--list");
    const auto r = stage.Run(args, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // The paths alone: where each test is declared follows a tab.
    std::vector<std::string> paths = Lines(r.Out);
    for (std::string& line : paths)
        line = line.substr(0, line.find('\t'));
    return paths;
}

// "Test Results:" of the console report: how many ran, failed and erred.
std::string RunCounts(const std::string& out)
{
    std::smatch m;
    if (std::regex_search(out, m, std::regex(R"(Run: +(\d+)\r\nFailures: +(\d+)\r\nErrors: +(\d+))")))
        return m[1].str() + "/" + m[2].str() + "/" + m[3].str();
    if (std::regex_search(out, m, std::regex(R"(OK: (\d+) tests)")))
        return m[1].str() + "/0/0";
    return "(no counts) " + out;
}

// Orders/{Pricing/{Discount, Tax/LevyOne}, Tax/LevyTwo, Smoke} and Other/Tax/LevyThree.
const std::string OrdersLibrary = R"(suite("Pricing", function()
  test("Discount", function() end)
  suite("Tax", function() test("LevyOne", function() end) end)
end)
suite("Tax", function() test("LevyTwo", function() end) end)
test("Smoke", function() end)
)";

} // namespace

TEST(Selection, EveryMaskRunsAndEachLibraryOnce)
{
    TE2eStage stage;
    for (const char* name : {"A", "B", "C"})
        stage.WriteUserLibrary(std::string(name) + ".qlx", "test('t', function() end)\n");
    const std::string user = stage.Root() + "/USER/";
    auto r = stage.Run({"--mode=txt", user + "A.qlx", user + "B.qlx"});
    EXPECT_EQ(RunCounts(r.Out), "2/0/0");
    EXPECT_NE(r.Out.find("Filemask: " + user + "A.qlx " + user + "B.qlx\r\n"), std::string::npos) << r.Out;

    // What a shell makes of an unquoted glob, and a mask that overlaps it.
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    r = TestSupport::RunProcess({"/bin/sh", "-c", "'" + stage.HostPath() + "' --mode=txt " + user + "*.qlx B.qlx"},
                                options);
    EXPECT_EQ(RunCounts(r.Out), "3/0/0");
    EXPECT_EQ(List(stage, {"C.qlx", "*.qlx"}), (std::vector<std::string>{"C/t", "A/t", "B/t"}));
}

TEST(Selection, FiltersChooseByFullPathInEveryModeAndFromBazel)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Orders.qlx", OrdersLibrary);
    stage.WriteUserLibrary("Other.qlx", "suite('Tax', function() test('LevyThree', function() end) end)\n");
    const std::vector<std::string> filters{"--filter=Orders/*", "--filter", "!*/Tax/*"};
    const std::vector<std::string> expected{"Orders/Pricing/Discount", "Orders/Smoke"};
    EXPECT_EQ(List(stage, filters), expected);
    TProcessOptions bazel;
    bazel.Env["TESTBRIDGE_TEST_ONLY"] = "*/Tax/*";
    EXPECT_EQ(List(stage, {}, bazel),
              (std::vector<std::string>{"Orders/Pricing/Tax/LevyOne", "Orders/Tax/LevyTwo", "Other/Tax/LevyThree"}));
    // A filter on the command line wins over the variable.
    EXPECT_EQ(List(stage, filters, bazel), expected);

    for (const std::string& mode : HeadlessModes) {
        SCOPED_TRACE(mode);
        std::filesystem::remove(stage.ReportPath());
        std::vector<std::string> args = filters;
        args.push_back("--mode=" + mode);
        const auto r = stage.Run(args);
        if (mode == "txt") {
            EXPECT_EQ(RunCounts(r.Out), "2/0/0");
            continue;
        }
        const std::string report = ReadFile(stage.ReportPath());
        for (const char* name : {"Discount", "Smoke"})
            EXPECT_NE(report.find(name), std::string::npos) << name;
        EXPECT_EQ(report.find("Levy"), std::string::npos);
    }
    std::filesystem::remove(stage.ReportPath());
    EXPECT_EQ(RunCounts(stage.Run({"--mode=txt"}, bazel).Out), "3/0/0");

    // A blank in a filter's value keeps it a filter.
    stage.WriteUserLibrary("Csv.qlx", "test('Empty last field', function() end)\n");
    EXPECT_EQ(List(stage, {"--filter=*last field"}), std::vector<std::string>{"Csv/Empty last field"});
}

TEST(Selection, ListPrintsTheSamplesAndRunsNothing)
{
    TestSupport::TTempDir work;
    TProcessOptions options;
    options.WorkDir = work.Path();
    const auto r = TestSupport::RunHost({"--list", "--mode=xml_junit"}, options);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");
    const std::vector<std::string> lines = Lines(r.Out);
    EXPECT_EQ(lines.size(), 12u) << r.Out;
    EXPECT_EQ(lines.front(), "Calculator/Addition/SmallNumbers\tCalculator.lua:8");
    EXPECT_EQ(lines.back(), "Orders/Shipping/UnknownCountry\tOrders.lua:41");
    EXPECT_FALSE(std::filesystem::exists(work.File("roved-report.xml")));
}

TEST(Selection, RerunFailedRunsExactlyTheFailuresOfTheReport)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Mixed.qlx", R"(suite("S", function()
  test("ok", function() end)
  test("bad", function() fail("no") end)
  suite("Deep.er", function() test("raises", function() error("x") end) end)
end)
test("ok2", function() end)
test("bad2", function() check(false) end)
)");
    EXPECT_EQ(stage.Run({"--mode=xml_junit"}).ExitCode, 0);
    auto r = stage.Run({"--rerun-failed=roved-report.xml", "--mode=txt"});
    EXPECT_EQ(RunCounts(r.Out), "3/2/1");
    EXPECT_EQ(List(stage, {"--rerun-failed=roved-report.xml"}),
              (std::vector<std::string>{"Mixed/S/bad", "Mixed/S/Deep.er/raises", "Mixed/bad2"}));
    EXPECT_EQ(List(stage, {"--rerun-failed=roved-report.xml", "--filter=*/S/*"}),
              (std::vector<std::string>{"Mixed/S/bad", "Mixed/S/Deep.er/raises"}));

    // A report without failures selects nothing; no report at all is an error.
    stage.WriteUserLibrary("Mixed.qlx", "test('ok', function() end)\n");
    stage.Run({"--mode=xml_junit"});
    EXPECT_EQ(List(stage, {"--rerun-failed=roved-report.xml"}), std::vector<std::string>{});
    TestSupport::WriteFile(stage.WorkDir() + "/nunit.xml", "<test-results/>");
    for (const char* file : {"missing.xml", "nunit.xml"}) {
        r = stage.Run({"--mode=txt", std::string("--rerun-failed=") + file});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
        EXPECT_EQ(r.Err.rfind(std::string("Error: --rerun-failed: ") + file, 0), 0u) << r.Err;
    }
}

TEST(Selection, ShuffleReplaysItsSeedAndRepeatRunsEveryPass)
{
    TE2eStage stage;
    std::string library;
    for (const char* suite : {"S1", "S2", "S3"}) {
        library += std::string("suite('") + suite + "', function()\n";
        for (int i = 0; i < 5; ++i)
            library += "  test('t" + std::to_string(i) + "', function() end)\n";
        library += "end)\n";
    }
    stage.WriteUserLibrary("L.qlx", library);
    const auto declared = List(stage, {});
    const auto first = stage.Run({"--list", "--shuffle=42"});
    EXPECT_EQ(first.Err, "Shuffle seed: 42\r\n");
    EXPECT_EQ(stage.Run({"--list", "--shuffle=42"}).Out, first.Out);
    auto shuffled = Lines(first.Out);
    for (std::string& line : shuffled)
        line = line.substr(0, line.find('\t'));
    EXPECT_NE(shuffled, declared);
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), declared.begin(), declared.end()));
    // The tests of a suite stay together.
    for (std::size_t i = 0; i < shuffled.size(); i += 5)
        for (std::size_t j = i; j < i + 5; ++j)
            EXPECT_EQ(shuffled[j].substr(0, 4), shuffled[i].substr(0, 4)) << j;

    // Without a seed one is drawn and said.
    const auto drawn = stage.Run({"--list", "--shuffle", "L.qlx"});
    EXPECT_TRUE(std::regex_match(drawn.Err, std::regex("Shuffle seed: \\d+\r\n"))) << drawn.Err;
    EXPECT_EQ(Lines(drawn.Out).size(), 15u);

    EXPECT_EQ(RunCounts(stage.Run({"--mode=txt", "--repeat=3"}).Out), "45/0/0");
    EXPECT_EQ(stage.Run({"--repeat=0"}).Err, "Error: --repeat must be a whole number from 1, not \"0\"\r\n");
}

// Lua seeds its string hashes per process, so pairs() declares these tests in another
// order in every process; the shards must not care.
TEST(Selection, ShardsOfAPairsDeclaredLibraryAreDisjointAndComplete)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Data.qlx", R"(local cases = {}
for i = 1, 200 do cases["case" .. i] = i end
suite("Cases", function()
  for name, i in pairs(cases) do
    test(name, function() check(i ~= 137, "the one failing case") end)
  end
end)
)");
    std::set<std::vector<std::string>> orders;
    for (int round = 0; round < 10; ++round) {
        std::set<std::string> all;
        std::size_t listed = 0;
        for (int index = 0; index < 4; ++index) {
            TProcessOptions options;
            options.Env = {{"TEST_TOTAL_SHARDS", "4"}, {"TEST_SHARD_INDEX", std::to_string(index)}};
            const auto shard = List(stage, {}, options);
            EXPECT_EQ(shard.size(), 50u);
            listed += shard.size();
            all.insert(shard.begin(), shard.end());
            orders.insert(shard);
        }
        EXPECT_EQ(listed, 200u) << round;
        EXPECT_EQ(all.size(), 200u) << round;
    }
    // The declaration order really did change between processes.
    EXPECT_GT(orders.size(), 4u);

    // The failing case runs in exactly one shard.
    int failing = 0;
    for (int index = 0; index < 4; ++index) {
        TProcessOptions options;
        options.Env = {{"TEST_TOTAL_SHARDS", "4"}, {"TEST_SHARD_INDEX", std::to_string(index)}};
        const std::string counts = RunCounts(stage.Run({"--mode=txt"}, options).Out);
        EXPECT_TRUE(counts == "50/0/0" || counts == "50/1/0") << counts;
        failing += counts == "50/1/0";
    }
    EXPECT_EQ(failing, 1);
}

TEST(Selection, ARunThatRunsNothingFailsOnlyWhenAsked)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Good.qlx", "test('ok', function() end)\n");
    TProcessOptions asked;
    asked.Env["WEXEL_EXIT_ON_FAILURE"] = "1";
    for (const std::string& mode : HeadlessModes) {
        SCOPED_TRACE(mode);
        auto r = stage.Run({"--mode=" + mode, "Nothing*.qlx"}, asked);
        EXPECT_EQ(r.ExitCode, 5);
        EXPECT_EQ(r.Err, "No test matched the mask \"Nothing*.qlx\"\r\n");
        r = stage.Run({"--mode=" + mode, "--filter=x", "--filter=!y"}, asked);
        EXPECT_EQ(r.ExitCode, 5);
        EXPECT_EQ(r.Err, "No test matched the mask \"*.qlx\", the filters \"x\" \"!y\"\r\n");
        EXPECT_EQ(stage.Run({"--mode=" + mode, "Nothing*.qlx"}).ExitCode, 0);
    }
    auto r = stage.Run({"--mode=xml-junit"}, asked);
    EXPECT_EQ(r.ExitCode, 5);
    EXPECT_EQ(r.Err, "Unknown mode\r\n");
    r = stage.Run({"--mode=xml-junit"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "Unknown mode\r\n");

    // A shard left empty by a small run is no mistake of the job.
    asked.Env["TEST_TOTAL_SHARDS"] = "2";
    asked.Env["TEST_SHARD_INDEX"] = "1";
    r = stage.Run({"--mode=txt"}, asked);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");
}

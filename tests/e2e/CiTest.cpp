// The staged host as CI jobs run it: JUnit reports that the schema of Jenkins' xUnit
// plugin accepts whatever the run holds or however it ends, the exit status a job can
// trust, and one run split into shards.

#include "E2eStage.h"
#include "JUnitSchema.h"
#include "Libraries.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>

using namespace E2e;
using ReportTestSupport::JUnitSchemaComplaint;
using ReportTestSupport::Parse;
using TestSupport::ReadFile;

namespace {

const std::vector<std::string> HeadlessModes{"txt", "xml", "xml_nunit", "xml_junit"};

// The JUnit report of a run in the stage, which the schema must accept.
pugi::xml_document JUnitReport(const TE2eStage& stage, TProcessOptions options = {})
{
    const auto r = stage.Run({"--mode=xml_junit"}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string report = ReadFile(stage.ReportPath());
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    pugi::xml_document doc;
    EXPECT_TRUE(Parse(doc, report, pugi::encoding_utf8)) << report;
    return doc;
}

// The root's totals, then "suite/test outcome: [class] message" for every test case in
// document order.
std::string Outcomes(const pugi::xml_document& doc)
{
    const pugi::xml_node root = doc.child("testsuites");
    std::string lines = std::string(root.attribute("tests").value()) + "/" + root.attribute("failures").value() +
                        "/" + root.attribute("errors").value() + "\n";
    for (const pugi::xpath_node& node : doc.select_nodes("//testcase")) {
        const pugi::xml_node test = node.node(), problem = test.first_child();
        lines += std::string(test.attribute("classname").value()) + "/" + test.attribute("name").value() + " " +
                 (problem ? std::string(problem.name()) + ": [" + problem.attribute("type").value() + "] " +
                                problem.attribute("message").value()
                          : "pass") + "\n";
    }
    return lines;
}

} // namespace

TEST(Ci, JUnitReportsOfPassingFailingAndNestedRuns)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Good.qlx", "suite('S', function() test('a', function() end) end)\n");
    EXPECT_EQ(Outcomes(JUnitReport(stage)), "1/0/0\nGood.S/a pass\n");

    // Tests beside sub-suites at every level: each suite is one element of its own tests.
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", "A/x\nA/B/y\nA/B/C/z\nA/B/C/w\nA/B/v\nA/u\nD/t",
                                                     Answer("A/B/y", "##failure off by one") +
                                                         Answer("A/B/C/w", "##exception boom") +
                                                         Answer("D/t", "##notfound")));
    auto doc = JUnitReport(stage);
    EXPECT_EQ(Outcomes(doc), "7/1/2\nA.B.C/z pass\nA.B.C/w error: [Exception] boom\n"
                             "A.B/y failure: [ETestFailure] off by one\nA.B/v pass\n"
                             "A/x pass\nA/u pass\nD/t error: [Exception] Test not found\n");
    EXPECT_STREQ(doc.select_node("//testsuite[@name='A.B']").node().attribute("tests").value(), "2");

    // A mask that matches nothing: an empty report, still valid.
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", ""));
    EXPECT_EQ(Outcomes(JUnitReport(stage)), "0/0/0\n");
}

TEST(Ci, JUnitReportKeepsHostileNamesAndMessages)
{
    TE2eStage stage;
    const std::string markup = "Mark & <up> \"q\" 'a' ]]>";
    const std::string foreign = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x98\x80";
    const std::string listing = "H&<>'/" + markup + "\nH&<>'/" + foreign + "\nH&<>'/Ctl\x01\x1B" "End\n"
                                "H&<>'/Raw\xFF\xFE";
    stage.WriteUserLibrary("Wexel.qlx",
                           StandInWexel("0.87", listing,
                                        Answer("H&<>'/" + markup, "##failure ]]>" + markup) +
                                            Answer("H&<>'/" + foreign, "##exception " + foreign + " \x01 \xC3") +
                                            Answer("H&<>'/Raw\xFF\xFE", "##failure \xFF then <&>")));
    EXPECT_EQ(Outcomes(JUnitReport(stage)), "4/2/1\nH&<>'/" + markup + " failure: [ETestFailure] ]]>" + markup + "\n" +
                                 "H&<>'/" + foreign + " error: [Exception] " + foreign + " \xEF\xBF\xBD \xC3\x83\n" +
                                 "H&<>'/Ctl\xEF\xBF\xBD\xEF\xBF\xBD" "End pass\n"
                                 "H&<>'/Raw\xC3\xBF\xC3\xBE failure: [ETestFailure] \xC3\xBF then <&>\n");
}

TEST(Ci, JUnitReportOfARunStoppedBySigtermIsComplete)
{
    std::signal(SIGTERM, SIG_DFL);
    TE2eStage stage;
    stage.WriteUserLibrary("Hang.qlx", HangingLibrary("TERM"));
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    const auto r = TestSupport::RunProcess(
        {"/usr/bin/timeout", "-s", "KILL", "20", stage.HostPath(), "--mode=xml_junit"}, options);
    EXPECT_EQ(r.ExitCode, 143) << r.Err;
    const std::string report = ReadFile(stage.ReportPath());
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_utf8));
    EXPECT_EQ(Outcomes(doc), "3/0/1\nHang.S/Before pass\nHang.S/Hangs error: [Exception] Test was interrupted by SIGTERM\n"
                             "Hang.S/After skipped: [] not run: the run was stopped by SIGTERM\n");
}

// 2 only on request and only for failing tests; 1 keeps its meaning.
TEST(Ci, FailingTestsExitWithTwoOnlyWhenAsked)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Mixed.qlx", "test('ok', function() end)\ntest('bad', function() fail('no') end)\n");
    stage.WriteUserLibrary("Erring.qlx", "test('raises', function() error('x') end)\n");
    stage.WriteUserLibrary("Good.qlx", "test('ok', function() end)\n");
    TProcessOptions asked;
    asked.Env["WEXEL_EXIT_ON_FAILURE"] = "1";
    for (const std::string& mode : HeadlessModes) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(stage.Run({"--mode=" + mode, "Mixed.qlx"}).ExitCode, 0);
        EXPECT_EQ(stage.Run({"--mode=" + mode, "Mixed.qlx"}, asked).ExitCode, 2);
        EXPECT_EQ(stage.Run({"--mode=" + mode, "Erring.qlx"}, asked).ExitCode, 2);
        EXPECT_EQ(stage.Run({"--mode=" + mode, "Good.qlx"}, asked).ExitCode, 0);
    }
    EXPECT_EQ(stage.Run({"--mode=bad", "Mixed.qlx"}, asked).ExitCode, 5) << "no run: nothing to trust";
}

TEST(Ci, ThreeShardsShareAThousandTestsBetweenThem)
{
    TE2eStage stage;
    std::string listing;
    for (int i = 0; i < 1000; ++i)
        listing += "L/S" + std::to_string(i % 7) + "/t" + std::to_string(i) + "\n";
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", listing));
    auto tests = [](const pugi::xml_document& doc) {
        std::multiset<std::string> names;
        for (const pugi::xpath_node& node : doc.select_nodes("//testcase"))
            names.insert(std::string(node.node().attribute("classname").value()) + "/" + node.node().attribute("name").value());
        return names;
    };
    const std::multiset<std::string> all = tests(JUnitReport(stage));
    ASSERT_EQ(all.size(), 1000u);

    std::multiset<std::string> together;
    for (int index = 0; index < 3; ++index) {
        const std::string status = stage.Root() + "/status" + std::to_string(index);
        TProcessOptions options;
        options.Env = {{"TEST_TOTAL_SHARDS", "3"}, {"TEST_SHARD_INDEX", std::to_string(index)},
                       {"TEST_SHARD_STATUS_FILE", status}};
        const auto shard = tests(JUnitReport(stage, options));
        EXPECT_EQ(shard.size(), index == 0 ? 334u : 333u);
        together.insert(shard.begin(), shard.end());
        EXPECT_TRUE(std::filesystem::exists(status)) << index;
        // The console counts the shard's tests only.
        EXPECT_NE(stage.Run({"--mode=txt"}, options).Out.find(index == 0 ? "OK: 334 tests" : "OK: 333 tests"),
                  std::string::npos);
    }
    EXPECT_EQ(together, all);

    TProcessOptions beyond;
    beyond.Env = {{"TEST_TOTAL_SHARDS", "3"}, {"TEST_SHARD_INDEX", "3"}};
    const auto refused = stage.Run({"--mode=xml_junit"}, beyond);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err.rfind("Error: TEST_SHARD_INDEX must be", 0), 0u) << refused.Err;
}

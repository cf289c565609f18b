// Reports a CI server reads as the run was: no two tests under one key, messages and
// output as written, every selected test listed when a stop cut the run short, and a
// report file that no other run and no odd file type can spoil.

#include "E2eStage.h"
#include "JUnitSchema.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <set>

using namespace E2e;
using ReportTestSupport::JUnitSchemaComplaint;
using ReportTestSupport::Parse;
using TestSupport::ReadFile;

namespace {

pugi::xml_document ParsedReport(const std::string& path)
{
    const std::string report = ReadFile(path);
    EXPECT_EQ(JUnitSchemaComplaint(report), "") << report;
    pugi::xml_document doc;
    EXPECT_TRUE(Parse(doc, report, pugi::encoding_utf8)) << report;
    return doc;
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

// A.B.qlx with suite C and A.qlx with suites B/C: six tests, six keys; and a message
// with line breaks and a tab comes back from the attribute as it was written.
TEST(ReportTrust, DottedLevelsNeverShareAKeyAndMessagesKeepTheirWhitespace)
{
    TE2eStage stage;
    stage.WriteUserLibrary("A.B.qlx", "suite('C', function()\n  test('t', function() end)\n"
                                      "  test('u', function() end)\n"
                                      "  test('v', function() fail('one\\ntwo\\r\\n\\tthree') end)\nend)\n");
    stage.WriteUserLibrary("A.qlx", "suite('B', function() suite('C', function()\n  test('t', function() end)\n"
                                    "  test('u', function() end)\n  test('v', function() end)\nend) end)\n");
    const auto r = stage.Run({"--mode=xml_junit"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const pugi::xml_document doc = ParsedReport(stage.ReportPath());
    std::set<std::string> keys;
    for (const pugi::xpath_node& node : doc.select_nodes("//testcase"))
        keys.insert(std::string(node.node().attribute("classname").value()) + " | " + node.node().attribute("name").value());
    EXPECT_EQ(keys, (std::set<std::string>{"A%2EB.C | t", "A%2EB.C | u", "A%2EB.C | v", "A.B.C | t", "A.B.C | u",
                                           "A.B.C | v"}));

    const auto xpath = TestSupport::RunProcess({WEXEL_XMLLINT, "--xpath", "string(//failure/@message)", stage.ReportPath()});
    EXPECT_EQ(xpath.Out, "A.B.qlx:4: one\ntwo\r\n\tthree\n"); // xmllint ends its answer with a line feed
}

// What a test prints is in its own system-out and nowhere else in the report; in mode
// txt it is on the console between the progress characters, as the test wrote it. More
// than 1 MB is cut with a line that says how much was left out.
TEST(ReportTrust, EachTestsOutputIsInItsOwnSystemOut)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Talk.qlx", "test('quiet', function() end)\n"
                                       "test('talks', function() print('first line', 1) io.write('second line\\n') end)\n"
                                       "test('fails', function() io.stdout:write('said <this>\\r\\n') fail('no') end)\n"
                                       "test('floods', function() local s = string.rep('x', 1023) .. '\\n'\n"
                                       "  for i = 1, 1536 do io.write(s) end end)\n");
    ASSERT_EQ(stage.Run({"--mode=xml_junit"}).ExitCode, 0);
    const std::string report = ReadFile(stage.ReportPath());
    const pugi::xml_document doc = ParsedReport(stage.ReportPath());
    auto outputOf = [&](const char* test) {
        return std::string(doc.select_node(("//testcase[@name='" + std::string(test) + "']").c_str())
                               .node().child_value("system-out"));
    };
    EXPECT_EQ(outputOf("quiet"), "");
    EXPECT_EQ(outputOf("talks"), "first line\t1\nsecond line\n");
    EXPECT_EQ(Count(report, "first line"), 1u);
    EXPECT_EQ(Count(report, "second line"), 1u);
    EXPECT_EQ(outputOf("fails"), "said <this>\r\n");
    const std::string flood = outputOf("floods");
    EXPECT_EQ(flood.size(), 1024u * 1024u + std::string("[output cut: 524288 more bytes were left out]\n").size());
    EXPECT_EQ(flood.substr(1024 * 1024), "[output cut: 524288 more bytes were left out]\n");

    stage.WriteUserLibrary("Talk.qlx", "test('a', function() end)\n"
                                       "test('talks', function() print('first line') print('second line') end)\n"
                                       "test('c', function() end)\n");
    const auto txt = stage.Run({"--mode=txt"});
    EXPECT_NE(txt.Out.find("..first line\nsecond line\n.\r\nTime: "), std::string::npos) << txt.Out;
}

// A stop signal while the third of five tests runs: the JUnit report holds all five,
// the two that never ran skipped with the cause, and NUnit's counts match its elements.
TEST(ReportTrust, AStoppedRunListsTheTestsItDidNotReach)
{
    std::signal(SIGTERM, SIG_DFL);
    TE2eStage stage;
    stage.WriteUserLibrary("Five.qlx", "suite('S', function()\n"
                                       "  test('one', function() end)\n  test('two', function() end)\n"
                                       "  test('three', function()\n"
                                       "    io.popen('(sleep 0.3; kill -TERM $PPID) >/dev/null 2>&1 &'):close()\n"
                                       "    while true do end\n  end)\n"
                                       "  test('four', function() end)\n  test('five', function() end)\nend)\n");
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    for (const std::string mode : {"xml_junit", "xml_nunit"}) {
        SCOPED_TRACE(mode);
        const auto r = TestSupport::RunProcess(
            {"/usr/bin/timeout", "-s", "KILL", "20", stage.HostPath(), "--mode=" + mode}, options);
        EXPECT_EQ(r.ExitCode, 143) << r.Err;
        pugi::xml_document doc;
        ASSERT_TRUE(Parse(doc, ReadFile(stage.ReportPath()), pugi::encoding_utf8));
        if (mode == "xml_junit") {
            EXPECT_EQ(JUnitSchemaComplaint(ReadFile(stage.ReportPath())), "");
            EXPECT_EQ(doc.select_nodes("//testcase").size(), 5u);
            const auto skipped = doc.select_nodes("//testcase/skipped");
            ASSERT_EQ(skipped.size(), 2u);
            for (const pugi::xpath_node& s : skipped)
                EXPECT_STREQ(s.node().attribute("message").value(), "not run: the run was stopped by SIGTERM");
            EXPECT_STREQ(doc.child("testsuites").child("testsuite").attribute("skipped").value(), "2");
            continue;
        }
        const pugi::xml_node root = doc.child("test-results");
        EXPECT_EQ(root.attribute("total").as_int(), static_cast<int>(doc.select_nodes("//test-case").size()));
        EXPECT_EQ(root.attribute("not-run").as_int(),
                  static_cast<int>(doc.select_nodes("//test-case[@executed='False']").size()));
        EXPECT_EQ(root.attribute("not-run").as_int(), 2);
        for (const pugi::xpath_node& suite : doc.select_nodes("//test-suite"))
            EXPECT_EQ(suite.node().attribute("not-run").as_int(),
                      static_cast<int>(suite.node().select_nodes(".//test-case[@executed='False']").size()))
                << suite.node().attribute("name").value();
    }
}

// Two runs started together on one report file: one writes it, the other says why and
// exits 1 before running anything, and the file is the first one's, whole.
TEST(ReportTrust, TwoRunsNeverShareAReportFile)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Slow.qlx", "test('slow', function() local t = os.clock() + 1 "
                                       "while os.clock() < t do end end)\n");
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    const std::string host = "'" + stage.HostPath() + "' --mode=xml_junit";
    const auto r = TestSupport::RunProcess(
        {"/bin/sh", "-c", host + " >a.out 2>a.err & " + host + " >b.out 2>b.err & "
                          "wait %1; echo $?; wait %2; echo $?; cat a.err b.err"}, options);
    EXPECT_TRUE(r.Out == "0\n1\nError: Cannot create report file \"roved-report.xml\": another run is writing it\r\n" ||
                r.Out == "1\n0\nError: Cannot create report file \"roved-report.xml\": another run is writing it\r\n")
        << r.Out;
    const pugi::xml_document doc = ParsedReport(stage.ReportPath());
    EXPECT_EQ(doc.select_nodes("//testcase").size(), 1u);
}

// --report names the file of every XML mode; Bazel's XML_OUTPUT_FILE names the JUnit
// report's when --report is not given.
TEST(ReportTrust, TheReportGoesWhereItIsAskedFor)
{
    TE2eStage stage;
    stage.WriteUserLibrary("One.qlx", "test('t', function() end)\n");
    std::filesystem::create_directory(stage.WorkDir() + "/out");
    for (const std::string mode : {"xml", "xml_nunit", "xml_junit"}) {
        EXPECT_EQ(stage.Run({"--mode=" + mode, "--report=out/a.xml"}).ExitCode, 0);
        EXPECT_NE(ReadFile(stage.WorkDir() + "/out/a.xml").find("One"), std::string::npos) << mode;
        std::filesystem::remove(stage.WorkDir() + "/out/a.xml");
    }
    EXPECT_FALSE(std::filesystem::exists(stage.ReportPath()));

    TProcessOptions bazel;
    bazel.Env["XML_OUTPUT_FILE"] = stage.WorkDir() + "/out/test.xml";
    EXPECT_EQ(stage.Run({"--mode=xml_junit"}, bazel).ExitCode, 0);
    EXPECT_EQ(ParsedReport(stage.WorkDir() + "/out/test.xml").select_nodes("//testcase").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(stage.ReportPath()));
    EXPECT_EQ(stage.Run({"--mode=xml_junit", "--report=mine.xml"}, bazel).ExitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(stage.WorkDir() + "/mine.xml"));
    EXPECT_EQ(stage.Run({"--mode=xml_nunit"}, bazel).ExitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(stage.ReportPath())) << "only the JUnit report is Bazel's";
}

// A FIFO in the report's place is refused at once, not waited on; a report whose
// directory is removed during the run ends it with one "Error: " line and exit 1.
TEST(ReportTrust, AReportThatCannotReachAReaderEndsTheRunWithOneErrorLine)
{
    TE2eStage stage;
    stage.WriteUserLibrary("One.qlx", "test('t', function() end)\n");
    ASSERT_EQ(::mkfifo(stage.ReportPath().c_str(), 0600), 0);
    TProcessOptions options;
    options.WorkDir = stage.WorkDir();
    const auto fifo = TestSupport::RunProcess(
        {"/usr/bin/timeout", "-s", "KILL", "10", stage.HostPath(), "--mode=xml_junit"}, options);
    EXPECT_EQ(fifo.ExitCode, 1);
    EXPECT_EQ(fifo.Err,
              "Error: Cannot create report file \"roved-report.xml\": it is a FIFO or a socket, not a regular file\r\n");

    stage.WriteUserLibrary("One.qlx", "test('t', function() os.execute('rm -r ' .. [[" + stage.WorkDir() +
                                          "/gone]]) end)\n");
    std::filesystem::create_directory(stage.WorkDir() + "/gone");
    const auto gone = stage.Run({"--mode=xml_junit", "--report=gone/r.xml"});
    EXPECT_EQ(gone.ExitCode, 1);
    EXPECT_EQ(gone.Err, "Error: Cannot close report file \"gone/r.xml\": the file was removed during the run\r\n");

    // A full disk, played by a file size limit of 2 KB under a report that outgrows it.
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "test('t" + std::to_string(i) + "', function() end)\n";
    stage.WriteUserLibrary("One.qlx", many);
    std::filesystem::remove(stage.ReportPath());
    const auto full = TestSupport::RunProcess(
        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 2; exec '" + stage.HostPath() + "' --mode=xml_junit"}, options);
    EXPECT_EQ(full.ExitCode, 1);
    EXPECT_EQ(full.Err, "Error: Cannot write report file \"roved-report.xml\": File too large\r\n");
}

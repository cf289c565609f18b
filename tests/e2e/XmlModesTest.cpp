// The staged host in modes "xml" and "xml_nunit": whole reports with the dates and times
// masked, what xmllint and a CI reader make of them, and a report file that cannot be
// written.

#include "CommaLocale.h"
#include "E2eStage.h"
#include "Libraries.h"
#include "XmlCheck.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

using namespace E2e;
using ReportTestSupport::Parse;
using ReportTestSupport::TextOf;
using ReportTestSupport::XmllintComplaint;
using TestSupport::ReadFile;

namespace fs = std::filesystem;

namespace {

// Runs the host in the mode and answers the report it wrote; the run itself must end
// cleanly with the banner alone on standard output.
std::string RunReport(const TE2eStage& stage, const std::string& mode, const std::string& mask = "*.qlx",
                      TestSupport::TProcessOptions options = {})
{
    const auto r = stage.Run({"--mode=" + mode, mask}, options);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, Banner(mode, "", mask));
    return ReadFile(stage.ReportPath());
}

class XmlModes : public ::testing::Test {
protected:
    void SetUp() override
    {
        FStage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
        FStage.WriteUserLibrary("Beta.qlx", BetaLibrary);
    }
    TE2eStage FStage;
};

} // namespace

TEST_F(XmlModes, FrameworkReportOfTheWholeRun)
{
    const std::string report = RunReport(FStage, "xml");
    EXPECT_EQ(MaskXmlTimes(report),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\" ?>\r\n<TestRun>\r\n"
              "<TestSuite name=\"WexelRunner.so\">\r\n"
              "<TestSuite name=\"Alpha\">\r\n"
              "<TestSuite name=\"Pricing\">\r\n"
              "<Test name=\"RoundsHalfUp\" result=\"PASS\">\r\n</Test>\r\n"
              "<Test name=\"Discount\" result=\"FAILS\">\r\n"
              "<FailureType>ETestFailure</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>Alpha.qlx:3: ten percent off, expected: &lt;90&gt; but was: &lt;91&gt;</Message>\r\n"
              "</Test>\r\n"
              "<TestSuite name=\"Taxes\">\r\n"
              "<Test name=\"Rate\" result=\"ERROR\">\r\n"
              "<FailureType>Exception</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>Alpha.qlx:5: no rate for &quot;XX&quot; &amp; &lt;none&gt;\n  Alpha.qlx:5 in Rate</Message>\r\n"
              "</Test>\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "<Test name=\"Smoke\" result=\"PASS\">\r\n</Test>\r\n"
              "</TestSuite>\r\n"
              "<TestSuite name=\"Beta\">\r\n"
              "<TestSuite name=\"Io\">\r\n"
              "<Test name=\"Reads\" result=\"PASS\">\r\n</Test>\r\n"
              "<Test name=\"Writes\" result=\"FAILS\">\r\n"
              "<FailureType>ETestFailure</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>Beta.qlx:3: disk full</Message>\r\n"
              "</Test>\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "<Statistics>\r\n"
              "<Stat name=\"Tests\" result=\"6\" />\r\n"
              "<Stat name=\"Failures\" result=\"2\" />\r\n"
              "<Stat name=\"Errors\" result=\"1\" />\r\n"
              "<Stat name=\"Success Rate\" result=\"50%\" />\r\n"
              "<Stat name=\"Finished At\" result=\"<time>\" />\r\n"
              "<Stat name=\"Runtime\" result=\"<time>\" />\r\n"
              "</Statistics>\r\n"
              "</TestRun>\r\n");
    EXPECT_EQ(XmllintComplaint(report), "");
}

// The registry's root suite is named after the runner library, not the host program, so
// it gets an element of its own and every test-case name carries it twice.
TEST_F(XmlModes, NUnitReportOfTheWholeRun)
{
    const std::string report = RunReport(FStage, "xml_nunit");
    const std::string r = "WexelRunner.so.";
    const std::string pass = "\" executed=\"True\" success=\"True\" time=\"<seconds>\" result=\"Pass\"/>\r\n";
    const std::string end = "  </results>\r\n</test-suite>\r\n";
    EXPECT_EQ(MaskNUnitTimes(report),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
              "<test-results name=\"WexelRunner.so\" total=\"6\" not-run=\"0\" date=\"<date>\" time=\"<time>\">\r\n"
              "<test-suite name=\"WexelRunner.so\" total=\"6\" not-run=\"0\">\r\n  <results>\r\n"
              "<test-suite name=\"WexelRunner.so.Alpha\" total=\"4\" not-run=\"0\">\r\n  <results>\r\n"
              "<test-suite name=\"WexelRunner.so.Alpha.Pricing\" total=\"3\" not-run=\"0\">\r\n  <results>\r\n"
              "    <test-case name=\"" + r + r + "Alpha.Pricing.RoundsHalfUp" + pass +
              "    <test-case name=\"" + r + r + "Alpha.Pricing.Discount\" executed=\"True\" success=\"False\""
              " time=\"<seconds>\" result=\"Failure\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [ETestFailure] Alpha.qlx:3: ten percent off, expected: <90> but was: <91>\r\n"
              "At: $00000000]]></message>\r\n"
              "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
              "      </failure>\r\n"
              "    </test-case>\r\n"
              "<test-suite name=\"WexelRunner.so.Alpha.Pricing.Taxes\" total=\"1\" not-run=\"0\">\r\n  <results>\r\n"
              "    <test-case name=\"" + r + r + "Alpha.Pricing.Taxes.Rate\" executed=\"True\" success=\"False\""
              " time=\"<seconds>\" result=\"Error\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [Exception] Alpha.qlx:5: no rate for \"XX\" & <none>\n  Alpha.qlx:5 in Rate\r\n"
              "At: $00000000]]></message>\r\n"
              "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
              "      </failure>\r\n"
              "    </test-case>\r\n" +
              end + end +
              "    <test-case name=\"" + r + r + "Alpha.Smoke" + pass + end +
              "<test-suite name=\"WexelRunner.so.Beta\" total=\"2\" not-run=\"0\">\r\n  <results>\r\n"
              "<test-suite name=\"WexelRunner.so.Beta.Io\" total=\"2\" not-run=\"0\">\r\n  <results>\r\n"
              "    <test-case name=\"" + r + r + "Beta.Io.Reads" + pass +
              "    <test-case name=\"" + r + r + "Beta.Io.Writes\" executed=\"True\" success=\"False\""
              " time=\"<seconds>\" result=\"Failure\">\r\n"
              "      <failure>\r\n"
              "        <message><![CDATA[Exception: [ETestFailure] Beta.qlx:3: disk full\r\n"
              "At: $00000000]]></message>\r\n"
              "        <stack-trace><![CDATA[]]></stack-trace>\r\n"
              "      </failure>\r\n"
              "    </test-case>\r\n" +
              end + end + end +
              "<statistics>\r\n"
              "<stat name=\"tests\" value=\"6\" />\r\n"
              "<stat name=\"failures\" value=\"2\" />\r\n"
              "<stat name=\"errors\" value=\"1\" />\r\n"
              "<stat name=\"success-rate\" value=\"50%\" />\r\n"
              "<stat name=\"started-at\" value=\"<time>\" />\r\n"
              "<stat name=\"finished-at\" value=\"<time>\" />\r\n"
              "<stat name=\"runtime\" value=\"<seconds>\"/>\r\n"
              "</statistics>\r\n"
              "</test-results>\r\n");
    EXPECT_EQ(XmllintComplaint(report), "");
}

// What a CI server takes from the report: every test case in a suite's results, a failure
// child for failures and errors, and times it can parse as numbers, here under a locale
// that writes numbers with a decimal comma.
TEST_F(XmlModes, NUnitReportReadsLikeACiServerReadsItUnderADecimalComma)
{
    ASSERT_TRUE(ReportTestSupport::HasCommaLocale()) << ReportTestSupport::CommaLocaleMissing;
    TestSupport::TProcessOptions options;
    options.Env["LC_ALL"] = ReportTestSupport::CommaLocale;
    const std::string report = RunReport(FStage, "xml_nunit", "*.qlx", options);

    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_utf8)) << report;
    const pugi::xml_node results = doc.child("test-results");
    // The dates do follow the locale (dd.mm.yyyy), so the child did run under it.
    EXPECT_TRUE(std::regex_match(std::string(results.attribute("date").value()),
                                 std::regex(R"(\d\d\.\d\d\.\d{4})")))
        << results.attribute("date").value();

    int cases = 0, failures = 0;
    for (const pugi::xpath_node& node : doc.select_nodes("//test-case")) {
        const pugi::xml_node testCase = node.node();
        ++cases;
        SCOPED_TRACE(testCase.attribute("name").value());
        EXPECT_STREQ(testCase.parent().name(), "results");
        EXPECT_STREQ(testCase.parent().parent().name(), "test-suite");
        EXPECT_TRUE(std::regex_match(std::string(testCase.attribute("time").value()), std::regex(R"(\d+\.\d\d\d)")))
            << testCase.attribute("time").value();
        const bool success = std::string(testCase.attribute("success").value()) == "True";
        const pugi::xml_node failure = testCase.child("failure");
        EXPECT_EQ(success, !failure);
        if (failure) {
            ++failures;
            EXPECT_EQ(TextOf(failure.child("message")).rfind("Exception: [", 0), 0u);
        }
    }
    EXPECT_EQ(cases, 6);
    EXPECT_EQ(failures, 3);
    const pugi::xml_node runtime = doc.select_node("//stat[@name='runtime']").node();
    EXPECT_TRUE(std::regex_match(std::string(runtime.attribute("value").value()), std::regex(R"(\d+\.\d\d\d)")))
        << runtime.attribute("value").value();
}

TEST_F(XmlModes, SuccessRateIsTruncated)
{
    FStage.WriteUserLibrary("Rate75.qlx", "for _, n in ipairs({'a', 'b', 'c'}) do test(n, function() end) end\n"
                                          "test('d', function() fail('no') end)\n");
    FStage.WriteUserLibrary("Rate66.qlx", "test('a', function() end)\n"
                                          "test('b', function() fail('no') end)\n"
                                          "test('c', function() end)\n");
    for (const char* mode : {"xml", "xml_nunit"}) {
        SCOPED_TRACE(mode);
        const std::string rate = std::string(mode) == "xml" ? "<Stat name=\"Success Rate\" result=\""
                                                              : "<stat name=\"success-rate\" value=\"";
        EXPECT_NE(RunReport(FStage, mode, "Rate75.qlx").find(rate + "75%\" />\r\n"), std::string::npos);
        EXPECT_NE(RunReport(FStage, mode, "Rate66.qlx").find(rate + "66%\" />\r\n"), std::string::npos);
    }
}

// Names and messages with markup, a control character, text beyond Latin-1 and bytes
// that are not UTF-8, as only a stand-in library can list them: both documents stay
// well-formed and give the texts back to a reader.
TEST_F(XmlModes, HostileNamesAndMessagesKeepBothReportsWellFormed)
{
    const std::string markup = "Mark & <up> \"q\" ]]>";
    const std::string foreign = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    const std::string listing = "H&<>\"/" + markup + "\n"
                                "H&<>\"/" + foreign + "\n"
                                "H&<>\"/Ctl\x01\x1B" "End\n"
                                "H&<>\"/Raw\xFF\xFE" "Bytes";
    const std::string answers =
        Answer("H&<>\"/" + markup, "##failure ]]>" + markup + "]]") +
        Answer("H&<>\"/" + foreign, "##exception " + foreign + " \x01 \xC3 ]]>") +
        Answer("H&<>\"/Raw\xFF\xFE" "Bytes", "##failure \xFF\xFE then <&>");
    FStage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", listing, answers));

    for (const char* mode : {"xml", "xml_nunit"}) {
        SCOPED_TRACE(mode);
        const bool nunit = std::string(mode) == "xml_nunit";
        const std::string report = RunReport(FStage, mode);
        EXPECT_EQ(XmllintComplaint(report), "") << report;

        pugi::xml_document doc;
        ASSERT_TRUE(Parse(doc, report, nunit ? pugi::encoding_utf8 : pugi::encoding_latin1)) << report;
        std::vector<std::string> names, messages;
        for (const pugi::xpath_node& node : doc.select_nodes(nunit ? "//test-case" : "//Test")) {
            names.push_back(node.node().attribute("name").value());
            messages.push_back(nunit ? TextOf(node.node().child("failure").child("message"))
                                     : TextOf(node.node().child("Message")));
        }
        ASSERT_EQ(names.size(), 4u);
        const std::string prefix = nunit ? "WexelRunner.so.WexelRunner.so.H&<>\"." : "";
        EXPECT_EQ(names[0], prefix + markup);
        EXPECT_EQ(names[1], prefix + foreign);
        // The control characters are replaced, the stray bytes read as Latin-1.
        EXPECT_EQ(names[2], prefix + "Ctl\xEF\xBF\xBD\xEF\xBF\xBD" "End");
        EXPECT_EQ(names[3], prefix + "Raw\xC3\xBF\xC3\xBE" "Bytes");
        const std::string head = nunit ? "Exception: [ETestFailure] " : "";
        const std::string tail = nunit ? "\r\nAt: $00000000" : "";
        EXPECT_EQ(messages[0], head + "]]>" + markup + "]]" + tail);
        EXPECT_EQ(messages[3], head + "\xC3\xBF\xC3\xBE then <&>" + tail);
        if (nunit)
            EXPECT_EQ(messages[1], "Exception: [Exception] " + foreign + " \xEF\xBF\xBD \xC3\x83 ]]>" + tail);
        else
            EXPECT_EQ(messages[1], foreign + " \xEF\xBF\xBD \xC3\x83 ]]>");
    }
}

// The report file is created when the run starts; when it cannot be, the run breaks off
// with one line on standard error and the connections are still closed.
TEST_F(XmlModes, AReportFileThatCannotBeWrittenEndsTheRunWithOneErrorLine)
{
    fs::create_directory(FStage.ReportPath());
    const std::string journal = FStage.Root() + "/journal.txt";
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_HOST_JOURNAL"] = journal;
    for (const char* mode : {"xml", "xml_nunit"}) {
        SCOPED_TRACE(mode);
        const auto r = FStage.Run({std::string("--mode=") + mode, "--config=default"}, options);
        EXPECT_EQ(r.Signal, 0);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(r.Err, "Error: Cannot create report file \"roved-report.xml\": Is a directory\r\n");
        EXPECT_EQ(r.Out, Banner(mode, "default"));
        EXPECT_EQ(JournalProcedures(ReadFile(journal)),
                  "PerformLogin default\nGetProtocolVersion\nFindTests\nCloseConnections\n");
        fs::remove(journal);
    }

    // A device takes the place of the file (a node of our own, like /dev/full): refused
    // before the run, never written.
    fs::remove(FStage.ReportPath());
    if (::mknod(FStage.ReportPath().c_str(), S_IFCHR | 0600, ::makedev(1, 7)) == 0) {
        for (const char* mode : {"xml", "xml_nunit"}) {
            SCOPED_TRACE(mode);
            const auto r = FStage.Run({std::string("--mode=") + mode});
            EXPECT_EQ(r.Signal, 0);
            EXPECT_EQ(r.ExitCode, 1);
            EXPECT_EQ(r.Err,
                      "Error: Cannot create report file \"roved-report.xml\": it is a device, not a regular file\r\n");
        }
    }
}

TEST_F(XmlModes, AReportFileInAReadOnlyDirectoryEndsTheRunWithOneErrorLine)
{
    fs::permissions(FStage.WorkDir(), fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(FStage.WorkDir() + "/probe")) {
        fs::permissions(FStage.WorkDir(), fs::perms::owner_all);
        GTEST_SKIP() << "running with privileges that ignore directory permissions";
    }
    const auto r = FStage.Run({"--mode=xml_nunit"});
    fs::permissions(FStage.WorkDir(), fs::perms::owner_all);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: Cannot create report file \"roved-report.xml\": Permission denied\r\n");
}

// A mask that matches no library registers no tree. The report of an earlier run must
// not stay in place, where a CI server would take it for this run's: the run writes a
// report with no tests.
TEST_F(XmlModes, ARunWithoutTestsReplacesAnEarlierReport)
{
    for (const char* mode : {"xml", "xml_nunit"}) {
        SCOPED_TRACE(mode);
        TestSupport::WriteFile(FStage.ReportPath(), "<earlier-run/>\r\n");
        const std::string report = RunReport(FStage, mode, "Nothing*.qlx");
        EXPECT_EQ(report.find("earlier-run"), std::string::npos) << report;
        EXPECT_EQ(XmllintComplaint(report), "") << report;
    }
}

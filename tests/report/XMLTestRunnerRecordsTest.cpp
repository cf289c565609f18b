#include "report/XMLTestRunnerRecords.h"

#include "XmlCheck.h"

#include <gtest/gtest.h>

using namespace XMLTestRunner;
using ReportTestSupport::Parse;
using ReportTestSupport::TextOf;
using ReportTestSupport::XmllintComplaint;

TEST(XMLTestRunnerRecords, WriteASmallTreeExactly)
{
    // The records in the order a run of R > A holding a pass, a failure and an error
    // produces them (a disabled test produces none).
    std::string report = HeaderRecord();
    report += SuiteStartRecord("R");
    report += SuiteStartRecord("A");
    report += PassedTestRecord("Passes");
    report += FailureTestRecord("Fails", "ETestFailure", "", "expected <1> but was <2>");
    report += ErrorTestRecord("Raises", "EAccessViolation", "", "Access violation & more");
    report += StatusRecord("Raises", "still here");
    report += SuiteEndRecord();
    report += SuiteEndRecord();
    report += StatisticsRecord(3, 1, 1, "06/05/2024 14:03:07", "00:00:01");

    EXPECT_EQ(report,
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\" ?>\r\n"
              "<TestRun>\r\n"
              "<TestSuite name=\"R\">\r\n"
              "<TestSuite name=\"A\">\r\n"
              "<Test name=\"Passes\" result=\"PASS\">\r\n"
              "</Test>\r\n"
              "<Test name=\"Fails\" result=\"FAILS\">\r\n"
              "<FailureType>ETestFailure</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>expected &lt;1&gt; but was &lt;2&gt;</Message>\r\n"
              "</Test>\r\n"
              "<Test name=\"Raises\" result=\"ERROR\">\r\n"
              "<FailureType>EAccessViolation</FailureType>\r\n"
              "<Location></Location>\r\n"
              "<Message>Access violation &amp; more</Message>\r\n"
              "</Test>\r\n"
              "INFO: Raises: still here\r\n"
              "</TestSuite>\r\n"
              "</TestSuite>\r\n"
              "<Statistics>\r\n"
              "<Stat name=\"Tests\" result=\"3\" />\r\n"
              "<Stat name=\"Failures\" result=\"1\" />\r\n"
              "<Stat name=\"Errors\" result=\"1\" />\r\n"
              "<Stat name=\"Success Rate\" result=\"33%\" />\r\n"
              "<Stat name=\"Finished At\" result=\"06/05/2024 14:03:07\" />\r\n"
              "<Stat name=\"Runtime\" result=\"00:00:01\" />\r\n"
              "</Statistics>\r\n"
              "</TestRun>\r\n");
    EXPECT_EQ(XmllintComplaint(report), "");
}

// Names, class names, messages, status texts and even the locale's date texts can hold
// anything; the document must stay well-formed and read back as what went in.
TEST(XMLTestRunnerRecords, HostileValuesKeepTheDocumentWellFormed)
{
    const std::string name = "a&b<\"c\">]]> \x01 M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80 \xFC";
    // As a reader sees it: the control character replaced, the stray byte as Latin-1.
    const std::string read = "a&b<\"c\">]]> \xEF\xBF\xBD M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80 \xC3\xBC";

    std::string report = HeaderRecord();
    report += SuiteStartRecord(name);
    report += PassedTestRecord(name);
    report += FailureTestRecord(name, name, name, name);
    report += ErrorTestRecord(name, name, name, name);
    report += StatusRecord(name, name);
    report += SuiteEndRecord();
    report += StatisticsRecord(2, 1, 1, name, name);

    EXPECT_EQ(XmllintComplaint(report), "");
    // The check has teeth: the same name written as it stands is refused.
    EXPECT_NE(XmllintComplaint(HeaderRecord() + "<TestSuite name=\"" + name + "\">\r\n</TestSuite>\r\n</TestRun>\r\n"), "");

    // Every byte above 0x7F is a Latin-1 character, as the declaration says.
    pugi::xml_document doc;
    ASSERT_TRUE(Parse(doc, report, pugi::encoding_latin1));
    const pugi::xml_node suite = doc.child("TestRun").child("TestSuite");
    EXPECT_EQ(suite.attribute("name").value(), read);
    int tests = 0;
    for (pugi::xml_node test : suite.children("Test")) {
        ++tests;
        EXPECT_EQ(test.attribute("name").value(), read);
    }
    EXPECT_EQ(tests, 3);
    const pugi::xml_node failed = suite.find_child_by_attribute("Test", "result", "FAILS");
    EXPECT_EQ(TextOf(failed.child("FailureType")), read);
    EXPECT_EQ(TextOf(failed.child("Location")), read);
    EXPECT_EQ(TextOf(failed.child("Message")), read);
    EXPECT_EQ(TextOf(suite), "\r\nINFO: " + read + ": " + read + "\r\n");
    const pugi::xml_node finished =
        doc.child("TestRun").child("Statistics").find_child_by_attribute("Stat", "name", "Finished At");
    EXPECT_EQ(finished.attribute("result").value(), read);
}

// The JUnit report's records: the root's totals fit the room the first record left for
// them, and timestamps in the one form readers parse. The other records are checked
// byte by byte through the listener.

#include "report/JUnitTestRunnerRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace JUnitTestRunner;

TEST(JUnitTestRunnerRecords, TotalsTakeExactlyTheRoomOfTheFirstRecord)
{
    const std::string header = HeaderRecord();
    EXPECT_EQ(header.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<testsuites ", 0), 0u);
    const int most = std::numeric_limits<int>::max();
    const int least = std::numeric_limits<int>::min();
    for (const TTotals& totals : {TTotals{}, TTotals{most, most, most, most, std::numeric_limits<std::uint64_t>::max()},
                                  TTotals{least, least, least, 0, 0}}) {
        const std::string filled = HeaderWithTotalsRecord(totals);
        EXPECT_EQ(filled.size(), header.size()) << filled;
        EXPECT_EQ(filled.substr(filled.size() - 3), ">\r\n") << filled;
    }
    EXPECT_NE(HeaderWithTotalsRecord({7, 2, 1, 3, 1234}).find(
                  "<testsuites tests=\"7\" failures=\"2\" errors=\"1\" time=\"1.234\" "),
              std::string::npos);
}

TEST(JUnitTestRunnerRecords, TimestampsAreIsoLocalTimeToTheSecond)
{
    EXPECT_EQ(FormatTimestamp(Sys::EncodeDateTime(2024, 3, 5, 7, 8, 9, 999)), "2024-03-05T07:08:09");
    EXPECT_EQ(FormatTimestamp(Sys::EncodeDateTime(1999, 12, 31, 23, 59, 59, 999) + 0.4 / 86'400'000),
              "1999-12-31T23:59:59");
}

// Readers split class names on "." and normalise whitespace in attributes: a level's own
// dot and the message's line breaks and tabs must survive both.
TEST(JUnitTestRunnerRecords, LevelsAndAttributesSurviveTheReaders)
{
    EXPECT_EQ(ClassNameLevel("A.B"), "A%2EB");
    EXPECT_EQ(ClassNameLevel("100%.x"), "100%25%2Ex");
    EXPECT_EQ(ClassNameLevel("A%2EB"), "A%252EB");
    EXPECT_EQ(ClassNameLevel("plain name"), "plain name");
    EXPECT_EQ(FailedTestCaseRecord("C", "t", 5, "E", "a\nb\r\n\tc"),
              "  <testcase classname=\"C\" name=\"t\" time=\"0.005\">\r\n"
              "    <failure type=\"E\" message=\"a&#10;b&#13;&#10;&#9;c\">a\nb&#13;\n\tc</failure>\r\n"
              "  </testcase>\r\n");
    EXPECT_EQ(SkippedTestCaseRecord("C", "t", "not run", {"L.qlx", 3, {}}),
              "  <testcase classname=\"C\" name=\"t\" file=\"L.qlx\" line=\"3\" time=\"0.000\">\r\n"
              "    <skipped message=\"not run\"/>\r\n  </testcase>\r\n");
    EXPECT_EQ(PassedTestCaseRecord("C", "t", 0, {"", 3, "x&y"}),
              "  <testcase classname=\"C\" name=\"t\" time=\"0.000\">\r\n"
              "    <system-out>x&amp;y</system-out>\r\n  </testcase>\r\n");
}

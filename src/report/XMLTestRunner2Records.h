#pragma once
// The records of the NUnit-format XML report, one function per record: plain values in,
// the exact bytes out, each record already followed by its CR LF. The document is UTF-8;
// names and texts are escaped with XmlText::EscapeUtf8, messages and stack traces go into
// CDATA sections through XmlText::CDataUtf8, times are seconds with a decimal point.
//
// Values are narrow strings as the framework holds them (UTF-8, possibly with stray
// bytes); dates and times arrive already formatted by the caller in the locale's style.

#include <cstdint>
#include <string>
#include <string_view>

namespace XMLTestRunner2 {

// TestingStarts: the declaration, then the document's start tag with the registered root
// suite's name, its test count, the count of its tests that are not enabled, and today's
// date and the current time as texts.
// padding blanks end the start tag, room for a larger not-run count when the record is
// written again at the end of a run that was stopped (NotRunPadding).
std::string HeaderRecord(std::string_view rootSuiteName, int totalCount, int notRunCount,
                         std::string_view date, std::string_view time, int padding = 0);

// Status: a line of free text from a running test.
std::string StatusRecord(std::string_view testName, std::string_view message);

// StartSuite: the suite's element, named by its dotted path (XmlReport::TOpenSuites::
// SuiteName), and the start of its results (two records).
std::string SuiteStartRecord(std::string_view qualifiedSuiteName, int totalCount, int notRunCount,
                             int padding = 0);

// The blanks that let a start record written with notRunCount be written again, exactly
// as long, with any count up to totalCount; none when the counts have as many digits.
int NotRunPadding(int totalCount, int notRunCount);

// EndSuite: the end of the results and of the suite's element (two records).
std::string SuiteEndRecord();

// Test cases, named by TestCaseName. executed is the test's enabled state,
// elapsedMilliseconds its elapsed time.
std::string PassedTestCaseRecord(std::string_view testCaseName, bool executed,
                                 std::uint64_t elapsedMilliseconds);

// ShouldRunTest of a disabled test.
std::string NotRunTestCaseRecord(std::string_view testCaseName);

// AddError and AddFailure: the test-case element with its failure child (seven records).
// The message element holds "Exception: [class] message", a line end, and "At: " with
// the failure's address text.
std::string ErrorTestCaseRecord(std::string_view testCaseName, bool executed,
                                std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                std::string_view message, std::string_view addressInfo,
                                std::string_view stackTrace);
std::string FailureTestCaseRecord(std::string_view testCaseName, bool executed,
                                  std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                  std::string_view message, std::string_view addressInfo,
                                  std::string_view stackTrace);

// TestingEnds: the statistics and the document's end tag. startedAt and finishedAt are
// date-and-time texts; runTimeMilliseconds is the tick-counter difference.
std::string StatisticsRecord(int runCount, int failureCount, int errorCount,
                             std::string_view startedAt, std::string_view finishedAt,
                             std::uint64_t runTimeMilliseconds);

// A suite named like the host executable's file (without directory; letter case ignored)
// is the report's root: it gets no element and no part in the names below it.
bool IsReportRoot(std::string_view suiteName, std::string_view hostExeFileName);

// The name of a test case: the registered root suite's name, ".", the path prefix of the
// open suites (XmlReport::TOpenSuites::SuitePathPrefix), then the test's name; so test T
// in suite B in A in the root R is "R.R.A.B.T".
std::string TestCaseName(std::string_view rootSuiteName, std::string_view suitePathPrefix,
                         std::string_view testName);

} // namespace XMLTestRunner2

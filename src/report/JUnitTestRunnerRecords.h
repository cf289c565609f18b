#pragma once
// The records of the JUnit XML report that CI servers read, one function per record:
// plain values in, the exact bytes out, each record followed by its CR LF. The document
// is UTF-8; every name and text goes through XmlText::EscapeUtf8, times are seconds with
// a point whatever the locale.
//
// The layout is flat: one testsuite element per suite that holds test cases itself,
// named by its dotted path, inside one testsuites root that carries the run's totals.

#include "platform/Locale.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace JUnitTestRunner {

struct TTotals {
    int Tests = 0;
    int Failures = 0;
    int Errors = 0;
    int Skipped = 0;
    std::uint64_t Milliseconds = 0;
};

// TestingStarts: the declaration and the root's start tag with blanks where the totals
// go. The totals are known only at the end, and the records between must reach the file
// as they come; the file's first bytes are then replaced by HeaderWithTotalsRecord.
std::string HeaderRecord();

// The same bytes as HeaderRecord with the run's tests, failures, errors and time filled
// in, always exactly as long, for any values. Skipped tests are among the tests; the
// root has no attribute of its own for them, which the schema of Jenkins' xUnit plugin
// would refuse.
std::string HeaderWithTotalsRecord(const TTotals& totals);

// What a test case may carry beyond its outcome: where it is declared (written only when
// File is not empty; Line only when above 0) and what it wrote while it ran (system-out,
// written only when not empty).
struct TCaseDetails {
    std::string_view File;
    int Line = 0;
    std::string_view Output;
};

// The outcomes of one test case: a pass, a failure or an error with the exception's
// class name and message, or a test that was not run (with the reason, when there is one).
std::string PassedTestCaseRecord(std::string_view className, std::string_view testName,
                                 std::uint64_t elapsedMilliseconds, const TCaseDetails& details = {});
// PassedTestCaseRecord appended to out, for the suite that gathers its cases' records.
void AppendPassedTestCaseRecord(std::string& out, std::string_view className, std::string_view testName,
                                std::uint64_t elapsedMilliseconds, const TCaseDetails& details = {});
std::string FailedTestCaseRecord(std::string_view className, std::string_view testName,
                                 std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                 std::string_view message, const TCaseDetails& details = {});
std::string ErroredTestCaseRecord(std::string_view className, std::string_view testName,
                                  std::uint64_t elapsedMilliseconds, std::string_view exceptionClassName,
                                  std::string_view message, const TCaseDetails& details = {});
std::string SkippedTestCaseRecord(std::string_view className, std::string_view testName,
                                  std::string_view message = {}, const TCaseDetails& details = {});

// One level of a dotted class name or suite path. Readers split these on ".", and key
// test cases by class name and name, so a level whose own name holds a "." must not read
// as two levels: "%" is written "%25" and "." "%2E" ("A.B" becomes "A%2EB"); every other
// character stays as it is.
std::string ClassNameLevel(std::string_view levelName);

// One suite's element around its test case records; timestamp as FormatTimestamp writes it.
std::string SuiteRecord(std::string_view suitePath, const TTotals& totals, std::string_view timestamp,
                        std::string_view hostName, std::string_view testCaseRecords);
// Its start tag, and its end tag, for a suite whose records are written as they stand.
std::string SuiteStartRecord(std::string_view suitePath, const TTotals& totals, std::string_view timestamp,
                             std::string_view hostName);
inline constexpr std::string_view SuiteEndRecord = " </testsuite>\r\n";

// TestingEnds: the root's end tag.
std::string FooterRecord();

// ISO 8601 local date and time to the second, "2024-03-05T07:08:09", the form JUnit
// readers parse; for the times of this run, on or after day zero.
std::string FormatTimestamp(Sys::TDateTime value);

} // namespace JUnitTestRunner

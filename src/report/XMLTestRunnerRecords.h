#pragma once
// The records of the framework's own XML report, one function per record: plain values
// in, the exact bytes out, each record already followed by its CR LF. The document is
// declared ISO-8859-1 and every value is written to match (XmlText::EscapeLatin1), so
// the bytes can go to the sink as they are.
//
// Values are narrow strings as the framework holds them (UTF-8, possibly with stray
// bytes); dates and times arrive already formatted by the caller in the locale's style.

#include <string>
#include <string_view>

namespace XMLTestRunner {

// TestingStarts: the declaration and the document's start tag, as one record.
std::string HeaderRecord();

// Status: a line of free text from a running test.
std::string StatusRecord(std::string_view testName, std::string_view message);

// StartSuite and EndSuite.
std::string SuiteStartRecord(std::string_view suiteName);
std::string SuiteEndRecord();

// AddSuccess of a test without children.
std::string PassedTestRecord(std::string_view testName);

// AddError and AddFailure: the failure's test name, exception class name, location text
// and exception message.
std::string ErrorTestRecord(std::string_view testName, std::string_view exceptionClassName,
                            std::string_view locationInfo, std::string_view message);
std::string FailureTestRecord(std::string_view testName, std::string_view exceptionClassName,
                              std::string_view locationInfo, std::string_view message);

// TestingEnds: the statistics and the document's end tag. finishedAt is the date and time
// text of now, runTime the elapsed time as a time-of-day text.
std::string StatisticsRecord(int runCount, int failureCount, int errorCount,
                             std::string_view finishedAt, std::string_view runTime);

} // namespace XMLTestRunner

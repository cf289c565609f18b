#pragma once
// The JUnit XML report that CI servers read, in UTF-8, to a file or (for an empty file
// name) to standard output. A suite's element is written when the suite ends, since its
// totals lead its test cases; until then only that suite's own test cases are held.

#include "core/TestInterfaces.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace JUnitTestRunner {

// Where a test is declared: its library's path as the report shows it, and its line
// (0 when unknown). An empty file: nothing known. The file's text is the hook's and must
// outlast the run: a hundred thousand cases name a handful of files.
struct TTestPosition {
    std::string_view File;
    int Line = 0;
};

// A library's path as the report's file attribute shows it: relative to the current
// directory when it lies below it, as given otherwise.
std::string ShownPath(const std::string& path);

// What the report learns from outside the framework; each may be left empty.
struct TReportHooks {
    // The position of a test case.
    std::function<TTestPosition(const TestFramework::ITestPtr&)> Position;
    // Called as a test case starts; TakeOutput then answers what it wrote since, once.
    std::function<void()> BeginOutput;
    std::function<std::string()> TakeOutput;
};

// The suite itself gets no element and no part in the names: its children are the
// report's top level.
// A test of the suite that the run did not reach (it was stopped) is still listed, as
// skipped with ReportRun::NotRunMessage, so that a reader sees every selected test.
std::unique_ptr<TestFramework::TTestResult> RunTest(const TestFramework::ITestPtr& suite,
                                                    const std::string& outputFile, const TReportHooks& hooks);
std::unique_ptr<TestFramework::TTestResult> RunTest(const TestFramework::ITestPtr& suite,
                                                    const std::string& outputFile);
std::unique_ptr<TestFramework::TTestResult> RunRegisteredTests(const std::string& outputFile,
                                                               const TReportHooks& hooks = {});

} // namespace JUnitTestRunner

#pragma once
// The JUnit XML report that CI servers read, in UTF-8, to a file or (for an empty file
// name) to standard output. A suite's element is written when the suite ends, since its
// totals lead its test cases; until then only that suite's own test cases are held.

#include "core/TestInterfaces.h"

#include <memory>
#include <string>

namespace JUnitTestRunner {

// The suite itself gets no element and no part in the names: its children are the
// report's top level.
std::unique_ptr<TestFramework::TTestResult> RunTest(const TestFramework::ITestPtr& suite,
                                                    const std::string& outputFile);
std::unique_ptr<TestFramework::TTestResult> RunRegisteredTests(const std::string& outputFile);

} // namespace JUnitTestRunner

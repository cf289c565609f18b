#pragma once
// The XML report in the framework's own format, written record by record as the run
// goes on, to a file or (for an empty file name) to standard output.

#include "core/TestInterfaces.h"

#include <memory>
#include <string>

namespace XMLTestRunner {

std::unique_ptr<TestFramework::TTestResult> RunTest(const TestFramework::ITestPtr& suite,
                                                    const std::string& outputFile);
std::unique_ptr<TestFramework::TTestResult> RunRegisteredTests(const std::string& outputFile);

} // namespace XMLTestRunner

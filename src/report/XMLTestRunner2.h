#pragma once
// The XML report in the layout of the NUnit family of tools, in UTF-8, written record by
// record as the run goes on, to a file or (for an empty file name) to standard output.

#include "core/TestInterfaces.h"

#include <memory>
#include <string>

namespace XMLTestRunner2 {

std::unique_ptr<TestFramework::TTestResult> RunTest(const TestFramework::ITestPtr& suite,
                                                    const std::string& outputFile);
std::unique_ptr<TestFramework::TTestResult> RunRegisteredTests(const std::string& outputFile);

} // namespace XMLTestRunner2

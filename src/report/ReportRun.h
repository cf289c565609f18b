#pragma once
// Running a suite for a report file.

#include "core/TestInterfaces.h"

#include <memory>

namespace ReportRun {

// Runs the suite with the one listener; the caller owns the result. A run without a
// suite (nothing was registered) still tells the listener that testing started and
// ended, so that a report file is written for it: leaving an earlier run's file in
// place would let a reader take the old results for this run's.
std::unique_ptr<TestFramework::TTestResult> RunForReport(const TestFramework::ITestPtr& suite,
                                                         const TestFramework::ITestListenerPtr& listener);

} // namespace ReportRun

#pragma once
// Running a suite for a report file.

#include "core/TestInterfaces.h"

#include <memory>
#include <string>

namespace ReportRun {

// Runs the suite with the one listener; the caller owns the result. A run without a
// suite (nothing was registered) still tells the listener that testing started and
// ended, so that a report file is written for it: leaving an earlier run's file in
// place would let a reader take the old results for this run's.
std::unique_ptr<TestFramework::TTestResult> RunForReport(const TestFramework::ITestPtr& suite,
                                                         const TestFramework::ITestListenerPtr& listener);

// Why the run is being stopped, for the reports that list the tests it did not reach: a
// text that is never freed, such as "SIGTERM", or nullptr to forget it (as a new run
// starts). Safe to call from a signal handler.
void NoteStopCause(const char* cause) noexcept;

// The reason given for a test that the run did not reach: "not run: the run was stopped
// by SIGTERM", or without the cause when none was noted.
std::string NotRunMessage();

} // namespace ReportRun

#pragma once
// The exceptions a running test raises to report its outcome, and what each means to the
// run loop: the failure types are recorded as failures, anything else as an error.

#include "platform/SysUtils.h"

namespace TestFramework {

// The unit name that assertion errors of the framework report.
inline constexpr const char* FrameworkUnit = "roved\\src\\TestFramework";

// A failed check or a script failure: recorded as a failure.
class ETestFailure : public Sys::EAbort {
public:
    WEXEL_CLASS(ETestFailure, Sys::EAbort)
    using Sys::EAbort::EAbort;
};

// Recorded as a failure; the whole run stops after the current test.
class EStopTestsFailure : public ETestFailure {
public:
    WEXEL_CLASS(EStopTestsFailure, ETestFailure)
    using ETestFailure::ETestFailure;
};

// Never raised: the class of failures the run loop makes from a message (leaks).
class EPostTestFailure : public ETestFailure {
public:
    WEXEL_CLASS(EPostTestFailure, ETestFailure)
    using ETestFailure::ETestFailure;
};

// Base of the framework's internal exceptions.
class ERovedException : public Sys::Exception {
public:
    WEXEL_CLASS(ERovedException, Sys::Exception)
    using Sys::Exception::Exception;
};

// Raised and caught by the run loop when breaking on failures.
class EBreakingTestFailure : public ERovedException {
public:
    WEXEL_CLASS(EBreakingTestFailure, ERovedException)
    using ERovedException::ERovedException;
};

} // namespace TestFramework

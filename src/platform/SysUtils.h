#pragma once
// What the original platform's runtime library gave every unit: the exception base
// class with its class name and code address, and the assertion error.

#include <exception>
#include <string>

namespace Sys {

// Root of the system's exception hierarchy. The class name travels with the exception
// because failure records and reports print it; the address is where it was raised.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}

    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

    virtual std::string ClassName() const { return "Exception"; }

    const void* Address() const noexcept { return FAddress; }
    void SetAddress(const void* address) noexcept { FAddress = address; }

private:
    std::string FMessage;
    const void* FAddress = nullptr;
};

// Silent exception: aborts an operation without being reported as an error.
class EAbort : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EAbort"; }
};

// The runtime's assertion error: a violated precondition, not a test outcome.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EAssertionFailed"; }
};

// Raises EAssertionFailed with the runtime's text: the message ("Assertion failure" when
// none is given) followed by the unit and line, e.g.
// "Assertion failure (roved\src\TestFramework, line 2128)".
[[noreturn]] void AssertionFailure(const char* unit, int line, const std::string& message = {});

// Checks a precondition the way the runtime's Assert does.
inline void Assert(bool condition, const char* unit, int line, const std::string& message = {})
{
    if (!condition)
        AssertionFailure(unit, line, message);
}

// The name reports use for an exception's class: the system's own name for an Exception,
// the demangled C++ type name for any other std::exception.
std::string ExceptionClassName(const std::exception& e);

} // namespace Sys

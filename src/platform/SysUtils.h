#pragma once
// What every unit of the system builds on: the exception base class with its class name
// and code address, and the assertion error of violated preconditions.

#include <cstddef>
#include <exception>
#include <string>

namespace Sys {

// A class reference: the name a class declares and its parent, so that code can ask
// whether one class descends from another (failure records, class checks).
struct TClass {
    const char* Name;
    const TClass* Parent;

    bool InheritsFrom(const TClass& ancestor) const noexcept
    {
        for (const TClass* c = this; c; c = c->Parent)
            if (c == &ancestor)
                return true;
        return false;
    }
};

// Declares a class's class reference and answers it for objects of the class. Use once
// in the body of every class that takes part (after `public:`).
#define WEXEL_CLASS(Self, ParentClass)                                                    \
    static const ::Sys::TClass& StaticClass() noexcept                                   \
    {                                                                                    \
        static const ::Sys::TClass cls{#Self, &ParentClass::StaticClass()};              \
        return cls;                                                                      \
    }                                                                                    \
    const ::Sys::TClass& ClassType() const noexcept override { return StaticClass(); }

// Root of the classes that carry a class reference.
class TObject {
public:
    virtual ~TObject() = default;
    static const TClass& StaticClass() noexcept
    {
        static const TClass cls{"TObject", nullptr};
        return cls;
    }
    virtual const TClass& ClassType() const noexcept { return StaticClass(); }
    std::string ClassName() const { return ClassType().Name; }
};

// Root of the system's exception hierarchy. The class name travels with the exception
// because failure records and reports print it; the address is where it was raised.
class Exception : public std::exception, public TObject {
public:
    WEXEL_CLASS(Exception, TObject)
    explicit Exception(std::string message) : FMessage(std::move(message)) {}

    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

    const void* Address() const noexcept { return FAddress; }
    void SetAddress(const void* address) noexcept { FAddress = address; }

private:
    std::string FMessage;
    const void* FAddress = nullptr;
};

// Silent exception: aborts an operation without being reported as an error.
class EAbort : public Exception {
public:
    WEXEL_CLASS(EAbort, Exception)
    using Exception::Exception;
};

// The runtime's assertion error: a violated precondition, not a test outcome.
class EAssertionFailed : public Exception {
public:
    WEXEL_CLASS(EAssertionFailed, Exception)
    using Exception::Exception;
};

// Whether the memory at p can be read (size bytes), tested without touching it, so that
// a bad address never faults.
bool IsReadable(const void* p, std::size_t size) noexcept;

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

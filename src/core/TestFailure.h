#pragma once
// One recorded failure or error, and the helpers that turn a code address into the text
// shown beside it.

#include "core/TestInterfaces.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <exception>
#include <string>

namespace TestFramework {

class TTestFailure {
public:
    // From an exception: the message is msg followed directly by the exception's own
    // message. The exception object itself is not kept. A std::exception that is not a
    // Sys::Exception is recorded under its C++ type name with a null class reference.
    // A reference, so that a null exception cannot be passed and a message-form call
    // (test, nullptr, "text") cannot land here.
    TTestFailure(const ITestPtr& failedTest, const std::exception& thrownException,
                 const void* addrs, const std::string& msg = {});
    // From a message: a failure of class EPostTestFailure.
    TTestFailure(const ITestPtr& failedTest, const void* addrs, const std::string& msg);
    virtual ~TTestFailure() = default;

    virtual ITestPtr FailedTest() const;
    // The exception's class; nullptr for a C++ exception outside the system's hierarchy.
    virtual const Sys::TClass* ThrownExceptionClass() const;
    virtual std::string ThrownExceptionName() const;
    virtual std::string ThrownExceptionMessage() const;
    virtual const void* ThrownExceptionAddress() const;
    virtual std::string LocationInfo() const;
    virtual std::string AddressInfo() const;
    virtual std::string StackTrace() const;

private:
    ITestPtr FFailedTest;
    const Sys::TClass* FThrownExceptionClass = nullptr;
    std::string FThrownExceptionName;
    std::string FMessage;
    const void* FThrownExceptionAddress = nullptr;
    std::string FStackTrace;
};

// Always empty: no symbol or line lookup exists in this system.
std::string PointerToLocationInfo(const void* addr);
// "$" and eight upper-case hexadecimal digits: the address relative to the base of the
// module that holds it (so that it fits 32 bits and can be looked up), or the raw low 32
// bits when no module holds it; a null address gives "$00000000".
std::string PointerToAddressInfo(const void* addr);
// True when p is null or one machine word at p cannot be read; never faults.
bool IsBadPointer(const void* p) noexcept;
// The location of the call through which a routine was entered, from that routine's
// return address (use WEXEL_CALLER_ADDR() inside the routine); null for a bad address.
const void* CallerAddrFromReturnAddress(const void* returnAddress) noexcept;
// First differing offset of two blocks with both bytes there; -1 when size is 0 or the
// blocks are equal (the out bytes are then untouched).
int FirstByteDiff(const void* a, const void* b, std::uint32_t size, std::uint8_t& byteA,
                  std::uint8_t& byteB);

} // namespace TestFramework

// The caller's address of the routine this is written in. A macro, because the return
// address must be read in that routine's own frame.
#define WEXEL_CALLER_ADDR() \
    ::TestFramework::CallerAddrFromReturnAddress(__builtin_extract_return_addr(__builtin_return_address(0)))

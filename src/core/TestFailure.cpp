#include "core/TestFailure.h"

#include "core/TestExceptions.h"
#include "platform/Process.h"

#include <cstdio>
#include <cstring>

namespace TestFramework {

TTestFailure::TTestFailure(const ITestPtr& failedTest, const std::exception& thrownException,
                           const void* addrs, const std::string& msg)
{
    FFailedTest = failedTest;
    if (auto* own = dynamic_cast<const Sys::Exception*>(&thrownException)) {
        FThrownExceptionClass = &own->ClassType();
        FThrownExceptionName = own->ClassName();
        // The whole message: what() would end it at a NUL byte a script answered.
        FMessage = msg + own->Message();
    } else {
        FThrownExceptionName = Sys::ExceptionClassName(thrownException);
        FMessage = msg + thrownException.what();
    }
    FThrownExceptionAddress = addrs;
    FStackTrace.clear();
}

TTestFailure::TTestFailure(const ITestPtr& failedTest, const void* addrs, const std::string& msg)
    : FFailedTest(failedTest),
      FThrownExceptionClass(&EPostTestFailure::StaticClass()),
      FThrownExceptionName(EPostTestFailure::StaticClass().Name),
      FMessage(msg),
      FThrownExceptionAddress(addrs)
{
}

ITestPtr TTestFailure::FailedTest() const { return FFailedTest; }
const Sys::TClass* TTestFailure::ThrownExceptionClass() const { return FThrownExceptionClass; }
std::string TTestFailure::ThrownExceptionName() const { return FThrownExceptionName; }
std::string TTestFailure::ThrownExceptionMessage() const { return FMessage; }
const void* TTestFailure::ThrownExceptionAddress() const { return FThrownExceptionAddress; }
std::string TTestFailure::LocationInfo() const { return PointerToLocationInfo(FThrownExceptionAddress); }
std::string TTestFailure::AddressInfo() const { return PointerToAddressInfo(FThrownExceptionAddress); }
std::string TTestFailure::StackTrace() const { return FStackTrace; }

std::string PointerToLocationInfo(const void*) { return {}; }

std::string PointerToAddressInfo(const void* addr)
{
    auto value = reinterpret_cast<std::uintptr_t>(addr);
    if (addr) {
        if (const void* base = Sys::ModuleBase(addr))
            value -= reinterpret_cast<std::uintptr_t>(base);
    }
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return text;
}

bool IsBadPointer(const void* p) noexcept { return !Sys::IsReadable(p, sizeof(void*)); }

const void* CallerAddrFromReturnAddress(const void* returnAddress) noexcept
{
    // One byte back lands inside the call instruction whatever its length (a direct call
    // is 5 bytes, a virtual call 2 to 7), so a lookup finds the calling line.
    if (IsBadPointer(returnAddress))
        return nullptr;
    const void* call = static_cast<const char*>(returnAddress) - 1;
    return IsBadPointer(call) ? nullptr : call;
}

int FirstByteDiff(const void* a, const void* b, std::uint32_t size, std::uint8_t& byteA,
                  std::uint8_t& byteB)
{
    auto* pa = static_cast<const std::uint8_t*>(a);
    auto* pb = static_cast<const std::uint8_t*>(b);
    for (std::uint32_t i = 0; i < size; ++i) {
        if (pa[i] != pb[i]) {
            byteA = pa[i];
            byteB = pb[i];
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace TestFramework

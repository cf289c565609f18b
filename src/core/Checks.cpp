// The check operations of every test. Each check reads its own caller's address on entry
// and hands it down to the failure operations, so that a failure is located at the
// test's call of the check and not somewhere inside the framework.

#include "core/AbstractTest.h"
#include "core/CheckFormat.h"
#include "platform/Locale.h"

#include <cmath>
#include <cstring>

namespace TestFramework {

namespace {

// The location a delegating check hands to the slot it calls through the vtable, where
// an address parameter has no place. The slot takes it on entry; the guard clears it
// again in case an overriding slot never looked.
thread_local const void* PendingCheckAddr = nullptr;

class TPendingCheckAddr {
public:
    explicit TPendingCheckAddr(const void* addr) : FSaved(PendingCheckAddr) { PendingCheckAddr = addr; }
    ~TPendingCheckAddr() { PendingCheckAddr = FSaved; }
    TPendingCheckAddr(const TPendingCheckAddr&) = delete;
    TPendingCheckAddr& operator=(const TPendingCheckAddr&) = delete;

private:
    const void* FSaved;
};

const void* TakePendingCheckAddr()
{
    const void* addr = PendingCheckAddr;
    PendingCheckAddr = nullptr;
    return addr;
}

[[noreturn]] void RaiseFailure(const std::string& msg, const void* addr)
{
    ETestFailure failure(msg);
    failure.SetAddress(addr);
    throw failure;
}

std::string MessagePrefix(const std::string& msg) { return msg.empty() ? msg : msg + ", "; }

std::u16string Wide(const std::string& text) { return NarrowToWide(text); }

// The process locale's general float text, decimal separator included.
std::u16string WideFloat(long double value) { return NarrowToWide(Sys::FloatToStr(value)); }

std::u16string WideInt(std::int32_t value) { return NarrowToWide(std::to_string(value)); }

std::u16string WideInteger(const TAbstractTest::TCheckInteger& value)
{
    return NarrowToWide((value.Negative ? "-" : "") + std::to_string(value.Magnitude));
}

std::u16string ClassNameOrNil(const Sys::TClass* klass)
{
    return klass ? NarrowToWide(klass->Name) : std::u16string(u"nil");
}

// A memory check on an address that cannot be read must not bring the process down: the
// block is probed first (page by page; protection never changes inside a page) and an
// unreadable one is raised as an ordinary exception, which the run loop records as an
// error of the test.
void RequireReadable(const void* block, std::uint32_t size, const void* addr)
{
    if (size == 0)
        return;
    constexpr std::uintptr_t page = 4096; // no platform has smaller pages
    const auto first = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t last = first + (size - 1);
    bool readable = block != nullptr && last >= first;
    for (std::uintptr_t at = first; readable; at = (at | (page - 1)) + 1) {
        readable = Sys::IsReadable(reinterpret_cast<const void*>(at), 1);
        if (at >= (last & ~(page - 1)))
            break;
    }
    if (!readable) {
        Sys::Exception error("Access violation: the memory block at " + PtrToStr(block) + " (" +
                             std::to_string(size) + " bytes) cannot be read");
        error.SetAddress(addr);
        throw error;
    }
}

bool SameMemory(const void* expected, const void* actual, std::uint32_t size, const void* addr)
{
    RequireReadable(expected, size, addr);
    RequireReadable(actual, size, addr);
    return size == 0 || std::memcmp(expected, actual, size) == 0;
}

// Equal within delta. A NaN operand, infinities of the same sign and a negative delta
// all make the comparison false.
bool WithinDelta(long double expected, long double actual, long double delta)
{
    return std::fabs(expected - actual) <= delta;
}

} // namespace

// ---- message builders ----------------------------------------------------------------

std::u16string TAbstractTest::NotEqualsErrorMessage(const std::u16string& expected,
                                                    const std::u16string& actual, const std::string& msg)
{
    return Wide(MessagePrefix(msg)) + u"expected: <" + expected + u"> but was: <" + actual + u">";
}

std::u16string TAbstractTest::EqualsErrorMessage(const std::u16string& expected, const std::u16string&,
                                                 const std::string& msg)
{
    return Wide(MessagePrefix(msg)) + u"expected and actual were: <" + expected + u">";
}

std::string TAbstractTest::NotSameErrorMessage(const std::string& expected, const std::string& actual,
                                               const std::string& msg)
{
    return MessagePrefix(msg) + "expected: <" + expected + "> but was: <" + actual + ">";
}

std::string TAbstractTest::GetMemDiffStr(const void* expected, const void* actual, std::uint32_t size,
                                         const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    RequireReadable(expected, size, addr);
    RequireReadable(actual, size, addr);
    std::uint8_t byteE = 0;
    std::uint8_t byteA = 0;
    const int offset = FirstByteDiff(expected, actual, size, byteE, byteA);
    if (offset < 0)
        return MessagePrefix(msg) + "Memory content was identical";
    return WideToNarrow(NotEqualsErrorMessage(Wide(ByteToHex(byteE)), Wide(ByteToHex(byteA)), msg)) +
           " at Offset = " + IntToHex(static_cast<std::uint32_t>(offset), 4) + "h";
}

void TAbstractTest::StopExpectingException(const std::string&)
{
    if (FRarelySet)
        FRarelySet->ExpectedException = nullptr;
}

// ---- failure operations ----------------------------------------------------------------

void TAbstractTest::Fail(const std::string& msg, const void* addr)
{
    RaiseFailure(msg, addr ? addr : WEXEL_CALLER_ADDR());
}

void TAbstractTest::FailEquals(const std::u16string& expected, const std::u16string& actual,
                               const std::string& msg, const void* addr)
{
    if (!addr)
        addr = WEXEL_CALLER_ADDR();
    const std::string text = WideToNarrow(EqualsErrorMessage(expected, actual, msg));
    Fail(text, addr);
    RaiseFailure(text, addr); // only reached when an override of Fail returned
}

void TAbstractTest::FailNotEquals(const std::u16string& expected, const std::u16string& actual,
                                  const std::string& msg, const void* addr)
{
    if (!addr)
        addr = WEXEL_CALLER_ADDR();
    const std::string text = WideToNarrow(NotEqualsErrorMessage(expected, actual, msg));
    Fail(text, addr);
    RaiseFailure(text, addr); // only reached when an override of Fail returned
}

void TAbstractTest::FailNotSame(const std::u16string& expected, const std::u16string& actual,
                                const std::string& msg, const void* addr)
{
    if (!addr)
        addr = WEXEL_CALLER_ADDR();
    const std::string text = NotSameErrorMessage(WideToNarrow(expected), WideToNarrow(actual), msg);
    Fail(text, addr);
    RaiseFailure(text, addr); // only reached when an override of Fail returned
}

void TAbstractTest::StopTests(const std::string& msg)
{
    EStopTestsFailure failure(msg);
    failure.SetAddress(WEXEL_CALLER_ADDR());
    throw failure;
}

// ---- checks, in slot order ---------------------------------------------------------------

void TAbstractTest::Check(bool condition, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!condition)
        Fail(msg, addr);
}

void TAbstractTest::CheckTrue(bool condition, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!condition)
        FailNotEquals(u"True", u"False", msg, addr);
}

void TAbstractTest::CheckFalse(bool condition, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (condition)
        FailNotEquals(u"False", u"True", msg, addr);
}

void TAbstractTest::CheckEquals(long double expected, long double actual, const std::string& msg)
{
    TPendingCheckAddr location(WEXEL_CALLER_ADDR());
    FCheckCalled = true;
    CheckEquals(expected, actual, 0.0L, msg);
}

void TAbstractTest::CheckEquals(long double expected, long double actual, long double delta,
                                const std::string& msg)
{
    const void* addr = TakePendingCheckAddr();
    if (!addr)
        addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!WithinDelta(expected, actual, delta))
        FailNotEquals(WideFloat(expected), WideFloat(actual), msg, addr);
}

void TAbstractTest::CheckEquals(std::int32_t expected, std::int32_t actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(WideInt(expected), WideInt(actual), msg, addr);
}

void TAbstractTest::CheckEquals(const std::string& expected, const std::string& actual,
                                const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(Wide(expected), Wide(actual), msg, addr);
}

void TAbstractTest::CheckEqualsString(const std::string& expected, const std::string& actual,
                                      const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(Wide(expected), Wide(actual), msg, addr);
}

void TAbstractTest::CheckEquals(const std::u16string& expected, const std::u16string& actual,
                                const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(expected, actual, msg, addr);
}

void TAbstractTest::CheckEqualsWideString(const std::u16string& expected, const std::u16string& actual,
                                          const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(expected, actual, msg, addr);
}

void TAbstractTest::CheckEqualsMem(const void* expected, const void* actual, std::uint32_t size,
                                   const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!SameMemory(expected, actual, size, addr))
        Fail(GetMemDiffStr(expected, actual, size, msg), addr);
}

void TAbstractTest::CheckEquals(bool expected, bool actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(Wide(BoolToStr(expected)), Wide(BoolToStr(actual)), msg, addr);
}

void TAbstractTest::CheckEqualsBin(std::uint32_t expected, std::uint32_t actual, const std::string& msg,
                                   int digits)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(Wide(IntToBin(expected, digits)), Wide(IntToBin(actual, digits)), msg, addr);
}

void TAbstractTest::CheckEqualsHex(std::uint32_t expected, std::uint32_t actual, const std::string& msg,
                                   int digits)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(Wide(IntToHex(expected, digits)), Wide(IntToHex(actual, digits)), msg, addr);
}

void TAbstractTest::CheckNotEquals(std::int32_t expected, std::int32_t actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(WideInt(expected), WideInt(actual), msg, addr);
}

void TAbstractTest::CheckNotEquals(long double expected, long double actual, long double delta,
                                   const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    // Reported in the expected/but-was form, unlike the other inequality checks.
    if (WithinDelta(expected, actual, delta))
        FailNotEquals(WideFloat(expected), WideFloat(actual), msg, addr);
}

void TAbstractTest::CheckNotEquals(const std::string& expected, const std::string& actual,
                                   const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(Wide(expected), Wide(actual), msg, addr);
}

void TAbstractTest::CheckNotEqualsString(const std::string& expected, const std::string& actual,
                                         const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(Wide(expected), Wide(actual), msg, addr);
}

void TAbstractTest::CheckNotEquals(const std::u16string& expected, const std::u16string& actual,
                                   const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(expected, actual, msg, addr);
}

void TAbstractTest::CheckNotEqualsWideString(const std::u16string& expected, const std::u16string& actual,
                                             const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(expected, actual, msg, addr);
}

void TAbstractTest::CheckNotEqualsMem(const void* expected, const void* actual, std::uint32_t size,
                                      const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (SameMemory(expected, actual, size, addr))
        Fail(MessagePrefix(msg) + "Memory content was identical", addr);
}

void TAbstractTest::CheckNotEquals(bool expected, bool actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(Wide(BoolToStr(expected)), Wide(BoolToStr(actual)), msg, addr);
}

void TAbstractTest::CheckNotEqualsBin(std::uint32_t expected, std::uint32_t actual,
                                      const std::string& msg, int digits)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(Wide(IntToBin(expected, digits)), Wide(IntToBin(actual, digits)), msg, addr);
}

void TAbstractTest::CheckNotEqualsHex(std::uint32_t expected, std::uint32_t actual,
                                      const std::string& msg, int digits)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected == actual)
        FailEquals(Wide(IntToHex(expected, digits)), Wide(IntToHex(actual, digits)), msg, addr);
}

void TAbstractTest::CheckNotNull(const std::shared_ptr<const void>& obj, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!obj)
        Fail(msg, addr);
}

void TAbstractTest::CheckNull(const std::shared_ptr<const void>& obj, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (obj)
        Fail(msg, addr);
}

void TAbstractTest::CheckSame(const std::shared_ptr<const void>& expected,
                              const std::shared_ptr<const void>& actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected.get() != actual.get())
        FailNotSame(Wide(PtrToStr(expected.get())), Wide(PtrToStr(actual.get())), msg, addr);
}

void TAbstractTest::CheckSame(const Sys::TObject* expected, const Sys::TObject* actual,
                              const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotSame(Wide(PtrToStr(expected)), Wide(PtrToStr(actual)), msg, addr);
}

void TAbstractTest::CheckNotNull(const Sys::TObject* obj, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!obj)
        FailNotSame(u"object", Wide(PtrToStr(obj)), msg, addr);
}

void TAbstractTest::CheckNull(const Sys::TObject* obj, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (obj)
        FailNotSame(u"nil", Wide(PtrToStr(obj)), msg, addr);
}

void TAbstractTest::CheckEquals(const Sys::TClass* expected, const Sys::TClass* actual,
                                const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected != actual)
        FailNotEquals(ClassNameOrNil(expected), ClassNameOrNil(actual), msg, addr);
}

void TAbstractTest::CheckInherits(const Sys::TClass* expected, const Sys::TClass* actual,
                                  const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    // A null class on either side fails, two null classes included ("nil" / "nil").
    if (!expected || !actual || !actual->InheritsFrom(*expected))
        FailNotEquals(ClassNameOrNil(expected), ClassNameOrNil(actual), msg, addr);
}

void TAbstractTest::CheckIs(const Sys::TObject* obj, const Sys::TClass* klass, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (!klass)
        Sys::AssertionFailure(FrameworkUnit, 2128);
    if (!obj)
        FailNotEquals(ClassNameOrNil(klass), u"nil", msg, addr);
    if (!obj->ClassType().InheritsFrom(*klass))
        FailNotEquals(ClassNameOrNil(klass), ClassNameOrNil(&obj->ClassType()), msg, addr);
}

// ---- convenience checks ------------------------------------------------------------------

void TAbstractTest::CheckEqualsInteger(TCheckInteger expected, TCheckInteger actual, const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected.Negative != actual.Negative || expected.Magnitude != actual.Magnitude)
        FailNotEquals(WideInteger(expected), WideInteger(actual), msg, addr);
}

void TAbstractTest::CheckNotEqualsInteger(TCheckInteger expected, TCheckInteger actual,
                                          const std::string& msg)
{
    const void* addr = WEXEL_CALLER_ADDR();
    FCheckCalled = true;
    if (expected.Negative == actual.Negative && expected.Magnitude == actual.Magnitude)
        FailEquals(WideInteger(expected), WideInteger(actual), msg, addr);
}

} // namespace TestFramework

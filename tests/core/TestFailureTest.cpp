#include "core/AbstractTest.h"
#include "core/TestFailure.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <stdexcept>

using namespace TestFramework;

namespace {

ITestPtr SomeTest() { return std::make_shared<TAbstractTest>("T"); }

} // namespace

TEST(TestFailure, FromAnExceptionPrefixesTheMessageAndKeepsTheClass)
{
    auto test = SomeTest();
    ETestFailure failure("x");
    TTestFailure plain(test, failure, nullptr);
    EXPECT_EQ(plain.ThrownExceptionMessage(), "x");
    EXPECT_EQ(plain.ThrownExceptionName(), "ETestFailure");
    EXPECT_EQ(plain.ThrownExceptionClass(), &ETestFailure::StaticClass());
    EXPECT_EQ(plain.FailedTest(), test);

    TTestFailure prefixed(test, failure, nullptr, "SetUp FAILED: ");
    EXPECT_EQ(prefixed.ThrownExceptionMessage(), "SetUp FAILED: x");

    // A C++ exception outside the system's hierarchy keeps its own type name.
    std::out_of_range range("index 7");
    TTestFailure foreign(test, range, nullptr);
    EXPECT_EQ(foreign.ThrownExceptionName(), "std::out_of_range");
    EXPECT_EQ(foreign.ThrownExceptionClass(), nullptr);
    EXPECT_EQ(foreign.ThrownExceptionMessage(), "index 7");
}

TEST(TestFailure, MessageFormIsAlwaysAPostTestFailure)
{
    TTestFailure failure(SomeTest(), nullptr, "leaked 16 bytes");
    EXPECT_EQ(failure.ThrownExceptionName(), "EPostTestFailure");
    EXPECT_EQ(failure.ThrownExceptionMessage(), "leaked 16 bytes");
    EXPECT_TRUE(failure.ThrownExceptionClass()->InheritsFrom(ETestFailure::StaticClass()));
    EXPECT_EQ(failure.LocationInfo(), "");
    EXPECT_EQ(failure.StackTrace(), "");
}

TEST(TestFailure, AddressTextIsDollarAndEightUpperCaseHexDigits)
{
    EXPECT_EQ(PointerToAddressInfo(nullptr), "$00000000");
    // An address in no module keeps its low 32 bits.
    EXPECT_EQ(PointerToAddressInfo(reinterpret_cast<const void*>(0xAB)), "$000000AB");
    // An address in code is relative to its module, so it fits and can be looked up.
    const std::string text = PointerToAddressInfo(reinterpret_cast<const void*>(&PointerToAddressInfo));
    ASSERT_EQ(text.size(), 9u);
    EXPECT_EQ(text.find_first_not_of("$0123456789ABCDEF"), std::string::npos) << text;
    EXPECT_NE(text, "$00000000");
}

TEST(TestFailure, BadPointersAreDetectedWithoutFaulting)
{
    int value = 5;
    EXPECT_FALSE(IsBadPointer(&value));
    EXPECT_TRUE(IsBadPointer(nullptr));
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_TRUE(IsBadPointer(page));
    ::munmap(page, 4096);
    EXPECT_EQ(CallerAddrFromReturnAddress(nullptr), nullptr);
}

TEST(TestFailure, FirstByteDiffFindsTheFirstDifferingOffset)
{
    const unsigned char a[] = {1, 2, 3, 4};
    const unsigned char b[] = {1, 2, 3, 9};
    std::uint8_t x = 0xEE, y = 0xEE;
    EXPECT_EQ(FirstByteDiff(a, a, 4, x, y), -1);
    EXPECT_EQ(x, 0xEE); // untouched when equal
    EXPECT_EQ(FirstByteDiff(a, b, 0, x, y), -1);
    EXPECT_EQ(FirstByteDiff(a, b, 4, x, y), 3);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 9);
}

#include "core/AbstractTest.h"
#include "core/CheckFormat.h"
#include "platform/Locale.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace TestFramework;

namespace {

constexpr long double NaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double Inf = std::numeric_limits<long double>::infinity();

class TShape : public Sys::TObject {
public:
    WEXEL_CLASS(TShape, Sys::TObject)
};

class TCircle : public TShape {
public:
    WEXEL_CLASS(TCircle, TShape)
};

class ChecksTest : public ::testing::Test {
protected:
    std::shared_ptr<TAbstractTest> Test = std::make_shared<TAbstractTest>("subject");
    TAbstractTest& T = *Test;

    // The failure the action raised; none is a test failure of its own.
    template <class F>
    std::optional<ETestFailure> FailureOf(F&& action)
    {
        try {
            action();
        } catch (const ETestFailure& failure) {
            return failure;
        }
        return std::nullopt;
    }

    // The message of the failure the action raised.
    template <class F>
    std::string MessageOf(F&& action)
    {
        auto failure = FailureOf(action);
        if (!failure) {
            ADD_FAILURE() << "the check held";
            return "<held>";
        }
        return failure->Message();
    }

    template <class F>
    bool Holds(F&& action)
    {
        return !FailureOf(action).has_value();
    }
};

} // namespace

TEST_F(ChecksTest, ExpectedButWasForm)
{
    EXPECT_EQ(MessageOf([&] { T.CheckTrue(false); }), "expected: <True> but was: <False>");
    EXPECT_EQ(MessageOf([&] { T.CheckFalse(true, "flag"); }), "flag, expected: <False> but was: <True>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(std::string("a"), std::string("A")); }),
              "expected: <a> but was: <A>");
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsString("a", "A", "names"); }), "names, expected: <a> but was: <A>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(std::int32_t{-3}, std::int32_t{4}); }),
              "expected: <-3> but was: <4>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(true, false); }), "expected: <True> but was: <False>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1.0L, 2.5L); }), "expected: <1> but was: <2.5>");
    // The float inequality check reports in this form, not the expected-and-actual one.
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals(1.0L, 1.0L); }), "expected: <1> but was: <1>");
}

TEST_F(ChecksTest, StringsCompareOrdinallyWithLength)
{
    EXPECT_FALSE(Holds([&] { T.CheckEquals(std::string("a"), std::string("a ")); }));
    EXPECT_FALSE(Holds([&] { T.CheckEquals(std::string("a\0b", 3), std::string("a\0c", 3)); }));
    EXPECT_FALSE(Holds([&] { T.CheckEqualsWideString(u"\u00E4", u"a\u0308"); })); // no normalisation
    EXPECT_TRUE(Holds([&] { T.CheckNotEquals(std::u16string(u"x"), std::u16string(u"X")); }));
}

TEST_F(ChecksTest, WideValuesReachTheMessageAsUtf8)
{
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsWideString(u"\u00E4", u"\U0001F600", "w"); }),
              "w, expected: <\xC3\xA4> but was: <\xF0\x9F\x98\x80>");
    // Bytes that are not UTF-8 come back unchanged rather than replaced.
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(std::string("\xE9"), std::string("e")); }),
              "expected: <\xE9> but was: <e>");
}

TEST_F(ChecksTest, ExpectedAndActualWereForm)
{
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals(std::int32_t{5}, std::int32_t{5}); }),
              "expected and actual were: <5>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsString("x", "x", "m"); }), "m, expected and actual were: <x>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsWideString(u"\u20AC", u"\u20AC"); }),
              "expected and actual were: <\xE2\x82\xAC>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals(false, false); }), "expected and actual were: <False>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsBin(5, 5, "", 4); }), "expected and actual were: <0101>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsHex(255, 255, "", 4); }), "expected and actual were: <00FF>");
    EXPECT_EQ(T.EqualsErrorMessage(u"e", u"never shown", "p"), u"p, expected and actual were: <e>");
}

TEST_F(ChecksTest, BinaryAndHexChecksShowTheRequestedWidthButCompareAllBits)
{
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsBin(16, 0, "", 4); }), "expected: <0000> but was: <0000>");
    EXPECT_TRUE(Holds([&] { T.CheckNotEqualsBin(16, 0, "", 4); }));
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsHex(255, 0, "", 4); }), "expected: <00FF> but was: <0000>");
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsHex(0x12345, 0, "", 2); }), "expected: <12345> but was: <00>");
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsHex(1, 2); }), "expected: <00000001> but was: <00000002>");
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsBin(1, 0); }), "expected: <" + std::string(31, '0') + "1> but was: <" +
                                                             std::string(32, '0') + ">");
}

TEST_F(ChecksTest, MemoryDifferenceNamesTheFirstDifferingOffset)
{
    std::vector<std::uint8_t> a(16, 0x41), b(16, 0x41);
    b[10] = 0x42;
    b[12] = 0x43;
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsMem(a.data(), b.data(), 16, "buf"); }),
              "buf, expected: <41> but was: <42> at Offset = 000Ah");
    EXPECT_TRUE(Holds([&] { T.CheckEqualsMem(a.data(), b.data(), 10); })); // the difference lies beyond
    EXPECT_TRUE(Holds([&] { T.CheckEqualsMem(nullptr, nullptr, 0); }));

    std::vector<std::uint8_t> big(0x12346, 0), other(0x12346, 0);
    other[0x12345] = 0xFF;
    EXPECT_EQ(MessageOf([&] { T.CheckEqualsMem(big.data(), other.data(), 0x12346); }),
              "expected: <00> but was: <FF> at Offset = 12345h");
}

TEST_F(ChecksTest, IdenticalMemoryForm)
{
    const char block[] = "same";
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsMem(block, block, 4); }), "Memory content was identical");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEqualsMem(block, block, 0, "m"); }), "m, Memory content was identical");
    EXPECT_TRUE(Holds([&] { T.CheckNotEqualsMem(block, "samE", 4); }));
    EXPECT_EQ(T.GetMemDiffStr(block, block, 4, ""), "Memory content was identical");
}

TEST_F(ChecksTest, UnreadableMemoryIsAnErrorNotACrash)
{
    const char block[] = "data";
    const void* unmapped = reinterpret_cast<const void*>(std::uintptr_t{16});
    for (auto check : {&TAbstractTest::CheckEqualsMem, &TAbstractTest::CheckNotEqualsMem}) {
        for (const void* bad : {static_cast<const void*>(nullptr), unmapped}) {
            bool raised = false;
            try {
                (T.*check)(block, bad, 4, "");
            } catch (const ETestFailure&) {
                ADD_FAILURE() << "an unreadable block is not a failed comparison";
            } catch (const Sys::Exception& error) {
                raised = true;
                EXPECT_NE(error.Message().find("cannot be read"), std::string::npos) << error.Message();
            }
            EXPECT_TRUE(raised);
        }
    }
}

TEST_F(ChecksTest, NilAndObjectForm)
{
    TCircle circle;
    TShape shape;
    EXPECT_EQ(MessageOf([&] { T.CheckNotNull(static_cast<const Sys::TObject*>(nullptr)); }),
              "expected: <object> but was: <00000000>");
    EXPECT_EQ(MessageOf([&] { T.CheckNull(&circle, "o"); }), "o, expected: <nil> but was: <" + PtrToStr(&circle) + ">");
    EXPECT_EQ(MessageOf([&] { T.CheckSame(&circle, &shape); }),
              "expected: <" + PtrToStr(&circle) + "> but was: <" + PtrToStr(&shape) + ">");
    EXPECT_TRUE(Holds([&] { T.CheckSame(&circle, &circle); }));
    EXPECT_TRUE(Holds([&] { T.CheckNull(static_cast<const Sys::TObject*>(nullptr)); }));

    // Interface references: a null one fails with the user message alone.
    auto one = std::make_shared<int>(1);
    auto two = std::make_shared<int>(1);
    EXPECT_EQ(MessageOf([&] { T.CheckNotNull(std::shared_ptr<int>(), "gone"); }), "gone");
    EXPECT_EQ(MessageOf([&] { T.CheckNull(one); }), "");
    EXPECT_EQ(MessageOf([&] { T.CheckSame(one, two); }),
              "expected: <" + PtrToStr(one.get()) + "> but was: <" + PtrToStr(two.get()) + ">");
}

TEST_F(ChecksTest, ClassChecks)
{
    const Sys::TClass* shape = &TShape::StaticClass();
    const Sys::TClass* circle = &TCircle::StaticClass();
    EXPECT_TRUE(Holds([&] { T.CheckEquals(static_cast<const Sys::TClass*>(nullptr), nullptr); }));
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(nullptr, circle); }), "expected: <nil> but was: <TCircle>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(shape, nullptr); }), "expected: <TShape> but was: <nil>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(shape, circle); }), "expected: <TShape> but was: <TCircle>");

    EXPECT_TRUE(Holds([&] { T.CheckInherits(shape, circle); }));
    EXPECT_TRUE(Holds([&] { T.CheckInherits(shape, shape); }));
    EXPECT_EQ(MessageOf([&] { T.CheckInherits(circle, shape); }), "expected: <TCircle> but was: <TShape>");
    EXPECT_EQ(MessageOf([&] { T.CheckInherits(nullptr, circle); }), "expected: <nil> but was: <TCircle>");
    EXPECT_EQ(MessageOf([&] { T.CheckInherits(circle, nullptr); }), "expected: <TCircle> but was: <nil>");
    EXPECT_EQ(MessageOf([&] { T.CheckInherits(nullptr, nullptr); }), "expected: <nil> but was: <nil>");

    TCircle object;
    EXPECT_TRUE(Holds([&] { T.CheckIs(&object, shape); }));
    EXPECT_EQ(MessageOf([&] { T.CheckIs(nullptr, shape); }), "expected: <TShape> but was: <nil>");
    TShape plain;
    EXPECT_EQ(MessageOf([&] { T.CheckIs(&plain, circle, "kind"); }), "kind, expected: <TCircle> but was: <TShape>");
}

TEST_F(ChecksTest, CheckIsWithoutAClassIsAProgrammingError)
{
    TShape object;
    for (const Sys::TObject* obj : {static_cast<const Sys::TObject*>(&object), static_cast<const Sys::TObject*>(nullptr)}) {
        try {
            T.CheckIs(obj, nullptr);
            ADD_FAILURE() << "no assertion error";
        } catch (const ETestFailure&) {
            ADD_FAILURE() << "reported as a failed check";
        } catch (const Sys::EAssertionFailed& error) {
            EXPECT_EQ(error.Message(), "Assertion failure (roved\\src\\TestFramework, line 2128)");
        }
    }
}

TEST_F(ChecksTest, FloatComparisonWithNaNInfinitiesAndDelta)
{
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1.0L, 1.0L + 1e-12L); }), "expected: <1> but was: <1.000000000001>");
    EXPECT_TRUE(Holds([&] { T.CheckEquals(1.0L, 1.0L + 1e-12L, 1e-9L); }));
    EXPECT_TRUE(Holds([&] { T.CheckEquals(1.0L, 1.5L, 0.5L); })); // the delta itself is close enough
    EXPECT_FALSE(Holds([&] { T.CheckNotEquals(1.0L, 1.5L, 0.5L); }));

    EXPECT_EQ(MessageOf([&] { T.CheckEquals(NaN, NaN); }), "expected: <NAN> but was: <NAN>");
    EXPECT_FALSE(Holds([&] { T.CheckEquals(NaN, 1.0L, Inf); }));
    EXPECT_TRUE(Holds([&] { T.CheckNotEquals(NaN, NaN); }));

    EXPECT_EQ(MessageOf([&] { T.CheckEquals(Inf, Inf); }), "expected: <INF> but was: <INF>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(Inf, -Inf, 1e300L); }), "expected: <INF> but was: <-INF>");
    EXPECT_TRUE(Holds([&] { T.CheckNotEquals(Inf, Inf); }));

    // A negative delta can never be met: equality always fails, inequality always holds.
    EXPECT_FALSE(Holds([&] { T.CheckEquals(2.0L, 2.0L, -1.0L); }));
    EXPECT_TRUE(Holds([&] { T.CheckNotEquals(2.0L, 2.0L, -1.0L); }));
}

TEST_F(ChecksTest, FloatsAreWrittenWithTheLocaleDecimalSeparator)
{
    struct TLocaleOverride {
        std::string Old = Sys::GetEnv("LC_ALL");
        TLocaleOverride() { Sys::SetEnv("LC_ALL", "de_DE.UTF-8"); }
        ~TLocaleOverride() { Sys::SetEnv("LC_ALL", Old); }
    } german;
    ASSERT_EQ(Sys::DecimalSeparator(), ",") << "de_DE.UTF-8 is not generated (scripts/setup generates it)";
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1.5L, 2.25L); }), "expected: <1,5> but was: <2,25>");
}

TEST_F(ChecksTest, CheckCalledIsSetByEveryCheckAndByNoFailOperation)
{
    const std::vector<std::function<void()>> checks = {
        [&] { T.Check(true); },
        [&] { T.Check(false); },
        [&] { T.CheckEquals(1.0L, 1.0L); },
        [&] { T.CheckNotEqualsMem("a", "a", 1); },
        [&] { T.CheckNull(std::shared_ptr<int>()); },
        [&] { T.CheckInherits(nullptr, nullptr); },
        [&] { T.CheckEquals(2u, 3u); },
    };
    for (std::size_t i = 0; i < checks.size(); ++i) {
        T.SetCheckCalled(false);
        FailureOf(checks[i]);
        EXPECT_TRUE(T.GetCheckCalled()) << "check #" << i;
    }

    const std::vector<std::function<void()>> fails = {
        [&] { T.Fail("f"); },
        [&] { T.FailEquals(u"a", u"a"); },
        [&] { T.FailNotEquals(u"a", u"b"); },
        [&] { T.FailNotSame(u"a", u"b"); },
        [&] { T.StopTests("stop"); },
    };
    for (std::size_t i = 0; i < fails.size(); ++i) {
        T.SetCheckCalled(false);
        EXPECT_TRUE(FailureOf(fails[i]).has_value()) << "fail #" << i;
        EXPECT_FALSE(T.GetCheckCalled()) << "fail #" << i;
    }
}

TEST_F(ChecksTest, FailOperationsRaiseTheFailureTypes)
{
    const int marker = 0;
    auto failure = FailureOf([&] { T.Fail("plain", &marker); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->ClassName(), "ETestFailure");
    EXPECT_EQ(failure->Message(), "plain");
    EXPECT_EQ(failure->Address(), &marker);

    EXPECT_EQ(MessageOf([&] { T.Check(false); }), "");
    EXPECT_EQ(MessageOf([&] { T.FailNotSame(u"\u00E4", u"b", "s"); }), "s, expected: <\xC3\xA4> but was: <b>");

    try {
        T.StopTests("enough");
        ADD_FAILURE() << "StopTests returned";
    } catch (const EStopTestsFailure& stop) {
        EXPECT_EQ(stop.Message(), "enough");
        EXPECT_EQ(stop.ClassName(), "EStopTestsFailure");
    }
}

namespace {

// Counts what reaches the float slot, to show that the two-argument form goes through it.
class TCountingTest : public TAbstractTest {
public:
    using TAbstractTest::TAbstractTest;
    using TAbstractTest::CheckEquals;
    void CheckEquals(long double expected, long double actual, long double delta, const std::string& msg) override
    {
        ++FloatCalls;
        TAbstractTest::CheckEquals(expected, actual, delta, msg);
    }
    int FloatCalls = 0;
};

} // namespace

TEST(Checks, FloatEqualityDelegatesThroughTheOverridableSlot)
{
    auto test = std::make_shared<TCountingTest>("t");
    TAbstractTest& base = *test;
    base.CheckEquals(1.0L, 1.0L);
    base.CheckEquals(1.0, 1.0);
    EXPECT_EQ(test->FloatCalls, 2);
}

// ---- the usual literal types reach the right check ------------------------------------------

namespace {
template <class P>
concept CanCompare = requires(TAbstractTest& t, P p) { t.CheckEquals(p, p); };
template <class P>
concept CanCompareUnequal = requires(TAbstractTest& t, P p) { t.CheckNotEquals(p, p); };
} // namespace

// Comparing two object pointers would quietly compare two "True"s.
static_assert(!CanCompare<Sys::TObject*> && !CanCompareUnequal<const int*>);
static_assert(CanCompare<double> && CanCompare<float> && CanCompare<unsigned> && CanCompare<std::size_t> &&
              CanCompare<const char*> && CanCompare<const char16_t*> && CanCompare<const Sys::TClass*>);

TEST_F(ChecksTest, LiteralsPickTheMatchingCheck)
{
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1.0, 2.5); }), "expected: <1> but was: <2.5>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1, 2.5); }), "expected: <1> but was: <2.5>");
    EXPECT_TRUE(Holds([&] { T.CheckEquals(0.5f, 0.5); }));
    EXPECT_TRUE(Holds([&] { T.CheckEquals(1.0, 1.05, 0.1); }));
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals(2.0, 2.0); }), "expected: <2> but was: <2>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals("a", "b"); }), "expected: <a> but was: <b>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals("a", std::string("b"), "m"); }), "m, expected: <a> but was: <b>");
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals("a", "a"); }), "expected and actual were: <a>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(u"a", u"b"); }), "expected: <a> but was: <b>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(static_cast<const char*>(nullptr), "x"); }), "expected: <> but was: <x>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(1u, 2u); }), "expected: <1> but was: <2>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(short{7}, 'a'); }), "expected: <7> but was: <97>");
}

TEST_F(ChecksTest, WideIntegersAreNeverTruncated)
{
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(std::size_t{0x100000000}, std::size_t{0}); }),
              "expected: <4294967296> but was: <0>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(-1, std::numeric_limits<std::uint64_t>::max()); }),
              "expected: <-1> but was: <18446744073709551615>");
    EXPECT_EQ(MessageOf([&] { T.CheckEquals(std::numeric_limits<std::int64_t>::min(), std::int64_t{0}); }),
              "expected: <-9223372036854775808> but was: <0>");
    EXPECT_TRUE(Holds([&] { T.CheckEquals(std::uint64_t{5}, std::int64_t{5}); }));
    EXPECT_EQ(MessageOf([&] { T.CheckNotEquals(std::int64_t{-5}, std::int64_t{-5}); }),
              "expected and actual were: <-5>");
    EXPECT_TRUE(Holds([&] { T.CheckNotEquals(0x100000001u, 1u); }));
}

// ---- failure locations ------------------------------------------------------------------------
// Each caller below is a function of its own; the location of its failure must lie inside
// it. Were the location taken inside the framework, different callers of the same check
// would report the same address.

namespace {

#define WEXEL_CALL_SITE(Name, Statement)                                                             \
    [[gnu::noinline]] void Name(TAbstractTest& t)                                                  \
    {                                                                                                \
        Statement;                                                                                   \
        t.SetCheckCalled(true); /* keeps the check from becoming a tail call */                     \
    }

WEXEL_CALL_SITE(CallsCheckTrue, t.CheckTrue(false))
WEXEL_CALL_SITE(CallsCheckTrueAgain, t.CheckTrue(false, "again"))
WEXEL_CALL_SITE(CallsCheck, t.Check(false))
WEXEL_CALL_SITE(CallsFloatCheck, t.CheckEquals(1.0L, 2.0L))
WEXEL_CALL_SITE(CallsDoubleCheck, t.CheckEquals(1.0, 2.0))
WEXEL_CALL_SITE(CallsWideIntegerCheck, t.CheckEquals(std::uint64_t{1}, std::uint64_t{2}))
WEXEL_CALL_SITE(CallsStringLiteralCheck, t.CheckEquals("a", "b"))
WEXEL_CALL_SITE(CallsMemoryCheck, t.CheckNotEqualsMem("a", "a", 1))
WEXEL_CALL_SITE(CallsObjectCheck, t.CheckNotNull(static_cast<const Sys::TObject*>(nullptr)))
WEXEL_CALL_SITE(CallsFail, t.Fail("f"))
WEXEL_CALL_SITE(CallsFailNotEquals, t.FailNotEquals(u"a", u"b"))
WEXEL_CALL_SITE(CallsStopTests, t.StopTests("s"))

#undef WEXEL_CALL_SITE

} // namespace

TEST_F(ChecksTest, FailureIsLocatedAtTheTestsCallOfTheCheck)
{
    struct TSite {
        const char* Name;
        void (*Caller)(TAbstractTest&);
    };
    const TSite sites[] = {
        {"CheckTrue", CallsCheckTrue},
        {"CheckTrue again", CallsCheckTrueAgain},
        {"Check", CallsCheck},
        {"CheckEquals(long double)", CallsFloatCheck},
        {"CheckEquals(double)", CallsDoubleCheck},
        {"CheckEquals(uint64)", CallsWideIntegerCheck},
        {"CheckEquals(literals)", CallsStringLiteralCheck},
        {"CheckNotEqualsMem", CallsMemoryCheck},
        {"CheckNotNull", CallsObjectCheck},
        {"Fail", CallsFail},
        {"FailNotEquals", CallsFailNotEquals},
        {"StopTests", CallsStopTests},
    };
    const std::string thisModule = Sys::ModuleFileName(reinterpret_cast<const void*>(&CallsCheck));
    for (const TSite& site : sites) {
        auto failure = FailureOf([&] { site.Caller(T); });
        ASSERT_TRUE(failure) << site.Name;
        const auto* at = static_cast<const char*>(failure->Address());
        const auto* begin = reinterpret_cast<const char*>(site.Caller);
        ASSERT_NE(at, nullptr) << site.Name;
        EXPECT_EQ(Sys::ModuleFileName(at), thisModule) << site.Name;
        // Generous for sanitizer builds (about 1.3 KiB at -O0); a failure located elsewhere lands far away or
        // before the caller's entry.
        EXPECT_TRUE(at > begin && at < begin + 4096)
            << site.Name << ": located " << (at - begin) << " bytes from its caller's entry";
    }

    // A check after a nested one must not inherit the nested one's location.
    auto nested = FailureOf([&] { CallsFloatCheck(T); });
    auto plain = FailureOf([&] { T.CheckEquals(1.0L, 2.0L, 0.0L); });
    ASSERT_TRUE(nested && plain);
    EXPECT_NE(plain->Address(), nested->Address());
}

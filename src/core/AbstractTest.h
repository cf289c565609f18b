#pragma once
// The base of every test object: name, enabled switch, timing of one run, per-test
// options, the allowed-leak list, the status channel, storing the enabled switch, and
// the check operations that test code calls.

#include "core/TestExceptions.h"
#include "core/TestFailure.h"
#include "core/TestInterfaces.h"
#include "platform/SysUtils.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace TestFramework {

// A test's name in one allocation of its own, one pointer wide (nothing for the empty
// name): a run holds an object per test, and a std::string is four pointers.
class TTestName {
public:
    TTestName() = default;
    explicit TTestName(std::string_view text);
    std::string_view View() const;
    bool empty() const { return FData == nullptr; }

private:
    // The length (a std::size_t), then the bytes.
    std::unique_ptr<char[]> FData;
};

class TAbstractTest : public virtual ITest, public Sys::TObject {
public:
    WEXEL_CLASS(TAbstractTest, Sys::TObject)

    // The name is not checked here (suites do).
    explicit TAbstractTest(std::string name);
    ~TAbstractTest() override;

    // --- overridable operations, in the order descendants rely on ---
    // The base clears the test-method-invoked flag and does nothing else.
    virtual void Invoke();
    void RunWithFixture(TTestResult* testResult) override;
    void RunTest(TTestResult* testResult) override;
    void SetUp() override;
    void TearDown() override;
    void SetStartTime(std::int64_t value) override;
    std::int64_t GetStartTime() override;
    void SetStopTime(std::int64_t value) override;
    std::int64_t GetStopTime() override;
    std::string GetName() override;
    bool GetEnabled() override;
    void SetEnabled(bool value) override;
    const TTestList& Tests() override;
    int CountTestCases() override;
    int CountEnabledTestCases() override;
    std::uint32_t ElapsedTestTime() override;
    void LoadConfiguration(TCustomIniFile& iniFile, const std::string& section) override;
    void SaveConfiguration(TCustomIniFile& iniFile, const std::string& section) override;

    // --- check operations (checks unit) ---
    virtual void Check(bool condition, const std::string& msg = {});
    virtual void CheckTrue(bool condition, const std::string& msg = {});
    virtual void CheckFalse(bool condition, const std::string& msg = {});
    virtual void CheckEquals(long double expected, long double actual, const std::string& msg = {});
    virtual void CheckEquals(long double expected, long double actual, long double delta,
                             const std::string& msg = {});
    virtual void CheckEquals(std::int32_t expected, std::int32_t actual, const std::string& msg = {});
    virtual void CheckEquals(const std::string& expected, const std::string& actual,
                             const std::string& msg = {});
    virtual void CheckEqualsString(const std::string& expected, const std::string& actual,
                                   const std::string& msg = {});
    virtual void CheckEquals(const std::u16string& expected, const std::u16string& actual,
                             const std::string& msg = {});
    virtual void CheckEqualsWideString(const std::u16string& expected, const std::u16string& actual,
                                       const std::string& msg = {});
    virtual void CheckEqualsMem(const void* expected, const void* actual, std::uint32_t size,
                                const std::string& msg = {});
    virtual void CheckEquals(bool expected, bool actual, const std::string& msg = {});
    virtual void CheckEqualsBin(std::uint32_t expected, std::uint32_t actual, const std::string& msg = {},
                                int digits = 32);
    virtual void CheckEqualsHex(std::uint32_t expected, std::uint32_t actual, const std::string& msg = {},
                                int digits = 8);
    virtual void CheckNotEquals(std::int32_t expected, std::int32_t actual, const std::string& msg = {});
    virtual void CheckNotEquals(long double expected, long double actual, long double delta = 0,
                                const std::string& msg = {});
    virtual void CheckNotEquals(const std::string& expected, const std::string& actual,
                                const std::string& msg = {});
    virtual void CheckNotEqualsString(const std::string& expected, const std::string& actual,
                                      const std::string& msg = {});
    virtual void CheckNotEquals(const std::u16string& expected, const std::u16string& actual,
                                const std::string& msg = {});
    virtual void CheckNotEqualsWideString(const std::u16string& expected, const std::u16string& actual,
                                          const std::string& msg = {});
    virtual void CheckNotEqualsMem(const void* expected, const void* actual, std::uint32_t size,
                                   const std::string& msg = {});
    virtual void CheckNotEquals(bool expected, bool actual, const std::string& msg = {});
    virtual void CheckNotEqualsBin(std::uint32_t expected, std::uint32_t actual,
                                   const std::string& msg = {}, int digits = 32);
    virtual void CheckNotEqualsHex(std::uint32_t expected, std::uint32_t actual,
                                   const std::string& msg = {}, int digits = 8);
    // Interface references: any shared object; identity is the pointer.
    virtual void CheckNotNull(const std::shared_ptr<const void>& obj, const std::string& msg = {});
    virtual void CheckNull(const std::shared_ptr<const void>& obj, const std::string& msg = {});
    virtual void CheckSame(const std::shared_ptr<const void>& expected,
                           const std::shared_ptr<const void>& actual, const std::string& msg = {});
    // Object references.
    virtual void CheckSame(const Sys::TObject* expected, const Sys::TObject* actual,
                           const std::string& msg = {});
    virtual void CheckNotNull(const Sys::TObject* obj, const std::string& msg = {});
    virtual void CheckNull(const Sys::TObject* obj, const std::string& msg = {});
    // Class references (nullptr is the null class).
    virtual void CheckEquals(const Sys::TClass* expected, const Sys::TClass* actual,
                             const std::string& msg = {});
    virtual void CheckInherits(const Sys::TClass* expected, const Sys::TClass* actual,
                               const std::string& msg = {});
    virtual void CheckIs(const Sys::TObject* obj, const Sys::TClass* klass, const std::string& msg = {});
    [[noreturn]] virtual void Fail(const std::string& msg, const void* addr = nullptr);
    [[noreturn]] virtual void FailEquals(const std::u16string& expected, const std::u16string& actual,
                                         const std::string& msg = {}, const void* addr = nullptr);
    [[noreturn]] virtual void FailNotEquals(const std::u16string& expected, const std::u16string& actual,
                                            const std::string& msg = {}, const void* addr = nullptr);
    [[noreturn]] virtual void FailNotSame(const std::u16string& expected, const std::u16string& actual,
                                          const std::string& msg = {}, const void* addr = nullptr);
    [[noreturn]] virtual void StopTests(const std::string& msg = {});

    // --- message builders and other non-virtual helpers of the checks ---
    std::u16string NotEqualsErrorMessage(const std::u16string& expected, const std::u16string& actual,
                                         const std::string& msg);
    std::u16string EqualsErrorMessage(const std::u16string& expected, const std::u16string& actual,
                                      const std::string& msg);
    std::string NotSameErrorMessage(const std::string& expected, const std::string& actual,
                                    const std::string& msg);
    std::string GetMemDiffStr(const void* expected, const void* actual, std::uint32_t size,
                              const std::string& msg);
    void StopExpectingException(const std::string& msg = {});

    // --- convenience overloads of the checks (not slots) ---
    // Left to the slots alone, C++ finds no best match for double, float or unsigned
    // arguments, and compares string literals and other pointers as booleans. These
    // forward to the slot that fits. They are always inlined, so the slot they call still
    // sees the test's own call as its caller and locates a failure there.

    // Any integer up to 64 bits, signed or not, held exactly.
    struct TCheckInteger {
        std::uint64_t Magnitude;
        bool Negative;
        template <class T>
            requires std::is_integral_v<T>
        constexpr explicit TCheckInteger(T value) : Magnitude(static_cast<std::uint64_t>(value)), Negative(false)
        {
            if constexpr (std::is_signed_v<T>) {
                if (value < 0) {
                    Negative = true;
                    Magnitude = 0 - Magnitude;
                }
            }
        }
    };
    // Compare integers of any width and signedness without truncating them.
    void CheckEqualsInteger(TCheckInteger expected, TCheckInteger actual, const std::string& msg = {});
    void CheckNotEqualsInteger(TCheckInteger expected, TCheckInteger actual, const std::string& msg = {});

    template <class E, class A>
    static constexpr bool IsCheckNumberPair = std::is_arithmetic_v<E> && std::is_arithmetic_v<A> &&
                                              !std::is_same_v<E, bool> && !std::is_same_v<A, bool>;
    template <class T>
    static constexpr bool FitsCheckInt32 =
        std::is_integral_v<T> && (std::is_signed_v<T> ? sizeof(T) <= 4 : sizeof(T) < 4);

    template <class E, class A>
        requires IsCheckNumberPair<E, A>
    [[gnu::always_inline]] inline void CheckEquals(E expected, A actual, const std::string& msg = {})
    {
        if constexpr (std::is_floating_point_v<E> || std::is_floating_point_v<A>)
            CheckEquals(static_cast<long double>(expected), static_cast<long double>(actual), msg);
        else if constexpr (FitsCheckInt32<E> && FitsCheckInt32<A>)
            CheckEquals(static_cast<std::int32_t>(expected), static_cast<std::int32_t>(actual), msg);
        else
            CheckEqualsInteger(TCheckInteger(expected), TCheckInteger(actual), msg);
    }
    template <class E, class A>
        requires IsCheckNumberPair<E, A>
    [[gnu::always_inline]] inline void CheckNotEquals(E expected, A actual, const std::string& msg = {})
    {
        if constexpr (std::is_floating_point_v<E> || std::is_floating_point_v<A>)
            CheckNotEquals(static_cast<long double>(expected), static_cast<long double>(actual), 0.0L, msg);
        else if constexpr (FitsCheckInt32<E> && FitsCheckInt32<A>)
            CheckNotEquals(static_cast<std::int32_t>(expected), static_cast<std::int32_t>(actual), msg);
        else
            CheckNotEqualsInteger(TCheckInteger(expected), TCheckInteger(actual), msg);
    }
    // A null C string reads as empty.
    [[gnu::always_inline]] inline void CheckEquals(const char* expected, const char* actual,
                                                   const std::string& msg = {})
    {
        CheckEquals(std::string(expected ? expected : ""), std::string(actual ? actual : ""), msg);
    }
    [[gnu::always_inline]] inline void CheckNotEquals(const char* expected, const char* actual,
                                                      const std::string& msg = {})
    {
        CheckNotEquals(std::string(expected ? expected : ""), std::string(actual ? actual : ""), msg);
    }
    [[gnu::always_inline]] inline void CheckEquals(const char16_t* expected, const char16_t* actual,
                                                   const std::string& msg = {})
    {
        CheckEquals(std::u16string(expected ? expected : u""), std::u16string(actual ? actual : u""), msg);
    }
    [[gnu::always_inline]] inline void CheckNotEquals(const char16_t* expected, const char16_t* actual,
                                                      const std::string& msg = {})
    {
        CheckNotEquals(std::u16string(expected ? expected : u""), std::u16string(actual ? actual : u""),
                       msg);
    }
    // Any other pointer pair would be compared as two booleans; CheckSame compares objects.
    template <class T>
    void CheckEquals(const T* expected, const T* actual, const std::string& msg = {}) = delete;
    template <class T>
    void CheckNotEquals(const T* expected, const T* actual, const std::string& msg = {}) = delete;
    // --- end of check operations ---

    // --- fixed operations ---
    std::unique_ptr<TTestResult> Run() override;
    void Run(TTestResult& testResult) override;
    bool GetTestMethodInvoked() override;
    void SetTestMethodInvoked(bool value) override;
    void SetStatusListener(const IStatusListenerPtr& listener) override;
    std::string GetStatus() override;
    void LoadConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni) override;
    void SaveConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni) override;
    void SetGUIObject(void* object) override;
    void* GetGUIObject() override;
    void SetFailsOnNoChecksExecuted(bool value) override;
    bool GetFailsOnNoChecksExecuted() override;
    bool GetFailsOnMemoryLeak() override;
    void SetFailsOnMemoryLeak(bool value) override;
    int GetAllowedMemoryLeakSize() override;
    void SetAllowedMemoryLeakSize(int value) override;
    bool GetFailsOnMemoryRecovery() override;
    void SetFailsOnMemoryRecovery(bool value) override;
    void SetAllowedLeakArray(const std::vector<int>& values) override;
    bool GetIgnoreSetUpTearDownLeaks() override;
    void SetIgnoreSetUpTearDownLeaks(bool value) override;
    int GetAllowedLeak() override;
    TAllowedLeakFunc GetAllowedLeaksIterator() override;

    bool GetCheckCalled() const { return FCheckCalled; }
    // True when the body's last run is known to have run no check. Only a test that
    // learns of its checks (a script test, from its library) can say so; the run loop
    // fails such a passing test when the no-checks option is on.
    virtual bool RanNoChecks() const { return false; }
    void SetCheckCalled(bool value) { FCheckCalled = value; }

protected:
    // What few tests ever set, apart from the object: a run holds one object per test and
    // most never get these, so they cost a pointer until one is set to something else
    // than its start value.
    struct TRarelySet {
        const Sys::TClass* ExpectedException = nullptr;
        std::array<std::int32_t, 4> AllowedLeakList{};
        std::uint8_t AllowedLeakListIndex = 0; // 0 to 4
    };
    TRarelySet& RarelySet();

    // The small fields sit together: a run holds one object per test, and the padding
    // between them would be paid a million times.
    TTestName FTestName;
    std::int64_t FStartTime = 0;
    std::int64_t FStopTime = 0;
    IStatusListenerPtr FStatusListener;
    // The window sets it on every test it shows: kept here, not made for each of them.
    void* FGUIObject = nullptr;
    std::unique_ptr<TRarelySet> FRarelySet;
    bool FEnabled = true;
    bool FCheckCalled = false;
    bool FFailsOnNoChecksExecuted = false;
    bool FFailsOnMemoryLeak = false;
    bool FTestMethodInvoked = false;
    bool FFailsOnMemoryRecovery = false;
    bool FIgnoreSetUpTearDownLeaks = false;
};

} // namespace TestFramework

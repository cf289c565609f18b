#pragma once
// TTestCaseQuill: the script test case, the framework test case that stands for one
// script procedure of the test library. Its body asks the library to run the procedure
// and translates the answer into what the run loop judges (TTestResult decides the
// outcome).

#include "core/AbstractTest.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace TestFramework {
class TTestSuite;
}

namespace Wexel {

// The answers of one discovery, shared by the script tests made from them: a test's path
// and the file it is declared in are views into these texts, so that a tree of a million
// tests holds no string of its own per test. The tests of a registration do not own the
// texts; what made them keeps them as long as the tests (the registration's arena).
struct TDiscoveryText {
    std::string Listing;
    std::string Positions;
};

class TTestCaseQuill : public TestFramework::TAbstractTest {
public:
    WEXEL_CLASS(TTestCaseQuill, TestFramework::TAbstractTest)

    // The full path must not be empty; the test's name is the part after the last "/".
    explicit TTestCaseQuill(std::string fullName);
    // The same for a path that lies in text, which must outlive the test; nameStart, when
    // the caller knows it, is where the name begins (after the last "/", or 0).
    TTestCaseQuill(const TDiscoveryText& text, std::string_view fullName,
                   std::size_t nameStart = std::string_view::npos);
    ~TTestCaseQuill() override;

    // The part of the path after the last "/", cut to MaxNameLength characters.
    std::string GetName() override;

    void Invoke() override;
    // From the library's answer (see MapRunTestAnswer).
    bool RanNoChecks() const override { return !GetCheckCalled(); }
    void RunWithFixture(TestFramework::TTestResult* testResult) override;
    void RunTest(TestFramework::TTestResult* testResult) override;
    // Hands the test to the result without copying options (RunWithFixture does that).
    void Run(TestFramework::TTestResult& testResult) override;
    using TAbstractTest::Run;

    // A suite built from the class; the class publishes no test methods.
    static std::shared_ptr<TestFramework::TTestSuite> Suite();

    std::string FullName() const { return std::string(FullNameView()); }
    std::string_view FullNameView() const { return FPath.In(FText->Listing); }

    // Where the library declares the test, as Lua names it in messages ("Orders.lua"),
    // and the line; "" and 0 when the library does not say.
    std::string DeclFile() const { return std::string(DeclFileView()); }
    std::string_view DeclFileView() const;
    int DeclLine() const { return static_cast<int>(FDeclLine); }
    // file must be a line of the Positions of the test's text (end where a line feed or the
    // text ends, and hold none); line must not be negative.
    void SetDeclaration(std::string_view file, int line);

private:
    explicit TTestCaseQuill(std::unique_ptr<const TDiscoveryText> text);

    // A part of one of the texts, by place: half the size of a view.
    struct TSpan {
        std::uint32_t Start = 0;
        std::uint32_t Length = 0;
        std::string_view In(std::string_view text) const { return text.substr(Start, Length); }
    };
    static TSpan SpanOf(const std::string& text, std::string_view part);

    static constexpr std::uint32_t NoDeclFile = UINT32_MAX;

    // Packed: a test object per test. The text is not counted per test: a registration's
    // million tests would each write to its count, when made and when freed. Neither the
    // name's length nor the file's is kept: the name is the path's end and the file runs
    // to its line's end, both found when asked for.
    const TDiscoveryText* FText;
    TSpan FPath;
    std::uint32_t FDeclFileStart = NoDeclFile; // in Positions
    std::uint32_t FDeclLine : 31 = 0;
    std::uint32_t FOwnsText : 1 = 0; // made from a path of its own
};

} // namespace Wexel

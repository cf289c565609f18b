// TTestCaseQuill is the script test case: one framework test per procedure of the test library.

#include "bridge/TestCaseQuill.h"

#include "bridge/WexelAdapter.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"

namespace Wexel {

namespace {

constexpr const char* WexelUnit = "Wexel";

// The bytes of name that a cut to MaxNameLength characters keeps (never inside a UTF-8
// character), as CutName cuts.
std::size_t CutLength(std::string_view name)
{
    // No more bytes than the characters allowed: nothing to count.
    if (name.size() <= MaxNameLength)
        return name.size();
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) {
            if (chars == MaxNameLength)
                return i;
            ++chars;
        }
    }
    return name.size();
}

std::size_t NameStart(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

std::unique_ptr<const TDiscoveryText> OwnText(std::string fullName)
{
    auto text = std::make_unique<TDiscoveryText>();
    text->Listing = std::move(fullName);
    return text;
}

// Clears the expected-exception class on every way out of the body.
class TExpectedExceptionGuard {
public:
    explicit TExpectedExceptionGuard(TTestCaseQuill& test) : FTest(test) {}
    ~TExpectedExceptionGuard() { FTest.StopExpectingException(); }

private:
    TTestCaseQuill& FTest;
};

} // namespace

TTestCaseQuill::TTestCaseQuill(std::string fullName) : TTestCaseQuill(OwnText(std::move(fullName))) {}

TTestCaseQuill::TTestCaseQuill(std::unique_ptr<const TDiscoveryText> text) : TTestCaseQuill(*text, text->Listing)
{
    text.release();
    FOwnsText = 1;
}

TTestCaseQuill::~TTestCaseQuill()
{
    if (FOwnsText)
        delete FText;
}

// The name is not stored apart: it is the end of the path.
TTestCaseQuill::TTestCaseQuill(const TDiscoveryText& text, std::string_view fullName, std::size_t nameStart)
    : TAbstractTest(std::string()), FText(&text), FPath(SpanOf(FText->Listing, fullName))
{
    Sys::Assert(!fullName.empty(), WexelUnit, __LINE__);
    if (nameStart == std::string_view::npos)
        nameStart = NameStart(fullName);
    Sys::Assert(nameStart <= fullName.size() && (nameStart == 0 || fullName[nameStart - 1] == '/'), WexelUnit,
                __LINE__);
}

TTestCaseQuill::TSpan TTestCaseQuill::SpanOf(const std::string& text, std::string_view part)
{
    const auto at = reinterpret_cast<std::uintptr_t>(part.data());
    const auto base = reinterpret_cast<std::uintptr_t>(text.data());
    const std::size_t start = at - base;
    Sys::Assert(at >= base && start + part.size() <= text.size() && text.size() <= UINT32_MAX, WexelUnit, __LINE__);
    return {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(part.size())};
}

void TTestCaseQuill::SetDeclaration(std::string_view file, int line)
{
    const std::string& positions = FText->Positions;
    const TSpan span = SpanOf(positions, file);
    const std::size_t end = span.Start + span.Length;
    Sys::Assert(line >= 0 && file.find('\n') == std::string_view::npos &&
                    (end == positions.size() || positions[end] == '\n') && span.Start != NoDeclFile,
                WexelUnit, __LINE__);
    FDeclFileStart = span.Start;
    FDeclLine = static_cast<std::uint32_t>(line);
}

std::string_view TTestCaseQuill::DeclFileView() const
{
    if (FDeclFileStart == NoDeclFile)
        return {};
    const std::string_view rest = std::string_view(FText->Positions).substr(FDeclFileStart);
    return rest.substr(0, rest.find('\n'));
}

std::string TTestCaseQuill::GetName()
{
    const std::string_view path = FullNameView();
    const std::string_view name = path.substr(NameStart(path));
    return std::string(name.substr(0, CutLength(name)));
}

void TTestCaseQuill::Invoke()
{
    TAbstractTest::Invoke();
    if (!WexelAdapter)
        throw Sys::Exception("No script test library is connected");
    SetCheckCalled(WexelAdapter->RunTest(FullNameView()));
}

void TTestCaseQuill::RunWithFixture(TestFramework::TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, WexelUnit, __LINE__);
    SetFailsOnNoChecksExecuted(testResult->FailsIfNoChecksExecuted);
    SetFailsOnMemoryLeak(testResult->FailsIfMemoryLeaked);
    SetIgnoreSetUpTearDownLeaks(testResult->IgnoresMemoryLeakInSetUpTearDown);
    // What the base's RunWithFixture does, with one reference to this test for both.
    const TestFramework::ITestPtr self = shared_from_this();
    if (testResult->ShouldRunTest(self)) {
        ++testResult->RunTests;
        if (testResult->ShouldRunTest(self))
            testResult->Run(self);
    }
}

void TTestCaseQuill::RunTest(TestFramework::TTestResult* testResult)
{
    Sys::Assert(testResult != nullptr, WexelUnit, __LINE__);
    StopExpectingException();
    testResult->MethodPtr = nullptr;
    FCheckCalled = false;
    TExpectedExceptionGuard guard(*this);
    // Whether a pass without checks fails is the run loop's decision (TTestResult).
    Invoke();
    StopExpectingException();
}

void TTestCaseQuill::Run(TestFramework::TTestResult& testResult)
{
    testResult.RunSuite(shared_from_this());
}

std::shared_ptr<TestFramework::TTestSuite> TTestCaseQuill::Suite()
{
    return TestFramework::TTestSuite::Create(StaticClass());
}

} // namespace Wexel

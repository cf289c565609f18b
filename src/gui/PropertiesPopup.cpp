#include "gui/PropertiesPopup.h"

#include "platform/TextUtils.h"

namespace GUITestRunner {

namespace {

// ":=" stands after 26 characters in every flag text; "True" texts end in a blank.
constexpr const char* NoChecksTrue = " FailsOnNoChecksExecuted  := True ";
constexpr const char* NoChecksFalse = " FailsOnNoChecksExecuted  := False";
constexpr const char* LeakTrue = " FailsOnMemoryLeak        := True ";
constexpr const char* LeakFalse = " FailsOnMemoryLeak        := False";
constexpr const char* RecoveryTrue = " FailsOnMemoryRecovery    := True ";
constexpr const char* RecoveryFalse = " FailsOnMemoryRecovery    := False";
constexpr const char* SetUpTearDownTrue = " IgnoreSetUpTearDownLeaks := True ";
constexpr const char* SetUpTearDownFalse = " IgnoreSetUpTearDownLeaks := False";
constexpr const char* AllowedSizePrefix = " AllowedMemoryLeakSize ";

constexpr const char* CopyHint = "Select to copy Property Name to ClipBoard";

} // namespace

TTestCaseProperties ComputeTestCaseProperties(TestFramework::ITest& test, const TPropertyOptions& options)
{
    TTestCaseProperties p;
    const bool noChecks = test.GetFailsOnNoChecksExecuted();
    const bool leak = test.GetFailsOnMemoryLeak();
    const bool ignoreSetUpTearDown = test.GetIgnoreSetUpTearDownLeaks();
    p.NoChecksText = noChecks ? NoChecksTrue : NoChecksFalse;
    p.NoChecksHighlight = options.FailIfNoChecksExecuted && !noChecks;
    p.LeakText = leak ? LeakTrue : LeakFalse;
    p.LeakHighlight = options.FailTestCaseIfMemoryLeaked && !leak;
    p.RecoveryText = leak && test.GetFailsOnMemoryRecovery() ? RecoveryTrue : RecoveryFalse;
    p.SetUpTearDownText = ignoreSetUpTearDown && leak ? SetUpTearDownTrue : SetUpTearDownFalse;
    p.SetUpTearDownHighlight = ignoreSetUpTearDown && leak && !options.IgnoreMemoryLeakInSetUpTearDown;
    p.SizeText = ":= " + std::to_string(test.GetAllowedMemoryLeakSize()) + " Bytes";
    p.AllowedSizeText = AllowedSizePrefix + p.SizeText;
    return p;
}

std::vector<TPopupLine> PropertyPopupLines(const TTestCaseProperties& p)
{
    using K = TPopupLineKind;
    using C = TPopupCommand;
    auto property = [](const char* name, const char* caption, const std::string& text, bool highlight,
                       const char* hint, const char* trueText) {
        return TPopupLine{name, K::Property, caption, text, highlight, hint, C::CopyPropertyName, PropertyNameOf(trueText)};
    };
    return {
        {"TestCaseProperties", K::Title, PopupTitle, PopupTitle, false, "", C::None, ""},
        {"N10", K::Separator, "", "", false, "", C::None, ""},
        {"Previous1", K::Navigation, "Previous", " Previous", false, "", C::Previous, ""},
        {"RunSelectedTest1", K::Navigation, "Run Selected Test", " Run Selected Test", false, "", C::RunSelectedTest, ""},
        {"Next1", K::Navigation, "Next", " Next", false, "", C::Next, ""},
        {"N13", K::Separator, "", "", false, "", C::None, ""},
        property("FailNoCheckExecutedMenuItem", "TestCase FailsIfNoChecksExecuted", p.NoChecksText,
                 p.NoChecksHighlight, CopyHint, NoChecksTrue),
        property("FailsOnMemoryLeakMenuItem", "TestCase FailsOnMemoryLeak", p.LeakText, p.LeakHighlight, CopyHint,
                 LeakTrue),
        property("AllowedLeakSizeMemuItem", "TestCase AllowedMemoryLeakSize", p.AllowedSizeText, false, CopyHint,
                 AllowedSizePrefix),
        property("FailsOnMemoryRecoveryMenuItem", "TestCase FailsOnMemoryRecovery", p.RecoveryText, false, CopyHint,
                 RecoveryTrue),
        property("TestCaseIgnoreSetUpTearDownLeaksMenuItem", "TestCase IgnoreSetUpTearDownLeaks",
                 p.SetUpTearDownText, p.SetUpTearDownHighlight, "", SetUpTearDownTrue),
    };
}

std::string PropertyNameOf(const std::string& trueText)
{
    const std::string_view trimmed = Sys::Trim(trueText);
    return std::string(trimmed.substr(0, trimmed.find(' ')));
}

std::size_t ValueSplit(const std::string& text) { return text.find(":="); }

} // namespace GUITestRunner

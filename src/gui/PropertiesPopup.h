#pragma once
// The test case's run-time properties popup: its lines, texts and highlights as plain
// functions of the test and the window's options, so that they are tested without a
// display; the layer only draws the lines and reports which one was chosen.

#include "core/TestInterfaces.h"

#include <string>
#include <vector>

namespace GUITestRunner {

// The options of the window that a test's properties can override.
struct TPropertyOptions {
    bool FailIfNoChecksExecuted = false;
    bool FailTestCaseIfMemoryLeaked = false;
    bool IgnoreMemoryLeakInSetUpTearDown = false;
};

// The texts and highlights of one opening; computed each time the popup opens.
struct TTestCaseProperties {
    std::string NoChecksText;
    bool NoChecksHighlight = false;
    std::string LeakText;
    bool LeakHighlight = false;
    std::string RecoveryText;
    std::string SetUpTearDownText;
    bool SetUpTearDownHighlight = false;
    std::string SizeText;
    std::string AllowedSizeText;
};

TTestCaseProperties ComputeTestCaseProperties(TestFramework::ITest& test, const TPropertyOptions& options);

enum class TPopupLineKind { Title, Separator, Navigation, Property };

// What choosing a line does.
enum class TPopupCommand { None, Previous, RunSelectedTest, Next, CopyPropertyName };

struct TPopupLine {
    std::string Name;    // the item's component name
    TPopupLineKind Kind = TPopupLineKind::Separator;
    std::string Caption; // never drawn; sizes the item
    std::string Text;    // what is drawn
    bool Highlight = false;
    std::string Hint;
    TPopupCommand Command = TPopupCommand::None;
    std::string PropertyName; // what CopyPropertyName puts on the clipboard
};

// The popup's items in order.
std::vector<TPopupLine> PropertyPopupLines(const TTestCaseProperties& properties);

// The property name in an item's "True" text: trimmed, up to the first blank.
std::string PropertyNameOf(const std::string& trueText);

// The left edge of a line's value part (from ":="): five eighths of the item's width.
inline int ValueColumnLeft(int itemWidth) { return itemWidth / 8 * 5; }

inline constexpr const char* PopupTitle = "TestCase Run-Time Applied Properties";
// The title item is the title's extent plus this much.
inline constexpr int TitleExtraWidth = 60;
inline constexpr int TitleExtraHeight = 4;

// Where a line's text is split for the value column, or npos.
std::size_t ValueSplit(const std::string& text);

} // namespace GUITestRunner

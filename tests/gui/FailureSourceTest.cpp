// From a failure's message to the editor's command line.

#include "HostProcess.h"

#include "gui/FailureSource.h"

#include <gtest/gtest.h>

namespace {

using namespace GUITestRunner;

TEST(MessagePosition, TakesLuasFileAndLineFromTheStartOnly)
{
    auto position = [](std::string_view message) {
        const auto found = MessagePosition(message);
        return found ? found->File + "|" + std::to_string(found->Line) : std::string("-");
    };
    EXPECT_EQ(position("Csv.lua:35: expected 1, got 2"), "Csv.lua|35");
    EXPECT_EQ(position("/srv/tests/Orders.qlx:7:"), "/srv/tests/Orders.qlx|7");
    EXPECT_EQ(position("lib/a b.lua:3: x:4: y"), "lib/a b.lua|3");
    // Chunks that are no file, a path Lua cut short, prose, no line, line 0.
    EXPECT_EQ(position("[string \"check(1)\"]:1: boom"), "-");
    EXPECT_EQ(position(".../deep/Orders.lua:30: boom"), "-");
    EXPECT_EQ(position("expected: 5: got 6"), "-");
    EXPECT_EQ(position("Csv.lua: expected 1"), "-");
    EXPECT_EQ(position("Csv.lua:35 expected"), "-");
    EXPECT_EQ(position("Csv.lua:0: x"), "-");
    EXPECT_EQ(position("Csv.lua:99999999999: x"), "-");
    EXPECT_EQ(position(""), "-");
}

TEST(ResolveSourceFile, TheLibrarysPathForItsBareNameElseBesideItElseHere)
{
    TestSupport::TTempDir dir;
    const std::string library = dir.File("Orders.qlx");
    TestSupport::WriteFile(library, "");
    TestSupport::WriteFile(dir.File("Money.lua"), "");
    EXPECT_EQ(ResolveSourceFile("Orders.qlx", library), library);
    EXPECT_EQ(ResolveSourceFile("Money.lua", library), dir.File("Money.lua"));
    EXPECT_EQ(ResolveSourceFile(dir.File("Money.lua"), ""), dir.File("Money.lua"));
    EXPECT_EQ(ResolveSourceFile("Missing.lua", library), "");
    EXPECT_EQ(ResolveSourceFile(dir.File("Missing.lua"), library), "");
    // A compiled library names only the source it came from, found where the scripts are
    // looked for, if anywhere.
    EXPECT_EQ(ResolveSourceFile("Orders.lua", "Orders.lua"), "");
    TestSupport::TTempDir user;
    TestSupport::WriteFile(user.File("Orders.lua"), "");
    EXPECT_EQ(ResolveSourceFile("Orders.lua", "Orders.lua", {"", dir.Path(), user.Path()}), user.File("Orders.lua"));
}

TEST(EditorCommandLine, SettingThenVisualThenEditorAsAnArgumentList)
{
    using L = std::vector<std::string>;
    EXPECT_EQ(EditorCommandLine("", "code -w", "vi", "/a b/x.lua", 3), (L{"code", "-w", "+3", "/a b/x.lua"}));
    EXPECT_EQ(EditorCommandLine("", "", "vi", "x.lua", 3), (L{"vi", "+3", "x.lua"}));
    EXPECT_EQ(EditorCommandLine("", nullptr, nullptr, "x.lua", 3), L{});
    EXPECT_EQ(EditorCommandLine("  ", "  ", " ", "x.lua", 3), L{});
    EXPECT_EQ(EditorCommandLine("'/opt/My Editor/ed' -g %f:%l", "vi", "vi", "x.lua", 3),
              (L{"/opt/My Editor/ed", "-g", "x.lua:3"}));
    EXPECT_EQ(EditorCommandLine("kate", "vi", "vi", "x.lua", 3), (L{"kate", "+3", "x.lua"}));
    // A "%" in the file stays as it is.
    EXPECT_EQ(EditorCommandLine("ed %f", "", "", "100%l.lua", 3), (L{"ed", "100%l.lua"}));
}

} // namespace

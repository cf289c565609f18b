#pragma once
// From a failure to its source line: the script position a message starts with, the
// file that position means on this machine, and the editor command that opens it there.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace GUITestRunner {

struct TScriptPosition {
    std::string File;
    int Line = 0;
};

// Lua's "file:line: " at the start of a message ("Csv.lua:35: expected 1"). Chunk names
// that are no file ("[string ...]", a path Lua shortened to "...") give none.
std::optional<TScriptPosition> MessagePosition(std::string_view message);

// The file a position's name stands for: itself when absolute; else the library that
// declares the test (its full path) when the names agree, or a file of that name beside
// it; else the name in one of the folders, or in the current directory. "" when none of
// them exists.
std::string ResolveSourceFile(const std::string& file, const std::string& declaredFile,
                              const std::vector<std::string>& folders = {});

// Words split at blanks; quotes (single or double) keep blanks inside a word.
std::vector<std::string> SplitCommand(std::string_view command);

// The editor's command line for the file and line: the settings' command when set (with
// "%f" and "%l" standing for file and line, or "+LINE FILE" appended when it names
// neither), else $VISUAL, else $EDITOR, each followed by "+LINE FILE". Empty without any.
std::vector<std::string> EditorCommandLine(const std::string& setting, const char* visual, const char* editor,
                                           const std::string& file, int line);

} // namespace GUITestRunner

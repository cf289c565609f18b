#include "gui/FailureSource.h"

#include <cctype>
#include <filesystem>

namespace GUITestRunner {

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string Substituted(const std::string& word, const std::string& file, const std::string& line)
{
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == 'f' || word[i + 1] == 'l')) {
            out += word[i + 1] == 'f' ? file : line;
            ++i;
        } else {
            out += word[i];
        }
    }
    return out;
}

} // namespace

std::optional<TScriptPosition> MessagePosition(std::string_view message)
{
    // The name ends at the first ":" that a line number and ": " (or the end) follow.
    for (std::size_t colon = message.find(':'); colon != std::string_view::npos; colon = message.find(':', colon + 1)) {
        std::size_t end = colon + 1;
        while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end])))
            ++end;
        if (end == colon + 1 || end - colon > 10 || end >= message.size() || message[end] != ':')
            continue;
        if (end + 1 < message.size() && message[end + 1] != ' ')
            continue;
        const std::string_view file = message.substr(0, colon);
        // A chunk loaded from a string, or a path Lua cut short, names no file to open;
        // and a word without an extension or folder is more likely prose than a file.
        if (file.empty() || file.front() == '[' || file.front() == ' ' || file.starts_with("...") ||
            file.find_first_of("\n\r\t") != std::string_view::npos || file.find_first_of("./") == std::string_view::npos)
            return std::nullopt;
        const int line = std::stoi(std::string(message.substr(colon + 1, end - colon - 1)));
        if (line <= 0)
            return std::nullopt;
        return TScriptPosition{std::string(file), line};
    }
    return std::nullopt;
}

std::string ResolveSourceFile(const std::string& file, const std::string& declaredFile,
                              const std::vector<std::string>& folders)
{
    if (file.empty())
        return {};
    const fs::path named(file);
    if (named.is_absolute())
        return IsFile(named) ? file : std::string();
    const fs::path declared(declaredFile);
    if (declared.is_absolute()) {
        // A library of Lua source runs under its own bare name, so its messages name it so.
        if (declared.filename() == named.filename() && !named.has_parent_path() && IsFile(declared))
            return declared.lexically_normal().string();
        const fs::path beside = declared.parent_path() / named;
        if (IsFile(beside))
            return beside.lexically_normal().string();
    }
    for (const std::string& folder : folders) {
        const fs::path inFolder = fs::path(folder) / named;
        if (!folder.empty() && IsFile(inFolder))
            return fs::absolute(inFolder).lexically_normal().string();
    }
    std::error_code ec;
    const fs::path here = fs::absolute(named, ec);
    if (!ec && IsFile(here))
        return here.lexically_normal().string();
    return {};
}

std::vector<std::string> SplitCommand(std::string_view command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : command) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::vector<std::string> EditorCommandLine(const std::string& setting, const char* visual, const char* editor,
                                           const std::string& file, int line)
{
    const std::string lineText = std::to_string(line);
    std::vector<std::string> words = SplitCommand(setting);
    if (!words.empty()) {
        bool placed = false;
        for (std::string& word : words) {
            if (word.find("%f") != std::string::npos || word.find("%l") != std::string::npos) {
                word = Substituted(word, file, lineText);
                placed = true;
            }
        }
        if (placed)
            return words;
    } else {
        for (const char* variable : {visual, editor}) {
            if (variable && *variable) {
                words = SplitCommand(variable);
                if (!words.empty())
                    break;
            }
        }
        if (words.empty())
            return {};
    }
    words.push_back("+" + lineText);
    words.push_back(file);
    return words;
}

} // namespace GUITestRunner

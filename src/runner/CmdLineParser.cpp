#include "runner/CmdLineParser.h"

#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <cstddef>

namespace CmdLineParser {

namespace {

using Sys::LowerAscii;
using Sys::SameTextAscii;
using Sys::StartsWithTextAscii;

[[noreturn]] void FailBefore(const std::string& text, std::size_t cursor)
{
    throw ECommandLineParseException("Error before " + text.substr(cursor));
}

constexpr std::size_t None = static_cast<std::size_t>(-1);

// Both kinds answer --enable-name and --disable-name.
bool IsFlag(const TProperty& p)
{
    return p.Kind == TPropertyKind::pkFlag || p.Kind == TPropertyKind::pkOptional;
}

} // namespace

bool TCommandLineReader::SlashStartsOption(const std::string& text, std::size_t slash) const
{
    // On this platform a word that starts with "/" is usually an absolute path
    // (--config=/etc/app.cfg, /srv/tests/*.qlx). It is an option only when it names one:
    // a declared option, or the enable-/disable- form of one.
    std::size_t end = slash + 1;
    while (end < text.size() && text[end] != ' ' && text[end] != '=')
        ++end;
    std::string name = text.substr(slash + 1, end - slash - 1);
    if (StartsWithTextAscii(name, "enable-"))
        name = name.substr(7);
    else if (StartsWithTextAscii(name, "disable-"))
        name = name.substr(8);
    for (const TProperty& p : Properties)
        if (SameTextAscii(name, p.Name))
            return true;
    return false;
}

void TCommandLineReader::DeclareFlag(const std::string& name, bool defaultValue)
{
    DeclareFlag(name, defaultValue, '\0');
}

void TCommandLineReader::DeclareFlag(const std::string& name, bool defaultValue, char abbreviation)
{
    TProperty p;
    p.Name = LowerAscii(name);
    p.Kind = TPropertyKind::pkFlag;
    p.FlagValue = defaultValue;
    p.FlagDefault = defaultValue;
    p.Abbreviation = abbreviation;
    Properties.push_back(std::move(p));
}

void TCommandLineReader::DeclareString(const std::string& name, const std::string& defaultValue)
{
    TProperty p;
    p.Name = LowerAscii(name);
    p.Kind = TPropertyKind::pkString;
    p.StrValue = defaultValue;
    Properties.push_back(std::move(p));
}

void TCommandLineReader::DeclareList(const std::string& name)
{
    TProperty p;
    p.Name = LowerAscii(name);
    p.Kind = TPropertyKind::pkList;
    Properties.push_back(std::move(p));
}

void TCommandLineReader::DeclareOptional(const std::string& name)
{
    TProperty p;
    p.Name = LowerAscii(name);
    p.Kind = TPropertyKind::pkOptional;
    Properties.push_back(std::move(p));
}

void TCommandLineReader::Parse()
{
    const std::string line = Sys::CommandLine();
    if (line.empty())
        return;
    std::size_t end = line[0] == '"' ? line.find('"', 1) : line.find(' ');
    ParseText(end == std::string::npos ? std::string() : line.substr(end + 1));
}

void TCommandLineReader::ParseText(const std::string& text)
{
    Positional.clear();
    const std::size_t len = text.size();
    std::size_t cursor = 0;
    std::size_t awaiting = None;

    auto takeValue = [&](std::string value) {
        if (awaiting != None) {
            TProperty& p = Properties[awaiting];
            if (p.Kind == TPropertyKind::pkList)
                p.Values.push_back(std::move(value));
            else
                p.StrValue = std::move(value);
            awaiting = None;
        } else {
            Positional.push_back(std::move(value));
        }
    };

    while (cursor < len) {
        const char c = text[cursor];
        const bool doubleDash = c == '-' && cursor + 1 < len && text[cursor + 1] == '-';
        if (doubleDash || (c == '/' && AllowSlashPrefix && SlashStartsOption(text, cursor))) {
            cursor += doubleDash ? 2 : 1;
            const std::size_t start = cursor;
            while (cursor < len && text[cursor] != ' ' && text[cursor] != '=')
                ++cursor;
            const std::string name = text.substr(start, cursor - start);
            awaiting = None;
            const bool enable = StartsWithTextAscii(name, "enable-");
            if (enable || StartsWithTextAscii(name, "disable-")) {
                const std::string rest = name.substr(enable ? 7 : 8);
                for (TProperty& p : Properties) {
                    if (IsFlag(p) && SameTextAscii(rest, p.Name)) {
                        p.FlagValue = enable;
                        break;
                    }
                }
            } else {
                std::size_t found = None;
                for (std::size_t i = 0; i < Properties.size() && found == None; ++i)
                    if (SameTextAscii(name, Properties[i].Name))
                        found = i;
                if (found == None)
                    FailBefore(text, cursor);
                TProperty& p = Properties[found];
                if (p.Kind == TPropertyKind::pkFlag) {
                    p.FlagValue = !p.FlagDefault;
                } else if (p.Kind == TPropertyKind::pkOptional) {
                    p.FlagValue = true;
                    p.StrValue.clear();
                    if (cursor < len && text[cursor] == '=') {
                        const std::size_t value = ++cursor;
                        while (cursor < len && text[cursor] != ' ')
                            ++cursor;
                        p.StrValue = text.substr(value, cursor - value);
                    }
                } else
                    awaiting = found;
            }
        } else if (c == '-') {
            if (cursor + 1 >= len || text[cursor + 1] == ' ')
                FailBefore(text, cursor);
            ++cursor;
            for (; cursor < len && text[cursor] != ' '; ++cursor)
                for (TProperty& p : Properties)
                    if (p.Kind == TPropertyKind::pkFlag && p.Abbreviation == text[cursor])
                        p.FlagValue = !p.FlagDefault;
        } else if (c == ' ') {
            // Only the blank separates words; the step below moves past it.
        } else if (c == '"' || c == '\'') {
            const std::size_t start = ++cursor;
            while (cursor < len && text[cursor] != c)
                ++cursor;
            takeValue(text.substr(start, cursor - start));
        } else {
            const std::size_t start = cursor;
            while (cursor < len && text[cursor] != ' ')
                ++cursor;
            takeValue(text.substr(start, cursor - start));
        }
        if (cursor < len)
            ++cursor;
    }
    Parsed = true;
}

std::string TCommandLineReader::ReadString(const std::string& name)
{
    if (!Parsed)
        Parse();
    return FindProperty(name).StrValue;
}

bool TCommandLineReader::ReadFlag(const std::string& name)
{
    if (!Parsed)
        Parse();
    const TProperty& p = FindProperty(name);
    if (!IsFlag(p))
        throw ECommandLineParseException("No flag property: " + name);
    return p.FlagValue;
}

const std::vector<std::string>& TCommandLineReader::ReadList(const std::string& name)
{
    if (!Parsed)
        Parse();
    const TProperty& p = FindProperty(name);
    if (p.Kind != TPropertyKind::pkList)
        throw ECommandLineParseException("No list property: " + name);
    return p.Values;
}

TProperty& TCommandLineReader::FindProperty(const std::string& name)
{
    const std::string lower = LowerAscii(name);
    for (TProperty& p : Properties)
        if (p.Name == lower)
            return p;
    throw ECommandLineParseException("Property not found: " + lower);
}

} // namespace CmdLineParser

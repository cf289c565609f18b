#pragma once
// A small reusable reader for options of the forms --name value, --name=value,
// /name value, -abc (one-letter flags) and --enable-name / --disable-name, plus
// positional arguments. Besides strings and flags it knows lists (an option given several
// times keeps every value) and flags with an optional value (--name or --name=value).

#include "platform/SysUtils.h"

#include <cstddef>
#include <string>
#include <vector>

namespace CmdLineParser {

class ECommandLineParseException : public Sys::Exception {
public:
    WEXEL_CLASS(ECommandLineParseException, Sys::Exception)
    using Sys::Exception::Exception;
};

// pkOptional is a flag that may carry a value, but only glued on with "=": a separate
// word after it stays a word of its own, so "--shuffle MASK" keeps its mask.
enum class TPropertyKind : unsigned char { pkString, pkFlag, pkList, pkOptional };

struct TProperty {
    std::string Name; // lower case
    std::string StrValue;
    TPropertyKind Kind = TPropertyKind::pkString;
    bool FlagValue = false;
    bool FlagDefault = false;
    char Abbreviation = '\0';
    std::vector<std::string> Values; // pkList: every value, in the order given
};

using TStringArray = std::vector<std::string>;

class TCommandLineReader {
public:
    TCommandLineReader() = default;

    void DeclareFlag(const std::string& name, bool defaultValue);
    void DeclareFlag(const std::string& name, bool defaultValue, char abbreviation);
    void DeclareString(const std::string& name, const std::string& defaultValue);
    void DeclareList(const std::string& name);
    void DeclareOptional(const std::string& name);

    // Parses the process command line after removing the program name.
    void Parse();
    // Parses the given argument text. Values survive from an earlier parse; only the
    // positional list starts afresh.
    void ParseText(const std::string& text);

    // Both parse on demand when no parse has completed yet.
    std::string ReadString(const std::string& name);
    // True for a pkFlag that is set and for a pkOptional that was given.
    bool ReadFlag(const std::string& name);
    const std::vector<std::string>& ReadList(const std::string& name);
    const TStringArray& ReadPositional() const { return Positional; }

    TProperty& FindProperty(const std::string& name);

    // Whether the "/" at that position opens a long option rather than a value.
    bool SlashStartsOption(const std::string& text, std::size_t slash) const;

    bool Parsed = false;
    std::vector<TProperty> Properties;
    TStringArray Positional;
    // "/" starts a long option like "--", but only for a name that is declared, so that
    // absolute paths stay values.
    bool AllowSlashPrefix = true;
};

} // namespace CmdLineParser

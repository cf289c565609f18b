#pragma once
// A small reusable reader for options of the forms --name value, --name=value,
// /name value, -abc (one-letter flags) and --enable-name / --disable-name, plus
// positional arguments.

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

enum class TPropertyKind : unsigned char { pkString, pkFlag };

struct TProperty {
    std::string Name; // lower case
    std::string StrValue;
    TPropertyKind Kind = TPropertyKind::pkString;
    bool FlagValue = false;
    bool FlagDefault = false;
    char Abbreviation = '\0';
};

using TStringArray = std::vector<std::string>;

class TCommandLineReader {
public:
    TCommandLineReader() = default;

    void DeclareFlag(const std::string& name, bool defaultValue);
    void DeclareFlag(const std::string& name, bool defaultValue, char abbreviation);
    void DeclareString(const std::string& name, const std::string& defaultValue);

    // Parses the process command line after removing the program name.
    void Parse();
    // Parses the given argument text. Values survive from an earlier parse; only the
    // positional list starts afresh.
    void ParseText(const std::string& text);

    // Both parse on demand when no parse has completed yet.
    std::string ReadString(const std::string& name);
    bool ReadFlag(const std::string& name);
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

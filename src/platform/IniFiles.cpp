#include "platform/IniFiles.h"

#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace TestFramework {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

using Sys::SameTextAscii;
using Sys::Trim;

[[noreturn]] void ThrowInvalid(std::string_view what, std::string_view name)
{
    throw EIniFileException("Invalid ini " + std::string(what) + " \"" + std::string(name) +
                            "\": it cannot be stored in an ini file unchanged");
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Rejects what would be read back as another name or would break the file's lines:
// the parser trims names, ends a key at the first "=", and takes lines starting with
// ";", "#" or "[" for comments and headers.
void CheckNames(std::string_view section, std::string_view ident, std::string_view value)
{
    if (section.empty() || HasLineBreak(section) || Trim(section).size() != section.size())
        ThrowInvalid("section name", section);
    if (ident.empty() || HasLineBreak(ident) || Trim(ident).size() != ident.size() ||
        ident.find('=') != std::string_view::npos || ident.front() == ';' ||
        ident.front() == '#' || ident.front() == '[')
        ThrowInvalid("key name", ident);
    if (HasLineBreak(value))
        ThrowInvalid("value", value);
}

std::string ErrorText(int error)
{
    return error != 0 ? std::string(std::strerror(error)) : std::string("I/O error");
}

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

// A missing file (or a missing directory above it) reads as empty; anything else that
// keeps the file from being read is an error, not an empty configuration.
std::string ReadTextFile(const std::string& path)
{
    errno = 0;
    TFilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {};
        throw EIniFileException("Cannot read ini file \"" + path + "\": " + ErrorText(error));
    }
    std::string text;
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    if (std::ferror(file.get()))
        throw EIniFileException("Cannot read ini file \"" + path + "\": " + ErrorText(errno));
    return text;
}

// Rewrites the file in place, so that its permissions, owner and links stay as they are.
// The text is complete before the file is opened, so only a failing write can cut it.
void WriteTextFile(const std::string& path, const std::string& text)
{
    auto fail = [&path](int error) {
        throw EIniFileException("Cannot write ini file \"" + path + "\": " + ErrorText(error));
    };
    errno = 0;
    TFilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file)
        fail(errno);
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() ||
        std::fflush(file.get()) != 0)
        fail(errno);
    if (std::fclose(file.release()) != 0)
        fail(errno);
}

} // namespace

// ---------------------------------------------------------------------------------------
// TIniDocument

TIniDocument::TIniDocument(std::string_view text)
{
    if (text.starts_with(ByteOrderMark)) {
        FByteOrderMark = true;
        text.remove_prefix(ByteOrderMark.size());
    }
    std::size_t firstBreak = text.find('\n');
    if (firstBreak != std::string_view::npos)
        FLineEnd = firstBreak > 0 && text[firstBreak - 1] == '\r' ? "\r\n" : "\n";

    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        // Every CR before the LF, not just one: a line "k=\r\r\n" would otherwise keep a CR
        // that the next read takes for part of the line end, so a rewrite changed the value.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        std::string_view trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            FSections.push_back(
                {std::string(Trim(trimmed.substr(1, trimmed.size() - 2))), std::string(line), {}});
            continue;
        }
        TLine entry{std::string(line), {}, {}};
        if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#') {
            std::size_t eq = line.find('=');
            if (eq != std::string_view::npos) {
                entry.Key = Trim(line.substr(0, eq));
                if (!entry.Key.empty())
                    entry.Value = line.substr(eq + 1);
            }
        }
        LastBlock().push_back(std::move(entry));
    }
}

std::vector<TIniDocument::TLine>& TIniDocument::LastBlock()
{
    return FSections.empty() ? FPreamble : FSections.back().Lines;
}

std::string TIniDocument::Text() const
{
    std::string text;
    if (FByteOrderMark)
        text += ByteOrderMark;
    auto put = [&](const std::string& line) {
        text += line;
        text += FLineEnd;
    };
    for (const TLine& line : FPreamble)
        put(line.Raw);
    for (const TSection& section : FSections) {
        put(section.Header);
        for (const TLine& line : section.Lines)
            put(line.Raw);
    }
    return text;
}

const std::string* TIniDocument::Find(std::string_view section, std::string_view ident) const
{
    for (const TSection& s : FSections)
        if (SameTextAscii(s.Name, section))
            for (const TLine& line : s.Lines)
                if (!line.Key.empty() && SameTextAscii(line.Key, ident))
                    return &line.Value;
    return nullptr;
}

std::vector<std::string> TIniDocument::Keys(std::string_view section) const
{
    std::vector<std::string> keys;
    for (const TSection& s : FSections) {
        if (!SameTextAscii(s.Name, section))
            continue;
        for (const TLine& line : s.Lines) {
            bool seen = line.Key.empty();
            for (const std::string& key : keys)
                seen = seen || SameTextAscii(key, line.Key);
            if (!seen)
                keys.push_back(line.Key);
        }
    }
    return keys;
}

std::vector<std::string> TIniDocument::Sections() const
{
    std::vector<std::string> names;
    for (const TSection& s : FSections) {
        bool seen = false;
        for (const std::string& name : names)
            seen = seen || SameTextAscii(name, s.Name);
        if (!seen)
            names.push_back(s.Name);
    }
    return names;
}

bool TIniDocument::HasSection(std::string_view section) const
{
    for (const TSection& s : FSections)
        if (SameTextAscii(s.Name, section))
            return true;
    return false;
}

bool TIniDocument::Write(std::string_view section, std::string_view ident, std::string_view value)
{
    CheckNames(section, ident, value);

    TSection* target = nullptr;
    for (TSection& s : FSections) {
        if (!SameTextAscii(s.Name, section))
            continue;
        if (!target)
            target = &s;
        for (TLine& line : s.Lines) {
            if (line.Key.empty() || !SameTextAscii(line.Key, ident))
                continue;
            if (line.Value == value)
                return false;
            // The stored spelling of the key stays, as it would in the registry.
            line.Value = value;
            line.Raw = line.Key + "=" + line.Value;
            return true;
        }
    }

    TLine entry{std::string(ident) + "=" + std::string(value), std::string(ident),
                std::string(value)};
    if (target) {
        // After the section's last key (before its trailing blank lines when it has none),
        // so that comments and blank lines that lead to the next section stay in front of it.
        std::vector<TLine>& lines = target->Lines;
        std::size_t at = lines.size();
        while (at > 0 && Trim(lines[at - 1].Raw).empty())
            --at;
        for (std::size_t i = lines.size(); i > 0; --i)
            if (!lines[i - 1].Key.empty()) {
                at = i;
                break;
            }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
        return true;
    }

    std::vector<TLine>& last = LastBlock();
    bool endsBlank = FSections.empty() && FPreamble.empty()
        ? true
        : !last.empty() && Trim(last.back().Raw).empty();
    if (!endsBlank)
        last.push_back({});
    FSections.push_back({std::string(section), "[" + std::string(section) + "]", {}});
    FSections.back().Lines.push_back(std::move(entry));
    return true;
}

bool TIniDocument::Delete(std::string_view section, std::string_view ident)
{
    bool changed = false;
    for (TSection& s : FSections) {
        if (!SameTextAscii(s.Name, section))
            continue;
        // Every copy of the key goes: a second one would otherwise surface in its place.
        std::erase_if(s.Lines, [&](const TLine& line) {
            bool match = !line.Key.empty() && SameTextAscii(line.Key, ident);
            changed = changed || match;
            return match;
        });
    }
    return changed;
}

bool TIniDocument::Erase(std::string_view section)
{
    bool changed = false;
    for (std::size_t i = FSections.size(); i > 0; --i) {
        TSection& s = FSections[i - 1];
        if (!SameTextAscii(s.Name, section))
            continue;
        // What follows the section's last key is usually about the next section (or is
        // another program's note), so it stays; the leading blank lines go with the section.
        std::size_t keep = 0;
        for (std::size_t j = s.Lines.size(); j > 0; --j)
            if (!s.Lines[j - 1].Key.empty()) {
                keep = j;
                break;
            }
        while (keep < s.Lines.size() && Trim(s.Lines[keep].Raw).empty())
            ++keep;
        std::vector<TLine>& previous = i > 1 ? FSections[i - 2].Lines : FPreamble;
        for (std::size_t j = keep; j < s.Lines.size(); ++j)
            previous.push_back(std::move(s.Lines[j]));
        FSections.erase(FSections.begin() + static_cast<std::ptrdiff_t>(i - 1));
        changed = true;
    }
    return changed;
}

std::vector<TIniDocument::TEntry> TIniDocument::Entries() const
{
    std::vector<TEntry> entries;
    auto add = [&entries](const std::string& section, const std::vector<TLine>& lines) {
        for (const TLine& line : lines)
            if (!line.Key.empty())
                entries.push_back({section, line.Key, line.Value});
    };
    add(std::string(), FPreamble);
    for (const TSection& s : FSections)
        add(s.Name, s.Lines);
    return entries;
}

std::size_t TIniDocument::FirstMalformedLine() const
{
    std::size_t number = 0;
    auto find = [&number](const std::vector<TLine>& lines) {
        for (const TLine& line : lines) {
            ++number;
            const std::string_view trimmed = Trim(line.Raw);
            if (line.Key.empty() && !trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#')
                return true;
        }
        return false;
    };
    if (find(FPreamble))
        return number;
    for (const TSection& s : FSections) {
        ++number; // the header
        if (find(s.Lines))
            return number;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// TCustomIniFile

int TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                int defaultValue) const
{
    std::string text = ReadString(section, ident, std::string());
    std::string_view number = Trim(text);
    int base = 10;
    if (number.starts_with("0x") || number.starts_with("0X")) {
        number.remove_prefix(2);
        base = 16;
    } else if (number.starts_with("$")) {
        number.remove_prefix(1);
        base = 16;
    } else if (number.starts_with("+")) {
        number.remove_prefix(1);
        if (number.starts_with("-"))
            return defaultValue;
    }
    if (number.empty())
        return defaultValue;

    const char* end = number.data() + number.size();
    if (base == 16) {
        // Hexadecimal is a bit pattern: "$FFFFFFFF" is -1.
        std::uint32_t bits = 0;
        auto [ptr, ec] = std::from_chars(number.data(), end, bits, 16);
        if (ec != std::errc() || ptr != end)
            return defaultValue;
        return static_cast<int>(bits);
    }
    int value = 0;
    auto [ptr, ec] = std::from_chars(number.data(), end, value, 10);
    if (ec != std::errc() || ptr != end)
        return defaultValue;
    return value;
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident, int value)
{
    WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident,
                              bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value)
{
    WriteString(section, ident, value ? "1" : "0");
}

// ---------------------------------------------------------------------------------------
// TIniFile

TIniFile::TIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)), FPath(FileName()) {}

TIniFile::TIniFile(std::string name, std::string path, bool createDirectories)
    : TCustomIniFile(std::move(name)), FPath(std::move(path)), FCreateDirectories(createDirectories)
{
}

TIniDocument TIniFile::Load() const
{
    return TIniDocument(ReadTextFile(FPath));
}

template <class TChange> void TIniFile::Modify(TChange change)
{
    TIniDocument document = Load();
    if (!change(document))
        return;
    if (FCreateDirectories) {
        std::error_code ec;
        std::filesystem::path directory = std::filesystem::path(FPath).parent_path();
        std::filesystem::create_directories(directory, ec);
        if (ec)
            throw EIniFileException("Cannot create directory \"" + directory.string() +
                                    "\": " + ec.message());
    }
    WriteTextFile(FPath, document.Text());
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const
{
    TIniDocument document = Load();
    const std::string* value = document.Find(section, ident);
    return value ? *value : defaultValue;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value)
{
    Modify([&](TIniDocument& d) { return d.Write(section, ident, value); });
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    return Load().Keys(section);
}

std::vector<std::string> TIniFile::ReadSections() const
{
    return Load().Sections();
}

bool TIniFile::SectionExists(const std::string& section) const
{
    return Load().HasSection(section);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const
{
    return Load().Find(section, ident) != nullptr;
}

void TIniFile::EraseSection(const std::string& section)
{
    Modify([&](TIniDocument& d) { return d.Erase(section); });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident)
{
    Modify([&](TIniDocument& d) { return d.Delete(section, ident); });
}

// ---------------------------------------------------------------------------------------
// TMemIniFile

TMemIniFile::TMemIniFile(std::string fileName)
    : TCustomIniFile(std::move(fileName)), FDocument(ReadTextFile(FileName()))
{
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& defaultValue) const
{
    const std::string* value = FDocument.Find(section, ident);
    return value ? *value : defaultValue;
}

void TMemIniFile::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value)
{
    FDocument.Write(section, ident, value);
}

std::vector<std::string> TMemIniFile::ReadSection(const std::string& section) const
{
    return FDocument.Keys(section);
}

std::vector<std::string> TMemIniFile::ReadSections() const
{
    return FDocument.Sections();
}

bool TMemIniFile::SectionExists(const std::string& section) const
{
    return FDocument.HasSection(section);
}

bool TMemIniFile::ValueExists(const std::string& section, const std::string& ident) const
{
    return FDocument.Find(section, ident) != nullptr;
}

void TMemIniFile::EraseSection(const std::string& section)
{
    FDocument.Erase(section);
}

void TMemIniFile::DeleteKey(const std::string& section, const std::string& ident)
{
    FDocument.Delete(section, ident);
}

void TMemIniFile::UpdateFile()
{
    WriteTextFile(FileName(), FDocument.Text());
}

// ---------------------------------------------------------------------------------------
// TRegistryIniFile

TRegistryIniFile::TRegistryIniFile(const std::string& key) : TIniFile(key, KeyFilePath(key), true) {}

std::string TRegistryIniFile::KeyFilePath(const std::string& key)
{
    if (key.empty())
        throw EIniFileException("The registry key is empty");

    std::string root = Sys::GetEnv("XDG_CONFIG_HOME");
    if (root.empty() || root.front() != '/') {
        std::string home = Sys::GetEnv("HOME");
        if (home.empty() || home.front() != '/')
            throw EIniFileException("Cannot find the per-user settings directory for registry key \"" +
                                    key + "\": neither XDG_CONFIG_HOME nor HOME is an absolute path");
        root = home + "/.config";
    }
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();

    static const char Hex[] = "0123456789ABCDEF";
    std::string name;
    for (char c : key) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (plain) {
            name += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            name += '%';
            name += Hex[byte >> 4];
            name += Hex[byte & 15];
        }
    }
    // File names end at 255 bytes. "~" never comes out of the encoding, so a shortened
    // name cannot meet the name of a short key.
    constexpr std::size_t MaxName = 255 - 4, Kept = 200;
    if (name.size() > MaxName) {
        std::size_t cut = Kept;
        if (name[cut - 1] == '%')
            cut -= 1;
        else if (name[cut - 2] == '%')
            cut -= 2;
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a
        for (char c : key) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        name.resize(cut);
        name += '~';
        for (int shift = 60; shift >= 0; shift -= 4)
            name += Hex[(hash >> shift) & 15];
    }
    return root + "/WexelRunner/registry/" + name + ".ini";
}

} // namespace TestFramework

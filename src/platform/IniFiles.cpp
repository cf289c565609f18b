#include "platform/IniFiles.h"

#include "platform/OsApi.h"
#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unordered_set>

#include <sys/stat.h>

namespace TestFramework {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr char EscapeMark = '%';
constexpr char HexDigits[] = "0123456789ABCDEF";

using Sys::LowerAscii;
using Sys::SameTextAscii;
using Sys::Trim;

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// What the parser would read back as another name: it trims names, ends a key at the
// first "=", and takes lines starting with ";", "#" or "[" for comments and headers.
bool HoldsAsItIs(std::string_view name, bool isKey)
{
    if (name.empty() || name.front() == EscapeMark || HasLineBreak(name) ||
        Trim(name).size() != name.size())
        return false;
    return !isKey || (name.find('=') == std::string_view::npos && name.front() != ';' &&
                      name.front() != '#' && name.front() != '[');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string ErrorText(int error)
{
    return error != 0 ? std::string(std::strerror(error)) : std::string("I/O error");
}

[[noreturn]] void ThrowCannotWrite(const std::string& path, int error)
{
    throw EIniFileException("Cannot write ini file \"" + path + "\": " + ErrorText(error));
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
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    if (std::ferror(file.get()))
        throw EIniFileException("Cannot read ini file \"" + path + "\": " + ErrorText(errno));
    return text;
}

mode_t CurrentUmask()
{
    // The only way to read it is to set it. Mode "gui" has other threads (Qt's): a file
    // one of them created between the two calls would get no mask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The temporary file of a write; removed unless it has been renamed into place.
class TTempFile {
public:
    explicit TTempFile(const std::string& target) : FPath(target + ".XXXXXX")
    {
        FFd = ::mkstemp(FPath.data());
        if (FFd < 0)
            FPath.clear();
    }
    ~TTempFile()
    {
        if (FFd >= 0)
            ::close(FFd);
        if (!FPath.empty())
            ::unlink(FPath.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    bool Created() const { return FFd >= 0; }
    int Fd() const { return FFd; }
    const std::string& Path() const { return FPath; }
    // Closes the file; false when the last data could not be written.
    bool Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }
    void Renamed() { FPath.clear(); }

private:
    std::string FPath;
    int FFd = -1;
};

// Replaces the file whole: the text goes to a temporary file in the same directory,
// which is renamed over the old one once it is complete and on the disk, so a crash or
// a full disk leaves the old file as it was. A link is followed, so the file it names is
// replaced and the link stays; the new file takes the old one's permissions.
void WriteTextFile(const std::string& path, const std::string& text)
{
    std::string target = path;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
        if (!ec)
            target = resolved.string();
    }

    TTempFile temp(target);
    if (!temp.Created())
        ThrowCannotWrite(path, errno);
    struct stat old{};
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(temp.Fd(), old.st_mode & 07777);
    else
        ::fchmod(temp.Fd(), 0666 & ~CurrentUmask());

    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(temp.Fd(), data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ThrowCannotWrite(path, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(temp.Fd()) != 0 && errno != EINVAL)
        ThrowCannotWrite(path, errno);
    if (!temp.Close())
        ThrowCannotWrite(path, errno);
    if (::rename(temp.Path().c_str(), target.c_str()) != 0)
        ThrowCannotWrite(path, errno);
    temp.Renamed();
}

void CreateDirectoriesFor(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    std::filesystem::create_directories(directory, ec);
    if (ec)
        throw EIniFileException("Cannot create directory \"" + directory.string() + "\": " + ec.message());
}

bool IsBlankLine(const std::string& raw)
{
    return Trim(raw).empty();
}

} // namespace

// ---------------------------------------------------------------------------------------
// TIniDocument

std::string TIniDocument::EscapeName(std::string_view name, bool isKey)
{
    if (HoldsAsItIs(name, isKey))
        return std::string(name);
    std::string stored(1, EscapeMark);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const bool escape = byte == EscapeMark || byte == '=' || byte < ' ' || byte == 0x7F ||
                            (byte == ' ' && i + 1 == name.size());
        if (escape) {
            stored += EscapeMark;
            stored += HexDigits[byte >> 4];
            stored += HexDigits[byte & 15];
        } else {
            stored += name[i];
        }
    }
    return stored;
}

std::string TIniDocument::UnescapeName(std::string_view stored, bool isKey)
{
    if (stored.empty() || stored.front() != EscapeMark)
        return std::string(stored);
    std::string name;
    for (std::size_t i = 1; i < stored.size(); ++i) {
        if (stored[i] != EscapeMark) {
            name += stored[i];
            continue;
        }
        const int hi = i + 2 < stored.size() ? HexValue(stored[i + 1]) : -1;
        const int lo = i + 2 < stored.size() ? HexValue(stored[i + 2]) : -1;
        if (hi < 0 || lo < 0)
            return std::string(stored);
        name += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    // Only what escaping produces stands for another name, so that another program's
    // "%PATH%" stays a name of its own.
    if (!SameTextAscii(EscapeName(name, isKey), stored))
        return std::string(stored);
    return name;
}

// The stored forms a key may have, in lower case: its escaped form and, for a name that
// escaping never produces (another program's "%PATH%"), the name itself.
TIniDocument::TKeyForms TIniDocument::KeyForms(std::string_view ident)
{
    TKeyForms forms{LowerAscii(EscapeName(ident, true)), {}};
    if (!ident.empty() && ident.front() == EscapeMark && UnescapeName(ident, true) == ident)
        forms.Raw = LowerAscii(ident);
    return forms;
}

TIniDocument::TLines::iterator* TIniDocument::TSection::FindKey(const TKeyForms& forms)
{
    auto found = KeyIndex.find(forms.Escaped);
    if (found == KeyIndex.end() && !forms.Raw.empty())
        found = KeyIndex.find(forms.Raw);
    return found == KeyIndex.end() ? nullptr : &found->second;
}

void TIniDocument::TSection::IndexLine(TLines::iterator line)
{
    if (line->Key.empty())
        return;
    if (!KeyIndex.try_emplace(LowerAscii(line->Key), line).second)
        DuplicateKeys = true;
}

void TIniDocument::TSection::Reindex()
{
    KeyIndex.clear();
    DuplicateKeys = false;
    for (auto line = Lines.begin(); line != Lines.end(); ++line)
        IndexLine(line);
}

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
            TSection& section = FSections.emplace_back();
            section.Name = Trim(trimmed.substr(1, trimmed.size() - 2));
            section.Header = line;
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
        TLines& block = LastBlock();
        block.push_back(std::move(entry));
        if (!FSections.empty())
            FSections.back().IndexLine(std::prev(block.end()));
    }
    ReindexSections();
}

void TIniDocument::ReindexSections()
{
    FSectionIndex.clear();
    for (auto s = FSections.begin(); s != FSections.end(); ++s)
        FSectionIndex[LowerAscii(s->Name)].push_back(s);
}

const std::vector<TIniDocument::TSections::iterator>* TIniDocument::SectionsNamed(std::string_view stored) const
{
    auto found = FSectionIndex.find(LowerAscii(stored));
    return found == FSectionIndex.end() ? nullptr : &found->second;
}

TIniDocument::TLines& TIniDocument::LastBlock()
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
    const auto* sections = SectionsNamed(EscapeName(section, false));
    if (!sections)
        return nullptr;
    const TKeyForms key = KeyForms(ident);
    for (const auto& s : *sections)
        if (TLines::iterator* line = s->FindKey(key))
            return &(*line)->Value;
    return nullptr;
}

std::vector<std::string> TIniDocument::Keys(std::string_view section) const
{
    std::vector<std::string> keys;
    const auto* sections = SectionsNamed(EscapeName(section, false));
    if (!sections)
        return keys;
    std::unordered_set<std::string> seen;
    for (const auto& s : *sections)
        for (const TLine& line : s->Lines)
            if (!line.Key.empty() && seen.insert(LowerAscii(line.Key)).second)
                keys.push_back(UnescapeName(line.Key, true));
    return keys;
}

std::vector<std::string> TIniDocument::Sections() const
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const TSection& s : FSections)
        if (seen.insert(LowerAscii(s.Name)).second)
            names.push_back(UnescapeName(s.Name, false));
    return names;
}

bool TIniDocument::HasSection(std::string_view section) const
{
    return SectionsNamed(EscapeName(section, false)) != nullptr;
}

bool TIniDocument::Write(std::string_view section, std::string_view ident, std::string_view value)
{
    if (HasLineBreak(value))
        throw EIniFileException("Invalid ini value \"" + std::string(value) +
                                "\": a line break cannot be stored in an ini file");
    const std::string storedSection = EscapeName(section, false);
    const std::string storedKey = EscapeName(ident, true);
    const TKeyForms key = KeyForms(ident);

    const auto* sections = SectionsNamed(storedSection);
    if (sections) {
        for (const auto& s : *sections) {
            TLines::iterator* found = s->FindKey(key);
            if (!found)
                continue;
            TLine& line = **found;
            if (line.Value == value)
                return false;
            // The stored spelling of the key stays, as it would in the registry.
            line.Value = value;
            line.Raw = line.Key + "=" + line.Value;
            return true;
        }
    }

    TLine entry{storedKey + "=" + std::string(value), storedKey, std::string(value)};
    if (sections) {
        // After the section's last key (before its trailing blank lines when it has none),
        // so that comments and blank lines that lead to the next section stay in front of it.
        TSection& target = *sections->front();
        TLines& lines = target.Lines;
        auto at = lines.end();
        while (at != lines.begin() && std::prev(at)->Key.empty())
            --at;
        if (at == lines.begin()) {
            at = lines.end();
            while (at != lines.begin() && IsBlankLine(std::prev(at)->Raw))
                --at;
        }
        target.IndexLine(lines.insert(at, std::move(entry)));
        return true;
    }

    TLines& last = LastBlock();
    bool endsBlank = FSections.empty() && FPreamble.empty() ? true : !last.empty() && IsBlankLine(last.back().Raw);
    if (!endsBlank)
        last.push_back({});
    TSection& added = FSections.emplace_back();
    added.Name = storedSection;
    added.Header = "[" + storedSection + "]";
    added.Lines.push_back(std::move(entry));
    added.IndexLine(added.Lines.begin());
    FSectionIndex[LowerAscii(storedSection)].push_back(std::prev(FSections.end()));
    return true;
}

bool TIniDocument::Delete(std::string_view section, std::string_view ident)
{
    const auto* sections = SectionsNamed(EscapeName(section, false));
    if (!sections)
        return false;
    const TKeyForms key = KeyForms(ident);
    bool changed = false;
    for (const auto& s : *sections) {
        if (!s->FindKey(key))
            continue;
        changed = true;
        if (!s->DuplicateKeys) {
            for (const std::string* form : {&key.Escaped, &key.Raw}) {
                auto found = form->empty() ? s->KeyIndex.end() : s->KeyIndex.find(*form);
                if (found != s->KeyIndex.end()) {
                    s->Lines.erase(found->second);
                    s->KeyIndex.erase(found);
                }
            }
            continue;
        }
        // Every copy of the key goes: a second one would otherwise surface in its place.
        s->Lines.remove_if([&](const TLine& line) {
            if (line.Key.empty())
                return false;
            const std::string stored = LowerAscii(line.Key);
            return stored == key.Escaped || (!key.Raw.empty() && stored == key.Raw);
        });
        s->Reindex();
    }
    return changed;
}

bool TIniDocument::Erase(std::string_view section)
{
    const auto* named = SectionsNamed(EscapeName(section, false));
    if (!named)
        return false;
    const std::vector<TSections::iterator> sections = *named;
    for (auto it = sections.rbegin(); it != sections.rend(); ++it) {
        TSection& s = **it;
        // What follows the section's last key is usually about the next section (or is
        // another program's note), so it stays; the leading blank lines go with the section.
        auto keep = s.Lines.end();
        while (keep != s.Lines.begin() && std::prev(keep)->Key.empty())
            --keep;
        while (keep != s.Lines.end() && IsBlankLine(keep->Raw))
            ++keep;
        TLines& previous = *it != FSections.begin() ? std::prev(*it)->Lines : FPreamble;
        previous.splice(previous.end(), s.Lines, keep, s.Lines.end());
        FSections.erase(*it);
    }
    ReindexSections();
    return true;
}

std::vector<TIniDocument::TEntry> TIniDocument::Entries() const
{
    std::vector<TEntry> entries;
    auto add = [&entries](const std::string& section, const TLines& lines) {
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
    auto find = [&number](const TLines& lines) {
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
    if (FCreateDirectories)
        CreateDirectoriesFor(FPath);
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
    : TCustomIniFile(std::move(fileName)), FPath(FileName()), FDocument(ReadTextFile(FPath))
{
}

TMemIniFile::TMemIniFile(std::string name, std::string path, bool createDirectories)
    : TCustomIniFile(std::move(name)), FPath(std::move(path)), FCreateDirectories(createDirectories),
      FDocument(ReadTextFile(FPath))
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
    if (FCreateDirectories)
        CreateDirectoriesFor(FPath);
    WriteTextFile(FPath, FDocument.Text());
}

// ---------------------------------------------------------------------------------------
// TRegistryIniFile

TRegistryIniFile::TRegistryIniFile(const std::string& key) : TIniFile(key, KeyFilePath(key), true) {}

TMemRegistryIniFile::TMemRegistryIniFile(const std::string& key)
    : TMemIniFile(key, TRegistryIniFile::KeyFilePath(key), true)
{
}

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

    std::string name;
    for (char c : key) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (plain) {
            name += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            name += '%';
            name += HexDigits[byte >> 4];
            name += HexDigits[byte & 15];
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
            name += HexDigits[(hash >> shift) & 15];
    }
    return root + "/WexelRunner/registry/" + name + ".ini";
}

} // namespace TestFramework

#include "platform/IniFiles.h"

#include "platform/OsApi.h"
#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

[[noreturn]] void ThrowCannotRead(const std::string& path, const std::string& why)
{
    throw EIniFileException("Cannot read ini file \"" + path + "\": " + why);
}

[[noreturn]] void ThrowNotWritten(const std::string& path, const std::string& why)
{
    throw EIniFileException("Cannot write ini file \"" + path + "\": " + why);
}

// What a settings file may be: anything but a regular file (a device, a pipe, a socket)
// is refused before it is opened, so that reading never blocks or runs without end and
// writing never reaches a device.
std::string NotRegularFile(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return ErrorText(EISDIR);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "it is a device, not a regular file";
    return "it is not a regular file";
}

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// A missing file (or a missing directory above it) reads as empty; anything else that
// keeps the file from being read is an error, not an empty configuration.
std::string ReadTextFile(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {};
        ThrowCannotRead(path, ErrorText(error));
    }
    if (!S_ISREG(st.st_mode))
        ThrowCannotRead(path, NotRegularFile(st));
    // Checked again on what was opened: the name may have been swapped in between.
    TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        ThrowCannotRead(path, ErrorText(errno));
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        ThrowCannotRead(path, NotRegularFile(st));
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowCannotRead(path, ErrorText(errno));
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

mode_t CurrentUmask()
{
    // Setting it to read it would leave it 0 for a moment, and a window runs threads that
    // may create files meanwhile; the kernel shows it without changing it.
    const std::string status = [] {
        try {
            return ReadTextFile("/proc/self/status");
        } catch (const EIniFileException&) {
            return std::string();
        }
    }();
    const std::size_t at = status.find("\nUmask:");
    const std::size_t digits = at == std::string::npos ? at : status.find_first_not_of(" \t", at + 7);
    if (digits != std::string::npos) {
        unsigned mask = 0;
        if (std::from_chars(status.data() + digits, status.data() + status.size(), mask, 8).ec == std::errc())
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Where a write goes: the name itself, or the final target of the links it names. Links
// are followed one at a time without opening anything, so that a device at the end is
// found before it could be written.
struct TWriteTarget {
    std::string Path;
    bool Exists = false;
    struct stat Stat{};
};

TWriteTarget ResolveWriteTarget(const std::string& path)
{
    constexpr int MaxLinks = 40; // as the kernel allows
    namespace fs = std::filesystem;
    TWriteTarget target{path};
    for (int links = 0; links <= MaxLinks; ++links) {
        if (::lstat(target.Path.c_str(), &target.Stat) != 0) {
            const int error = errno;
            // A missing file is created, but only under its own name: a link to nothing
            // may name any place at all.
            if (error == ENOENT && links == 0)
                return target;
            if (error == ENOENT)
                ThrowNotWritten(path, "the link leads to \"" + target.Path + "\", which does not exist");
            ThrowNotWritten(path, ErrorText(error));
        }
        if (S_ISREG(target.Stat.st_mode)) {
            target.Exists = true;
            return target;
        }
        if (!S_ISLNK(target.Stat.st_mode)) {
            if (links == 0)
                ThrowNotWritten(path, NotRegularFile(target.Stat));
            ThrowNotWritten(path, "the link leads to \"" + target.Path + "\": " + NotRegularFile(target.Stat));
        }
        std::error_code ec;
        const fs::path next = fs::read_symlink(target.Path, ec);
        if (ec)
            ThrowNotWritten(path, ec.message());
        target.Path = (next.is_absolute() ? next : fs::path(target.Path).parent_path() / next).string();
    }
    ThrowNotWritten(path, ErrorText(ELOOP));
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporary name of a write: the final name and ".XXXXXX" where that fits, else
// the final name's last bytes (whole characters) replaced by "~XXXXXX", so that a
// temporary name is never longer than the final name and fits wherever it fits.
std::string TemporaryPattern(const std::string& target)
{
    constexpr std::string_view Suffix = ".XXXXXX";
    const std::size_t slash = target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t nameSize = target.size() - nameStart;
    long nameMax = ::pathconf(DirectoryOf(target).c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = 255;
    if (nameSize + Suffix.size() <= static_cast<std::size_t>(nameMax) && target.size() + Suffix.size() < PATH_MAX)
        return target + std::string(Suffix);
    std::size_t keep = nameSize > Suffix.size() ? nameSize - Suffix.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(target[nameStart + keep]) & 0xC0) == 0x80)
        --keep;
    return target.substr(0, nameStart + keep) + "~XXXXXX";
}

// The temporary file of a write; removed unless it has been renamed into place.
class TTempFile {
public:
    explicit TTempFile(const std::string& target) : FPath(TemporaryPattern(target))
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

void WriteAll(const std::string& path, int fd, const std::string& text)
{
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ThrowCannotWrite(path, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0 && errno != EINVAL)
        ThrowCannotWrite(path, errno);
}

// For a directory that takes no new files: the file itself is rewritten. Space is taken
// first, so that a full disk fails before the old text is touched.
void RewriteInPlace(const std::string& path, const TWriteTarget& target, const std::string& text)
{
    TFd fd(::open(target.Path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        ThrowCannotWrite(path, errno);
    struct stat st{};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != target.Stat.st_ino ||
        st.st_dev != target.Stat.st_dev)
        ThrowNotWritten(path, "the file was replaced while it was being written");
    if (!text.empty()) {
        const int error = ::posix_fallocate(fd.Get(), 0, static_cast<off_t>(text.size()));
        if (error != 0 && error != EOPNOTSUPP && error != EINVAL && error != ENOSYS)
            ThrowCannotWrite(path, error);
    }
    WriteAll(path, fd.Get(), text);
    if (::ftruncate(fd.Get(), static_cast<off_t>(text.size())) != 0 || ::fsync(fd.Get()) != 0)
        ThrowCannotWrite(path, errno);
}

// Replaces the file whole: the text goes to a temporary file in the same directory,
// which is renamed over the old one once it is complete and on the disk, so a crash or
// a full disk leaves the old file as it was.
void WriteTextFile(const std::string& path, const TWriteTarget& target, const std::string& text)
{
    if (target.Exists && ((target.Stat.st_mode & 0222) == 0 ||
                          ::faccessat(AT_FDCWD, target.Path.c_str(), W_OK, AT_EACCESS) != 0))
        ThrowNotWritten(path, "the file is read-only");

    TTempFile temp(target.Path);
    if (!temp.Created()) {
        const int error = errno;
        if (target.Exists && (error == EACCES || error == EPERM))
            return RewriteInPlace(path, target, text);
        ThrowCannotWrite(path, error);
    }
    if (target.Exists) {
        ::fchmod(temp.Fd(), target.Stat.st_mode & 07777);
        // Only a privileged process may give a file away; for others the new file is
        // theirs, as it would be had they made it.
        if (target.Stat.st_uid != ::geteuid() || target.Stat.st_gid != ::getegid())
            if (::fchown(temp.Fd(), target.Stat.st_uid, target.Stat.st_gid) == 0)
                ::fchmod(temp.Fd(), target.Stat.st_mode & 07777);
    } else {
        ::fchmod(temp.Fd(), 0666 & ~CurrentUmask());
    }
    WriteAll(path, temp.Fd(), text);
    if (!temp.Close())
        ThrowCannotWrite(path, errno);
    if (::rename(temp.Path().c_str(), target.Path.c_str()) != 0)
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

// The exclusive lock of the directory that holds a settings file. The directory rather
// than the file: the file is replaced by a rename, and a lock on the old one would not
// keep a second writer away from the new one. A directory that cannot be opened is not
// locked (the write itself will say what is wrong); one held by another process for too
// long is an error rather than a wait without end.
class TDirectoryLock {
public:
    TDirectoryLock(const std::string& path, const std::string& directory)
        : FFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (FFd.Get() < 0)
            return;
        constexpr int Attempts = 1000; // 10 s
        for (int attempt = 0; ::flock(FFd.Get(), LOCK_EX | LOCK_NB) != 0; ++attempt) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || attempt == Attempts)
                ThrowNotWritten(path, "another program keeps its directory locked");
            ::usleep(10000);
        }
    }

private:
    TFd FFd;
};

// One read-modify-write of a file under its directory's lock; change answers the text to
// write, or nothing to leave the file as it is.
template <class TChange> void LockedUpdate(const std::string& path, bool createDirectories, TChange change)
{
    const TWriteTarget unlocked = ResolveWriteTarget(path);
    TDirectoryLock lock(path, DirectoryOf(unlocked.Path));
    // Again under the lock: another writer may have created or replaced it meanwhile.
    const TWriteTarget target = ResolveWriteTarget(path);
    const std::optional<std::string> text = change(target.Exists ? ReadTextFile(target.Path) : std::string());
    if (!text)
        return;
    // Only now, so that a change that changes nothing creates nothing.
    if (createDirectories && !target.Exists)
        CreateDirectoriesFor(path);
    WriteTextFile(path, target, *text);
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
        // They stay the line's end, as read; the last line without an LF gets the
        // document's, as a line added after it needs one.
        std::size_t body = line.size();
        while (body > 0 && line[body - 1] == '\r')
            --body;
        const std::string lineEnd =
            end == std::string_view::npos ? std::string() : std::string(line.substr(body)) + "\n";
        line = line.substr(0, body);

        std::string_view trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            TSection& section = FSections.emplace_back();
            section.Name = Trim(trimmed.substr(1, trimmed.size() - 2));
            section.Header = line;
            section.HeaderEnd = lineEnd;
            continue;
        }
        TLine entry{std::string(line), {}, {}, lineEnd};
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
    auto put = [&](const std::string& line, const std::string& end) {
        text += line;
        text += end.empty() ? FLineEnd : end;
    };
    for (const TLine& line : FPreamble)
        put(line.Raw, line.End);
    for (const TSection& section : FSections) {
        put(section.Header, section.HeaderEnd);
        for (const TLine& line : section.Lines)
            put(line.Raw, line.End);
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

    TLine entry{storedKey + "=" + std::string(value), storedKey, std::string(value), {}};
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
    LockedUpdate(FPath, FCreateDirectories, [&](const std::string& text) -> std::optional<std::string> {
        TIniDocument document(text);
        if (!change(document))
            return std::nullopt;
        return document.Text();
    });
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

TMemIniFile::TMemIniFile(std::string name, std::string path, std::string_view text)
    : TCustomIniFile(std::move(name)), FPath(std::move(path)), FDocument(text)
{
}

void TMemIniFile::UpdateFile()
{
    LockedUpdate(FPath, FCreateDirectories, [&](const std::string&) { return std::optional(FDocument.Text()); });
}

namespace {

// The store an update's edit gets: the file as read under the lock, written by the
// update itself.
class TEditedIniFile final : public TMemIniFile {
public:
    TEditedIniFile(const std::string& name, const std::string& path, std::string_view text)
        : TMemIniFile(name, path, text)
    {
    }
    void UpdateFile() override {}
};

void Update(const std::string& name, const std::string& path, bool createDirectories, const TIniEdit& edit)
{
    LockedUpdate(path, createDirectories, [&](const std::string& text) -> std::optional<std::string> {
        TEditedIniFile store(name, path, text);
        edit(store);
        std::string changed = store.Document().Text();
        if (changed == text)
            return std::nullopt;
        return changed;
    });
}

} // namespace

void UpdateIniFile(const std::string& fileName, const TIniEdit& edit)
{
    Update(fileName, fileName, false, edit);
}

void UpdateRegistryIniFile(const std::string& key, const TIniEdit& edit)
{
    Update(key, TRegistryIniFile::KeyFilePath(key), true, edit);
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

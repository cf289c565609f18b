#pragma once
// The ini-style stores that tests, the GUI and the host's login keep their settings in:
// one small interface and the stores behind it.
//
// All stores share one file model (TIniDocument) that keeps every line it does not
// change byte for byte: comments, blank lines, other programs' sections and keys, and
// lines it cannot parse. Section and key names compare ignoring ASCII case. Values are
// kept exactly as written after the "="; only the typed reads tolerate blanks around a
// number.
//
// Line ends: a new file is written with CR LF, the line end of every file this system
// writes and of the settings files it takes over, so such a file is rewritten byte for
// byte. Every line read keeps its own line end, and lines added take the one the first
// line uses, so a file shared with a program that writes LF is not converted behind its
// back, nor is another program's CR LF line in it.
//
// Only regular files are read or written. A name that is a link is followed to its final
// target, which must be a regular file too (or, for the name itself, missing): a device,
// a pipe, a directory, a link loop or a link to nothing raises EIniFileException, and
// the target is left as it was (a device is not even opened).
//
// A file is replaced whole: the text goes to a temporary file beside it, which is then
// renamed over it, so a crash or a full disk leaves the old file, never a cut one. The
// new file keeps the old one's permissions and, where the process may set it, owner. A
// file without write permission is not replaced (EIniFileException says it is
// read-only); a writable file in a directory that takes no new files is rewritten in
// place instead. Writes to files of one directory take an exclusive lock on the
// directory, so two processes saving together do not interleave their read-modify-write
// steps (see UpdateIniFile).

#include "platform/SysUtils.h"

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The framework's interfaces take a TCustomIniFile from their own namespace, so the
// stores stay in it although they live below the framework.
namespace TestFramework {

// A store that cannot be read or written, or a value that the file format cannot hold
// (a line break would break the file's structure).
class EIniFileException : public Sys::Exception {
public:
    WEXEL_CLASS(EIniFileException, Sys::Exception)
    using Sys::Exception::Exception;
};

// The parsed text of one ini file. Lines are kept as they were read; a key line is
// rebuilt only when its value changes.
//
// Lookups go through an index of sections and of each section's keys, so that a whole
// tree of tests (100,000 keys and more) is read or written in one pass instead of one
// scan of the file per key.
//
// Names the format cannot hold as they are (a key with "=", starting with ";", "#" or
// "[", any name that is empty, starts or ends with a blank or holds a line break) are
// stored escaped: "%" followed by the name with "%", "=", control bytes and a final
// blank written as "%" and two hex digits. Every other name is stored byte for byte,
// except one that itself starts with "%", which is escaped so that it cannot be
// mistaken for an escaped name. Reads and writes take names as they are meant; Keys and
// Sections answer them so.
class TIniDocument {
public:
    TIniDocument() : TIniDocument(std::string_view()) {}
    explicit TIniDocument(std::string_view text);
    // The indexes point into the document itself.
    TIniDocument(const TIniDocument&) = delete;
    TIniDocument& operator=(const TIniDocument&) = delete;
    TIniDocument(TIniDocument&&) = default;
    TIniDocument& operator=(TIniDocument&&) = default;

    // The whole file, every line followed by the document's line end.
    std::string Text() const;

    // nullptr when the key does not exist. With a section or key given twice the
    // first occurrence wins, as for every reader of such files.
    const std::string* Find(std::string_view section, std::string_view ident) const;
    std::vector<std::string> Keys(std::string_view section) const;
    std::vector<std::string> Sections() const;
    bool HasSection(std::string_view section) const;

    // Each answers whether the document changed. A value with a line break raises
    // EIniFileException.
    bool Write(std::string_view section, std::string_view ident, std::string_view value);
    bool Delete(std::string_view section, std::string_view ident);
    bool Erase(std::string_view section);

    // For readers that take the file whole rather than by key: every key line in file
    // order, duplicates and all, with its section's name as written ("" before the first
    // header), and the key and value as written (names not unescaped).
    struct TEntry {
        std::string Section;
        std::string Key;
        std::string Value;
    };
    std::vector<TEntry> Entries() const;

    // The number (from 1) of the first line that is neither blank, a comment, a section
    // header nor a key line; 0 when there is none. Lines count as they were read, so the
    // answer is about the file only while the document is unchanged.
    std::size_t FirstMalformedLine() const;

    // How a name is stored in the file, and the name a stored one stands for.
    static std::string EscapeName(std::string_view name, bool isKey);
    static std::string UnescapeName(std::string_view stored, bool isKey);

private:
    struct TLine {
        std::string Raw;
        std::string Key;   // as stored; empty for lines that are not "key=value"
        std::string Value;
        std::string End;   // as read; empty for added lines, which take FLineEnd
    };
    using TLines = std::list<TLine>;
    // A key as it may be stored, in lower case: escaped, and (Raw, when not empty) as it
    // is, for names that escaping never produces.
    struct TKeyForms {
        std::string Escaped;
        std::string Raw;
    };
    static TKeyForms KeyForms(std::string_view ident);
    struct TSection {
        std::string Name; // as stored
        std::string Header;
        std::string HeaderEnd;
        TLines Lines;
        // The first line of each key, by the stored key in lower case.
        std::unordered_map<std::string, TLines::iterator> KeyIndex;
        // A key given twice: deleting must then find every copy.
        bool DuplicateKeys = false;

        void IndexLine(TLines::iterator line);
        void Reindex();
        TLines::iterator* FindKey(const TKeyForms& forms);
    };
    using TSections = std::list<TSection>;

    TLines FPreamble; // lines before the first section header
    TSections FSections;
    // Every section of each name in file order, by the stored name in lower case.
    std::unordered_map<std::string, std::vector<TSections::iterator>> FSectionIndex;
    std::string FLineEnd = "\r\n";
    bool FByteOrderMark = false;

    TLines& LastBlock();
    const std::vector<TSections::iterator>* SectionsNamed(std::string_view stored) const;
    void ReindexSections();
};

// The operations the framework and the GUI settings use, whatever the store.
class TCustomIniFile {
public:
    explicit TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    // The file name, or the registry key for the registry store.
    const std::string& FileName() const { return FFileName; }

    virtual std::string ReadString(const std::string& section, const std::string& ident,
                                   const std::string& defaultValue) const = 0;
    virtual void WriteString(const std::string& section, const std::string& ident,
                             const std::string& value) = 0;

    // Decimal, or hexadecimal with "0x" or "$"; blanks around the number are allowed.
    // A missing value, text that is no number, or one outside 32 bits gives the default.
    int ReadInteger(const std::string& section, const std::string& ident, int defaultValue) const;
    void WriteInteger(const std::string& section, const std::string& ident, int value);

    // Read as an integer: non-zero is true. Written as "1" or "0".
    bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    virtual std::vector<std::string> ReadSection(const std::string& section) const = 0;
    virtual std::vector<std::string> ReadSections() const = 0;
    virtual bool SectionExists(const std::string& section) const = 0;
    virtual bool ValueExists(const std::string& section, const std::string& ident) const = 0;
    virtual void EraseSection(const std::string& section) = 0;
    virtual void DeleteKey(const std::string& section, const std::string& ident) = 0;

    // Brings the file up to date with what was written; a no-op for stores whose
    // writes reach the file at once.
    virtual void UpdateFile() = 0;

private:
    std::string FFileName;
};

// Every write goes to the file at once, and every read looks at the file as it is now,
// so changes another program makes in between are neither missed nor overwritten.
// That costs a read of the whole file per value: for many values use TMemIniFile.
// A missing file reads as empty and is created by the first write that changes it.
class TIniFile : public TCustomIniFile {
public:
    explicit TIniFile(std::string fileName);

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const override;
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value) override;
    std::vector<std::string> ReadSection(const std::string& section) const override;
    std::vector<std::string> ReadSections() const override;
    bool SectionExists(const std::string& section) const override;
    bool ValueExists(const std::string& section, const std::string& ident) const override;
    void EraseSection(const std::string& section) override;
    void DeleteKey(const std::string& section, const std::string& ident) override;
    void UpdateFile() override {}

    // The file the store reads and writes.
    const std::string& Path() const { return FPath; }

protected:
    // A store whose name (a registry key) is not its path; createDirectories lets the
    // first write create the directories above the file.
    TIniFile(std::string name, std::string path, bool createDirectories);

private:
    std::string FPath;
    bool FCreateDirectories = false;

    TIniDocument Load() const;
    template <class TChange> void Modify(TChange change);
};

// Reads the file once when created; writes stay in memory until UpdateFile, which
// writes the whole file (also when nothing changed). Destroying the store without
// UpdateFile discards the changes.
class TMemIniFile : public TCustomIniFile {
public:
    explicit TMemIniFile(std::string fileName);

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const override;
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value) override;
    std::vector<std::string> ReadSection(const std::string& section) const override;
    std::vector<std::string> ReadSections() const override;
    bool SectionExists(const std::string& section) const override;
    bool ValueExists(const std::string& section, const std::string& ident) const override;
    void EraseSection(const std::string& section) override;
    void DeleteKey(const std::string& section, const std::string& ident) override;
    void UpdateFile() override;

    // The file as read and changed since.
    const TIniDocument& Document() const { return FDocument; }
    // The file the store reads and writes.
    const std::string& Path() const { return FPath; }

protected:
    // As for TIniFile: a store whose name is not its path.
    TMemIniFile(std::string name, std::string path, bool createDirectories);
    // A store of text already read.
    TMemIniFile(std::string name, std::string path, std::string_view text);

private:
    std::string FPath;
    bool FCreateDirectories = false;
    TIniDocument FDocument;
};

// The per-user registry key, kept as an ini file (each subkey a section, each value a
// key) at $XDG_CONFIG_HOME/WexelRunner/registry/<key>.ini, with ~/.config when
// XDG_CONFIG_HOME is unset, empty or relative. The key is used as a file name with
// every byte outside A-Z, a-z, 0-9, ".", "_" and "-" written as "%" and two
// upper-case hex digits, so "/" and "\" cannot reach another directory and ".." is just
// part of a name; key names are case-sensitive, like the paths they are made from. A
// name too long for the file system keeps its first 200 bytes and ends in "~" and a
// hash of the whole key. Writes reach the file at once, as they reach the registry.
class TRegistryIniFile : public TIniFile {
public:
    explicit TRegistryIniFile(const std::string& key);

    // The file that holds the key; raises EIniFileException for an empty key or when
    // neither XDG_CONFIG_HOME nor HOME gives a usable directory.
    static std::string KeyFilePath(const std::string& key);
};

// The same registry key read once and held in memory until UpdateFile: for reading or
// writing many values at once (the enabled flags of a whole test tree), where the
// store above would read the file for every value and write it for every change.
class TMemRegistryIniFile : public TMemIniFile {
public:
    explicit TMemRegistryIniFile(const std::string& key);
};

// One save of a settings file: under the directory's exclusive lock, the file is read,
// edit changes the store it is given (a TMemIniFile of the file as read; its UpdateFile
// does nothing), and the file is replaced in one rename when its text has changed. A
// save made by another process at the same time comes wholly before or wholly after
// this one, so the file never holds a mix of the two. An exception from edit leaves the
// file as it was. Raises EIniFileException as the stores do. edit must write through
// the store it is given only: another store's write to a file of the same directory
// would wait for the lock this update holds (and fail after 10 s).
using TIniEdit = std::function<void(TCustomIniFile& store)>;
void UpdateIniFile(const std::string& fileName, const TIniEdit& edit);
// The same for a per-user registry key (TRegistryIniFile), creating its directories.
void UpdateRegistryIniFile(const std::string& key, const TIniEdit& edit);

} // namespace TestFramework

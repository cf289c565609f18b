#pragma once
// The ini-style stores that tests and the GUI keep their settings in: one small
// interface and four stores behind it.
//
// All stores share one file model (TIniDocument) that keeps every line it does not
// change byte for byte: comments, blank lines, other programs' sections and keys, and
// lines it cannot parse. Section and key names compare ignoring ASCII case. Values are
// kept exactly as written after the "="; only the typed reads tolerate blanks around a
// number.
//
// Line ends: a new file is written with CR LF, the line end of every file this system
// writes and of settings files written on Windows, so such a file is rewritten byte for
// byte. An existing file keeps the line end its first line uses, so a
// file shared with a program that writes LF is not converted behind its back.

#include "platform/SysUtils.h"

#include <string>
#include <string_view>
#include <vector>

namespace TestFramework {

// A store that cannot be read or written, or a name or value that the file format
// cannot hold (it would come back as something else or break the file's structure).
class EIniFileException : public Sys::Exception {
public:
    WEXEL_CLASS(EIniFileException, Sys::Exception)
    using Sys::Exception::Exception;
};

// The parsed text of one ini file. Lines are kept as they were read; a key line is
// rebuilt only when its value changes.
class TIniDocument {
public:
    TIniDocument() = default;
    explicit TIniDocument(std::string_view text);

    // The whole file, every line followed by the document's line end.
    std::string Text() const;

    // nullptr when the key does not exist. With a section or key given twice the
    // first occurrence wins, as for every reader of such files.
    const std::string* Find(std::string_view section, std::string_view ident) const;
    std::vector<std::string> Keys(std::string_view section) const;
    std::vector<std::string> Sections() const;
    bool HasSection(std::string_view section) const;

    // Each answers whether the document changed.
    bool Write(std::string_view section, std::string_view ident, std::string_view value);
    bool Delete(std::string_view section, std::string_view ident);
    bool Erase(std::string_view section);

private:
    struct TLine {
        std::string Raw;
        std::string Key;   // empty for lines that are not "key=value"
        std::string Value;
    };
    struct TSection {
        std::string Name;
        std::string Header;
        std::vector<TLine> Lines;
    };

    std::vector<TLine> FPreamble; // lines before the first section header
    std::vector<TSection> FSections;
    std::string FLineEnd = "\r\n";
    bool FByteOrderMark = false;

    std::vector<TLine>& LastBlock();
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

private:
    TIniDocument FDocument;
};

// The in-memory store in which tests keep their enabled switches: a value read back,
// or the default returned in its place, loses surrounding blanks and control
// characters, so a hand-edited " 0 " still reads as false.
class TMemIniFileTrimmed : public TMemIniFile {
public:
    using TMemIniFile::TMemIniFile;

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const override;
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

} // namespace TestFramework

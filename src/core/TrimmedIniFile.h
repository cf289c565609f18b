#pragma once
// The ini stores as the framework uses them (platform/IniFiles.h), and the one store of
// the framework's own.

#include "platform/IniFiles.h"

#include <string>

namespace TestFramework {

// The in-memory store in which tests keep their enabled switches: a value read back,
// or the default returned in its place, loses surrounding blanks and control
// characters, so a hand-edited " 0 " still reads as false.
class TMemIniFileTrimmed : public TMemIniFile {
public:
    using TMemIniFile::TMemIniFile;

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const override;
};

} // namespace TestFramework

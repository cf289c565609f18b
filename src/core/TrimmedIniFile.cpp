#include "core/TrimmedIniFile.h"

#include "platform/TextUtils.h"

namespace TestFramework {

std::string TMemIniFileTrimmed::ReadString(const std::string& section, const std::string& ident,
                                           const std::string& defaultValue) const
{
    return std::string(Sys::Trim(TMemIniFile::ReadString(section, ident, defaultValue)));
}

} // namespace TestFramework

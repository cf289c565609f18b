#pragma once
// A locale whose decimal separator is a comma, for checking that report numbers do not
// follow it.

#include "HostProcess.h"
#include "platform/Locale.h"
#include "platform/Process.h"

#include <string>

namespace ReportTestSupport {

// Sets an environment variable for the lifetime of the object (the locale formatters
// read the environment on every call).
class TEnvOverride {
public:
    TEnvOverride(std::string name, const std::string& value) : FName(std::move(name)), FOld(Sys::GetEnv(FName))
    {
        Sys::SetEnv(FName, value);
    }
    ~TEnvOverride() { Sys::SetEnv(FName, FOld); }
    TEnvOverride(const TEnvOverride&) = delete;
    TEnvOverride& operator=(const TEnvOverride&) = delete;

private:
    std::string FName, FOld;
};

// The locale of the comma checks. scripts/setup generates it; a machine without it fails
// these tests rather than skipping them, since a skipped check proves nothing there.
inline const char* CommaLocale = "de_DE.UTF-8";
inline const char* CommaLocaleMissing =
    "de_DE.UTF-8 is not generated on this machine (scripts/setup generates it)";

inline bool HasCommaLocale()
{
    TEnvOverride all("LC_ALL", CommaLocale);
    return Sys::DecimalSeparator() == ",";
}

} // namespace ReportTestSupport

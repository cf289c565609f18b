#pragma once
// A locale whose decimal separator is a comma, for checking that report numbers do not
// follow it. de_DE.UTF-8 is taken from the system when it is installed; otherwise it is
// compiled once with localedef into the build tree and found through LOCPATH, so the
// machine is never changed.

#include "HostProcess.h"
#include "platform/Locale.h"
#include "platform/Process.h"

#include <filesystem>
#include <optional>
#include <random>
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

struct TCommaLocale {
    std::string Name;    // for LC_ALL
    std::string LocPath; // for LOCPATH; empty for the system's own locales
};

inline const char* CommaLocaleSkipReason =
    "no locale with a decimal comma: de_DE.UTF-8 is neither installed nor buildable with localedef "
    "(Debian package locales)";

inline bool HasDecimalComma(const std::string& name, const std::string& locPath)
{
    std::optional<TEnvOverride> path;
    if (!locPath.empty())
        path.emplace("LOCPATH", locPath);
    TEnvOverride all("LC_ALL", name);
    return Sys::DecimalSeparator() == ",";
}

inline std::optional<TCommaLocale> FindCommaLocale()
{
    const std::string german = "de_DE.UTF-8";
    if (HasDecimalComma(german, ""))
        return TCommaLocale{german, ""};
    namespace fs = std::filesystem;
    const fs::path dir = WEXEL_LOCALE_DIR;
    if (!fs::exists(dir / german / "LC_NUMERIC")) {
        // Built beside its place and renamed into it, so that tests running at the same
        // time never see a half-built locale.
        fs::create_directories(dir);
        const fs::path staging = dir / (german + ".tmp" + std::to_string(std::random_device()()));
        try {
            TestSupport::RunProcess({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", staging.string()});
        } catch (const std::exception&) {
            // No localedef: the check below finds no locale.
        }
        std::error_code ec;
        fs::rename(staging, dir / german, ec);
        fs::remove_all(staging, ec);
    }
    if (HasDecimalComma(german, dir.string()))
        return TCommaLocale{german, dir.string()};
    return std::nullopt;
}

} // namespace ReportTestSupport

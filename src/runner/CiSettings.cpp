#include "runner/CiSettings.h"

#include "platform/Process.h"
#include "platform/SysUtils.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace WexelRunner {

namespace {

[[noreturn]] void Refuse(const char* variable, const std::string& what, const std::string& value)
{
    throw Sys::Exception(std::string(variable) + " must be " + what + ", not \"" + value + "\"");
}

// Decimal digits only: no sign, blank or exponent slips through as another number.
bool ParseCount(const std::string& text, std::size_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

TCiSettings ReadCiSettings()
{
    TCiSettings settings;
    const std::string exitOnFailure = Sys::GetEnv(ExitOnFailureVariable);
    if (exitOnFailure != "" && exitOnFailure != "0" && exitOnFailure != "1")
        Refuse(ExitOnFailureVariable, "0 or 1", exitOnFailure);
    settings.ExitOnFailure = exitOnFailure == "1";

    const std::string total = Sys::GetEnv(TotalShardsVariable);
    const std::string index = Sys::GetEnv(ShardIndexVariable);
    if (!total.empty() || !index.empty()) {
        if (!ParseCount(total, settings.Shard.Count) || settings.Shard.Count == 0)
            Refuse(TotalShardsVariable, "a whole number of shards, at least 1", total);
        if (!ParseCount(index, settings.Shard.Index) || settings.Shard.Index >= settings.Shard.Count)
            Refuse(ShardIndexVariable, "a whole number from 0 to " + std::to_string(settings.Shard.Count - 1) +
                                           " (" + TotalShardsVariable + " is " + total + ")",
                   index);
    }
    settings.ShardStatusFile = Sys::GetEnv(ShardStatusFileVariable);
    settings.TestOnly = Sys::GetEnv(TestOnlyVariable);
    return settings;
}

void TouchShardStatusFile(const std::string& path)
{
    if (path.empty())
        return;
    std::error_code error;
    // Opening for appending creates the file and leaves an existing one's bytes alone;
    // the time stamp is then set as touch sets it.
    bool made = static_cast<bool>(std::ofstream(path, std::ios::app));
    if (made)
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now(), error);
    if (!made || error)
        throw Sys::Exception(std::string("Cannot touch ") + ShardStatusFileVariable + " \"" + path + "\"" +
                             (error ? ": " + error.message() : std::string()));
}

} // namespace WexelRunner

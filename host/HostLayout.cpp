#include "host/HostLayout.h"

#include "bridge/HostPlatform.h"
#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace WexelHost {

namespace fs = std::filesystem;

const std::string& HostDir()
{
    static const std::string dir = [] {
        std::string file = Sys::ModuleFileName(reinterpret_cast<const void*>(&HostDir));
        auto slash = file.rfind(Sys::PathDelim);
        return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
    }();
    return dir;
}

const std::string& UserDir()
{
    static const std::string dir = HostDir() + "/../USER";
    return dir;
}

const std::string& SystemDir()
{
    static const std::string dir = HostDir() + "/../SYSTEM";
    return dir;
}

bool MatchesMask(const std::string& name, const std::string& mask) { return Sys::MatchesWildcards(mask, name); }

std::vector<std::string> ListLibraries(const std::string& mask, const std::string& baseDir)
{
    std::string dir = baseDir;
    std::string pattern = mask;
    auto slash = mask.rfind('/');
    if (slash != std::string::npos) {
        std::string part = mask.substr(0, slash);
        pattern = mask.substr(slash + 1);
        if (!mask.empty() && mask[0] == '/')
            dir = part.empty() ? std::string("/") : part;
        else
            dir = baseDir + "/" + part;
    }

    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw EHostError("The directory " + dir + " of the mask " + mask + " does not exist");

    std::vector<std::string> names;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string name = it->path().filename().string();
        if (MatchesMask(name, pattern))
            names.push_back(std::move(name));
    }
    if (ec)
        throw EHostError("Cannot list the directory " + dir + ": " + ec.message());
    std::sort(names.begin(), names.end());

    std::string prefix = dir.back() == '/' ? dir : dir + "/";
    for (std::string& name : names)
        name.insert(0, prefix);
    return names;
}

std::string FindLibrary(const std::string& name)
{
    if (name.empty())
        return {};
    std::error_code ec;
    std::vector<std::string> bases;
    if (name[0] == '/')
        bases.push_back(name);
    else
        bases = {SystemDir() + "/" + name, UserDir() + "/" + name};
    for (const std::string& base : bases) {
        for (const std::string& candidate : {base, base + ".qlx"}) {
            if (fs::is_regular_file(candidate, ec))
                return candidate;
        }
    }
    return {};
}

} // namespace WexelHost

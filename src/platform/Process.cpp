#include "platform/Process.h"

#include "platform/OsApi.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

namespace Sys {

namespace {

std::optional<std::vector<std::string>>& OverriddenArgs()
{
    static std::optional<std::vector<std::string>> args;
    return args;
}

std::vector<std::string> ProcessArgs()
{
    // /proc/self/cmdline holds argv as NUL-terminated strings; reading it lets the
    // runner library see the host's arguments without the host handing them over.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            args.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        args.push_back(std::move(current));
    return args;
}

int& ExitCodeVar()
{
    static int code = 0;
    return code;
}

} // namespace

std::string JoinCommandLine(const std::vector<std::string>& args)
{
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0)
            line += ' ';
        const std::string& arg = args[i];
        if (arg.empty() || arg.find(' ') != std::string::npos)
            line += '"' + arg + '"';
        else
            line += arg;
    }
    return line;
}

std::string CommandLine()
{
    if (OverriddenArgs())
        return JoinCommandLine(*OverriddenArgs());
    return JoinCommandLine(ProcessArgs());
}

void SetCommandLineArgs(std::vector<std::string> args) { OverriddenArgs() = std::move(args); }
void ResetCommandLineArgs() { OverriddenArgs().reset(); }

int ExitCode() { return ExitCodeVar(); }
void SetExitCode(int code) { ExitCodeVar() = code; }

void Halt(int code)
{
    FlushConsole();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::exit(code);
}

std::string ExeFileName()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n <= 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

std::string ExeDir()
{
    const std::string path = ExeFileName();
    if (path.empty())
        return ".";
    auto slash = path.rfind(PathDelim);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string ModuleFileName(const void* addressInModule)
{
    Dl_info info{};
    if (::dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string name = info.dli_fname;
    // The main program reports its name as it was started; make it a full path.
    if (info.dli_fbase == ModuleBase(reinterpret_cast<const void*>(&ExeDir)) &&
        name.find(PathDelim) == std::string::npos) {
        name = ExeFileName();
    }
    return name;
}

const void* ModuleBase(const void* addressInModule)
{
    Dl_info info{};
    if (::dladdr(addressInModule, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

std::string GetEnv(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

void SetEnv(const std::string& name, const std::string& value)
{
    ::setenv(name.c_str(), value.c_str(), 1);
}

void OpenClosedStdHandles()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open takes the lowest free descriptor, which is this one.
        int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0)
            ::close(opened);
    }
}

} // namespace Sys

#include "platform/Process.h"

#include "platform/OsApi.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdint>
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
        // Of --name=value only the value is quoted: a quoted word is a value, so quoting
        // the whole would turn the option into a positional argument.
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::size_t blank = arg.find(' ');
        if (equals != std::string::npos && blank != std::string::npos && equals < blank)
            line += arg.substr(0, equals + 1) + '"' + arg.substr(equals + 1) + '"';
        else if (arg.empty() || blank != std::string::npos)
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

void HaltWithoutCleanUp(int code)
{
    std::fflush(nullptr);
    ::_exit(code);
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

namespace {

// The children a stop must reach; a slot holds a pid or 0. More than this many at once
// are still started and waited for, only a stop no longer reaches the later ones.
constexpr std::size_t MaxChildren = 64;
std::atomic<int> Children[MaxChildren];

void ListChild(int pid)
{
    for (auto& slot : Children) {
        int none = 0;
        if (slot.compare_exchange_strong(none, pid))
            return;
    }
}

void UnlistChild(int pid)
{
    for (auto& slot : Children) {
        int listed = pid;
        if (slot.compare_exchange_strong(listed, 0))
            return;
    }
}

std::int64_t NowNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

int SpawnShell(const std::string& command, TChildPipe pipe, int* parentEnd)
{
    int ends[2] = {-1, -1};
    if (pipe != TChildPipe::None && ::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    const int childEnd = pipe == TChildPipe::FromChild ? ends[1] : ends[0];
    const int parentSide = pipe == TChildPipe::FromChild ? ends[0] : ends[1];

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipe != TChildPipe::None)
        posix_spawn_file_actions_adddup2(&actions, childEnd, pipe == TChildPipe::FromChild ? STDOUT_FILENO : STDIN_FILENO);

    std::string shell = "/bin/sh", dashC = "-c", line = command;
    char* argv[] = {shell.data(), dashC.data(), line.data(), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (pipe != TChildPipe::None)
        ::close(childEnd);
    if (error != 0) {
        if (pipe != TChildPipe::None)
            ::close(parentSide);
        errno = error;
        return -1;
    }
    ListChild(pid);
    if (parentEnd)
        *parentEnd = parentSide;
    return pid;
}

int WaitChild(int pid, bool (*stopped)())
{
    std::int64_t stoppedAt = 0;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, 0);
        if (done == pid) {
            UnlistChild(pid);
            return status;
        }
        if (done < 0 && errno != EINTR) {
            const int error = errno;
            UnlistChild(pid);
            errno = error;
            return -1;
        }
        if (stopped && stopped()) {
            const std::int64_t now = NowNanoseconds();
            if (stoppedAt == 0)
                stoppedAt = now;
            ::kill(-pid, now - stoppedAt < 500000000 ? SIGTERM : SIGKILL);
        }
    }
}

std::FILE* OpenPipeStream(int parentEnd, bool reading)
{
    std::FILE* stream = ::fdopen(parentEnd, reading ? "r" : "w");
    if (!stream) {
        const int error = errno;
        ::close(parentEnd);
        errno = error;
    }
    return stream;
}

void SignalChildGroups(int signal) noexcept
{
    for (auto& slot : Children)
        if (int pid = slot.load())
            ::kill(-pid, signal);
}

void OfferHugePages(void* block, std::size_t size) noexcept
{
    constexpr std::uintptr_t HugePage = 2 * 1024 * 1024;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + HugePage - 1) & ~(HugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(HugePage - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

} // namespace Sys

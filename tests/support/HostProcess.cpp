#include "HostProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace TestSupport {

namespace {

void ClosePipe(int fds[2])
{
    for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0)
            ::close(fds[i]);
}

} // namespace

TProcessResult RunProcess(const std::vector<std::string>& argv, const TProcessOptions& options)
{
    int out[2], err[2], in[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0 || ::pipe(in) != 0)
        throw std::runtime_error("pipe failed");

    // The child gets its working directory through a small shell-free trick: change
    // ours around the spawn. Tests run one at a time per process, so this is safe.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!options.Env.count(name))
            envStrings.push_back(entry);
    }
    for (const auto& [name, value] : options.Env)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        posix_spawn_file_actions_addclose(&actions, fd);

    std::filesystem::path oldDir = std::filesystem::current_path();
    if (!options.WorkDir.empty())
        std::filesystem::current_path(options.WorkDir);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), envp.data());
    if (!options.WorkDir.empty())
        std::filesystem::current_path(oldDir);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in[0] = out[1] = err[1] = -1;
    if (rc != 0) {
        ClosePipe(in);
        ClosePipe(out);
        ClosePipe(err);
        throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(rc));
    }

    std::size_t written = 0;
    if (options.Stdin.empty()) {
        ::close(in[1]);
        in[1] = -1;
    }
    TProcessResult result;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen || in[1] >= 0) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { fds[n] = {out[0], POLLIN, 0}; outIdx = n++; }
        if (errOpen) { fds[n] = {err[0], POLLIN, 0}; errIdx = n++; }
        if (in[1] >= 0) { fds[n] = {in[1], POLLOUT, 0}; inIdx = n++; }
        if (::poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buffer[65536];
        auto drain = [&](int idx, int fd, bool& open, std::string& sink) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR)))
                return;
            ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0)
                sink.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                open = false;
        };
        drain(outIdx, out[0], outOpen, result.Out);
        drain(errIdx, err[0], errOpen, result.Err);
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = ::write(in[1], options.Stdin.data() + written, options.Stdin.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            if (put < 0 || written == options.Stdin.size()) {
                ::close(in[1]);
                in[1] = -1;
            }
        }
    }
    ClosePipe(in);
    ClosePipe(out);
    ClosePipe(err);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    return result;
}

std::string StageDir() { return WEXEL_STAGE_DIR; }
std::string HostPath() { return StageDir() + "/EXE/wexel-host"; }

TProcessResult RunHost(const std::vector<std::string>& args, const TProcessOptions& options)
{
    std::vector<std::string> argv{HostPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

TTempDir::TTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "wexel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    // Tests may leave read-only directories behind; make them writable to remove them.
    for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << bytes;
}

} // namespace TestSupport

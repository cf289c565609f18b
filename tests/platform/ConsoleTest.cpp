#include "platform/Process.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

// Points descriptors 1 and 2 at one pipe (or, for more than a pipe holds, one file) for
// the life of the object, the way a terminal shows both streams.
class TConsolePipe {
public:
    explicit TConsolePipe(bool file = false)
    {
        Sys::FlushConsole();
        if (file) {
            FFile = std::tmpfile();
            FPipe[0] = ::dup(::fileno(FFile));
            FPipe[1] = ::dup(::fileno(FFile));
        } else {
            EXPECT_EQ(::pipe(FPipe), 0);
        }
        FOut = ::dup(STDOUT_FILENO);
        FErr = ::dup(STDERR_FILENO);
        ::dup2(FPipe[1], STDOUT_FILENO);
        ::dup2(FPipe[1], STDERR_FILENO);
    }
    ~TConsolePipe()
    {
        Sys::FlushConsole();
        ::dup2(FOut, STDOUT_FILENO);
        ::dup2(FErr, STDERR_FILENO);
        for (int fd : {FOut, FErr, FPipe[0], FPipe[1]})
            ::close(fd);
        if (FFile)
            std::fclose(FFile);
    }
    TConsolePipe(const TConsolePipe&) = delete;
    TConsolePipe& operator=(const TConsolePipe&) = delete;

    // What arrives within the time; stops at the first pause once something came.
    std::string Read(int milliseconds)
    {
        std::string text;
        if (FFile) {
            ::lseek(FPipe[0], 0, SEEK_SET);
            char buffer[65536];
            for (ssize_t n; (n = ::read(FPipe[0], buffer, sizeof buffer)) > 0;)
                text.append(buffer, static_cast<std::size_t>(n));
            return text;
        }
        pollfd p{FPipe[0], POLLIN, 0};
        while (::poll(&p, 1, text.empty() ? milliseconds : 20) > 0) {
            char buffer[65536];
            const ssize_t n = ::read(FPipe[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    std::FILE* FFile = nullptr;
    int FPipe[2] = {-1, -1};
    int FOut = -1;
    int FErr = -1;
};

} // namespace

TEST(Console, ProgressReachesTheDescriptorOnItsOwnWithoutAFlush)
{
    TConsolePipe pipe;
    const auto start = std::chrono::steady_clock::now();
    Sys::WriteRaw(Sys::TStdHandle::Output, ".");
    // The clock is 50 ms; a busy machine gets a generous margin, the point is that it comes.
    EXPECT_EQ(pipe.Read(5000), ".");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Console, StandardErrorAndLargeWritesKeepTheOrderOfTheCalls)
{
    TConsolePipe pipe(true);
    const std::string large(200000, 'x');
    Sys::WriteRaw(Sys::TStdHandle::Output, "..");
    Sys::WriteRaw(Sys::TStdHandle::Error, "Error: E\r\n");
    Sys::WriteRaw(Sys::TStdHandle::Output, ".");
    Sys::WriteRaw(Sys::TStdHandle::Output, large);
    Sys::WriteRaw(Sys::TStdHandle::Output, std::string_view("F\0", 2));
    Sys::FlushConsole();
    EXPECT_EQ(pipe.Read(1000), "..Error: E\r\n." + large + std::string("F\0", 2));
}

TEST(Console, TheSignalPathFlushWritesWhatIsHeldOnce)
{
    TConsolePipe pipe;
    Sys::WriteRaw(Sys::TStdHandle::Output, "held");
    Sys::FlushConsoleFromSignal();
    Sys::FlushConsole();
    EXPECT_EQ(pipe.Read(1000), "held");
}

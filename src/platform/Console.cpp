#include "platform/Process.h"

#include "platform/OsApi.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace Sys {

namespace {

// A write() per progress character was a third of a text run; standard output is gathered
// here instead and written when a person would notice the wait, when it is full, and
// whenever standard error is written (so a terminal that shows both keeps their order).
constexpr std::size_t Capacity = 64 * 1024;
constexpr auto FlushDelay = std::chrono::milliseconds(50);

// A console that has gone (a pager quit, "| head") takes its own output with it and
// nothing else: the run and its report files go on.
std::atomic<bool> Gone[3];

void WriteAll(int fd, const char* p, std::size_t left)
{
    if (Gone[fd].load())
        return;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE)
                Gone[fd] = true;
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

struct TConsole {
    std::mutex Lock;
    std::condition_variable Wake;
    // Written only under Lock; Length is atomic so that the stop path can take the bytes
    // without the lock.
    std::atomic<std::size_t> Length{0};
    std::chrono::steady_clock::time_point FirstPending;
    bool FlusherRunning = false;
    // Set once the exit-time flush has run: whatever static destructors write after it
    // goes out at once.
    bool Exiting = false;
    char Data[Capacity];

    // Taking the length first means a stop-path flush that interrupts this one finds
    // nothing left and cannot write the bytes twice.
    void FlushLocked()
    {
        if (const std::size_t n = Length.exchange(0))
            WriteAll(STDOUT_FILENO, Data, n);
    }

    // Writes what has waited FlushDelay, so that progress stays visible during a long test.
    [[noreturn]] void Flusher()
    {
        std::unique_lock<std::mutex> lock(Lock);
        for (;;) {
            Wake.wait(lock, [this] { return Length.load() > 0; });
            while (Length.load() > 0 && std::chrono::steady_clock::now() < FirstPending + FlushDelay)
                Wake.wait_until(lock, FirstPending + FlushDelay);
            FlushLocked();
        }
    }
};

std::atomic<TConsole*> ConsoleInstance{nullptr};

// Made once and never destroyed: the flusher thread and exit-time flushes may still use it
// while static objects are torn down.
TConsole& Console()
{
    static TConsole* console = [] {
        auto* made = new TConsole;
        ConsoleInstance = made;
        std::atexit([] {
            TConsole& console = *ConsoleInstance.load();
            std::lock_guard<std::mutex> lock(console.Lock);
            console.Exiting = true;
            console.FlushLocked();
        });
        return made;
    }();
    return *console;
}

} // namespace

void WriteRaw(TStdHandle handle, std::string_view bytes)
{
    TConsole& console = Console();
    std::lock_guard<std::mutex> lock(console.Lock);
    if (handle == TStdHandle::Error || console.Exiting) {
        console.FlushLocked();
        WriteAll(handle == TStdHandle::Error ? STDERR_FILENO : STDOUT_FILENO, bytes.data(), bytes.size());
        return;
    }
    const std::size_t length = console.Length.load();
    if (length + bytes.size() > Capacity) {
        console.FlushLocked();
        if (bytes.size() >= Capacity) {
            WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
            return;
        }
    }
    const std::size_t at = console.Length.load();
    std::memcpy(console.Data + at, bytes.data(), bytes.size());
    console.Length.store(at + bytes.size());
    if (at == 0 && !bytes.empty()) {
        console.FirstPending = std::chrono::steady_clock::now();
        if (!console.FlusherRunning) {
            console.FlusherRunning = true;
            // Started with every signal blocked: a stop or a signal sent to the process
            // must reach the thread that runs the scripts, never this one.
            sigset_t all, before;
            sigfillset(&all);
            ::pthread_sigmask(SIG_SETMASK, &all, &before);
            std::thread([&console] { console.Flusher(); }).detach();
            ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        }
        console.Wake.notify_one();
    }
}

void FlushConsole()
{
    TConsole* console = ConsoleInstance.load();
    if (!console)
        return;
    std::lock_guard<std::mutex> lock(console->Lock);
    console->FlushLocked();
}

void FlushConsoleFromSignal()
{
    TConsole* console = ConsoleInstance.load();
    if (!console)
        return;
    if (const std::size_t n = console->Length.exchange(0))
        WriteAll(STDOUT_FILENO, console->Data, n);
}

} // namespace Sys

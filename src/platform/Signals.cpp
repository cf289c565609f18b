#include "platform/Signals.h"

#include "platform/OsApi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include <pthread.h>

namespace Sys {

namespace {

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<TSignalAction>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

std::atomic<int> CaughtSignal{0};
std::atomic<TSignalAction> FirstAction{nullptr};
std::atomic<void (*)()> DeadlineAction{nullptr};
std::atomic<std::int64_t> Deadline{0}; // CLOCK_MONOTONIC nanoseconds; 0 for none
std::atomic<bool> TimerArmed{false};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);
struct sigaction Previous[std::size(StopSignals)];
// The thread that runs the scripts: the one that caught the signals or set a deadline.
std::atomic<pthread_t> ScriptThread{};
std::atomic<bool> ScriptThreadKnown{false};
static_assert(std::atomic<pthread_t>::is_always_lock_free);

void SetScriptThread()
{
    ScriptThread = ::pthread_self();
    ScriptThreadKnown = true;
}

// The kernel hands a process's signal to any thread that does not block it, and a GUI
// toolkit runs threads of its own; the actions set a Lua hook, which is only safe on the
// thread running Lua, so a signal taken elsewhere goes on to that thread and is handled
// there alone.
bool ForwardedToScriptThread(int signal)
{
    if (!ScriptThreadKnown.load() || ::pthread_equal(::pthread_self(), ScriptThread.load()))
        return false;
    const int savedErrno = errno;
    ::pthread_kill(ScriptThread.load(), signal);
    errno = savedErrno;
    return true;
}

void OnStopSignal(int signal)
{
    if (ForwardedToScriptThread(signal))
        return;
    int none = 0;
    if (!CaughtSignal.compare_exchange_strong(none, signal)) {
        // The user insists: no more clean-up, end the way the signal itself would.
        for (int s : StopSignals)
            ::signal(s, SIG_DFL);
        ::raise(signal);
        return;
    }
    if (TSignalAction action = FirstAction.load())
        action(signal);
}

std::int64_t MonotonicNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SetTimer(std::int64_t nanoseconds)
{
    itimerval timer{};
    // At least a microsecond: zero would disarm the timer.
    nanoseconds = std::max<std::int64_t>(nanoseconds, 1000);
    timer.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(nanoseconds % 1000000000 / 1000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void OnAlarm(int signal)
{
    if (ForwardedToScriptThread(signal))
        return;
    const std::int64_t deadline = Deadline.load();
    if (deadline == 0) {
        TimerArmed = false;
        return;
    }
    const std::int64_t now = MonotonicNow();
    if (now < deadline) {
        SetTimer(deadline - now);
        return;
    }
    Deadline = 0;
    TimerArmed = false;
    if (auto action = DeadlineAction.load())
        action();
}

} // namespace

TStopSignals::TStopSignals(TSignalAction onFirst)
{
    CaughtSignal = 0;
    FirstAction = onFirst;
    SetScriptThread();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A caught signal must not make the console or report writes fail half-way.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(StopSignals); ++i) {
        ::sigaction(StopSignals[i], nullptr, &Previous[i]);
        // A signal ignored from the start stays ignored: under nohup, or started in the
        // background by a shell, the user asked for the run to outlive a hangup or ^C.
        if (Previous[i].sa_handler != SIG_IGN)
            ::sigaction(StopSignals[i], &action, nullptr);
    }
}

TStopSignals::~TStopSignals()
{
    for (std::size_t i = 0; i < std::size(StopSignals); ++i)
        ::sigaction(StopSignals[i], &Previous[i], nullptr);
    FirstAction = nullptr;
}

int StopSignal() { return CaughtSignal.load(); }

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGALRM:
        return "SIGALRM";
    default:
        return "another signal";
    }
}

void StartDeadline(double seconds, void (*onExpire)())
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnAlarm;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGALRM, &action, nullptr) == 0;
    }();
    (void)installed;
    const auto nanoseconds = static_cast<std::int64_t>(std::min(seconds, 1e9) * 1e9);
    SetScriptThread();
    DeadlineAction = onExpire;
    Deadline = MonotonicNow() + nanoseconds;
    if (!TimerArmed.exchange(true))
        SetTimer(nanoseconds);
}

void EndDeadline() { Deadline = 0; }

} // namespace Sys

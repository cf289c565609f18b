#include "platform/Signals.h"

#include "platform/OsApi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

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
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
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

namespace {

// Ignored by default, so that a poke arriving after its handler is gone does nothing.
constexpr int PokeSignal = SIGURG;
constexpr int FatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

sigjmp_buf CallJump;
std::atomic<bool> CallActive{false}; // the jump target is valid
std::atomic<pid_t> CallThread{0};
std::atomic<std::int64_t> CallStoppedAt{0}; // CLOCK_MONOTONIC nanoseconds; 0: not stopped
std::atomic<void (*)()> PokeAction{nullptr};
std::atomic<bool> PokeArmed{false};
std::atomic<int> AbandonedBy{0}; // -1: not stopped in time; a signal: crashed
std::atomic<int> CaughtFatal{0};
std::atomic<bool> CallPaused{false};
timer_t PokeTimer{};
pid_t PokeTimerThread = 0;

pid_t ThisThread() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void SetPokeTimer(std::int64_t first, std::int64_t interval)
{
    itimerspec timing{};
    timing.it_value.tv_sec = static_cast<time_t>(first / 1000000000);
    timing.it_value.tv_nsec = static_cast<long>(first % 1000000000);
    timing.it_interval.tv_sec = static_cast<time_t>(interval / 1000000000);
    timing.it_interval.tv_nsec = static_cast<long>(interval % 1000000000);
    ::timer_settime(PokeTimer, 0, &timing, nullptr);
}

[[noreturn]] void Abandon(int cause)
{
    AbandonedBy = cause;
    CallActive = false;
    ::siglongjmp(CallJump, 1);
}

void OnPoke(int)
{
    const int savedErrno = errno;
    if (CallActive.load() && CallThread.load() == ThisThread()) {
        if (auto action = PokeAction.load())
            action();
        const std::int64_t stopped = CallStoppedAt.load();
        if (stopped != 0 && !CallPaused.load() && MonotonicNow() - stopped >= static_cast<std::int64_t>(GiveUpSeconds * 1e9))
            Abandon(-1);
    }
    errno = savedErrno;
}

void WriteSignalLine(const char* before, int signal, const char* after)
{
    const char* name = SignalName(signal);
    for (const char* part : {before, name, after})
        if (::write(STDERR_FILENO, part, std::char_traits<char>::length(part)) < 0)
            return;
}

void OnFatal(int signal)
{
    if (CallActive.load() && !CallPaused.load() && CallThread.load() == ThisThread()) {
        CaughtFatal = signal;
        Abandon(signal);
    }
    // Not in a script: the runner itself is broken; say so in one line and end the way
    // the signal would, so that a core dump is still there to look at.
    WriteSignalLine("Error: ", signal, " outside any script call\r\n");
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Once per process: the handlers. Once per calling thread: the poke timer aimed at it
// and a stack for the fatal handler, which must run when the script overflowed its own.
void PrepareScriptCalls(pid_t self)
{
    static const bool handlers = [] {
        struct sigaction action {};
        sigemptyset(&action.sa_mask);
        action.sa_handler = OnPoke;
        action.sa_flags = 0; // no SA_RESTART: the point of the poke
        ::sigaction(PokeSignal, &action, nullptr);
        action.sa_handler = OnFatal;
        action.sa_flags = SA_ONSTACK | SA_NODEFER;
        for (int signal : FatalSignals)
            ::sigaction(signal, &action, nullptr);
        return true;
    }();
    (void)handlers;
    if (PokeTimerThread == self)
        return;
    if (PokeTimerThread != 0)
        ::timer_delete(PokeTimer);
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = PokeSignal;
    event._sigev_un._tid = self;
    if (::timer_create(CLOCK_MONOTONIC, &event, &PokeTimer) == 0)
        PokeTimerThread = self;
    // Kept for the life of the process: a signal may still come while it ends.
    static thread_local char* altStack = nullptr;
    if (!altStack) {
        constexpr std::size_t size = 256 * 1024;
        altStack = new char[size];
        stack_t stack{};
        stack.ss_sp = altStack;
        stack.ss_size = size;
        ::sigaltstack(&stack, nullptr);
    }
}

void EndPokes()
{
    if (PokeArmed.exchange(false))
        SetPokeTimer(0, 0);
}

void FinishCall()
{
    CallActive = false;
    CallPaused = false;
    EndPokes();
    CallStoppedAt = 0;
}

} // namespace

TScriptCallEnd RunScriptCall(void (*body)(void*), void* arg, void (*onPoke)())
{
    if (CallActive.load()) {
        body(arg);
        return TScriptCallEnd::Returned;
    }
    // Asked once per thread: a system call a test would show in a profile.
    static thread_local const pid_t self = ThisThread();
    PrepareScriptCalls(self);
    PokeAction = onPoke;
    CallStoppedAt = 0;
    AbandonedBy = 0;
    CallThread = self;
    if (sigsetjmp(CallJump, 0) != 0) {
        // The handler that jumped here left its signal blocked.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, PokeSignal);
        for (int signal : FatalSignals)
            sigaddset(&set, signal);
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        FinishCall();
        return AbandonedBy.load() == -1 ? TScriptCallEnd::NotStopped : TScriptCallEnd::Crashed;
    }
    CallActive = true;
    try {
        body(arg);
    } catch (...) {
        FinishCall();
        throw;
    }
    FinishCall();
    return TScriptCallEnd::Returned;
}

void StopScriptCall() noexcept
{
    if (!CallActive.load())
        return;
    std::int64_t none = 0;
    if (!CallStoppedAt.compare_exchange_strong(none, MonotonicNow()))
        return;
    PokeArmed = true;
    SetPokeTimer(1000000, static_cast<std::int64_t>(PokeInterval * 1e9));
}

void PauseScriptCall(bool paused) noexcept
{
    if (!CallActive.load())
        return;
    CallPaused = paused;
    if (!paused && CallStoppedAt.load() != 0)
        CallStoppedAt = MonotonicNow();
}

bool ScriptCallStopped() noexcept { return CallActive.load() && CallStoppedAt.load() != 0; }

int FatalSignal() { return CaughtFatal.load(); }

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

} // namespace Sys

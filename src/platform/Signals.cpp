#include "platform/Signals.h"

#include "platform/OsApi.h"

#include <atomic>
#include <cmath>

namespace Sys {

namespace {

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<TSignalAction>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

std::atomic<int> CaughtSignal{0};
std::atomic<TSignalAction> FirstAction{nullptr};
std::atomic<void (*)()> AlarmAction{nullptr};
struct sigaction Previous[std::size(StopSignals)];

void OnStopSignal(int signal)
{
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

void OnAlarm(int)
{
    if (auto action = AlarmAction.exchange(nullptr))
        action();
}

void SetTimer(double seconds)
{
    itimerval timer{};
    if (seconds > 0) {
        double whole = 0;
        double fraction = std::modf(seconds, &whole);
        timer.it_value.tv_sec = static_cast<time_t>(whole);
        timer.it_value.tv_usec = static_cast<suseconds_t>(fraction * 1e6);
        if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0)
            timer.it_value.tv_usec = 1; // zero would mean "no alarm"
    }
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

} // namespace

TStopSignals::TStopSignals(TSignalAction onFirst)
{
    CaughtSignal = 0;
    FirstAction = onFirst;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A caught signal must not make the console or report writes fail half-way.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(StopSignals); ++i)
        ::sigaction(StopSignals[i], &action, &Previous[i]);
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

void StartAlarm(double seconds, void (*onExpire)())
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnAlarm;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGALRM, &action, nullptr) == 0;
    }();
    (void)installed;
    AlarmAction = onExpire;
    SetTimer(seconds);
}

void CancelAlarm()
{
    AlarmAction = nullptr;
    SetTimer(0);
}

} // namespace Sys

// Stop signals and deadlines, raised in this very process.

#include "platform/Signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t Seen = 0;
void Remember(int signal) { Seen = signal; }

volatile std::sig_atomic_t Alarms = 0;
void CountAlarm() { Alarms = Alarms + 1; }

} // namespace

TEST(StopSignals, TheFirstSignalIsRememberedAndTheEarlierHandlerComesBack)
{
    std::signal(SIGTERM, [](int) {});
    {
        Seen = 0;
        Sys::TStopSignals signals(Remember);
        EXPECT_EQ(Sys::StopSignal(), 0);
        std::raise(SIGTERM);
        EXPECT_EQ(Seen, SIGTERM);
        EXPECT_EQ(Sys::StopSignal(), SIGTERM);
        EXPECT_STREQ(Sys::SignalName(Sys::StopSignal()), "SIGTERM");
    }
    Seen = 0;
    std::raise(SIGTERM);
    EXPECT_EQ(Seen, 0) << "the earlier handler is back";
    std::signal(SIGTERM, SIG_DFL);
    Sys::TStopSignals again(Remember);
    EXPECT_EQ(Sys::StopSignal(), 0) << "a new run starts without the last one's signal";
}

TEST(StopSignals, ASignalIgnoredFromTheStartStaysIgnored)
{
    std::signal(SIGHUP, SIG_IGN);
    {
        Sys::TStopSignals signals(Remember);
        std::raise(SIGHUP); // as under nohup: must neither stop the run nor end the process
        EXPECT_EQ(Sys::StopSignal(), 0);
    }
    std::signal(SIGHUP, SIG_DFL);
}

TEST(StopSignals, ASecondSignalEndsTheProcessAtOnce)
{
    EXPECT_EXIT(
        {
            Sys::TStopSignals signals(Remember);
            std::raise(SIGINT);
            std::raise(SIGINT);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

TEST(Deadline, FiresOnceWhenItPassesAndNotAfterItEnded)
{
    Alarms = 0;
    Sys::StartDeadline(0.05, CountAlarm);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Alarms, 1);

    // Short calls one after another, each ended in time, while the timer that the first
    // one armed is still running: none of them expires.
    for (int i = 0; i < 4; ++i) {
        Sys::StartDeadline(0.08, CountAlarm);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Sys::EndDeadline();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Alarms, 1);

    // A deadline started while an earlier timer is pending is met at its own time.
    Sys::StartDeadline(0.05, CountAlarm);
    Sys::EndDeadline();
    Sys::StartDeadline(0.1, CountAlarm);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(Alarms, 1) << "not at the first timer's time";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Alarms, 2);
}

// A window runs threads of its own; the action may set a Lua hook, so it must run on the
// thread that runs the scripts, whichever thread the signal reached.
TEST(StopSignals, ASignalTakenOnAnotherThreadIsHandledOnTheScriptThread)
{
    static std::atomic<pthread_t> handledOn{};
    Sys::TStopSignals signals([](int) { handledOn = ::pthread_self(); });
    std::thread([] { ::pthread_kill(::pthread_self(), SIGHUP); }).join();
    for (int i = 0; i < 100 && Sys::StopSignal() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Sys::StopSignal(), SIGHUP);
    EXPECT_TRUE(::pthread_equal(handledOn.load(), ::pthread_self()));
}

namespace {

int PipeEnds[2];
int Pokes = 0;
void CountPoke() { ++Pokes; }

} // namespace

TEST(ScriptCall, AStopInterruptsABlockedReadAndAHangIsGivenUp)
{
    // A read on a pipe that never delivers returns EINTR once the call is stopped.
    ASSERT_EQ(::pipe(PipeEnds), 0);
    Pokes = 0;
    auto blocked = [](void*) {
        Sys::StopScriptCall();
        char c;
        EXPECT_EQ(::read(PipeEnds[0], &c, 1), -1);
        EXPECT_EQ(errno, EINTR);
        EXPECT_TRUE(Sys::ScriptCallStopped());
    };
    EXPECT_EQ(Sys::RunScriptCall(blocked, nullptr, CountPoke), Sys::TScriptCallEnd::Returned);
    EXPECT_GE(Pokes, 1);
    EXPECT_FALSE(Sys::ScriptCallStopped());

    // A call that goes on after its stop is abandoned after the grace time.
    const auto start = std::chrono::steady_clock::now();
    auto hangs = [](void*) {
        Sys::StopScriptCall();
        for (;;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    EXPECT_EQ(Sys::RunScriptCall(hangs, nullptr, CountPoke), Sys::TScriptCallEnd::NotStopped);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, Sys::GiveUpSeconds);
    EXPECT_LT(seconds, Sys::GiveUpSeconds + 0.5);
    ::close(PipeEnds[0]);
    ::close(PipeEnds[1]);

    // An exception of the body passes on and leaves no call running.
    auto throws = [](void*) { throw std::runtime_error("body"); };
    EXPECT_THROW(Sys::RunScriptCall(throws, nullptr, nullptr), std::runtime_error);
    EXPECT_EQ(Sys::RunScriptCall([](void*) {}, nullptr, nullptr), Sys::TScriptCallEnd::Returned);
}

TEST(ScriptCall, ACrashInsideIsReportedAndOutsideEndsTheProcessWithALine)
{
    EXPECT_EQ(Sys::RunScriptCall([](void*) { std::raise(SIGFPE); }, nullptr, nullptr), Sys::TScriptCallEnd::Crashed);
    EXPECT_EQ(Sys::FatalSignal(), SIGFPE);
    // The handlers are still in place for the next call.
    EXPECT_EQ(Sys::RunScriptCall([](void*) { std::raise(SIGSEGV); }, nullptr, nullptr), Sys::TScriptCallEnd::Crashed);
    EXPECT_EQ(Sys::FatalSignal(), SIGSEGV);
    EXPECT_EXIT(std::raise(SIGBUS), ::testing::KilledBySignal(SIGBUS), "Error: SIGBUS outside any script call");
}

#pragma once
// The signals a run answers: the stop signals a user or a CI server sends (SIGINT,
// SIGTERM, SIGHUP) and the alarm behind time limits. Their actions run inside a
// signal handler, so they may only do what is safe there: set flags, set a Lua hook.
// They run only on the thread that runs the scripts (the one that made the last
// TStopSignals or started the last deadline): a signal another thread takes is passed
// on to it.

namespace Sys {

using TSignalAction = void (*)(int signal);

// Catches the stop signals while it exists and restores the earlier handlers after; a
// signal that the process ignored when it was made stays ignored.
// The first stop signal calls the action and is remembered; a second one ends the
// process at once, as the signal's default would.
class TStopSignals {
public:
    explicit TStopSignals(TSignalAction onFirst);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;
};

// The first stop signal caught since the last TStopSignals was made; 0 for none.
int StopSignal();

// "SIGINT", "SIGTERM", "SIGHUP", "SIGALRM", "SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL",
// "SIGABRT" or "another signal"; never freed.
const char* SignalName(int signal);

// A deadline for one call at a time: onExpire runs once when a deadline passes before
// EndDeadline. Starting one replaces the one before. Cheap enough for every test: the
// timer is armed only when none is, and its handler re-arms it for a deadline that has
// moved on, so that calls shorter than the limit make no system call.
void StartDeadline(double seconds, void (*onExpire)());
void EndDeadline();

// The running script call. The stop signals and the alarm keep SA_RESTART, so that a
// signal never makes a report write fail half-way; setting them without it for each call
// would cost eight system calls a test. Instead, a stopped call is poked with a signal of
// its own that has no SA_RESTART, at once and every PokeInterval until it returns: a
// read, a wait or an open that the script is blocked in then fails with EINTR, and the
// script meets its stop.
//
// RunScriptCall runs body(arg) as that call, on the calling thread. The call is
// abandoned, and RunScriptCall returns at once by a jump over every frame in between,
// when it has not returned GiveUpSeconds after StopScriptCall (a loop in C code or in a
// finalizer, where no hook runs), or when it raises SIGSEGV, SIGBUS, SIGFPE, SIGILL or
// SIGABRT. What it was working on must then never be touched again, and the frames
// that body leaves between it and the script must hold nothing that needs a destructor.
// An exception from body passes on. A call made inside a running one is just run.
enum class TScriptCallEnd { Returned, NotStopped, Crashed };
inline constexpr double GiveUpSeconds = 2;
inline constexpr double PokeInterval = 0.05;
// onPoke runs in the poke's handler, on the call's thread, every time it is poked.
TScriptCallEnd RunScriptCall(void (*body)(void*), void* arg, void (*onPoke)());
// Safe in a signal handler. Starts the give-up clock and the pokes of the running call;
// nothing when no call runs or it was stopped already.
void StopScriptCall() noexcept;
// While paused, the running call has handed the thread to code of its caller's (a window
// handling its events from inside a hook): the give-up clock does not count, and a crash
// there is not the script's. Resuming restarts the clock of a stopped call.
void PauseScriptCall(bool paused) noexcept;
// Whether the running call has been stopped (false when none runs).
bool ScriptCallStopped() noexcept;
// The signal that abandoned the last crashed call; 0 when none did. The host exits with
// 128 plus it.
int FatalSignal();

// Writes to a pipe whose reader has gone fail with EPIPE instead of ending the process.
// Children started through SpawnShell get the default action back.
void IgnoreBrokenPipes();

} // namespace Sys

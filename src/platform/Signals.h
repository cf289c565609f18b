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

// "SIGINT", "SIGTERM", "SIGHUP", "SIGALRM" or "another signal"; never freed.
const char* SignalName(int signal);

// A deadline for one call at a time: onExpire runs once when a deadline passes before
// EndDeadline. Starting one replaces the one before. Cheap enough for every test: the
// timer is armed only when none is, and its handler re-arms it for a deadline that has
// moved on, so that calls shorter than the limit make no system call.
void StartDeadline(double seconds, void (*onExpire)());
void EndDeadline();

} // namespace Sys

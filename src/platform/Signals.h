#pragma once
// The signals a run answers: the stop signals a user or a CI server sends (SIGINT,
// SIGTERM, SIGHUP) and a one-shot alarm for time limits. Their actions run inside a
// signal handler, so they may only do what is safe there: set flags, set a Lua hook.

namespace Sys {

using TSignalAction = void (*)(int signal);

// Catches the stop signals while it exists and restores the earlier handlers after.
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

// Calls onExpire once after the given seconds unless cancelled first. One alarm at a
// time: starting one replaces the one before.
void StartAlarm(double seconds, void (*onExpire)());
void CancelAlarm();

} // namespace Sys

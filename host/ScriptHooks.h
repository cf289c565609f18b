#pragma once
// The host's one Lua hook. Lua keeps one hook per thread, and three parties want it:
// stops from outside (a stop signal, a time limit), a line counter of the host's own (for
// coverage) and the script's own hook from debug.sethook. Every thread therefore gets the
// same dispatcher, which serves them in that order, with the union of their event masks;
// debug.sethook and debug.gethook are replaced so that a script sets and sees only its
// own part, and can never take away a stop.
//
// The window's pulse comes between the stop and the line counter: a timer signal asks for
// it, the dispatcher makes the call on the script's own thread, and a stop asked for there
// takes effect as the pulse returns.
//
// Stops reach every thread: the threads running when a stop comes (the call's main
// thread and every coroutine resumed inside it) get the stop at once, and any coroutine
// resumed while the stop is pending gets it before it runs.

#include <string>

struct lua_State;
struct lua_Debug;

namespace WexelHost {

// Called for every line event of every script thread, inside the hook: it must not raise
// a Lua error or throw.
using TLineCounter = void (*)(lua_State* L, lua_Debug* ar);

// Registers the line counter (nullptr removes it). Call it between external calls; it
// takes effect for every thread from the next external call on.
void SetLineCounter(TLineCounter counter) noexcept;
TLineCounter GetLineCounter() noexcept;

namespace ScriptHooks {

// Replaces debug.sethook, debug.gethook, coroutine.resume and coroutine.wrap in a fresh
// state. Runs inside a protected call.
void Install(lua_State* L);

// Marks L as the thread of the running external call and puts a pending stop in force
// on it; EndCall undoes it and gives every hooked thread back the hook it wants.
void BeginCall(lua_State* L);
void EndCall(lua_State* L);

// Stops the running call: its threads raise at their next instruction, processes it
// started are sent SIGTERM, a blocked system call is interrupted, and the give-up clock
// starts. Safe in a signal handler.
void StopRunning() noexcept;

// Stops from outside. StopCause is sticky (every later call is stopped at once) until
// ClearStopCause; the time limit counts for the current call only.
void SetStopCause(const char* cause) noexcept;
void ClearStopCause() noexcept;
const char* StopCause() noexcept;
void StartTimeLimit(double seconds);
void EndTimeLimit();
bool TimeLimitPassed() noexcept;
// Whether a time limit runs now.
bool TimeLimitActive() noexcept;
// Gives thread L the hook it needs now (after a time limit of its own ended).
void Refresh(lua_State* L) noexcept;
// The seconds of the time limit started last.
double TimeLimitSeconds() noexcept;
// Whether the running code is being stopped and must not go on.
bool StopInForce() noexcept;

// Stops the running call alone (later calls run as usual); UserStopped says so until the
// next call begins. Not for a signal handler: it runs on the script's thread.
void StopCall() noexcept;
bool UserStopped() noexcept;

// While pulse is set, a timer on the calling thread asks every interval for a call of
// pulse(context) from inside the running script call; nullptr removes it and stops the
// timer. Between calls the timer asks nothing.
using TPulse = void (*)(void* context);
void SetPulse(TPulse pulse, void* context, double intervalSeconds);

// The text of a number of seconds as the time-limit messages show it ("0.5", "30").
std::string SecondsText(double seconds);

} // namespace ScriptHooks

} // namespace WexelHost

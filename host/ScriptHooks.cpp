#include "host/ScriptHooks.h"

#include "bridge/HostPlatform.h"

#include "platform/Process.h"
#include "platform/Signals.h"

#include <lua.hpp>

#include <atomic>
#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstddef>
#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

// A signal handler may only set flags and hooks (lua_sethook is safe there, as the
// stand-alone interpreter relies on); everything that needs the state's tables happens
// on the script's own thread: at a call's start and end, in debug.sethook and before a
// resume.

namespace WexelHost {

namespace {

std::atomic<TLineCounter> LineCounter{nullptr};

std::atomic<const char*> Cause{nullptr}; // sticky: every later call is stopped too
std::atomic<bool> LimitPassed{false};     // the current call only
std::atomic<bool> CallStopped{false};     // the current call only, stopped by StopCall
std::atomic<bool> CallRunning{false};
double LimitSeconds = 0;
bool LimitActive = false;

// The threads running now, outermost first: the call's main thread, then each coroutine
// resumed inside it. Lua bounds the nesting of resumes by its C stack (200 levels).
constexpr int MaxRunning = 256;
std::atomic<lua_State*> Running[MaxRunning];
std::atomic<int> RunningCount{0};

constexpr int StopMask = LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT;

// Registry key of the table of the scripts' own hooks: thread -> {function, mask, count}.
// Weak keys, so that a hook does not keep a finished coroutine alive.
char ScriptHooksKey;
// Whether any script hook was ever set in this process; until then no lookup is needed.
std::atomic<bool> AnyScriptHook{false};

void Dispatch(lua_State* L, lua_Debug* ar);

void SetStopHook(lua_State* L) noexcept { lua_sethook(L, Dispatch, StopMask, 1); }

// The script's own hook of thread T: pushes its entry table, or nothing and false. Uses
// L's stack (T may be suspended); raises nothing.
bool PushScriptHook(lua_State* L, lua_State* T)
{
    if (!AnyScriptHook.load())
        return false;
    lua_rawgetp(L, LUA_REGISTRYINDEX, &ScriptHooksKey);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return false;
    }
    lua_pushthread(T); // onto T's own stack
    lua_xmove(T, L, 1);
    if (lua_rawget(L, -2) != LUA_TTABLE) {
        lua_pop(L, 2);
        return false;
    }
    lua_remove(L, -2);
    return true;
}

int EntryInteger(lua_State* L, int index)
{
    lua_rawgeti(L, -1, index);
    const int value = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return value;
}

// Gives thread T the hook it needs now: the script's own events, line events for the
// line counter, and every event when a stop is in force.
void Apply(lua_State* L, lua_State* T) noexcept
{
    int mask = 0;
    int count = 0;
    if (PushScriptHook(L, T)) {
        mask = EntryInteger(L, 2);
        count = EntryInteger(L, 3);
        lua_pop(L, 1);
    }
    if (LineCounter.load())
        mask |= LUA_MASKLINE;
    const bool stopping = ScriptHooks::StopInForce();
    if (stopping)
        lua_sethook(T, Dispatch, mask | StopMask, 1);
    else
        lua_sethook(T, mask ? Dispatch : nullptr, mask, count);
    // A stop that came while the hook was being set must not be overwritten.
    if (!stopping && ScriptHooks::StopInForce())
        SetStopHook(T);
}

void CallScriptHook(lua_State* L, lua_Debug* ar)
{
    static const char* const EventNames[] = {"call", "return", "line", "count", "tail call"};
    static const int EventMasks[] = {LUA_MASKCALL, LUA_MASKRET, LUA_MASKLINE, LUA_MASKCOUNT, LUA_MASKCALL};
    if (ar->event < 0 || ar->event > LUA_HOOKTAILCALL || !PushScriptHook(L, L))
        return;
    if ((EntryInteger(L, 2) & EventMasks[ar->event]) == 0) {
        lua_pop(L, 1);
        return;
    }
    lua_rawgeti(L, -1, 1);
    lua_remove(L, -2);
    lua_pushstring(L, EventNames[ar->event]);
    if (ar->currentline >= 0)
        lua_pushinteger(L, ar->currentline);
    else
        lua_pushnil(L);
    lua_call(L, 2, 0);
}

// The pulse: set while a run in a window goes. PulseDue is raised by the timer's handler,
// which also gives the innermost running thread a count hook of every instruction; the
// dispatcher takes the pulse there, on the script's own thread, and gives the thread its
// own hook back.
std::atomic<ScriptHooks::TPulse> Pulse{nullptr};
std::atomic<void*> PulseContext{nullptr};
std::atomic<bool> PulseDue{false};
std::atomic<bool> InPulse{false}; // read by the timer's handler too

void RaiseStop(lua_State* L)
{
    // The hook stays set, so a script that catches this meets it again at once.
    lua_pushliteral(L, "the procedure was stopped");
    lua_error(L);
}

void TakePulse(lua_State* L) noexcept
{
    // Back to the hook the thread wants, so that the pulse costs nothing until the next.
    Apply(L, L);
    ScriptHooks::TPulse pulse = Pulse.load();
    if (!pulse || InPulse)
        return;
    InPulse = true;
    // The window may wait in a menu or a dialog for a while: the call is not running,
    // so its give-up clock must not count that time.
    Sys::PauseScriptCall(true);
    pulse(PulseContext.load());
    Sys::PauseScriptCall(false);
    InPulse = false;
}

void Dispatch(lua_State* L, lua_Debug* ar)
{
    if (ScriptHooks::StopInForce())
        return RaiseStop(L);
    if (PulseDue.load() && PulseDue.exchange(false)) {
        TakePulse(L);
        if (ScriptHooks::StopInForce())
            return RaiseStop(L);
        // The event came for the pulse alone; a script's own count hook has not had
        // its count yet.
        if (ar->event == LUA_HOOKCOUNT)
            return;
    }
    if (ar->event == LUA_HOOKLINE)
        if (TLineCounter counter = LineCounter.load())
            counter(L, ar);
    CallScriptHook(L, ar);
}

void PushRunning(lua_State* T) noexcept
{
    const int count = RunningCount.load();
    if (count >= MaxRunning) {
        RunningCount = count + 1;
        return;
    }
    Running[count] = T;
    // The slot is filled before it is counted, so a handler never sees an empty one.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    RunningCount = count + 1;
    if (ScriptHooks::StopInForce())
        SetStopHook(T);
}

void PopRunning() noexcept { RunningCount = RunningCount.load() - 1; }

// --- What scripts call instead of the debug and coroutine library's own functions.

lua_State* ThreadArgument(lua_State* L, int& arg)
{
    if (lua_type(L, 1) == LUA_TTHREAD) {
        arg = 1;
        return lua_tothread(L, 1);
    }
    arg = 0;
    return L;
}

int SetHook(lua_State* L)
{
    int arg = 0;
    lua_State* T = ThreadArgument(L, arg);
    lua_settop(L, arg + 3);
    lua_rawgetp(L, LUA_REGISTRYINDEX, &ScriptHooksKey);
    const int hooks = lua_gettop(L);
    if (lua_isnoneornil(L, arg + 1)) {
        lua_pushthread(T);
        lua_xmove(T, L, 1);
        lua_pushnil(L);
        lua_rawset(L, hooks);
    } else {
        const char* events = luaL_checkstring(L, arg + 2);
        luaL_checktype(L, arg + 1, LUA_TFUNCTION);
        const lua_Integer count = luaL_optinteger(L, arg + 3, 0);
        int mask = 0;
        for (const char* c = events; *c; ++c) {
            if (*c == 'c')
                mask |= LUA_MASKCALL;
            else if (*c == 'r')
                mask |= LUA_MASKRET;
            else if (*c == 'l')
                mask |= LUA_MASKLINE;
        }
        if (count > 0)
            mask |= LUA_MASKCOUNT;
        lua_pushthread(T);
        lua_xmove(T, L, 1);
        lua_createtable(L, 3, 0);
        lua_pushvalue(L, arg + 1);
        lua_rawseti(L, -2, 1);
        lua_pushinteger(L, mask);
        lua_rawseti(L, -2, 2);
        lua_pushinteger(L, count > 0 && count <= INT32_MAX ? count : 0);
        lua_rawseti(L, -2, 3);
        lua_rawset(L, hooks);
        AnyScriptHook = true;
    }
    lua_settop(L, hooks - 1);
    Apply(L, T);
    return 0;
}

int GetHook(lua_State* L)
{
    int arg = 0;
    lua_State* T = ThreadArgument(L, arg);
    if (!PushScriptHook(L, T)) {
        luaL_pushfail(L);
        return 1;
    }
    const int entry = lua_gettop(L);
    const int mask = EntryInteger(L, 2);
    lua_rawgeti(L, entry, 1);
    char events[4];
    int n = 0;
    if (mask & LUA_MASKCALL)
        events[n++] = 'c';
    if (mask & LUA_MASKRET)
        events[n++] = 'r';
    if (mask & LUA_MASKLINE)
        events[n++] = 'l';
    lua_pushlstring(L, events, static_cast<std::size_t>(n));
    lua_rawgeti(L, entry, 3);
    return 3;
}

// coroutine.resume's work, with the coroutine marked as running while it runs. Moves the
// top narg values to co; leaves the results, or the error value, on L. -1 for an error.
int ResumeMarked(lua_State* L, lua_State* co, int narg)
{
    if (!lua_checkstack(co, narg)) {
        lua_pushliteral(L, "too many arguments to resume");
        return -1;
    }
    lua_xmove(L, co, narg);
    Apply(L, co);
    PushRunning(co);
    int results = 0;
    const int status = lua_resume(co, L, narg, &results);
    PopRunning();
    if (status == LUA_OK || status == LUA_YIELD) {
        if (!lua_checkstack(L, results + 1)) {
            lua_pop(co, results);
            lua_pushliteral(L, "too many results to resume");
            return -1;
        }
        lua_xmove(co, L, results);
        return results;
    }
    lua_xmove(co, L, 1);
    return -1;
}

int Resume(lua_State* L)
{
    lua_State* co = lua_tothread(L, 1);
    luaL_argexpected(L, co, 1, "coroutine");
    const int results = ResumeMarked(L, co, lua_gettop(L) - 1);
    if (results < 0) {
        lua_pushboolean(L, 0);
        lua_insert(L, -2);
        return 2;
    }
    lua_pushboolean(L, 1);
    lua_insert(L, -(results + 1));
    return results + 1;
}

int WrapCall(lua_State* L)
{
    lua_State* co = lua_tothread(L, lua_upvalueindex(1));
    const int results = ResumeMarked(L, co, lua_gettop(L));
    if (results >= 0)
        return results;
    int status = lua_status(co);
    if (status != LUA_OK && status != LUA_YIELD) {
        // Closes the coroutine's pending to-be-closed variables, as coroutine.wrap does.
#if LUA_VERSION_RELEASE_NUM >= 50406
        status = lua_closethread(co, L);
#else
        status = lua_resetthread(co);
#endif
        lua_xmove(co, L, 1);
    }
    if (status != LUA_ERRMEM && lua_type(L, -1) == LUA_TSTRING) {
        luaL_where(L, 1);
        lua_insert(L, -2);
        lua_concat(L, 2);
    }
    return lua_error(L);
}

int Wrap(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_State* co = lua_newthread(L);
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 1);
    lua_pushcclosure(L, WrapCall, 1);
    return 1;
}

} // namespace

void SetLineCounter(TLineCounter counter) noexcept { LineCounter = counter; }

TLineCounter GetLineCounter() noexcept { return LineCounter.load(); }

namespace ScriptHooks {

void Install(lua_State* L)
{
    lua_createtable(L, 0, 0);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_rawsetp(L, LUA_REGISTRYINDEX, &ScriptHooksKey);

    lua_getglobal(L, "debug");
    lua_pushcfunction(L, SetHook);
    lua_setfield(L, -2, "sethook");
    lua_pushcfunction(L, GetHook);
    lua_setfield(L, -2, "gethook");
    lua_pop(L, 1);
    lua_getglobal(L, "coroutine");
    lua_pushcfunction(L, Resume);
    lua_setfield(L, -2, "resume");
    lua_pushcfunction(L, Wrap);
    lua_setfield(L, -2, "wrap");
    lua_pop(L, 1);
}

void BeginCall(lua_State* L)
{
    LimitPassed = false;
    CallStopped = false;
    RunningCount = 0;
    CallRunning = true;
    PushRunning(L);
    Apply(L, L);
}

void EndCall(lua_State* L)
{
    // An abandoned call may have left a library's time limit running.
    Sys::EndDeadline();
    LimitActive = false;
    CallRunning = false;
    RunningCount = 0;
    LimitPassed = false;
    CallStopped = false;
    // The script's own hook goes on as it was before the stop; an abandoned state (L
    // null) is not touched again.
    if (L)
        Apply(L, L);
}

void StopRunning() noexcept
{
    if (CallRunning.load()) {
        const int count = std::min(RunningCount.load(), MaxRunning);
        for (int i = 0; i < count; ++i)
            if (lua_State* T = Running[i].load())
                SetStopHook(T);
    }
    Sys::SignalChildGroups(SIGTERM);
    Sys::StopScriptCall();
}

void SetStopCause(const char* cause) noexcept
{
    Cause = cause;
    StopRunning();
}

void ClearStopCause() noexcept { Cause = nullptr; }

const char* StopCause() noexcept { return Cause.load(); }

namespace {

void OnTimeLimit()
{
    LimitPassed = true;
    StopRunning();
}

} // namespace

void StartTimeLimit(double seconds)
{
    LimitPassed = false;
    LimitSeconds = seconds;
    LimitActive = true;
    Sys::StartDeadline(seconds, OnTimeLimit);
}

void EndTimeLimit()
{
    Sys::EndDeadline();
    LimitActive = false;
    LimitPassed = false;
}

bool TimeLimitPassed() noexcept { return LimitPassed.load(); }

double TimeLimitSeconds() noexcept { return LimitSeconds; }

bool TimeLimitActive() noexcept { return LimitActive; }

void Refresh(lua_State* L) noexcept { Apply(L, L); }

bool StopInForce() noexcept
{
    return CallRunning.load() && (Cause.load() != nullptr || LimitPassed.load() || CallStopped.load());
}

void StopCall() noexcept
{
    if (!CallRunning.load())
        return;
    CallStopped = true;
    StopRunning();
}

bool UserStopped() noexcept { return CallStopped.load(); }

namespace {

timer_t PulseTimer{};
pid_t PulseTimerThread = 0;

int PulseSignal() { return SIGRTMIN + 5; }

void OnPulseSignal(int)
{
    // Between calls there is nothing to interrupt: the window keeps its own clock there.
    if (!Pulse.load() || !CallRunning.load() || InPulse)
        return;
    PulseDue = true;
    const int count = std::min(RunningCount.load(), MaxRunning);
    if (count > 0)
        if (lua_State* T = Running[count - 1].load())
            // The thread's own events go on (a line counter misses no line); the count
            // event of the next instruction brings the pulse.
            lua_sethook(T, Dispatch, lua_gethookmask(T) | LUA_MASKCOUNT, 1);
}

void SetPulseTimer(double intervalSeconds)
{
    const auto ns = static_cast<long long>(intervalSeconds * 1e9);
    itimerspec timing{};
    timing.it_interval.tv_sec = static_cast<time_t>(ns / 1000000000);
    timing.it_interval.tv_nsec = static_cast<long>(ns % 1000000000);
    timing.it_value = timing.it_interval;
    ::timer_settime(PulseTimer, 0, &timing, nullptr);
}

} // namespace

void SetPulse(TPulse pulse, void* context, double intervalSeconds)
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnPulseSignal;
        sigemptyset(&action.sa_mask);
        // A pulse must never make a script's read or a report's write fail.
        action.sa_flags = SA_RESTART;
        return ::sigaction(PulseSignal(), &action, nullptr) == 0;
    }();
    if (!installed)
        return;
    if (!pulse) {
        if (PulseTimerThread != 0)
            SetPulseTimer(0);
        Pulse = nullptr;
        PulseDue = false;
        return;
    }
    const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
    if (PulseTimerThread != self) {
        if (PulseTimerThread != 0)
            ::timer_delete(PulseTimer);
        PulseTimerThread = 0;
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = PulseSignal();
        event._sigev_un._tid = self;
        if (::timer_create(CLOCK_MONOTONIC, &event, &PulseTimer) != 0)
            return;
        PulseTimerThread = self;
    }
    PulseContext = context;
    Pulse = pulse;
    SetPulseTimer(std::max(intervalSeconds, 0.001));
}

std::string SecondsText(double seconds)
{
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
    return std::string(text, end);
}

} // namespace ScriptHooks

} // namespace WexelHost

namespace WexelHost {

void SetScriptPulse(TScriptPulse pulse, void* context, double intervalSeconds)
{
    ScriptHooks::SetPulse(pulse, context, intervalSeconds);
}

void StopRunningScript() noexcept { ScriptHooks::StopCall(); }

} // namespace WexelHost

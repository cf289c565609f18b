#include "host/ProcContainer.h"

#include "host/Coverage.h"
#include "host/ChunkCache.h"
#include "host/HostLayout.h"
#include "host/OutputCapture.h"
#include "host/ScriptHeap.h"
#include "host/ScriptHooks.h"
#include "host/ScriptProcesses.h"
#include "platform/Process.h"
#include "platform/Signals.h"

#include <lua.hpp>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

// Lua is built as C and unwinds with longjmp, which skips C++ destructors. So every Lua
// call that can raise runs inside lua_pcall, in a C function whose frame holds nothing
// that needs a destructor; C++ objects live only in the frames outside it. The functions
// that scripts call catch every C++ exception before it can reach a Lua frame.

namespace WexelHost {

namespace {

struct TLuaCloser {
    void operator()(lua_State* L) const noexcept { TScriptHeap::CloseState(L); }
};
using TLuaState = std::unique_ptr<lua_State, TLuaCloser>;

// Puts the stack back as it was, whichever way the call leaves.
class TStackGuard {
public:
    explicit TStackGuard(lua_State* L) : FL(L), FTop(lua_gettop(L)) {}
    ~TStackGuard() { lua_settop(FL, FTop); }
    TStackGuard(const TStackGuard&) = delete;
    TStackGuard& operator=(const TStackGuard&) = delete;

private:
    lua_State* FL;
    int FTop;
};

// Stops from outside (a stop signal, a time limit) are served by the hook dispatcher in
// ScriptHooks; a call the stop cannot reach is abandoned by Sys::RunScriptCall.

// Marks the state as running for the stop requests and undoes every trace of them,
// whichever way the call leaves, unless the state was abandoned.
class TRunningCall {
public:
    TRunningCall(lua_State* L, double timeLimit) : FL(L), FTimed(timeLimit > 0)
    {
        ScriptHooks::BeginCall(L);
        if (FTimed)
            ScriptHooks::StartTimeLimit(timeLimit);
    }
    ~TRunningCall()
    {
        if (FTimed)
            ScriptHooks::EndTimeLimit();
        ScriptHooks::EndCall(FL);
    }
    void Abandoned() { FL = nullptr; }
    TRunningCall(const TRunningCall&) = delete;
    TRunningCall& operator=(const TRunningCall&) = delete;

private:
    lua_State* FL;
    bool FTimed;
};

// For a call that failed: raises EScriptStopped when it failed because it was stopped.
void ThrowIfStopped()
{
    if (ScriptHooks::TimeLimitPassed())
        throw EScriptStopped("exceeded the time limit of " + ScriptHooks::SecondsText(ScriptHooks::TimeLimitSeconds()) +
                             " s");
    if (const char* cause = ScriptHooks::StopCause())
        throw EScriptStopped(std::string("was interrupted by ") + cause);
    if (ScriptHooks::UserStopped())
        throw EScriptStopped("was stopped");
}

// The library that host.run_library is loading, for the message of a call abandoned
// meanwhile; a plain buffer, as a jump may leave it set.
char LoadingLibrary[256];

void OnPoke() { ScriptHooks::StopRunning(); }

// The message of an abandoned call, from what stopped it, while the stop is still known.
[[noreturn]] void ThrowAbandoned(Sys::TScriptCallEnd end)
{
    std::string what;
    int signal = 0;
    if (end == Sys::TScriptCallEnd::Crashed) {
        signal = Sys::FatalSignal();
        what = std::string("crashed with ") + Sys::SignalName(signal);
    } else {
        what = "could not be stopped within " + ScriptHooks::SecondsText(Sys::GiveUpSeconds) + " s after ";
        if (ScriptHooks::TimeLimitPassed())
            what += "exceeding the time limit of " + ScriptHooks::SecondsText(ScriptHooks::TimeLimitSeconds()) + " s";
        else if (const char* cause = ScriptHooks::StopCause())
            what += cause;
        else
            what += "its stop";
    }
    if (LoadingLibrary[0] != '\0')
        what += std::string(" while loading the library ") + LoadingLibrary;
    LoadingLibrary[0] = '\0';
    throw EScriptAbandoned(what, signal);
}

// os.exit would end the process in the middle of a run, before any report is finished,
// with the script's exit code (and with its second argument close the state under the
// host's feet). Scripts get an error instead.
int RefuseExit(lua_State* L)
{
    return luaL_error(L, "os.exit is not available to script libraries");
}

[[noreturn]] void CallFailed(const std::string& library, const std::string& proc, const std::string& cause)
{
    throw EExtCallError("Call of " + proc + " in " + library + " failed: " + cause);
}

// Message handler of every protected call: makes a text of whatever value was raised.
int MessageHandler(lua_State* L)
{
    if (lua_type(L, 1) == LUA_TSTRING)
        return 1;
    if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING)
        return 1;
    lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    return 1;
}

std::string ErrorText(lua_State* L, int status)
{
    if (status == LUA_ERRMEM)
        return "not enough memory";
    std::size_t len = 0;
    const char* text = lua_tolstring(L, -1, &len);
    std::string message = text ? std::string(text, len) : std::string("unknown error");
    if (status == LUA_ERRERR)
        message = "error while handling an error: " + message;
    return message;
}

// Says why a library cannot be loaded before its file is opened.
void CheckLibraryFile(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (!fs::exists(status))
        throw EHostError("the library does not exist");
    if (fs::is_directory(status))
        throw EHostError("the library is a directory");
}

// The protected steps. Each takes its request as light user data in slot 1.

struct TLoadRequest {
    const char* Path;
    int EnvRef = LUA_NOREF;
};

// Runs the compiled chunk in slot 2.
int LoadChunk(lua_State* L)
{
    auto* req = static_cast<TLoadRequest*>(lua_touserdata(L, 1));
    Coverage::NoteChunk(L, 2, req->Path);
    // Each library gets its own globals, reading through to the shared ones, so that two
    // libraries with procedures of the same name do not overwrite each other.
    lua_createtable(L, 0, 0);
    lua_createtable(L, 0, 1);
    lua_pushglobaltable(L);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_pushvalue(L, -1);
    if (lua_setupvalue(L, -3, 1) == nullptr) // a chunk without upvalues uses no globals
        lua_pop(L, 1);
    lua_insert(L, -2);
    lua_call(L, 0, 0);
    req->EnvRef = luaL_ref(L, LUA_REGISTRYINDEX);
    return 0;
}

enum class TCallOutcome { Answered, AnsweredLines, NoProcedure, NotAProcedure, BadResult, BadLine };

// Strings that a procedure expects the next calls to pass, in the order it expects them,
// as a list of lists (the test library hands back its runs of test paths beside the
// listing, and the runner then runs them in that order). An argument that is the next
// of them is pushed as that Lua string; pushing a copy would hash it and look it up
// among every string of the state, which in a state of a million tests is a cache miss
// or more per call.
struct TArgumentHints {
    int Ref = LUA_NOREF;  // the table of lists of strings, in the registry
    lua_Integer List = 1; // the list of the hint the next argument most likely is
    lua_Integer Next = 1; // and its place in that list
    int Misses = 0;       // arguments in a row that were none of the hints looked at
    // A registry slot holding the list ListOf (0: none yet), so that the likely hint is
    // two lookups away. It never holds nil: setting a slot that exists allocates nothing.
    int ListRef = LUA_NOREF;
    lua_Integer ListOf = 0;
};

// Places looked at per argument, so that a run that leaves a few tests out keeps its
// place.
constexpr int HintProbes = 4;
// After this many misses in a row the calls come in another order (shuffled, filtered):
// the hints are no longer looked at.
constexpr int MaxHintMisses = 64;

// Pushes the hinted Lua string when the argument is one of the next hints, and answers
// whether it did; a miss is counted only when countMiss is set. Allocates nothing, so it
// serves outside a protected call too.
bool PushHint(lua_State* L, const std::string& argument, TArgumentHints* hints, bool countMiss)
{
    if (hints && hints->Ref != LUA_NOREF && hints->Misses < MaxHintMisses) {
        if (hints->ListOf == hints->List) {
            lua_rawgeti(L, LUA_REGISTRYINDEX, hints->ListRef);
            if (lua_rawgeti(L, -1, hints->Next) == LUA_TSTRING) {
                std::size_t length = 0;
                const char* hint = lua_tolstring(L, -1, &length);
                if (length == argument.size() && std::memcmp(hint, argument.data(), length) == 0) {
                    lua_replace(L, -2);
                    ++hints->Next;
                    hints->Misses = 0;
                    return true;
                }
            }
            lua_pop(L, 2);
        }
        lua_rawgeti(L, LUA_REGISTRYINDEX, hints->Ref);
        lua_Integer list = hints->List;
        lua_Integer at = hints->Next;
        // Every step counts as a probe, the steps past a list's end too, so that lists
        // without strings cannot hold a call up.
        for (int probe = 0; probe < HintProbes; ++probe) {
            if (lua_rawgeti(L, -1, list) != LUA_TTABLE) {
                lua_pop(L, 1);
                // Past the last list: a repeated run starts again from the first.
                if (list == 1)
                    break;
                list = 1;
                at = 1;
                continue;
            }
            if (lua_rawgeti(L, -1, at) != LUA_TSTRING) {
                lua_pop(L, 2);
                ++list;
                at = 1;
                continue;
            }
            std::size_t length = 0;
            const char* hint = lua_tolstring(L, -1, &length);
            if (length == argument.size() && std::memcmp(hint, argument.data(), length) == 0) {
                if (hints->ListOf != list && hints->ListRef != LUA_NOREF) {
                    lua_pushvalue(L, -2);
                    lua_rawseti(L, LUA_REGISTRYINDEX, hints->ListRef);
                    hints->ListOf = list;
                }
                lua_replace(L, -3);
                lua_pop(L, 1);
                hints->List = list;
                hints->Next = at + 1;
                hints->Misses = 0;
                return true;
            }
            lua_pop(L, 2);
            ++at;
        }
        lua_pop(L, 1);
        if (countMiss)
            ++hints->Misses;
    }
    return false;
}

// Pushes a string argument, as the hinted Lua string when it is one of the next hints.
// Nothing here has a destructor: a Lua error may jump out.
void PushArgument(lua_State* L, const std::string& argument, TArgumentHints* hints)
{
    if (!PushHint(L, argument, hints, true))
        lua_pushlstring(L, argument.data(), argument.size());
}

struct TCallRequest {
    int EnvRef;
    const std::string* Proc;
    const std::vector<std::unique_ptr<TOneCallParameter>>* Params;
    // Where the state keeps the procedure's name as a Lua string (LUA_NOREF until the
    // first call): a name interned anew for every test costs as much as the lookup.
    int* ProcNameRef = nullptr;
    TArgumentHints* Hints = nullptr;
    TCallOutcome Outcome = TCallOutcome::Answered;
    const char* TypeName = "";
    std::size_t LinesSize = 0; // of an answer of lines, joined
    bool LinesEstimated = false;  // LinesSize is the script's estimate, the lines unchecked
};

// The metatables that mark the tables made by host.lines and host.rows; known by their
// addresses.
char LinesKey;
char RowsKey;

bool IsMarked(lua_State* L, int index, const char* key)
{
    if (!lua_getmetatable(L, index))
        return false;
    lua_rawgetp(L, LUA_REGISTRYINDEX, key);
    const bool marked = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return marked;
}

bool IsLines(lua_State* L, int index) { return IsMarked(L, index, &LinesKey); }

// About the size that the last table marked by host.lines said its lines take joined. The
// answer of a discovery holds a line per test: with the size known, the lines are walked
// once, to be joined, instead of once more to be measured. Only a hint: the join checks
// every line, and a wrong size only costs the string's growth.
struct TLinesHint {
    const void* Table = nullptr;
    std::size_t Bytes = 0;
};
TLinesHint LinesHint;

// Calls piece(text, size, newLine) for the pieces of one value of a line (a string, or
// an integer in decimal), newLine for the first piece of each line. Returns false when
// the value on top is neither.
template <class F>
bool LinePiece(lua_State* L, bool newLine, F& piece)
{
    if (lua_type(L, -1) == LUA_TSTRING) {
        std::size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        piece(text, size, newLine);
        return true;
    }
    if (lua_isinteger(L, -1)) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, lua_tointeger(L, -1)).ptr;
        piece(digits, static_cast<std::size_t>(end - digits), newLine);
        return true;
    }
    return false;
}

// The rows of a table made by host.rows at index: row i joins the i-th entry of every
// list column with the string columns between them. Returns the type name of the first
// entry that is neither a string nor an integer, or nullptr.
template <class F>
const char* ForEachRow(lua_State* L, int index, F& piece)
{
    const int columns = static_cast<int>(lua_rawlen(L, index));
    lua_Integer rows = 0;
    for (int c = 1; c <= columns && rows == 0; ++c) {
        if (lua_rawgeti(L, index, c) == LUA_TTABLE)
            rows = static_cast<lua_Integer>(lua_rawlen(L, -1));
        lua_pop(L, 1);
    }
    // With room for them, the columns stand on the stack while the rows are read, so that
    // a piece is one lookup; without it (checkstack raises nothing), each piece looks its
    // column up first.
    const int top = lua_gettop(L);
    const bool standing = lua_checkstack(L, columns + 3);
    if (standing)
        for (int c = 1; c <= columns; ++c)
            lua_rawgeti(L, index, c);
    for (lua_Integer r = 1; r <= rows; ++r) {
        for (int c = 1; c <= columns; ++c) {
            const int column = standing ? top + c : (lua_rawgeti(L, index, c), lua_gettop(L));
            if (lua_type(L, column) == LUA_TTABLE)
                lua_rawgeti(L, column, r);
            else
                lua_pushvalue(L, column);
            const bool placed = LinePiece(L, c == 1, piece);
            const char* name = placed ? nullptr : luaL_typename(L, -1);
            lua_settop(L, standing ? top + columns : top);
            if (!placed) {
                lua_settop(L, top);
                return name;
            }
        }
    }
    lua_settop(L, top);
    return nullptr;
}

// Calls piece(text, size, newLine) for every piece of every line of the table of lines at
// index: its elements from 1 to its length, each a string, a list of strings or a table
// of rows (host.rows). Returns the type name of the first element that is none of these,
// or nullptr. Raises nothing and needs three free slots, so that it serves both inside
// and outside a protected call.
template <class F>
const char* ForEachLine(lua_State* L, int index, F&& piece)
{
    index = lua_absindex(L, index);
    const lua_Integer count = static_cast<lua_Integer>(lua_rawlen(L, index));
    for (lua_Integer i = 1; i <= count; ++i) {
        const int type = lua_rawgeti(L, index, i);
        const char* bad = nullptr;
        if (type == LUA_TTABLE && IsMarked(L, -1, &RowsKey)) {
            bad = ForEachRow(L, lua_gettop(L), piece);
        } else if (type == LUA_TTABLE) {
            const lua_Integer inner = static_cast<lua_Integer>(lua_rawlen(L, -1));
            for (lua_Integer j = 1; j <= inner && !bad; ++j) {
                if (lua_rawgeti(L, -1, j) != LUA_TSTRING)
                    bad = luaL_typename(L, -1);
                else
                    LinePiece(L, true, piece);
                lua_pop(L, 1);
            }
        } else if (type == LUA_TSTRING) {
            LinePiece(L, true, piece);
        } else {
            bad = luaL_typename(L, -1);
        }
        lua_pop(L, 1);
        if (bad)
            return bad;
    }
    return nullptr;
}

// Slots in use when the arguments are pushed (request, globals, procedure) and that
// PushArgument takes beside the one it leaves (hints, list, string).
constexpr int MaxUncheckedArguments = LUA_MINSTACK - 3 - 3;

int MapAnswer(lua_State* L, TCallRequest* req);

// Takes the table on top as the arguments the next calls are expected to pass.
void KeepHints(lua_State* L, TArgumentHints* hints)
{
    luaL_unref(L, LUA_REGISTRYINDEX, hints->Ref);
    hints->Ref = luaL_ref(L, LUA_REGISTRYINDEX);
    hints->List = 1;
    hints->Next = 1;
    hints->Misses = 0;
    hints->ListOf = 0;
    if (hints->ListRef == LUA_NOREF) {
        lua_pushboolean(L, 0);
        hints->ListRef = luaL_ref(L, LUA_REGISTRYINDEX);
    }
}

int CallProcedure(lua_State* L)
{
    auto* req = static_cast<TCallRequest*>(lua_touserdata(L, 1));
    lua_rawgeti(L, LUA_REGISTRYINDEX, req->EnvRef);
    if (req->ProcNameRef && *req->ProcNameRef != LUA_NOREF) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, *req->ProcNameRef);
    } else {
        lua_pushlstring(L, req->Proc->data(), req->Proc->size());
        if (req->ProcNameRef) {
            lua_pushvalue(L, -1);
            *req->ProcNameRef = luaL_ref(L, LUA_REGISTRYINDEX);
        }
    }
    // Only the library's own globals are its procedures, not the shared ones behind them.
    int type = lua_rawget(L, -2);
    if (type != LUA_TFUNCTION) {
        req->Outcome = type == LUA_TNIL ? TCallOutcome::NoProcedure : TCallOutcome::NotAProcedure;
        req->TypeName = lua_typename(L, type);
        return 0;
    }
    int count = static_cast<int>(req->Params->size());
    // A C function starts with LUA_MINSTACK free slots: enough for a few arguments and
    // what PushArgument needs beside them, without asking.
    if (count > MaxUncheckedArguments)
        luaL_checkstack(L, count, "too many parameters");
    for (const auto& param : *req->Params) {
        if (param->IsAssigned())
            PushArgument(L, param->GetAsString(), req->Hints);
        else
            lua_pushnil(L);
    }
    lua_call(L, count, 2);
    // A table beside the answer: the arguments the procedure expects next.
    if (req->Hints && lua_istable(L, -1))
        KeepHints(L, req->Hints);
    else
        lua_pop(L, 1);
    return MapAnswer(L, req);
}

// The protected steps of a direct call (CallDirectly): the request in slot 1, the value in
// slot 2.
int ProtectedKeepHints(lua_State* L)
{
    KeepHints(L, static_cast<TCallRequest*>(lua_touserdata(L, 1))->Hints);
    return 0;
}

int ProtectedMapAnswer(lua_State* L)
{
    return MapAnswer(L, static_cast<TCallRequest*>(lua_touserdata(L, 1)));
}

// Makes the most common call without a protected step of its own around the procedure's:
// when the state knows the procedure's name and every argument is nil or a hint, nothing
// before the procedure's call allocates, so nothing there can raise. An answer that is not
// a string, and hints beside it, are mapped in protected steps as CallProcedure maps them.
// Answers false, with the stack as it was, when the call is CallProcedure's to make;
// otherwise leaves what CallProcedure's protected call would (status, and the answer or
// the error on top).
bool CallDirectly(lua_State* L, TCallRequest& req, int handler, int& status)
{
    const int count = static_cast<int>(req.Params->size());
    if (!req.ProcNameRef || *req.ProcNameRef == LUA_NOREF || count > MaxUncheckedArguments ||
        !lua_checkstack(L, LUA_MINSTACK))
        return false;
    const int base = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, req.EnvRef);
    lua_rawgeti(L, LUA_REGISTRYINDEX, *req.ProcNameRef);
    if (lua_rawget(L, -2) != LUA_TFUNCTION) {
        lua_settop(L, base);
        return false;
    }
    for (const auto& param : *req.Params) {
        if (!param->IsAssigned()) {
            lua_pushnil(L);
        } else if (!PushHint(L, param->GetAsString(), req.Hints, false)) {
            lua_settop(L, base);
            return false;
        }
    }
    status = lua_pcall(L, count, 2, handler);
    if (status != LUA_OK)
        return true;
    if (req.Hints && lua_istable(L, -1)) {
        lua_pushcfunction(L, ProtectedKeepHints);
        lua_pushlightuserdata(L, &req);
        lua_rotate(L, -3, 2);
        status = lua_pcall(L, 2, 0, handler);
        if (status != LUA_OK)
            return true;
    } else {
        lua_pop(L, 1);
    }
    if (lua_type(L, -1) != LUA_TSTRING) {
        lua_pushcfunction(L, ProtectedMapAnswer);
        lua_pushlightuserdata(L, &req);
        lua_rotate(L, -3, 2);
        status = lua_pcall(L, 2, 1, handler);
    }
    return true;
}

// Maps the procedure's answer on top of the stack; as CallProcedure answers.
int MapAnswer(lua_State* L, TCallRequest* req)
{
    switch (lua_type(L, -1)) {
    case LUA_TSTRING:
        break;
    case LUA_TNUMBER:
        lua_tolstring(L, -1, nullptr);
        break;
    case LUA_TNIL:
        lua_pushliteral(L, "");
        break;
    case LUA_TTABLE:
        if (IsLines(L, -1) && LinesHint.Table == lua_topointer(L, -1)) {
            req->Outcome = TCallOutcome::AnsweredLines;
            req->LinesSize = LinesHint.Bytes;
            req->LinesEstimated = true;
            LinesHint = {};
            break;
        }
        if (IsLines(L, -1)) {
            // Measured here, joined by the caller outside the protected call: a long
            // answer is made once, where it is used, and never becomes a script string.
            std::size_t size = 0, lines = 0;
            const char* bad = ForEachLine(L, -1, [&](const char*, std::size_t length, bool newLine) {
                size += length;
                lines += newLine;
            });
            if (bad) {
                req->Outcome = TCallOutcome::BadLine;
                req->TypeName = bad;
                return 0;
            }
            req->Outcome = TCallOutcome::AnsweredLines;
            req->LinesSize = size + (lines > 0 ? lines - 1 : 0);
            break;
        }
        [[fallthrough]];
    default:
        req->Outcome = TCallOutcome::BadResult;
        req->TypeName = luaL_typename(L, -1);
        return 0;
    }
    return 1;
}

// Runs F for a script and turns a C++ exception into a Lua error. The message is copied
// into a plain buffer so that nothing with a destructor is alive when lua_error jumps.
template <int (*F)(lua_State*)>
int Guarded(lua_State* L)
{
    char message[1024];
    try {
        return F(L);
    } catch (const std::exception& e) {
        std::snprintf(message, sizeof message, "%s", e.what());
    } catch (...) {
        std::snprintf(message, sizeof message, "%s", "unknown error in the host");
    }
    lua_pushstring(L, message);
    return lua_error(L);
}

std::string StringArgument(lua_State* L, int index, const char* function)
{
    if (lua_type(L, index) != LUA_TSTRING)
        throw EHostError(std::string(function) + " expects a string, got " + luaL_typename(L, index));
    std::size_t len = 0;
    const char* text = lua_tolstring(L, index, &len);
    return std::string(text, len);
}

int HostLibraries(lua_State* L)
{
    std::vector<std::string> files = ListLibraries(StringArgument(L, 1, "host.libraries"), UserDir());
    Coverage::NoteTestLibraries(files);
    lua_createtable(L, static_cast<int>(files.size()), 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
        lua_pushlstring(L, files[i].data(), files[i].size());
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
    }
    return 1;
}

// host.lines(list [, bytes]): marks list as an answer of lines, which the host joins with
// line feeds when a procedure answers it: each element a string (a line) or a list of
// strings. A procedure that answers many lines so makes no long string of them. bytes, when
// given, is about the size of the lines joined, so that they are walked only once.
int HostLines(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    int exact = 0;
    const lua_Integer bytes = lua_tointegerx(L, 2, &exact);
    // A hint left unused, for a table since gone, must not pass to another at its address.
    LinesHint = exact && bytes >= 0 ? TLinesHint{lua_topointer(L, 1), static_cast<std::size_t>(bytes)} : TLinesHint{};
    lua_settop(L, 1);
    lua_rawgetp(L, LUA_REGISTRYINDEX, &LinesKey);
    lua_setmetatable(L, 1);
    return 1;
}

// host.rows(column, ...): rows to stand among lines, one per entry of the first list
// column: row i is the i-th entries of the list columns (strings or integers) joined with
// the string columns between them, so that a line per test is made without a string per
// test ("path<TAB>file<TAB>line").
int HostRows(lua_State* L)
{
    const int columns = lua_gettop(L);
    for (int c = 1; c <= columns; ++c)
        if (lua_type(L, c) != LUA_TSTRING && lua_type(L, c) != LUA_TTABLE)
            luaL_typeerror(L, c, "string or table");
    lua_createtable(L, columns, 0);
    for (int c = 1; c <= columns; ++c) {
        lua_pushvalue(L, c);
        lua_rawseti(L, -2, c);
    }
    lua_rawgetp(L, LUA_REGISTRYINDEX, &RowsKey);
    lua_setmetatable(L, -2);
    return 1;
}

// host.declared(fn, source): the line where the function fn is defined, as debug.getinfo
// tells it, when fn's chunk has that source; else nil. No table is made and no string
// pushed: positions are asked for every test.
// host.declared(fns, source, first): the same for fns[first], fns[first + 1] and on, as
// long as each is a function defined at a line above 0 in a chunk of that source: the list
// of their lines and the index of the first that is not. A run's tests nearly always come
// from one chunk, so that one call places them all.
int HostDeclared(lua_State* L)
{
    std::size_t size = 0;
    if (lua_type(L, 1) == LUA_TTABLE) {
        const char* source = luaL_checklstring(L, 2, &size);
        lua_Integer index = luaL_checkinteger(L, 3);
        lua_settop(L, 3);
        lua_newtable(L);
        for (lua_Integer count = 0;; ++index) {
            if (lua_rawgeti(L, 1, index) != LUA_TFUNCTION) {
                lua_pop(L, 1);
                break;
            }
            lua_Debug ar;
            lua_getinfo(L, ">S", &ar);
            if (ar.linedefined <= 0 || ar.srclen != size || std::memcmp(ar.source, source, size) != 0)
                break;
            lua_pushinteger(L, ar.linedefined);
            lua_rawseti(L, 4, ++count);
        }
        lua_pushinteger(L, index);
        return 2;
    }
    luaL_checktype(L, 1, LUA_TFUNCTION);
    const char* source = luaL_checklstring(L, 2, &size);
    lua_Debug ar;
    lua_pushvalue(L, 1);
    lua_getinfo(L, ">S", &ar);
    if (ar.srclen == size && std::memcmp(ar.source, source, size) == 0)
        lua_pushinteger(L, ar.linedefined);
    else
        lua_pushnil(L);
    return 1;
}

// The test declared into a run of a discovery, most often: test(name, fn) appends the path
// (the suite's path, then name) to the run and fn to its functions, and notes the run as
// the one name was last declared in. The script keeps what that needs in the list of
// upvalue 1: the run (false when the declaration must take the script's own way), its
// functions, its length, the suite's path with its "/", and the table of the names the
// library has declared, each with the run it was last declared in. A name met for the
// first time, one already in this run, a value that is not a function, and anything the
// script has not prepared take the script's way (upvalue 2, with the same arguments),
// which checks them and raises its errors one level further out. Declaring is the hot path
// of discovery: here it makes no call of the script's own and no check it can do without.
int DeclareTest(lua_State* L)
{
    constexpr int Run = 3, Known = 4, Last = 5, Path = 6;
    if (lua_gettop(L) == 2 && lua_type(L, 1) == LUA_TSTRING && lua_type(L, 2) == LUA_TFUNCTION) {
        const int fast = lua_upvalueindex(1);
        if (lua_rawgeti(L, fast, 1) == LUA_TTABLE && lua_rawgeti(L, fast, 5) == LUA_TTABLE) {
            lua_pushvalue(L, 1);
            // A known name, last declared in another run: neither new nor twice in this one.
            if (lua_rawget(L, Known) == LUA_TTABLE && !lua_rawequal(L, Last, Run)) {
                lua_rawgeti(L, fast, 4);
                lua_pushvalue(L, 1);
                lua_concat(L, 2);
                lua_rawgeti(L, fast, 3);
                const lua_Integer size = lua_tointeger(L, -1) + 1;
                lua_pop(L, 1);
                lua_pushvalue(L, Path);
                lua_rawseti(L, Run, size);
                lua_rawgeti(L, fast, 2);
                lua_pushvalue(L, 2);
                lua_rawseti(L, -2, size);
                lua_pushinteger(L, size);
                lua_rawseti(L, fast, 3);
                lua_pushvalue(L, 1);
                lua_pushvalue(L, Run);
                lua_rawset(L, Known);
                return 0;
            }
        }
        lua_settop(L, 2);
    }
    lua_pushvalue(L, lua_upvalueindex(2));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 0);
    return 0;
}

// host.declare_test(fast, declare): the function test of the test libraries, over the
// script's list fast and its own way declare (see DeclareTest).
int HostDeclareTest(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_settop(L, 2);
    lua_pushcclosure(L, DeclareTest, 2);
    return 1;
}

// Adds to the table on top the function that marks tables with the metatable kept under
// key, which is made here and named for error messages.
void AddMarkingFunction(lua_State* L, const char* key, const char* name, lua_CFunction function,
                        const char* field)
{
    lua_createtable(L, 0, 1);
    lua_pushstring(L, name);
    lua_setfield(L, -2, "__name");
    lua_rawsetp(L, LUA_REGISTRYINDEX, key);
    lua_pushcfunction(L, function);
    lua_setfield(L, -2, field);
}

int HostLoad(lua_State* L);
int HostRemember(lua_State* L);
int HostRecall(lua_State* L);
int HostRunLibrary(lua_State* L);

int InitState(lua_State* L)
{
    void* impl = lua_touserdata(L, 1);
    const char* packagePath = static_cast<const char*>(lua_touserdata(L, 2));
    luaL_openlibs(L);
    InstallOutputCapture(L);
    lua_getglobal(L, "os");
    lua_pushcfunction(L, RefuseExit);
    lua_setfield(L, -2, "exit");
    lua_pop(L, 1);
    ScriptHooks::Install(L);
    InstallScriptProcesses(L);
    // SYSTEM and USER first, then Lua's own search path (as LUA_PATH sets it, or the
    // built-in one), so that installed pure-Lua modules are found too.
    lua_getglobal(L, "package");
    lua_pushstring(L, packagePath);
    lua_pushliteral(L, ";");
    lua_getfield(L, -3, "path");
    lua_concat(L, 3);
    lua_setfield(L, -2, "path");
    lua_pop(L, 1);

    lua_createtable(L, 0, 10);
    lua_pushlstring(L, UserDir().data(), UserDir().size());
    lua_setfield(L, -2, "user_dir");
    lua_pushlstring(L, SystemDir().data(), SystemDir().size());
    lua_setfield(L, -2, "system_dir");
    lua_pushcfunction(L, &Guarded<HostLibraries>);
    lua_setfield(L, -2, "libraries");
    lua_pushlightuserdata(L, impl);
    lua_pushcclosure(L, &Guarded<HostLoad>, 1);
    lua_setfield(L, -2, "load");
    lua_pushlightuserdata(L, impl);
    lua_pushcclosure(L, &Guarded<HostRemember>, 1);
    lua_setfield(L, -2, "remember");
    lua_pushlightuserdata(L, impl);
    lua_pushcclosure(L, &Guarded<HostRecall>, 1);
    lua_setfield(L, -2, "recall");
    lua_pushlightuserdata(L, impl);
    lua_pushcclosure(L, HostRunLibrary, 1);
    lua_setfield(L, -2, "run_library");
    lua_pushcfunction(L, HostLoadFile);
    lua_setfield(L, -2, "loadfile");
    lua_pushcfunction(L, HostDeclared);
    lua_setfield(L, -2, "declared");
    lua_pushcfunction(L, HostDeclareTest);
    lua_setfield(L, -2, "declare_test");
    AddMarkingFunction(L, &LinesKey, "host.lines", HostLines, "lines");
    AddMarkingFunction(L, &RowsKey, "host.rows", HostRows, "rows");
    lua_setglobal(L, "host");
    return 0;
}

} // namespace

struct TProcContainer::TImpl {
    TImpl()
        : PackagePath(SystemDir() + "/?.qlx;" + SystemDir() + "/?.lua;" + UserDir() + "/?.qlx;" +
                      UserDir() + "/?.lua")
    {
    }
    ~TImpl()
    {
        // Finalizers of the scripts run inside lua_close; the maps must still be there.
        Closing = true;
        State.reset();
    }

    lua_State* GetState()
    {
        if (State)
            return State.get();
        if (Closing)
            throw EHostError("the script engine is shutting down");
        // References into the registry of a state that is gone.
        ProcNames.clear();
        Hints = {};
        TLuaState state(TScriptHeap::NewState(&Spares));
        if (!state)
            throw EHostError("cannot create the script engine: not enough memory");
        lua_State* L = state.get();
        lua_pushcfunction(L, InitState);
        lua_pushlightuserdata(L, this);
        lua_pushlightuserdata(L, PackagePath.data());
        int status = lua_pcall(L, 2, 0, 0);
        if (status != LUA_OK)
            throw EHostError("cannot set up the script engine: " + ErrorText(L, status));
        State = std::move(state);
        return State.get();
    }

    // The registry reference of the library's globals; loads the library on first use.
    // Raises EHostError with the cause; a library that failed is tried again next time.
    int LibraryRef(const std::string& path)
    {
        // A run calls into one library test after test: the last one found is asked first,
        // so that the long path is compared, not hashed, on every call.
        if (LastLibrary && LastLibrary->first == path)
            return LastLibrary->second;
        auto found = Libraries.find(path);
        if (found != Libraries.end()) {
            LastLibrary = &*found;
            return found->second;
        }
        if (!Loading.insert(path).second)
            throw EHostError("the library is loaded again while it is being loaded");
        struct TLoadingMark {
            std::unordered_set<std::string>& Set;
            const std::string& Path;
            ~TLoadingMark() { Set.erase(Path); }
        } mark{Loading, path};

        auto slash = path.rfind('/');
        std::string chunkName = "@" + (slash == std::string::npos ? path : path.substr(slash + 1));

        lua_State* L = GetState();
        TStackGuard guard(L);
        lua_pushcfunction(L, MessageHandler);
        int handler = lua_gettop(L);
        lua_pushcfunction(L, LoadChunk);
        TLoadRequest req{path.c_str()};
        lua_pushlightuserdata(L, &req);
        // An unchanged library is not compiled again after a reset, only executed.
        CheckLibraryFile(path);
        if (int compiled = LoadFileChunk(L, path, chunkName); compiled != LUA_OK) {
            if (compiled == LUA_ERRFILE)
                throw EHostError("the library cannot be read");
            throw EHostError("the library does not compile: " + ErrorText(L, compiled));
        }
        ++Depth;
        int status = lua_pcall(L, 2, 0, handler);
        --Depth;
        if (status != LUA_OK)
            throw EHostError("loading the library raised an error: " + ErrorText(L, status));
        LastLibrary = &*Libraries.emplace(path, req.EnvRef).first;
        return req.EnvRef;
    }

    std::string PackagePath;
    std::unordered_map<std::string, int> Libraries;
    // An entry of Libraries (whose nodes stay put until they are erased); null after a clear.
    const std::pair<const std::string, int>* LastLibrary = nullptr;
    std::unordered_set<std::string> Loading;
    // What scripts keep through host.remember. It belongs to the process, not to the
    // state, so that a reset does not take from a script what it learned before.
    std::unordered_map<std::string, std::string> Remembered;
    // The registry references of the names of the procedures called in this state. A
    // deque, so that the slot a call holds stays where it is when a nested call adds one.
    std::deque<std::pair<std::string, int>> ProcNames;
    TArgumentHints Hints;

    void ForgetLibraries()
    {
        LastLibrary = nullptr;
        Libraries.clear();
    }

    int* ProcNameSlot(const std::string& proc)
    {
        for (auto& [name, ref] : ProcNames)
            if (name == proc)
                return &ref;
        return &ProcNames.emplace_back(proc, LUA_NOREF).second;
    }
    int Depth = 0;
    bool Closing = false;
    double LibraryTimeLimit = 0;

    // Drops a state that a jump left in the middle of something: it is never closed or
    // touched again, only kept where a leak checker still sees it.
    void Abandon()
    {
        // Never destroyed, so that the states stay reachable to the very end.
        static auto* abandoned = new std::vector<lua_State*>;
        abandoned->push_back(State.release());
        ForgetLibraries();
        Loading.clear();
        Depth = 0;
    }

    // The memory of the state closed by the last reset, for the next state.
    TScriptHeap::TSpareMemory Spares;
    bool KeepMemory = false;
    // Last, so that it is closed while everything above still exists.
    TLuaState State;
};

namespace {

int HostLoad(lua_State* L)
{
    auto* impl = static_cast<TProcContainer::TImpl*>(lua_touserdata(L, lua_upvalueindex(1)));
    std::string name = StringArgument(L, 1, "host.load");
    std::string path = FindLibrary(name);
    if (path.empty())
        throw EHostError("host.load: no library " + name + " in " + SystemDir() + " or " + UserDir());
    int ref = LUA_NOREF;
    try {
        ref = impl->LibraryRef(path);
    } catch (const EHostError& e) {
        throw EHostError("host.load: " + path + ": " + e.Message());
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    return 1;
}

int HostRemember(lua_State* L)
{
    auto* impl = static_cast<TProcContainer::TImpl*>(lua_touserdata(L, lua_upvalueindex(1)));
    std::string key = StringArgument(L, 1, "host.remember");
    if (lua_isnoneornil(L, 2))
        impl->Remembered.erase(key);
    else
        impl->Remembered[key] = StringArgument(L, 2, "host.remember");
    return 0;
}

int HostRecall(lua_State* L)
{
    auto* impl = static_cast<TProcContainer::TImpl*>(lua_touserdata(L, lua_upvalueindex(1)));
    // The key is gone before anything is pushed: a push can raise, and the jump would skip
    // its destructor.
    auto found = impl->Remembered.find(StringArgument(L, 1, "host.recall"));
    if (found == impl->Remembered.end())
        lua_pushnil(L);
    else
        lua_pushlstring(L, found->second.data(), found->second.size());
    return 1;
}

// host.run_library(name, fn, ...): runs fn(...) as the loading of the library name and
// answers as pcall does. The call's library time limit bounds it (unless a time limit of
// the whole call already runs): past it, fn is stopped and the answer is false and
// "Loading the library exceeded the time limit of N s". Nothing here may need a
// destructor: the checks raise Lua errors.
int HostRunLibrary(lua_State* L)
{
    auto* impl = static_cast<TProcContainer::TImpl*>(lua_touserdata(L, lua_upvalueindex(1)));
    const char* name = luaL_checkstring(L, 1);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    const double limit = impl->LibraryTimeLimit;
    const bool timed = limit > 0 && !ScriptHooks::TimeLimitActive();
    std::snprintf(LoadingLibrary, sizeof LoadingLibrary, "%s", name);
    lua_remove(L, 1);
    if (timed)
        ScriptHooks::StartTimeLimit(limit);
    const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    const bool passed = timed && ScriptHooks::TimeLimitPassed();
    if (timed) {
        ScriptHooks::EndTimeLimit();
        ScriptHooks::Refresh(L);
    }
    LoadingLibrary[0] = '\0';
    if (status == LUA_OK) {
        lua_pushboolean(L, 1);
        lua_insert(L, 1);
        return lua_gettop(L);
    }
    lua_pushboolean(L, 0);
    if (passed) {
        char seconds[32];
        *std::to_chars(seconds, seconds + sizeof seconds - 1, limit).ptr = '\0';
        lua_pushfstring(L, "Loading the library exceeded the time limit of %s s", seconds);
    } else
        lua_pushvalue(L, -2);
    return 2;
}

} // namespace

TProcContainer::TProcContainer() : FImpl(std::make_unique<TImpl>()) {}

TProcContainer::~TProcContainer() = default;

TProcContainer& TProcContainer::Instance()
{
    static TProcContainer container;
    return container;
}

namespace {

// The part of a call that runs as the script call: everything that touches the state, so
// that an abandoned call leaves nothing behind that would touch it again.
struct TCallBody {
    TProcContainer::TImpl* Impl;
    lua_State* L;
    const std::string* Library;
    TCallRequest Request;
    int Status = LUA_OK;
    std::string Failure; // the Lua error, or the library's load error
    bool LibraryFailed = false;
    std::string Answer;
};

void RunCallBody(void* arg)
{
    TCallBody& body = *static_cast<TCallBody*>(arg);
    try {
        body.Request.EnvRef = body.Impl->LibraryRef(*body.Library);
    } catch (const EHostError& e) {
        body.LibraryFailed = true;
        body.Failure = e.Message();
        return;
    }
    lua_State* L = body.L;
    TStackGuard guard(L);
    lua_pushcfunction(L, MessageHandler);
    int handler = lua_gettop(L);
    ++body.Impl->Depth;
    if (!CallDirectly(L, body.Request, handler, body.Status)) {
        lua_pushcfunction(L, CallProcedure);
        lua_pushlightuserdata(L, &body.Request);
        body.Status = lua_pcall(L, 1, 1, handler);
    }
    --body.Impl->Depth;
    if (body.Status != LUA_OK) {
        body.Failure = ErrorText(L, body.Status);
        return;
    }
    if (body.Request.Outcome == TCallOutcome::Answered) {
        std::size_t len = 0;
        const char* answer = lua_tolstring(L, -1, &len);
        body.Answer.assign(answer, len);
    } else if (body.Request.Outcome == TCallOutcome::AnsweredLines) {
        if (!lua_checkstack(L, 3)) {
            body.Status = LUA_ERRMEM;
            body.Failure = ErrorText(L, LUA_ERRMEM);
            return;
        }
        std::string& answer = body.Answer;
        try {
            // A little more than a script's estimate, as growing would copy it all.
            const std::size_t size = body.Request.LinesSize;
            answer.reserve(size + (body.Request.LinesEstimated ? size / 8 : 0));
        } catch (const std::exception&) {
            // A size the script gave that cannot be had: the answer grows as it is joined.
        }
        bool first = true;
        // Lines whose size the script gave were not looked at in the protected call.
        const char* bad = ForEachLine(L, -1, [&](const char* text, std::size_t size, bool newLine) {
            if (newLine && !first)
                answer.push_back('\n');
            first = false;
            answer.append(text, size);
        });
        if (bad) {
            body.Request.Outcome = TCallOutcome::BadLine;
            body.Request.TypeName = bad;
            answer.clear();
        }
    }
}

} // namespace

void TProcContainer::Call(const std::string& library, const std::string& proc,
                          const std::vector<std::unique_ptr<TOneCallParameter>>& params,
                          TOneCallParameter& result, double timeLimit, double libraryTimeLimit)
{
    lua_State* L = nullptr;
    try {
        L = FImpl->GetState();
    } catch (const EHostError& e) {
        CallFailed(library, proc, e.Message());
    }
    FImpl->LibraryTimeLimit = libraryTimeLimit;
    // The library's main chunk counts as part of the call, so that a library that hangs
    // while it loads is stopped too.
    TRunningCall running(L, timeLimit);
    TCallBody body{FImpl.get(), L, &library,
                   TCallRequest{LUA_NOREF, &proc, &params, FImpl->ProcNameSlot(proc), &FImpl->Hints},
                   LUA_OK, {}, false, {}};
    const Sys::TScriptCallEnd end = Sys::RunScriptCall(RunCallBody, &body, OnPoke);
    if (end != Sys::TScriptCallEnd::Returned) {
        // Nothing will wait for the commands the call started any more.
        Sys::SignalChildGroups(SIGKILL);
        FImpl->Abandon();
        running.Abandoned();
        ThrowAbandoned(end);
    }
    if (body.LibraryFailed || body.Status != LUA_OK) {
        // A call that finished before the stop reached it keeps its answer.
        ThrowIfStopped();
        CallFailed(library, proc, body.Failure);
    }
    switch (body.Request.Outcome) {
    case TCallOutcome::Answered:
    case TCallOutcome::AnsweredLines:
        break;
    case TCallOutcome::NoProcedure:
        CallFailed(library, proc, "the library has no procedure " + proc);
    case TCallOutcome::NotAProcedure:
        CallFailed(library, proc, proc + " is a " + body.Request.TypeName + ", not a procedure");
    case TCallOutcome::BadResult:
        CallFailed(library, proc, "the procedure answered a " + std::string(body.Request.TypeName) +
                                      " instead of a string");
    case TCallOutcome::BadLine:
        CallFailed(library, proc, "the procedure answered lines holding a " + std::string(body.Request.TypeName) +
                                      " instead of a string");
    }
    result.SetAsString(std::move(body.Answer));
}

void StopScripts(const char* cause) noexcept { ScriptHooks::SetStopCause(cause); }

void ResumeScripts() noexcept { ScriptHooks::ClearStopCause(); }

void TProcContainer::Reset()
{
    if (FImpl->Depth > 0)
        throw EHostError("The procedure container cannot be reset while a script procedure runs");
    // A reset is followed by a new state, most often at once (the window's reload before
    // every run): it builds on the memory the old one leaves.
    CloseState(0, true);
}

bool TProcContainer::Close(double timeLimit) noexcept
{
    return CloseState(timeLimit, false);
}

bool TProcContainer::CloseState(double timeLimit, bool keepMemory) noexcept
{
    if (FImpl->Depth > 0)
        return true;
    FImpl->ForgetLibraries();
    FImpl->KeepMemory = keepMemory;
    if (!keepMemory)
        FImpl->Spares.Clear();
    if (!FImpl->State)
        return true;
    // Finalizers run while the state closes; they must not open a new one, and one that
    // never returns (no hook runs in a finalizer) is given up like a hung test.
    // No hook runs in a finalizer, so only the give-up can end one that loops; after a
    // stop signal it starts at once.
    FImpl->Closing = true;
    const double limit = ScriptHooks::StopCause() ? 0.001 : timeLimit;
    if (limit > 0)
        ScriptHooks::StartTimeLimit(limit);
    const Sys::TScriptCallEnd end = Sys::RunScriptCall(
        [](void* impl) {
            auto* self = static_cast<TImpl*>(impl);
            // Released first, as a reset would, so that a finalizer finds no state to use.
            if (lua_State* L = self->State.release())
                TScriptHeap::CloseState(L, self->KeepMemory ? &self->Spares : nullptr);
        },
        FImpl.get(), OnPoke);
    if (limit > 0)
        ScriptHooks::EndTimeLimit();
    if (end != Sys::TScriptCallEnd::Returned)
        FImpl->Abandon();
    FImpl->Closing = false;
    return end == Sys::TScriptCallEnd::Returned;
}

bool CloseScriptEngine(double timeLimit) noexcept { return TProcContainer::Instance().Close(timeLimit); }

} // namespace WexelHost

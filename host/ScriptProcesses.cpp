#include "host/ScriptProcesses.h"

#include "host/ScriptHooks.h"
#include "platform/Process.h"

#include <lua.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace WexelHost {

namespace {

bool Stopped() { return ScriptHooks::StopInForce(); }

int Execute(lua_State* L)
{
    // Without a command the question is whether a shell exists: Lua's own answer will do.
    if (lua_isnoneornil(L, 1)) {
        lua_settop(L, 0);
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_call(L, 0, LUA_MULTRET);
        return lua_gettop(L);
    }
    const char* command = luaL_checkstring(L, 1);
    errno = 0;
    const int pid = Sys::SpawnShell(command, Sys::TChildPipe::None, nullptr);
    const int status = pid < 0 ? -1 : Sys::WaitChild(pid, Stopped);
    return luaL_execresult(L, status);
}

// A file handle of the io library with the child's pid behind it: the library's own
// functions read the first part, as for any handle made in C.
struct TPipeStream {
    luaL_Stream Stream;
    int Pid;
};

int ClosePipe(lua_State* L)
{
    auto* pipe = static_cast<TPipeStream*>(luaL_checkudata(L, 1, LUA_FILEHANDLE));
    std::fclose(pipe->Stream.f);
    errno = 0;
    return luaL_execresult(L, Sys::WaitChild(pipe->Pid, Stopped));
}

int Popen(lua_State* L)
{
    const char* command = luaL_checkstring(L, 1);
    const char* mode = luaL_optstring(L, 2, "r");
    auto* pipe = static_cast<TPipeStream*>(lua_newuserdatauv(L, sizeof(TPipeStream), 0));
    pipe->Stream.f = nullptr;
    pipe->Stream.closef = nullptr; // a closed handle until the command runs
    pipe->Pid = -1;
    luaL_setmetatable(L, LUA_FILEHANDLE);
    const bool reading = std::strcmp(mode, "r") == 0;
    luaL_argcheck(L, reading || std::strcmp(mode, "w") == 0, 2, "invalid mode");
    errno = 0;
    int end = -1;
    const int pid = Sys::SpawnShell(command, reading ? Sys::TChildPipe::FromChild : Sys::TChildPipe::ToChild, &end);
    if (pid < 0)
        return luaL_fileresult(L, 0, command);
    pipe->Stream.f = Sys::OpenPipeStream(end, reading);
    if (!pipe->Stream.f) {
        const int error = errno;
        Sys::WaitChild(pid, Stopped);
        errno = error;
        return luaL_fileresult(L, 0, command);
    }
    pipe->Pid = pid;
    pipe->Stream.closef = ClosePipe;
    return 1;
}

} // namespace

void InstallScriptProcesses(lua_State* L)
{
    lua_getglobal(L, "os");
    lua_getfield(L, -1, "execute");
    lua_pushcclosure(L, Execute, 1);
    lua_setfield(L, -2, "execute");
    lua_pop(L, 1);
    lua_getglobal(L, "io");
    lua_pushcfunction(L, Popen);
    lua_setfield(L, -2, "popen");
    lua_pop(L, 1);
}

} // namespace WexelHost

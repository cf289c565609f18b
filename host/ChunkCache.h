#pragma once
// Compiled script libraries kept across the script engine's resets. Every run from the
// window starts a fresh Lua state, so every library is loaded again; an unchanged one
// need not be compiled again, only executed. A file counts as unchanged while its path,
// size, modification time, inode and device are those it was compiled from.

#include <string>

struct lua_State;

namespace WexelHost {

// Pushes the compiled main chunk of the file at path onto L's stack: recalled when the
// file is unchanged, else read from the file and compiled, source or binary, as
// luaL_loadbufferx does. Returns that status; on a failure the message is pushed
// instead, except for LUA_ERRFILE (the file could not be opened or read), which pushes
// nothing. Raises nothing from Lua, so it is safe outside a protected call. The chunk
// name applies to a chunk compiled now; a recalled one keeps the name it was compiled
// with, and a different name compiles afresh. Only source chunks are kept. opened, when
// given, tells a file that could not be opened from one that could not be read.
int LoadFileChunk(lua_State* L, const std::string& path, const std::string& chunkName, bool* opened = nullptr);

// Forgets every kept chunk.
void ForgetFileChunks();

// For scripts, as host.loadfile(path [, chunkname [, env]]): the chunk as a function (its
// globals env when given), or nil and the reason, as loadfile answers.
int HostLoadFile(lua_State* L);

} // namespace WexelHost

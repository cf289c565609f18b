#pragma once
// os.execute and io.popen for scripts: the same answers as Lua's own, but each command
// runs in a process group of its own that a stopped test ends (see Sys::SpawnShell), and
// a wait for it gives way to a stop instead of holding the run until the command is done.

struct lua_State;

namespace WexelHost {

// Replaces os.execute and io.popen in a fresh state. Runs inside a protected call.
void InstallScriptProcesses(lua_State* L);

} // namespace WexelHost

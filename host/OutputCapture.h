#pragma once
// What a script writes to standard output (print, io.write while the default output is
// standard output, io.stdout:write) goes through the console path that the runner's own
// output takes, so that both stay in order; while a capture is open it is also kept, for
// the report of the test that wrote it.

#include <cstddef>

struct lua_State;

namespace WexelHost {

// Replaces print, io.write and the files' write method in a fresh state. Runs inside a
// protected call: it may raise a Lua error.
void InstallOutputCapture(lua_State* L);

// The most a capture keeps; the rest is counted and named in one closing line.
inline constexpr std::size_t CaptureLimit = 1024 * 1024;

} // namespace WexelHost

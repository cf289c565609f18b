#pragma once
// Line coverage of the script libraries. A line hook counts the lines each chunk runs, in
// C data keyed by the chunk's source name; the executable lines of a chunk come from its
// compiled form, so blank lines, comments and lone "end"s never count as missed. At the end
// the counts go to an LCOV tracefile or Cobertura XML.

#include <string>
#include <vector>

struct lua_State;
struct lua_Debug;

namespace WexelHost::Coverage {

inline constexpr const char* FileVariable = "WEXEL_COVERAGE";
inline constexpr const char* IncludeVariable = "WEXEL_COVERAGE_INCLUDE";
inline constexpr const char* ExcludeVariable = "WEXEL_COVERAGE_EXCLUDE";
// Directories, ";"-separated, where the sources named inside compiled libraries are looked
// for when they are not beside the library.
inline constexpr const char* SourcesVariable = "WEXEL_COVERAGE_SOURCES";

// Whether a run collects coverage; false costs the host nothing but this test.
bool Active() noexcept;

// Starts collecting for the report file. Reads the include, exclude and sources variables;
// raises EHostError for a pattern that is not a valid Lua pattern.
void Start(const std::string& reportFile);

// Writes the report and prints the summary (and one line per library that cannot be
// measured) on standard error, then stops collecting. Raises EHostError when the file
// cannot be written. Does nothing when not collecting.
void Finish();

// The line hook. Counts the line and nothing else: no Lua call, no allocation once the
// chunk is known. Safe with any lua_State whose hook the host set.
void LineHook(lua_State* L, lua_Debug* ar);

// The host loaded a chunk from the file at path; the function is at index. Remembers the
// file behind the chunk's source name, or that the file cannot be measured.
void NoteChunk(lua_State* L, int index, const char* path) noexcept;

// The test libraries the mask selected, which the default leaves out of the figures.
void NoteTestLibraries(const std::vector<std::string>& paths) noexcept;

// Executable lines of a compiled chunk (lua_dump output with debug information), through
// every nested function; empty when the chunk has none or the format is not understood.
std::vector<int> ExecutableLines(const std::string& dump);

} // namespace WexelHost::Coverage

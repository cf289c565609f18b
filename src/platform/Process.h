#pragma once
// Process services: command line, exit code, ending the process, where the binaries
// live, the environment and raw console writes.

#include <string>
#include <string_view>
#include <vector>

namespace Sys {

// The process command line as one string, the form the command-line reader parses: the
// program name and the arguments joined by one blank, an argument that is empty or
// contains a blank put in double quotes. Arguments are taken as they are otherwise, so
// a quotation mark inside an argument reaches the reader unchanged.
std::string CommandLine();

// Builds such a line from an argument vector (argv[0] first).
std::string JoinCommandLine(const std::vector<std::string>& args);

// Replaces the process's own arguments for CommandLine(); tests of in-process runs use it.
void SetCommandLineArgs(std::vector<std::string> args);
void ResetCommandLineArgs();

// The exit code the host ends with when Main returns normally.
int ExitCode();
void SetExitCode(int code);

// Ends the process at once: flushes the console streams and exits with the code.
[[noreturn]] void Halt(int code);

// Directory of the running executable, without a trailing separator.
std::string ExeDir();

// Full path of the running executable.
std::string ExeFileName();

// Full path of the module (executable or shared library) that holds the address.
std::string ModuleFileName(const void* addressInModule);

// Load address of the module that holds the address; nullptr when none does.
const void* ModuleBase(const void* addressInModule);

// Environment variables; an unset variable reads as empty.
std::string GetEnv(const std::string& name);
void SetEnv(const std::string& name, const std::string& value);

constexpr char PathDelim = '/';
constexpr char PathListSep = ':';

// Opens /dev/null on each of descriptors 0 to 2 that is closed, so that the next file
// the process opens (a report) cannot take the place of standard output.
void OpenClosedStdHandles();

enum class TStdHandle { Output, Error };

// Writes the bytes to the handle, retrying partial writes; write errors are ignored (a
// reader that closed its pipe early must not end a run). Standard output is buffered and
// reaches the descriptor at most 50 ms after it was written, when the buffer is full, on
// FlushConsole, before anything is written to standard error, and when the process exits
// or halts. Whatever writes to descriptor 1 other than through here (or points it
// elsewhere for a while) calls FlushConsole first, so that the order holds.
void WriteRaw(TStdHandle handle, std::string_view bytes);

// Writes out what standard output holds. Safe from any thread.
void FlushConsole();

// The same for a path that ends the process from a signal handler: takes no lock and
// only calls write(). Bytes written concurrently by an interrupted WriteRaw may be missed.
void FlushConsoleFromSignal();

} // namespace Sys

#pragma once
// Process services: command line, exit code, ending the process, where the binaries
// live, the environment and raw console writes.

#include <cstdio>
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
// The same without running any destructor or exit handler: after a crash the heap may be
// damaged, and freeing what is left would only crash again.
[[noreturn]] void HaltWithoutCleanUp(int code);

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
// reader that closed its pipe early must not end a run; once it has gone, EPIPE, nothing
// more is written to that handle). Standard output is buffered and
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

// Child processes of scripts (os.execute, io.popen). Each runs "/bin/sh -c command" as
// the leader of a process group of its own, with the default signal actions and an empty
// signal mask, and is listed until WaitChild reaps it, so that a stop can end it and
// everything it started with one kill of the group.
enum class TChildPipe { None, FromChild, ToChild };
// The child's pid, or -1 with errno set. With a pipe, parentEnd receives the parent's
// end (close-on-exec); the child's standard output or input is the other.
int SpawnShell(const std::string& command, TChildPipe pipe, int* parentEnd);
// Waits for the child and returns its wait status, or -1 with errno set. While stopped()
// answers true the child's group is sent SIGTERM, and SIGKILL half a second later, so a
// stopped wait ends whatever the child does; EINTR alone does not end it.
int WaitChild(int pid, bool (*stopped)());
// Opens a stream on the parent's end of a child's pipe; closes the end and answers
// nullptr (errno set) when it cannot.
std::FILE* OpenPipeStream(int parentEnd, bool reading);
// Sends the signal to the group of every listed child. Safe in a signal handler.
void SignalChildGroups(int signal) noexcept;

// Asks the system to back the whole huge pages inside the block with huge pages, so that
// a large block that is filled soon faults in a few times rather than page by page.
// Nothing when the system has none to give.
void OfferHugePages(void* block, std::size_t size) noexcept;

} // namespace Sys

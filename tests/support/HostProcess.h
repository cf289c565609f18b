#pragma once
// Runs build/stage/EXE/wexel-host (or any program) as a child process and collects what
// it wrote to standard output and standard error, byte for byte, and its exit code.

#include "platform/Process.h"

#include <map>
#include <string>
#include <vector>

namespace TestSupport {

struct TProcessResult {
    std::string Out;
    std::string Err;
    int ExitCode = -1; // -1 when the child did not exit normally (killed by a signal)
    int Signal = 0;
};

struct TProcessOptions {
    std::string WorkDir;                      // empty: the test's own directory
    std::map<std::string, std::string> Env;   // added to (or replacing) the environment
    std::string Stdin;                        // fed to the child's standard input
};

TProcessResult RunProcess(const std::vector<std::string>& argv, const TProcessOptions& options = {});

// The staged host program, with the given arguments.
TProcessResult RunHost(const std::vector<std::string>& args, const TProcessOptions& options = {});

std::string StageDir();
std::string HostPath();

// A fresh empty directory below the system's temporary directory, removed on destruction.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Sets an environment variable for the lifetime of the object and restores it after.
class TEnvOverride {
public:
    TEnvOverride(std::string name, const std::string& value) : FName(std::move(name)), FOld(Sys::GetEnv(FName))
    {
        Sys::SetEnv(FName, value);
    }
    ~TEnvOverride() { Sys::SetEnv(FName, FOld); }
    TEnvOverride(const TEnvOverride&) = delete;
    TEnvOverride& operator=(const TEnvOverride&) = delete;

private:
    std::string FName, FOld;
};

} // namespace TestSupport

#pragma once
// A copy of the staged installation in a temporary directory. The host program resolves
// everything relative to its own directory, so a test can replace a script library in the
// copy (for example a Wexel.qlx speaking another protocol version) and run the copied
// EXE/wexel-host without touching the build's stage.

#include "HostProcess.h"

#include <string>

namespace TestSupport {

class TStageCopy {
public:
    TStageCopy();
    const std::string& Root() const { return FDir.Path(); }
    std::string ExeDir() const { return FDir.Path() + "/EXE"; }
    std::string HostPath() const { return FDir.Path() + "/EXE/wexel-host"; }
    // Writes a script library (Lua source is accepted as well as compiled chunks).
    void WriteUserLibrary(const std::string& name, const std::string& source) const;
    void WriteSystemLibrary(const std::string& name, const std::string& source) const;

private:
    TTempDir FDir;
};

} // namespace TestSupport

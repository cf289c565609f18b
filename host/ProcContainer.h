#pragma once
// The host's procedure container: one Lua state for the whole run, in which each script
// library is loaded once, into an environment of its own, and kept until Reset.

#include "bridge/HostPlatform.h"

#include <memory>
#include <string>
#include <vector>

namespace WexelHost {

class TProcContainer {
public:
    TProcContainer();
    ~TProcContainer();
    TProcContainer(const TProcContainer&) = delete;
    TProcContainer& operator=(const TProcContainer&) = delete;

    // The one container of the process.
    static TProcContainer& Instance();

    // Calls the library's global procedure with the assigned parameters (an unassigned one
    // passes nil) and stores its answer as text in result. A string is taken as it is, a
    // number converted, nil or no value gives "". Raises EExtCallError naming the library,
    // the procedure and the cause for everything else, and EScriptStopped when the call was
    // stopped from outside or ran longer than timeLimit seconds (0: no limit), or
    // EScriptAbandoned when it could not be stopped or crashed. libraryTimeLimit bounds
    // each library the call loads through host.run_library (0: no limit).
    void Call(const std::string& library, const std::string& proc,
              const std::vector<std::unique_ptr<TOneCallParameter>>& params, TOneCallParameter& result,
              double timeLimit = 0, double libraryTimeLimit = 0);

    // Closes the state: every library is loaded from its file again on its next use. What
    // scripts gave to host.remember is kept.
    void Reset();
    // Closes the state within the time limit; false when a finalizer could not be stopped
    // and the state was dropped unclosed. Nothing while a procedure runs.
    bool Close(double timeLimit) noexcept;

    struct TImpl;

private:
    // keepMemory: the state's memory stays for the next state (a reset), not the system.
    bool CloseState(double timeLimit, bool keepMemory) noexcept;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace WexelHost

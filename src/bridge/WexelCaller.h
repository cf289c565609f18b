#pragma once
// The one place where the runner talks to the script test library Wexel.qlx: where the
// library lies relative to the host executable, the scripts' search path, and the
// library's procedures as string-in, string-out calls.

#include <memory>
#include <string>
#include <string_view>

namespace WexelHost {
class TExtCall;
}

namespace Wexel {

inline constexpr const char* TimeLimitVariable = "WEXEL_TEST_TIMEOUT";

class TWexelCaller {
public:
    // Takes the host executable's directory and extends the search path. Raises for a
    // time limit in the environment that is not a positive number of seconds.
    explicit TWexelCaller(const std::string& config);
    // The same for an installation whose EXE directory is given instead.
    TWexelCaller(const std::string& config, std::string exeDir);
    // Closes the scripts' state, so that their finalizers run while a time limit and the
    // stop signals still reach them.
    ~TWexelCaller();
    TWexelCaller(const TWexelCaller&) = delete;
    TWexelCaller& operator=(const TWexelCaller&) = delete;

    // Directory of the host executable, without a trailing "/".
    std::string ExeDir;
    // The configuration name; "default" stands for ExeDir + "/../EXE/default.cfg".
    std::string Config;

    // Seconds a script test may run, from WEXEL_TEST_TIMEOUT; 0 for no limit.
    double TestTimeLimit = 0;

    // ExeDir + "/../USER/Wexel.qlx", concatenated, not normalised.
    const std::string& LibraryPath() const { return FLibraryPath; }

    // Appends ExeDir + "/../SYSTEM" and ExeDir + "/../USER" to PATH.
    void SetSearchPath();

    std::string GetProtocolVersion();
    // One test path per line.
    std::string FindTests(const std::string& mask);
    // "path<TAB>file<TAB>line" per test; raises like every call, also when the library
    // has no such procedure.
    std::string GetTestPositions(const std::string& mask);
    // A status word with an optional message. A test the host had to give up on (it
    // could not be stopped, or it crashed) raises Sys::Exception after stopping the run,
    // and leaves the exit code to match: 1 with one "Error: " line after the time limit,
    // none after a stop signal, one line naming the signal for a crash.
    std::string RunTest(std::string_view fullName);

private:
    // One external call on a fresh call object, freed whatever happens; nothing caught.
    std::string Call(const std::string& proc, const std::string* argument);
    // Runs the prepared call; a stop is said as what the user was running.
    // testPath: the test a RunTest call runs, nullptr for the other procedures.
    static void Execute(WexelHost::TExtCall& call, const std::string& proc, const std::string_view* testPath);

    std::string FLibraryPath;
    // The call of RunTest, prepared once and used for every test.
    std::unique_ptr<WexelHost::TExtCall> FRunCall;
};

} // namespace Wexel

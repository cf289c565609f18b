#pragma once
// The one place where the runner talks to the script test library Wexel.qlx: where the
// library lies relative to the host executable, the scripts' search path, and the
// library's three procedures as string-in, string-out calls.

#include <memory>
#include <string>

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
    ~TWexelCaller();

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
    // A status word with an optional message.
    std::string RunTest(const std::string& fullName);

private:
    // One external call on a fresh call object, freed whatever happens; nothing caught.
    std::string Call(const std::string& proc, const std::string* argument);
    // Runs the prepared call; a stop is said as what the user was running.
    static void Execute(WexelHost::TExtCall& call, const std::string& proc, bool isTest);

    std::string FLibraryPath;
    // The call of RunTest, prepared once and used for every test.
    std::unique_ptr<WexelHost::TExtCall> FRunCall;
};

} // namespace Wexel

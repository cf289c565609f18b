#pragma once
// The runner's one bridge object: checks that the script test library speaks our
// protocol, turns its list of test paths into registered suites of script test cases,
// and runs one script test by its path.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Wexel {

class TWexelCaller;

inline constexpr const char* ProtocolVersion = "0.87";

// Names of suites and tests are cut to this many characters.
inline constexpr std::size_t MaxNameLength = 9999;

// Which discovered tests are registered, in which order and how often: each pass lists
// positions in the discovery answer and becomes a tree of suites of its own. The paths
// are views into the answer, valid during the call.
using TRegistrationPlan = std::vector<std::vector<std::size_t>>;
using TRegistrationPlanner = std::function<TRegistrationPlan(const std::vector<std::string_view>& paths)>;

class TWexelAdapter {
public:
    // Creates the caller and checks the protocol; a mismatch leaves the adapter not ready
    // with ErrorText set. An exception from the library call passes on.
    TWexelAdapter(std::string fileMask, std::string config);
    // The same over a given caller (an installation other than the running program's).
    TWexelAdapter(std::string fileMask, std::string config, std::unique_ptr<TWexelCaller> caller);
    ~TWexelAdapter();
    TWexelAdapter(const TWexelAdapter&) = delete;
    TWexelAdapter& operator=(const TWexelAdapter&) = delete;

    bool CheckProtocol();
    // Asks the library for the tests matching the masks and registers those that Plan
    // chooses as a tree of suites. A bad line ends the registration with the assertion
    // error, whether Plan chose it or not; what was registered before it stays registered.
    void RegisterTests();
    // Runs one script test: returns for a pass (true when the test ran at least one check),
    // raises ETestFailure for a failure and Sys::Exception for anything else.
    bool RunTest(std::string_view fullName);

    // The library's declaration positions for the mask, or "" when it gives none.
    std::string TestPositions();

    bool Ready = false;
    std::string ErrorText;
    std::string FileMask;
    std::string Config;
    // Masks after FileMask; a library that an earlier mask found is not listed again.
    std::vector<std::string> MoreMasks;
    // Set by the runner (filters, shards, repeats); unset, every test once in discovery order.
    TRegistrationPlanner Plan;
    // Whether the tests learn where they are declared: a call to the library that costs
    // about as much as the discovery itself, for the reports and views that show it.
    bool WantPositions = true;
    std::unique_ptr<TWexelCaller> Caller;
};

// The adapter of the current run: set by Main before any test runs, used by every script
// test case. Not owned here.
// Defined once in the framework library: an inline variable would give every module
// that hides its symbols (the runner exports Main only) a copy of its own.
extern TWexelAdapter* WexelAdapter;

// Translates the library's answer into what the run loop judges (see
// TWexelAdapter::RunTest): it decides nothing itself. "##pass nochecks" is a pass that ran
// no check; a plain "##pass" counts as one that did, also from a library that does not
// say.
bool MapRunTestAnswer(std::string_view answer);

// Cuts a name to at most MaxNameLength characters (UTF-8 aware: never inside a character).
std::string CutName(const std::string& name);

} // namespace Wexel

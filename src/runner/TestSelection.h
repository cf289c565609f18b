#pragma once
// Which of the discovered script tests a run registers, in which order and how often:
// filters on the full path, the failures of an earlier JUnit report, a shard of a run split
// across processes, repeats and a seeded shuffle. Everything here is a pure function of
// the discovered paths and the settings, so that every process of a sharded run, and a
// rescan in the window, computes the same.

#include "bridge/WexelAdapter.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Wexel {
class TTestCaseQuill;
}

namespace WexelRunner {

// One of several runs that share the selected tests between them (CI machines running in
// parallel). Shards are dealt over the selected paths in byte order, not in discovery
// order: a library may declare its tests in a different order in every process (pairs()
// over a table), and every shard must still be disjoint from the others and all of them
// complete.
struct TShard {
    std::size_t Index = 0;
    std::size_t Count = 1;
};

// The tests that failed or erred in an earlier run, by what a JUnit report names them:
// the suite's dotted path (letter case ignored, as suites are found) and the test's name.
class TFailedTests {
public:
    void Add(std::string_view className, std::string_view testName);
    bool Holds(const std::string& fullPath) const;
    std::size_t Size() const { return FKeys.size(); }

private:
    std::unordered_set<std::string> FKeys;
};

// Reads the failures and errors of a JUnit report; Sys::Exception naming the file when it
// cannot be read or holds no JUnit report.
TFailedTests ReadFailedTests(const std::string& reportFile);

struct TSelection {
    // A path is selected when it matches any filter without "!" (or there is none) and no
    // filter with "!".
    std::vector<std::string> Filters;
    std::optional<TFailedTests> Failed;
    TShard Shard;
    std::size_t Repeat = 1;
    std::optional<std::uint64_t> ShuffleSeed;
};

// "*" matches any run of characters, "/" included, "?" one character (one byte); every
// other character stands for itself, case-sensitively.
bool MatchesGlob(std::string_view pattern, std::string_view text);

bool PassesFilters(const std::vector<std::string>& filters, std::string_view path);

// The registration plan for the discovered paths: one pass per repeat, each the positions
// of the selected paths. Without a shuffle a pass keeps discovery order; with one, the
// tests of each suite and the suites of each parent come in an order drawn from the seed,
// drawn anew for every pass.
// selected, when given, receives how many paths the filters and failures chose before the
// shard took its part: a shard may be empty when the run as a whole is not.
Wexel::TRegistrationPlan PlanRegistration(const TSelection& selection, const std::vector<std::string_view>& paths,
                                          std::size_t* selected = nullptr);
Wexel::TRegistrationPlan PlanRegistration(const TSelection& selection, const std::vector<std::string>& paths,
                                          std::size_t* selected = nullptr);

// Where a listed test was declared, as "file:line", when the library said so. The one
// place that --list asks; the script test case does not carry a position yet.
std::optional<std::string> DeclaredAt(const Wexel::TTestCaseQuill& test);

// The lines of --list: every registered script test in run order, its full path and,
// when known, a tab and where it was declared.
std::vector<std::string> ListRegisteredTests();

} // namespace WexelRunner

#pragma once
// What a CI job tells the runner through the environment: whether failing tests fail the
// process, and which shard of a run split across machines this run is (the test-sharding
// protocol that Bazel drives, and with it any CI system that numbers parallel jobs).

#include "runner/TestSelection.h"

#include <string>

namespace WexelRunner {

inline constexpr const char* ExitOnFailureVariable = "WEXEL_EXIT_ON_FAILURE";
inline constexpr const char* TotalShardsVariable = "TEST_TOTAL_SHARDS";
inline constexpr const char* ShardIndexVariable = "TEST_SHARD_INDEX";
inline constexpr const char* ShardStatusFileVariable = "TEST_SHARD_STATUS_FILE";
// Bazel's --test_filter; taken as one --filter when the command line gives none.
inline constexpr const char* TestOnlyVariable = "TESTBRIDGE_TEST_ONLY";

// The exit code of a run in which a test failed or erred, when the job asked for one;
// 1 stays with options, protocol and errors that escape the run.
inline constexpr int FailingTestsExitCode = 2;
// The exit code of a run that ran no test because nothing was selected or the mode is not
// known, when the job asked for failing tests to fail it: a typo must not pass as green.
inline constexpr int NothingRanExitCode = 5;

struct TCiSettings {
    bool ExitOnFailure = false;
    TShard Shard;
    std::string ShardStatusFile;
    std::string TestOnly;
};

// Reads the variables. A value that is set but not understood raises Sys::Exception with
// a message naming the variable: a job that meant to shard or to fail must not quietly
// run everything or pass.
TCiSettings ReadCiSettings();

// Touches the shard status file when one is named, which tells the driver that this
// runner honours the shard variables; Sys::Exception when the file cannot be made.
void TouchShardStatusFile(const std::string& path);

} // namespace WexelRunner

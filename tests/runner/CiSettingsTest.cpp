// The CI variables: what is taken, and every value that must be refused rather than
// quietly running all tests or passing a failing run.

#include "runner/CiSettings.h"

#include "HostProcess.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

using namespace WexelRunner;
using TestSupport::TEnvOverride;

namespace {

std::string Refusal(const std::string& onFailure, const std::string& total, const std::string& index)
{
    TEnvOverride a(ExitOnFailureVariable, onFailure), b(TotalShardsVariable, total), c(ShardIndexVariable, index);
    try {
        ReadCiSettings();
        return "";
    } catch (const Sys::Exception& e) {
        return e.Message();
    }
}

} // namespace

TEST(CiSettings, TakesTheSwitchAndTheShardAndRefusesWhatItDoesNotUnderstand)
{
    {
        TEnvOverride a(ExitOnFailureVariable, "1"), b(TotalShardsVariable, "3"), c(ShardIndexVariable, "2");
        const TCiSettings settings = ReadCiSettings();
        EXPECT_TRUE(settings.ExitOnFailure);
        EXPECT_EQ(settings.Shard.Index, 2u);
        EXPECT_EQ(settings.Shard.Count, 3u);
    }
    EXPECT_EQ(Refusal("0", "1", "0"), "");
    EXPECT_EQ(Refusal("yes", "", ""), "WEXEL_EXIT_ON_FAILURE must be 0 or 1, not \"yes\"");
    for (const char* total : {"", "0", "-3", "+3", " 3", "3x", "99999999999999999999999"})
        EXPECT_EQ(Refusal("", total, "0"), std::string("TEST_TOTAL_SHARDS must be a whole number of shards, "
                                                       "at least 1, not \"") + total + "\"");
    for (const char* index : {"", "-1", "3"})
        EXPECT_EQ(Refusal("", "3", index), std::string("TEST_SHARD_INDEX must be a whole number from 0 to 2 "
                                                       "(TEST_TOTAL_SHARDS is 3), not \"") + index + "\"");
}

TEST(CiSettings, AStatusFileThatCannotBeMadeIsAnError)
{
    TestSupport::TTempDir dir;
    EXPECT_THROW(TouchShardStatusFile(dir.File("missing/status")), Sys::Exception);
}

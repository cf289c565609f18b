#include "HostProcess.h"
#include "platform/SysUtils.h"
#include "runner/TestSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace WexelRunner;

namespace {

std::vector<std::size_t> Flatten(const Wexel::TRegistrationPlan& plan)
{
    std::vector<std::size_t> all;
    for (const auto& pass : plan)
        all.insert(all.end(), pass.begin(), pass.end());
    return all;
}

std::vector<std::string> PathsOf(const std::vector<std::size_t>& positions, const std::vector<std::string>& paths)
{
    std::vector<std::string> chosen;
    for (std::size_t i : positions)
        chosen.push_back(paths[i]);
    return chosen;
}

} // namespace

TEST(Glob, StarSpansLevelsQuestionMarkOneByteAndTheWholePathMustMatch)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    for (const Case& c : std::vector<Case>{
             {"Orders/*", "Orders/Pricing/Tax/Rate", true},
             {"*Discount*", "Orders/Pricing/Discounts/TenPercent", true},
             {"*/Tax/*", "Orders/Tax", false},
             {"Csv/Parse/EmptyLastField", "Csv/Parse/EmptyLastField", true},
             {"Csv/Parse/EmptyLastField", "Csv/Parse/EmptyLastFields", false},
             {"csv/*", "Csv/Parse", false},
             {"A?C", "ABC", true},
             {"A?C", "AC", false},
             {"*a*b", "xaxbxab", true},
             {"*a*b", "xaxbxa", false},
             {"", "", true},
             {"", "A", false},
             {"**", "", true},
         })
        EXPECT_EQ(MatchesGlob(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
    // Stars that cannot match must not cost exponential time.
    EXPECT_FALSE(MatchesGlob("*a*a*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

TEST(Filters, AnyInclusionSelectsAndEveryExclusionWins)
{
    EXPECT_TRUE(PassesFilters({}, "A/x"));
    EXPECT_TRUE(PassesFilters({"!B/*"}, "A/x"));
    EXPECT_FALSE(PassesFilters({"!B/*"}, "B/x"));
    EXPECT_TRUE(PassesFilters({"B/*", "A/*"}, "A/x"));
    EXPECT_FALSE(PassesFilters({"B/*", "A/*"}, "C/x"));
    EXPECT_FALSE(PassesFilters({"!*/x", "A/*"}, "A/x"));
}

// Whatever order discovery gives, each shard holds the same paths, the shards hold every
// selected path once, and a shard keeps discovery order.
TEST(Shards, DependOnThePathsNotOnTheDiscoveryOrder)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 53; ++i)
        paths.push_back("L/S" + std::to_string(i % 4) + "/t" + std::to_string(i));
    std::mt19937 random(7);
    for (std::size_t count : {1u, 2u, 4u, 5u}) {
        std::map<std::size_t, std::set<std::string>> first;
        for (int round = 0; round < 5; ++round) {
            std::shuffle(paths.begin(), paths.end(), random);
            std::multiset<std::string> together;
            for (std::size_t index = 0; index < count; ++index) {
                TSelection selection;
                selection.Filters = {"!*/t13"};
                selection.Shard = {index, count};
                std::size_t selected = 0;
                const auto plan = PlanRegistration(selection, paths, &selected);
                EXPECT_EQ(selected, 52u);
                ASSERT_EQ(plan.size(), 1u);
                EXPECT_TRUE(std::is_sorted(plan[0].begin(), plan[0].end()));
                EXPECT_LE(plan[0].size(), 52 / count + 1);
                EXPECT_GE(plan[0].size(), 52 / count);
                const auto shard = PathsOf(plan[0], paths);
                together.insert(shard.begin(), shard.end());
                const std::set<std::string> held(shard.begin(), shard.end());
                if (round == 0)
                    first[index] = held;
                EXPECT_EQ(held, first[index]) << count << " " << index;
            }
            EXPECT_EQ(together.size(), 52u);
            EXPECT_EQ(std::set<std::string>(together.begin(), together.end()).size(), 52u);
        }
    }
}

TEST(Shuffle, KeepsSuitesTogetherReplaysItsSeedAndRedrawsEveryPass)
{
    // Suites are one suite whatever their letter case, as in the registered tree.
    std::vector<std::string> paths;
    for (int i = 0; i < 30; ++i)
        paths.push_back(std::string(i % 2 ? "L/s" : "L/S") + std::to_string(i % 3) + "/t" + std::to_string(i));
    TSelection selection;
    selection.ShuffleSeed = 42;
    selection.Repeat = 2;
    const auto plan = PlanRegistration(selection, paths);
    EXPECT_EQ(plan, PlanRegistration(selection, paths));
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_NE(plan[0], plan[1]);
    for (const auto& pass : plan) {
        EXPECT_TRUE(std::is_permutation(pass.begin(), pass.end(), PlanRegistration({}, paths)[0].begin()));
        // Each suite's tests form one run.
        std::string suites;
        for (std::size_t i : pass) {
            const char suite = paths[i][3];
            if (suites.empty() || suites.back() != suite)
                suites += suite;
        }
        EXPECT_EQ(suites.size(), 3u) << suites;
    }
    selection.ShuffleSeed = 43;
    EXPECT_NE(PlanRegistration(selection, paths), plan);
}

TEST(RerunFailed, SelectsTheFailuresAndErrorsOfAJUnitReport)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("report.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="5" failures="1" errors="1">
  <testsuite name="Orders.Pricing"><testcase classname="Orders.Pricing" name="Round"><failure type="ETestFailure" message="x">x</failure></testcase>
    <testcase classname="Orders.Pricing" name="Pass"/></testsuite>
  <testsuite name="Csv.v1%2E2"><testcase classname="Csv.v1%2E2" name="Parse &amp; Split"><error type="Exception" message="y"/></testcase>
    <testcase classname="Csv.v1%2E2" name="Skip"><skipped/></testcase></testsuite>
</testsuites>)");
    const TFailedTests failed = ReadFailedTests(dir.File("report.xml"));
    EXPECT_EQ(failed.Size(), 2u);
    EXPECT_TRUE(failed.Holds("Orders/Pricing/Round"));
    EXPECT_TRUE(failed.Holds("orders/PRICING/Round")) << "suites ignore letter case";
    EXPECT_FALSE(failed.Holds("Orders/Pricing/round"));
    EXPECT_FALSE(failed.Holds("Orders/Pricing/Pass"));
    EXPECT_TRUE(failed.Holds("Csv/v1.2/Parse & Split")) << "a dot inside a suite name";
    EXPECT_FALSE(failed.Holds("Csv/Skip"));

    TSelection selection;
    selection.Failed = failed;
    selection.Filters = {"Orders/*"};
    const std::vector<std::string> paths{"Csv/v1.2/Parse & Split", "Orders/Pricing/Pass", "Orders/Pricing/Round"};
    EXPECT_EQ(Flatten(PlanRegistration(selection, paths)), std::vector<std::size_t>{2});

    // A bare testsuite root is a report too; anything else is refused with the file's name.
    TestSupport::WriteFile(dir.File("one.xml"), R"(<testsuite><testcase classname="A" name="b"><error/></testcase></testsuite>)");
    EXPECT_TRUE(ReadFailedTests(dir.File("one.xml")).Holds("A/b"));
    TestSupport::WriteFile(dir.File("cut.xml"), "<testsuites><testsuite name=\"A\">");
    TestSupport::WriteFile(dir.File("other.xml"), "<test-results/>");
    for (const char* name : {"cut.xml", "other.xml", "missing.xml", ""}) {
        try {
            ReadFailedTests(dir.File(name));
            ADD_FAILURE() << name;
        } catch (const Sys::Exception& e) {
            EXPECT_EQ(e.Message().rfind("--rerun-failed: " + dir.File(name) + " ", 0), 0u) << e.Message();
        }
    }
}

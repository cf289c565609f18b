// Which children of a suite a run left out, as the XML reports list them after a stop.

#include "report/ReachedTests.h"

#include "core/TestSuite.h"

#include <gtest/gtest.h>

using TestFramework::ITestPtr;
using TestFramework::TTestList;
using TestFramework::TTestSuite;
using XmlReport::TReachedTests;

namespace {

std::vector<std::string> Names(const std::vector<ITestPtr>& tests)
{
    std::vector<std::string> names;
    for (const ITestPtr& t : tests)
        names.push_back(t->GetName());
    return names;
}

} // namespace

// In order, cut short, out of order (a shuffled run), reached twice in a row, a child
// listed twice, and tests that are no children at all (the suite itself).
TEST(ReachedTests, NamesTheChildrenLeftOutInTheirOrderWhateverOrderTheRunTook)
{
    TTestList children;
    for (const char* name : {"a", "b", "c", "d"})
        children.push_back(std::make_shared<TTestSuite>(name));
    const auto reached = [&](std::initializer_list<int> order) {
        TReachedTests r;
        for (int i : order)
            r.Reach(i < 0 ? nullptr : children[static_cast<std::size_t>(i)].get());
        return Names(r.NotReached(children));
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(reached({0, 1, 2, 3}), V{});
    EXPECT_EQ(reached({0, 0, 1, 1, 2, 3, 3}), V{});
    EXPECT_EQ(reached({0, 1}), (V{"c", "d"}));
    EXPECT_EQ(reached({}), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(reached({2, 0, 3}), V{"b"});
    EXPECT_EQ(reached({-1, 0, 1, 2, 3}), V{});
    EXPECT_EQ(reached({0, 2}), (V{"b", "d"}));

    children.push_back(children[1]); // "b" listed twice
    EXPECT_EQ(reached({0, 1, 2, 3, 1}), V{});
    EXPECT_EQ(reached({0, 1, 2, 3}), V{});
    EXPECT_EQ(reached({0, 2, 3}), (V{"b", "b"}));
}

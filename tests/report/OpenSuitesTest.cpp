#include "report/OpenSuites.h"

#include <gtest/gtest.h>

using XmlReport::TOpenSuites;

namespace {

// Stand-ins for the suite objects the listener would pass.
int SuiteR, SuiteA, SuiteB;

} // namespace

TEST(OpenSuites, NamesAndClosesByIdentity)
{
    TOpenSuites open;
    EXPECT_EQ(open.SuiteName("R"), "R");
    EXPECT_EQ(open.SuitePathPrefix(), "");

    // Two different suites may share a name.
    open.Open(&SuiteR, "R");
    open.Open(&SuiteA, "A");
    open.Open(&SuiteB, "A");
    EXPECT_EQ(open.SuitePathPrefix(), "R.A.A.");
    EXPECT_EQ(open.SuiteName("C"), "R.A.A.C");

    // A suite that is not open closes nothing.
    const int other = 0;
    EXPECT_EQ(open.Close(&other), 0u);
    EXPECT_EQ(open.Depth(), 3u);

    // The outer A ends while the inner one, opened inside it, never got its end: both close.
    EXPECT_EQ(open.Close(&SuiteA), 2u);
    EXPECT_EQ(open.SuitePathPrefix(), "R.");
    EXPECT_EQ(open.SuiteName("C"), "R.C");
    EXPECT_EQ(open.Close(&SuiteB), 0u);

    EXPECT_EQ(open.CloseAll(), 1u);
    EXPECT_EQ(open.SuitePathPrefix(), "");
    EXPECT_EQ(open.CloseAll(), 0u);
}

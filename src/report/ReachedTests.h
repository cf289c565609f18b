#pragma once
// Which children of a suite a run reached, for reports that list the tests a stopped run
// left out. A run reaches children in their order, so the record is a list in that order,
// and telling the children left out is one walk beside it; a set built per test cost an
// allocation per test case.

#include "core/TestInterfaces.h"

#include <algorithm>
#include <vector>

namespace XmlReport {

class TReachedTests {
public:
    // A test is often reached more than once in a row (at its start and at its outcome):
    // kept once.
    void Reach(const TestFramework::ITest* test)
    {
        if (FReached.empty() || FReached.back() != test)
            FReached.push_back(test);
    }

    // The children that were not reached, in their order.
    std::vector<TestFramework::ITestPtr> NotReached(const TestFramework::TTestList& children) const
    {
        std::vector<TestFramework::ITestPtr> left;
        std::size_t i = 0;
        while (i < children.size() && i < FReached.size() && children[i].get() == FReached[i])
            ++i;
        if (i == children.size())
            return left;
        // Out of order, cut short, or a child listed twice: each remaining child is
        // looked up among all that were reached.
        std::vector<const TestFramework::ITest*> sorted(FReached);
        std::sort(sorted.begin(), sorted.end());
        for (; i < children.size(); ++i)
            if (!std::binary_search(sorted.begin(), sorted.end(), children[i].get()))
                left.push_back(children[i]);
        return left;
    }

private:
    std::vector<const TestFramework::ITest*> FReached;
};

} // namespace XmlReport

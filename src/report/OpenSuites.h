#pragma once
// The suites of an XML report whose start record is written and whose end record is not.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace XmlReport {

// A suite whose body raised never gets its EndSuite, and a run may end with suites still
// open; the report stays well-formed if the listener closes them through this tracker:
// Close on EndSuite (and on EndTest, which always arrives, for a suite whose EndSuite did
// not), CloseAll before the statistics. Each answers how many end records to write.
// Suites are identified by address; names may repeat.
class TOpenSuites {
public:
    // The dotted path of a suite about to be opened ("R.A.B" for B in A in R).
    std::string SuiteName(std::string_view suiteName) const;

    // The names of the open suites, outermost first, each followed by ".".
    const std::string& SuitePathPrefix() const { return FPrefix; }

    void Open(const void* suite, std::string_view suiteName);

    // Closes the suite and every suite opened inside it that is still open; 0, and
    // nothing changes, when the suite is not open.
    std::size_t Close(const void* suite);

    // Closes every open suite.
    std::size_t CloseAll();

    std::size_t Depth() const { return FEntries.size(); }

private:
    struct TEntry {
        const void* Suite;
        std::size_t PrefixLength; // of FPrefix before this suite was opened
    };
    std::vector<TEntry> FEntries; // outermost first
    std::string FPrefix;
};

} // namespace XmlReport

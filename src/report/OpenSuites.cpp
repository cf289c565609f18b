#include "report/OpenSuites.h"

#include <algorithm>

namespace XmlReport {

std::string TOpenSuites::SuiteName(std::string_view suiteName) const
{
    std::string name = FPrefix;
    name.append(suiteName);
    return name;
}

void TOpenSuites::Open(const void* suite, std::string_view suiteName)
{
    FEntries.push_back({suite, FPrefix.size()});
    FPrefix.append(suiteName).append(".");
}

std::size_t TOpenSuites::Close(const void* suite)
{
    const auto found = std::find_if(FEntries.rbegin(), FEntries.rend(),
                                    [suite](const TEntry& e) { return e.Suite == suite; });
    if (found == FEntries.rend())
        return 0;
    const auto count = static_cast<std::size_t>(found - FEntries.rbegin()) + 1;
    FPrefix.resize(found->PrefixLength);
    FEntries.resize(FEntries.size() - count);
    return count;
}

std::size_t TOpenSuites::CloseAll()
{
    const std::size_t count = FEntries.size();
    FEntries.clear();
    FPrefix.clear();
    return count;
}

} // namespace XmlReport

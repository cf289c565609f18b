#pragma once
// The files that line coverage leaves: an LCOV tracefile, or Cobertura XML for CI servers
// that read that, and the one-line summary. Plain values in, bytes out; no script engine.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace WexelHost::Coverage {

struct TFileCoverage {
    std::string Path; // absolute
    // Every executable line with its hit count, in line order.
    std::vector<std::pair<int, std::uint64_t>> Lines;
};

struct TSummary {
    std::size_t Files = 0;
    std::size_t Lines = 0;
    std::size_t Hit = 0;
};

TSummary Summarize(const std::vector<TFileCoverage>& files);

// SF, DA, LF, LH and end_of_record per file.
std::string LcovText(const std::vector<TFileCoverage>& files);

// One package per directory and one class per file, the paths relative to the one source
// directory that holds them all. timestamp: milliseconds since the epoch.
std::string CoberturaText(const std::vector<TFileCoverage>& files, std::int64_t timestamp);

// Whether the report named so is Cobertura XML rather than LCOV: a name ending in ".xml".
bool WantsCobertura(const std::string& fileName);

// "Coverage: 87.5% of 1,204 lines in 12 files (FILE)". The share is rounded down, so that
// a run that missed a line never reads 100%.
std::string SummaryLine(const TSummary& summary, const std::string& fileName);

} // namespace WexelHost::Coverage

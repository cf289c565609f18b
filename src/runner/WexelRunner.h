#pragma once
// The runner library's entry: Main reads the options, prints the banner and hands the
// discovered script tests to the runner that the run mode selects.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace WexelRunner {

inline constexpr const char* BuildVersion = "3.17.5.640";

// Level 1 writes to standard output, level 2 to standard error, any other level
// nothing; the text and CR LF go out as raw bytes in one write.
void WriteLine(unsigned char level, std::string_view text);

// Run settings of the last Main call; they live until the library is unloaded.
struct TRunSettings {
    std::string RunMode = "gui";
    std::string ConfigFile;
    std::string FileMask = "*.qlx";
    std::string CoverageFile; // empty: no coverage
    // Every positional argument; FileMask is the first.
    std::vector<std::string> FileMasks{"*.qlx"};
    std::vector<std::string> Filters;
    bool List = false;
    std::string RerunFailedFile;
    std::size_t Repeat = 1;
    bool Shuffle = false;
    std::string ShuffleSeed; // empty: a random one
    std::string ReportFile; // --report; empty: the mode's default
};
TRunSettings& RunSettings();

} // namespace WexelRunner

extern "C" {
// The library's one export: one call is one whole run.
__attribute__((visibility("default"))) void Main();
}

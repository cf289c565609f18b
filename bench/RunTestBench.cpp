// The round trip of one script test through the bridge: from the script test case's call
// of the adapter to its judged answer, for every test the library lists, timed together.
// The program must sit in an installation's EXE folder, like the host program.
//
//   runtest_bench MASK    prints "runtest <seconds> <tests>" on stderr

#include "bridge/WexelAdapter.h"
#include "bridge/WexelCaller.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: runtest_bench MASK\n");
        return 2;
    }
    Wexel::TWexelAdapter adapter(argv[1], "");
    if (!adapter.Ready) {
        std::fprintf(stderr, "%s\n", adapter.ErrorText.c_str());
        return 1;
    }
    const std::string listing = adapter.Caller->FindTests(adapter.FileMask);
    std::vector<std::string> paths;
    for (std::size_t start = 0; start < listing.size();) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        paths.push_back(listing.substr(start, end - start));
        start = end + 1;
    }
    std::size_t passed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) {
        try {
            adapter.RunTest(path);
            ++passed;
        } catch (const std::exception&) {
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "runtest %.3f %zu\n", seconds, passed);
    return passed == paths.size() ? 0 : 1;
}

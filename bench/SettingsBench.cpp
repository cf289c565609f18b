// How long the window takes to save and load the check states of a large tree, in each
// store: the tests' states written through the in-memory file (file mode) and through
// the per-user store ("Use Registry"), then read back into a freshly registered tree.
//
//   settings_bench [SUITES [TESTS]]      (defaults 1000 and 100; one disabled per suite)

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "platform/IniFiles.h"
#include "platform/Process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;
using TestFramework::ITestPtr;

std::string Numbered(const char* prefix, int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%04d", prefix, n);
    return text;
}

// The registry's shape after discovery: the root, one suite per library part, tests.
ITestPtr Tree(int suites, int tests, bool disableOnePerSuite)
{
    auto root = std::make_shared<TestFramework::TTestSuite>("WexelRunner.so");
    for (int s = 0; s < suites; ++s) {
        auto suite = std::make_shared<TestFramework::TTestSuite>(Numbered("Suite", s));
        for (int t = 0; t < tests; ++t) {
            auto test = std::make_shared<TestFramework::TAbstractTest>(Numbered("Test", t));
            test->SetEnabled(!(disableOnePerSuite && t == s % tests));
            suite->AddTest(test);
        }
        root->AddTest(suite);
    }
    return root;
}

int CountDisabled(const ITestPtr& test)
{
    int count = test->GetEnabled() ? 0 : 1;
    for (const ITestPtr& child : test->Tests())
        count += CountDisabled(child);
    return count;
}

double Seconds(const std::function<void()>& work)
{
    const TClock::time_point start = TClock::now();
    work();
    return std::chrono::duration<double>(TClock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int suites = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int tests = argc > 2 ? std::atoi(argv[2]) : 100;

    char pattern[] = "/tmp/wexel-settings-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) {
        std::perror("mkdtemp");
        return 1;
    }
    // The per-user store goes below the same directory, not into the user's own.
    Sys::SetEnv("XDG_CONFIG_HOME", dir);
    const std::string path = std::string(dir) + "/roved.ini";

    std::printf("%d tests in %d suites, %d disabled\n", suites * tests, suites, suites);
    const ITestPtr saved = Tree(suites, tests, true);
    int failures = 0;
    for (const bool useRegistry : {false, true}) {
        const char* store = useRegistry ? "per-user store (Use Registry)" : "roved.ini";
        const double first = Seconds([&] { saved->SaveConfiguration(path, useRegistry, true); });
        const double again = Seconds([&] { saved->SaveConfiguration(path, useRegistry, true); });
        const ITestPtr loaded = Tree(suites, tests, false);
        const double load = Seconds([&] { loaded->LoadConfiguration(path, useRegistry, true); });
        const std::string file = useRegistry ? TestFramework::TRegistryIniFile::KeyFilePath(path) : path;
        std::printf("%-30s save new %6.3f s   save again %6.3f s   load %6.3f s   (%ju bytes)\n", store, first,
                    again, load, static_cast<std::uintmax_t>(std::filesystem::file_size(file)));
        if (CountDisabled(loaded) != suites) {
            std::printf("  loaded %d disabled tests instead of %d\n", CountDisabled(loaded), suites);
            ++failures;
        }
    }
    std::filesystem::remove_all(dir);
    return failures == 0 ? 0 : 1;
}

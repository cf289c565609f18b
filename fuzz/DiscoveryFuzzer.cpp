// Discovery from any FindTests answer: it registers a tree or refuses a line with the
// assertion error, and a tree it registers holds one test case per line before the bad
// one.

#include "FakeHost.h"

#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::string answer;
    answer.assign(reinterpret_cast<const char*>(data), size);
    FakeHost::Reset();
    FakeHost::SetHandler([](const FakeHost::TExecutedCall& call) -> std::string {
        return call.ProcName == "GetProtocolVersion" ? Wexel::ProtocolVersion : answer;
    });
    // One adapter for the whole session: each one would lengthen PATH again.
    static Wexel::TWexelAdapter adapter("*.qlx", "");
    TestFramework::ClearRegistry();
    bool refused = false;
    try {
        adapter.RegisterTests();
    } catch (const Sys::EAssertionFailed&) {
        refused = true;
    }
    std::size_t lines = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (answer[i] == '\n' || (answer[i] == '\r' && (i + 1 == size || answer[i + 1] != '\n')))
            ++lines;
    }
    if (size > 0 && answer.back() != '\n' && answer.back() != '\r')
        ++lines;
    auto root = TestFramework::RegisteredTests();
    const std::size_t registered = root ? static_cast<std::size_t>(root->CountTestCases()) : 0;
    if (refused ? registered >= lines : registered != lines)
        std::abort();
    TestFramework::ClearRegistry();
    return 0;
}

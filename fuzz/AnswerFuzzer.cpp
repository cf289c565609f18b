// The mapping of a RunTest answer: a pass, or a failure or an error whose message is
// never longer than a name may be.

#include "bridge/WexelAdapter.h"
#include "core/TestExceptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::size_t Characters(const std::string& text)
{
    std::size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string answer(reinterpret_cast<const char*>(data), size);
    try {
        Wexel::MapRunTestAnswer(answer);
    } catch (const TestFramework::ETestFailure& e) {
        if (Characters(e.Message()) > Wexel::MaxNameLength)
            std::abort();
    } catch (const Sys::Exception& e) {
        if (Characters(e.Message()) > Wexel::MaxNameLength)
            std::abort();
    }
    return 0;
}

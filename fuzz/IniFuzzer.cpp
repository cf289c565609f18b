// The ini document: any text read, a key written into it, the result read again gives
// the same text, the written value and the key's name among the section's keys, and
// deleting the key removes it; any name is stored (escaped where it must be), and a value
// the format cannot hold is refused with the store's own exception.

#include "core/TrimmedIniFile.h"
#include "platform/TextUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input is section, key and value, each up to a NUL byte, then the file's text.
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (auto& part : parts) {
        const std::size_t nul = rest.find('\0');
        part = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    TestFramework::TIniDocument document(rest);
    const std::string read = document.Text();
    if (TestFramework::TIniDocument(read).Text() != read)
        std::abort();
    try {
        document.Write(parts[0], parts[1], parts[2]);
    } catch (const TestFramework::EIniFileException&) {
        return 0;
    }
    const std::string written = document.Text();
    TestFramework::TIniDocument again(written);
    const std::string* value = again.Find(parts[0], parts[1]);
    if (again.Text() != written || !value || *value != parts[2])
        std::abort();
    bool listed = false;
    for (const std::string& key : again.Keys(parts[0]))
        listed = listed || Sys::SameTextAscii(key, parts[1]);
    if (!listed)
        std::abort();
    again.Delete(parts[0], parts[1]);
    if (again.Find(parts[0], parts[1]) || TestFramework::TIniDocument(again.Text()).Find(parts[0], parts[1]))
        std::abort();
    return 0;
}

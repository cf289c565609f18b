// The command-line reader over any argument text, with the runner's own declarations:
// it may refuse a line with its parse exception, never with anything else.

#include "runner/CmdLineParser.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CmdLineParser::TCommandLineReader reader;
    reader.AllowSlashPrefix = true;
    reader.DeclareFlag("ver", false);
    reader.DeclareFlag("quiet", false, 'q');
    reader.DeclareString("mode", "gui");
    reader.DeclareString("config", "");
    reader.DeclareList("filter");
    reader.DeclareOptional("shuffle");
    try {
        reader.ParseText(text);
        reader.ReadString("mode");
        reader.ReadFlag("ver");
        reader.ReadList("filter");
        reader.ReadFlag("shuffle");
    } catch (const CmdLineParser::ECommandLineParseException&) {
    }
    return 0;
}

#pragma once
// Test libraries and stand-in script test libraries that the end-to-end cases install.

#include <string>

namespace E2e {

// Alpha/Pricing/{RoundsHalfUp, Discount, Taxes/Rate}, Alpha/Smoke: two passes, a failure
// with a message of its own and an error whose message holds quotation marks.
inline const std::string AlphaLibrary = R"(suite("Pricing", function()
  test("RoundsHalfUp", function() check_equals(3, math.floor(2.5 + 0.5)) end)
  test("Discount", function() check_equals(90, 91, "ten percent off") end)
  suite("Taxes", function()
    test("Rate", function() error('no rate for "XX" & <none>') end)
  end)
end)
test("Smoke", function() check(true) end)
)";

// Beta/Io/{Reads, Writes}: a pass and a second failure.
inline const std::string BetaLibrary = R"(suite("Io", function()
  test("Reads", function() check(true) end)
  test("Writes", function() fail("disk full") end)
end)
)";

// A test that sends its own host the signal a little later and then never returns.
inline std::string HangingLibrary(const std::string& signal)
{
    return "suite('S', function()\n"
           "  test('Before', function() end)\n"
           "  test('Hangs', function()\n"
           "    io.popen('(sleep 0.3; kill -" + signal + " $PPID) >/dev/null 2>&1 &'):close()\n"
           "    while true do end\n"
           "  end)\n"
           "  test('After', function() end)\n"
           "end)\n";
}

// A script test library that answers FindTests with the given list and RunTest from a
// table of answers by path ("##pass" for a path it does not know). Lua long brackets
// keep the bytes as they are, whatever they hold.
inline std::string StandInWexel(const std::string& version, const std::string& listing,
                                const std::string& answers = "")
{
    return "function GetProtocolVersion() return [==[" + version + "]==] end\n"
           "function FindTests(mask) return [==[" + listing + "]==] end\n"
           "local answers = {\n" + answers + "}\n"
           "function RunTest(path) return answers[path] or '##pass' end\n";
}

// One entry of the answers table of StandInWexel.
inline std::string Answer(const std::string& path, const std::string& answer)
{
    return "  [ [==[" + path + "]==] ] = [==[" + answer + "]==],\n";
}

} // namespace E2e

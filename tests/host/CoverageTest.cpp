// The lines coverage counts as executable, read from compiled chunks, and the files it
// writes.

#include "host/Coverage.h"
#include "host/CoverageReport.h"

#include <gtest/gtest.h>
#include <lua.hpp>

#include <memory>
#include <string>

using namespace WexelHost::Coverage;

namespace {

int Append(lua_State*, const void* p, std::size_t size, void* ud)
{
    static_cast<std::string*>(ud)->append(static_cast<const char*>(p), size);
    return 0;
}

std::string Dump(const std::string& source, bool strip = false)
{
    std::unique_ptr<lua_State, decltype(&lua_close)> L(luaL_newstate(), &lua_close);
    EXPECT_EQ(luaL_loadbufferx(L.get(), source.data(), source.size(), "@t.lua", "t"), LUA_OK);
    std::string dump;
    lua_dump(L.get(), Append, &dump, strip ? 1 : 0);
    return dump;
}

const char* const Module = R"(-- comment
local M = {}

function M.f(x)
  -- inside
  if x then
    return 1
  end
  return 2
end

local function g()
end

M.h = function(...) return select("#", ...) end
function M.loop(n)
  local t = 0
  for i = 1, n do
    t = t + i
  end
  return t
end
return M
)";

} // namespace

TEST(CoverageLines, CodeOfEveryNestedFunctionButNoCommentBlankOrLoneEnd)
{
    // 10 and 13 hold the main chunk's closures of f and g; 8, 20 and 22 hold nothing that
    // runs; the file's last line would only be the compiler's own return.
    const std::vector<int> expected{2, 4, 6, 7, 9, 10, 13, 15, 16, 17, 18, 19, 21, 22, 23};
    EXPECT_EQ(ExecutableLines(Dump(Module)), expected);
}

TEST(CoverageLines, NothingFromAStrippedOrDamagedChunk)
{
    EXPECT_TRUE(ExecutableLines(Dump(Module, true)).empty());
    const std::string dump = Dump(Module);
    // Every cut of the chunk is refused as a whole rather than read past its end.
    for (std::size_t size = 0; size < dump.size(); ++size)
        ASSERT_TRUE(ExecutableLines(dump.substr(0, size)).empty()) << size;
    std::string otherVersion = dump;
    otherVersion[4] = '\x53';
    EXPECT_TRUE(ExecutableLines(otherVersion).empty());
}

TEST(CoverageReport, LcovRecordsAndSummaryLine)
{
    const std::vector<TFileCoverage> files{{"/src/a.lua", {{1, 3}, {4, 0}}}, {"/src/b/c.lua", {{2, 1}}}};
    EXPECT_EQ(LcovText(files), "TN:\nSF:/src/a.lua\nDA:1,3\nDA:4,0\nLF:2\nLH:1\nend_of_record\n"
                               "TN:\nSF:/src/b/c.lua\nDA:2,1\nLF:1\nLH:1\nend_of_record\n");
    EXPECT_EQ(SummaryLine(Summarize(files), "c.info"), "Coverage: 66.6% of 3 lines in 2 files (c.info)");
    EXPECT_EQ(SummaryLine({12, 1204, 1054}, "f"), "Coverage: 87.5% of 1,204 lines in 12 files (f)");
    // Rounded down: one missed line in a thousand is not 100%.
    EXPECT_EQ(SummaryLine({1, 1000, 999}, "f"), "Coverage: 99.9% of 1,000 lines in 1 file (f)");
    EXPECT_EQ(SummaryLine({1, 1, 1}, "f"), "Coverage: 100.0% of 1 line in 1 file (f)");
    EXPECT_EQ(SummaryLine({}, "f"), "Coverage: 0.0% of 0 lines in 0 files (f)");
    EXPECT_TRUE(WantsCobertura("out/cov.XML"));
    EXPECT_FALSE(WantsCobertura("cov.info"));
    EXPECT_FALSE(WantsCobertura("xml"));
}

TEST(CoverageReport, CoberturaPathsRelativeToTheirCommonDirectory)
{
    const std::vector<TFileCoverage> files{{"/p/src/a&b.lua", {{1, 3}, {4, 0}}}, {"/p/src/sub/c.lua", {{2, 1}}},
                                           {"/p/srcx/d.lua", {{5, 0}, {6, 2}}}};
    const std::string xml = CoberturaText(files, 1700000000000);
    EXPECT_NE(xml.find("<coverage line-rate=\"0.6000\" branch-rate=\"0\" lines-covered=\"3\" lines-valid=\"5\""),
              std::string::npos) << xml;
    EXPECT_NE(xml.find("<source>/p</source>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<class name=\"a&amp;b.lua\" filename=\"src/a&amp;b.lua\" line-rate=\"0.5000\""),
              std::string::npos) << xml;
    EXPECT_NE(xml.find("<package name=\"src/sub\" line-rate=\"1.0000\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("filename=\"srcx/d.lua\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<line number=\"6\" hits=\"2\"/>"), std::string::npos) << xml;
    // An empty run is still a complete document.
    const std::string empty = CoberturaText({}, 0);
    EXPECT_NE(empty.find("line-rate=\"0.0000\""), std::string::npos);
    EXPECT_NE(empty.find("</coverage>\n"), std::string::npos);
}

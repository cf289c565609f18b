// What a test author reads about a failing script test, through the staged host: positions
// through a shared helper library, installed Lua modules on the search path, and reports
// that come out the same, byte for byte, run after run.

#include "E2eStage.h"

#include <gtest/gtest.h>

using namespace E2e;
using TestSupport::ReadFile;

namespace {

std::string MaskJUnitTimes(const std::string& report)
{
    return Replace(report, R"re(( time=")[0-9.]+")re", "$1<seconds>\"");
}

} // namespace

TEST(ScriptMessages, HelpersFailTheirCallerAndEveryReportRepeatsItsBytes)
{
    TE2eStage stage;
    stage.WriteSystemLibrary("Expect.qlx", "function Total(rows, expected)\n"
                                           "  local sum = 0\n"
                                           "  for _, r in ipairs(rows) do sum = sum + r end\n"
                                           "  check_equals(expected, sum, 'total')\n"
                                           "end\n");
    stage.WriteUserLibrary("Csv.qlx", "local expect = host.load('Expect')\n"
                                      "local lu = require('luaunit')\n"
                                      "suite('Rows', function()\n"
                                      "  test('Sum', function() expect.Total({1, 2}, 4) end)\n"
                                      "  test('Same', function() check_equals({a = {1, 2}}, {a = {1, 3}}) end)\n"
                                      "  test('Unit', function() lu.assertEquals(1, 1); check(lu.LuaUnit ~= nil) end)\n"
                                      "  test('Table', function() error({}) end)\n"
                                      "  test('Fn', function() check_equals(print, function() end) end)\n"
                                      "end)\n");
    for (const std::string mode : {"txt", "xml", "xml_nunit", "xml_junit"}) {
        std::string first;
        for (int run = 0; run < 2; ++run) {
            const auto r = stage.Run({"--mode=" + mode});
            ASSERT_EQ(r.ExitCode, 0) << mode << r.Err;
            std::string bytes = mode == "txt"         ? MaskTimeLine(r.Out)
                                : mode == "xml"       ? MaskXmlTimes(ReadFile(stage.ReportPath()))
                                : mode == "xml_nunit" ? MaskNUnitTimes(ReadFile(stage.ReportPath()))
                                                      : MaskJUnitTimes(ReadFile(stage.ReportPath()));
            if (run == 0)
                first = bytes;
            else
                EXPECT_EQ(bytes, first) << mode;
        }
        if (mode == "txt") {
            EXPECT_NE(first.find("Run:             5\r\nFailures:        3\r\nErrors:          1\r\n"), std::string::npos)
                << first;
            // The helper's check is a failure of the test that called it, at the test's line.
            EXPECT_NE(first.find("\"Csv.qlx:4: Expect.qlx:4: total, expected: <4> but was: <3>\""), std::string::npos)
                << first;
            EXPECT_NE(first.find("\"Csv.qlx:5: at .a[2]: expected: <2> but was: <3>\""), std::string::npos) << first;
            EXPECT_NE(first.find("\"Csv.qlx:7: (error object is a table value)\n  Csv.qlx:7 in Table\""),
                      std::string::npos)
                << first;
        }
    }
}

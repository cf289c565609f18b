// The caller against the real host and the built Wexel.qlx with the sample libraries:
// every kind of answer of the protocol, and what the host journal shows.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "bridge/HostTables.h"
#include "bridge/TestCaseQuill.h"
#include "bridge/WexelAdapter.h"
#include "bridge/WexelCaller.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "host/HostJournal.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

using Wexel::TWexelCaller;

namespace {

class WexelLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SavedPath = Sys::GetEnv("PATH");
        WexelHost::ResetProcContainer();
    }
    void TearDown() override
    {
        WexelHost::StopJournal();
        Sys::SetEnv("PATH", SavedPath);
    }

    std::string ExeDir() const { return TestSupport::StageDir() + "/EXE"; }

    std::string SavedPath;
};

const char* const SampleTests =
    "Calculator/Addition/SmallNumbers\n"
    "Calculator/Addition/NegativeNumbers\n"
    "Calculator/Division/Integer/Floors\n"
    "Calculator/Division/ByZeroIsInfinite\n"
    "Calculator/Division/Fractions\n"
    "Calculator/Smoke\n"
    "Orders/Pricing/RoundsToCents\n"
    "Orders/Pricing/Discounts/TenPercent\n"
    "Orders/Pricing/Discounts/NeverNegative\n"
    "Orders/Shipping/KnownCountry\n"
    "Orders/Shipping/FreeAboveLimit\n"
    "Orders/Shipping/UnknownCountry";

} // namespace

TEST_F(WexelLibraryTest, SpeaksTheProtocolAndListsSampleTestsInDeclarationOrder)
{
    TWexelCaller caller("", ExeDir());
    EXPECT_EQ(caller.GetProtocolVersion(), "0.87");
    EXPECT_EQ(caller.FindTests("*.qlx"), SampleTests);
    EXPECT_EQ(caller.FindTests("Ord*"), std::string(SampleTests).substr(std::string(SampleTests).find("Orders")));
    EXPECT_EQ(caller.FindTests("Wexel.qlx"), "");
    EXPECT_EQ(caller.FindTests("*.none"), "");
}

TEST_F(WexelLibraryTest, AnswersEveryKindOfOutcome)
{
    TWexelCaller caller("", ExeDir());
    caller.FindTests("*.qlx");

    for (const char* path : {"Calculator/Addition/SmallNumbers", "Calculator/Division/Integer/Floors",
                             "Calculator/Division/Fractions", "Calculator/Smoke", "Orders/Pricing/RoundsToCents",
                             "Orders/Pricing/Discounts/TenPercent", "Orders/Shipping/KnownCountry"})
        EXPECT_EQ(caller.RunTest(path), "##pass") << path;

    EXPECT_EQ(caller.RunTest("Orders/Pricing/Discounts/NeverNegative"),
              "##failure Orders.lua:17: discount above 100%, expected: <0> but was: <-50>");
    EXPECT_EQ(caller.RunTest("Orders/Shipping/FreeAboveLimit"),
              "##exception Orders.lua:38: attempt to index a nil value (field 'free')\n  Orders.lua:38 in FreeAboveLimit");
    EXPECT_EQ(caller.RunTest("Orders/Shipping/UnknownCountry"),
              "##exception Orders.lua:42: no rate for country XX\n  Orders.lua:42 in UnknownCountry");

    for (const char* path : {"Orders/Shipping/Nothing", "Orders/Shipping", "Orders", "", "Nowhere/x",
                             "Wexel/GetProtocolVersion", "orders/shipping/knowncountry"})
        EXPECT_EQ(caller.RunTest(path), "##notfound") << path;
}

TEST_F(WexelLibraryTest, RunsTestsAfterAResetWithoutAnotherDiscovery)
{
    TWexelCaller caller("", ExeDir());
    caller.FindTests("*.qlx");
    WexelHost::StartJournal();
    Wexel::RefreshHostTables();
    EXPECT_EQ(caller.RunTest("Orders/Pricing/RoundsToCents"), "##pass");
    EXPECT_EQ(caller.RunTest("Calculator/Smoke"), "##pass");

    const std::string library = ExeDir() + "/../USER/Wexel.qlx";
    EXPECT_EQ(WexelHost::JournalEntries(),
              (std::vector<std::string>{"Refresh DSPTable", "Refresh LocalizatorTable", "Refresh LanguagesTable",
                                        "Refresh DSPContainer.GetDSPTable()",
                                        "Refresh LContainer.GetLocalizatorTable()",
                                        "Refresh LContainer.GetLanguagesTable()", "ResetProcContainer",
                                        "ExtCall " + library + " RunTest Orders/Pricing/RoundsToCents",
                                        "ExtCall " + library + " RunTest Calculator/Smoke"}));
}

// A reset reads each library from its file as the file is now: an edited one with its
// edits, a folder in its place as no library at all.
TEST_F(WexelLibraryTest, AfterAResetEachLibraryIsReadAgainAsItsFileIsNow)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Edited.qlx"), "test('t', function() fail('before') end)\n");
    TestSupport::WriteFile(dir.File("Folder.qlx"), "test('t', function() end)\n");
    TWexelCaller caller("", ExeDir());
    EXPECT_EQ(caller.FindTests(dir.Path() + "/*.qlx"), "Edited/t\nFolder/t");
    TestSupport::WriteFile(dir.File("Edited.qlx"), "test('t', function() check(true) end)\n");
    std::filesystem::remove(dir.File("Folder.qlx"));
    std::filesystem::create_directory(dir.File("Folder.qlx"));
    Wexel::RefreshHostTables();
    EXPECT_EQ(caller.RunTest("Edited/t"), "##pass");
    EXPECT_EQ(caller.RunTest("Folder/t"), "##notfound");
    EXPECT_EQ(caller.RunTest("Folder/(load)"), "##notfound");
}

TEST_F(WexelLibraryTest, ReportsLibrariesThatDoNotDeclareProperly)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Broken.qlx"), "suite('A', function()\n  test('x', function() end\nend)\n");
    TestSupport::WriteFile(dir.File("Slash.qlx"), "test('a/b', function() end)\n");
    TestSupport::WriteFile(dir.File("Twice.qlx"), "test('x', function() end)\ntest('x', function() end)\n");
    TestSupport::WriteFile(dir.File("Good.qlx"), "suite('S', function() test('t', function() check(true) end) end)\n");
    TestSupport::WriteFile(dir.File("Top.qlx"), "check(false, 'at load')\n");

    TWexelCaller caller("", ExeDir());
    // A library that cannot be declared stays in the list as one erroring test.
    EXPECT_EQ(caller.FindTests(dir.Path() + "/*.qlx"),
              "Broken/(load)\nGood/S/t\nSlash/(load)\nTop/(load)\nTwice/(load)");
    std::string broken = caller.RunTest("Broken/(load)");
    EXPECT_EQ(broken.rfind("##exception Broken.qlx:3: ')' expected (to close '(' at line 2) near 'end'", 0), 0u)
        << broken;
    EXPECT_EQ(caller.RunTest("Slash/(load)"),
              "##exception Slash.qlx:1: test name must not contain '/' or control characters: a/b");
    EXPECT_EQ(caller.RunTest("Twice/(load)"), "##exception Twice.qlx:2: test Twice/x is declared twice");
    EXPECT_EQ(caller.RunTest("Top/(load)"), "##exception Top.qlx:1: at load");
    EXPECT_EQ(caller.RunTest("Good/S/t"), "##pass");
}

// A name may come again in another suite, but never twice in one: also when the suite is
// entered again after a suite nested in it, or declared a second time.
TEST_F(WexelLibraryTest, ATestDeclaredTwiceInOneSuiteIsFoundWhereverTheSuiteIsEntered)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Nested.qlx"), "suite('A', function()\n  test('x', function() end)\n"
                                                   "  suite('B', function() test('x', function() end) end)\n"
                                                   "  test('x', function() end)\nend)\n");
    TestSupport::WriteFile(dir.File("Again.qlx"), "suite('A', function() test('x', function() end) end)\n"
                                                  "suite('B', function() test('x', function() end) end)\n"
                                                  "suite('A', function() test('y', function() end)\n"
                                                  "  test('x', function() end) end)\n");
    TestSupport::WriteFile(dir.File("Fine.qlx"), "suite('A', function() test('x', function() end) end)\n"
                                                 "suite('B', function() test('x', function() end) end)\n"
                                                 "suite('A', function() test('y', function() end) end)\n"
                                                 "test('x', function() end)\n");
    TWexelCaller caller("", ExeDir());
    EXPECT_EQ(caller.FindTests(dir.Path() + "/*.qlx"), "Again/(load)\nFine/A/x\nFine/B/x\nFine/A/y\nFine/x\nNested/(load)");
    EXPECT_EQ(caller.RunTest("Nested/(load)"), "##exception Nested.qlx:4: test Nested/A/x is declared twice");
    EXPECT_EQ(caller.RunTest("Again/(load)"), "##exception Again.qlx:4: test Again/A/x is declared twice");
}

// Every misuse of the declaring functions names the line of the library that made it,
// also for setup and teardown called while a test runs.
TEST_F(WexelLibraryTest, DeclaringMistakesNameTheLibrarysLine)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Late.qlx"), "suite('A', function()\n"
                                                 "  test('x', function() test('z', function() end) end)\n"
                                                 "  test('y', function() setup(function() end) end)\n"
                                                 "  test('w', function() teardown(function() end) end)\n"
                                                 "end)\n");
    TestSupport::WriteFile(dir.File("NoFn.qlx"), "test('a', function() end)\ntest('a2', function() end)\n"
                                                 "test('a', 5)\n");
    TestSupport::WriteFile(dir.File("NoName.qlx"), "test('a', function() end)\ntest(nil, function() end)\n");
    TestSupport::WriteFile(dir.File("More.qlx"), "test('a', function() check(true) end, 'ignored')\n"
                                                 "suite('S', function() test('a', function() end) end)\n");
    TWexelCaller caller("", ExeDir());
    EXPECT_EQ(caller.FindTests(dir.Path() + "/*.qlx"), "Late/A/x\nLate/A/y\nLate/A/w\nMore/a\nMore/S/a\nNoFn/(load)\n"
                                                       "NoName/(load)");
    EXPECT_EQ(caller.RunTest("Late/A/x"),
              "##exception Late.qlx:2: test() can only be called while a test library loads\n  Late.qlx:2 in x");
    EXPECT_EQ(caller.RunTest("Late/A/y"),
              "##exception Late.qlx:3: setup() can only be called while a test library loads\n  Late.qlx:3 in y");
    EXPECT_EQ(caller.RunTest("Late/A/w"),
              "##exception Late.qlx:4: teardown() can only be called while a test library loads\n  Late.qlx:4 in w");
    EXPECT_EQ(caller.RunTest("NoFn/(load)"), "##exception NoFn.qlx:3: test a needs a function");
    EXPECT_EQ(caller.RunTest("NoName/(load)"), "##exception NoName.qlx:2: test name must be a non-empty string");
    EXPECT_EQ(caller.RunTest("More/a"), "##pass");
}

// Tests are found by their path in any order, not only in the listing's.
TEST_F(WexelLibraryTest, TestsRunInAnyOrderAndAgain)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("One.qlx"), "suite('S', function()\n"
                                                "  test('a', function() check(true) end)\n"
                                                "  test('b', function() check(false, 'b failed') end)\n"
                                                "  suite('T', function() test('c', function() end) end)\n"
                                                "  test('d', function() error('d broke', 0) end)\n"
                                                "end)\n");
    TestSupport::WriteFile(dir.File("Two.qlx"), "test('e', function() check(true) end)\n");
    TWexelCaller caller("", ExeDir());
    ASSERT_EQ(caller.FindTests(dir.Path() + "/*.qlx"), "One/S/a\nOne/S/b\nOne/S/T/c\nOne/S/d\nTwo/e");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"One/S/a", "##pass"}, {"One/S/b", "##failure One.qlx:3: b failed"},
        {"One/S/T/c", "##pass nochecks"}, {"One/S/d", "##exception One.qlx:5: d broke\n  One.qlx:5 in d"}, {"Two/e", "##pass"}};
    for (const auto& order : {std::vector<int>{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 0, 0, 3, 1, 1},
                              {1, 3, 4, 2}}) {
        for (int i : order)
            EXPECT_EQ(caller.RunTest(expected[i].first), expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(caller.RunTest("One/S/x"), "##notfound");
    EXPECT_EQ(caller.RunTest("One/S"), "##notfound");
    EXPECT_EQ(caller.RunTest("One/S/T/c/"), "##notfound");
    EXPECT_EQ(caller.RunTest("One/S/a"), "##pass");
}

TEST_F(WexelLibraryTest, MaskInAMissingDirectoryIsAnError)
{
    TWexelCaller caller("", ExeDir());
    try {
        caller.FindTests("no-such-dir/*.qlx");
        FAIL() << "no exception";
    } catch (const WexelHost::EExtCallError& e) {
        EXPECT_NE(e.Message().find("FindTests"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("no-such-dir"), std::string::npos) << e.Message();
    }
}

TEST_F(WexelLibraryTest, CheckFunctionsSayWhatDiffered)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Checks.qlx"),
                           "test('Types', function() check_equals('1', 1) end)\n"
                           "test('Floats', function() check_equals(0.3, 0.1 + 0.2, 'sum') end)\n"
                           "test('Near', function() check_near(1, 0 / 0, 1) end)\n"
                           "test('NearOk', function() check_near(1, 1.05, -0.1) end)\n"
                           "test('NotEquals', function() check_not_equals('a', 'a', 'names') end)\n"
                           "test('Check', function() check(nil) end)\n"
                           "test('Fail', function() fail() end)\n"
                           "test('NoError', function() check_error(function() end) end)\n"
                           "test('OtherError', function() check_error(function() error('x', 0) end, 'y') end)\n"
                           "test('Nil', function() local t = nil; t.x = 1 end)\n"
                           "test('Object', function() error({}) end)\n");
    TWexelCaller caller("", ExeDir());
    caller.FindTests(dir.Path() + "/*.qlx");
    EXPECT_EQ(caller.RunTest("Checks/Types"), "##failure Checks.qlx:1: expected: <1 (string)> but was: <1 (integer)>");
    EXPECT_EQ(caller.RunTest("Checks/Floats"),
              "##failure Checks.qlx:2: sum, expected: <0.29999999999999999> but was: <0.30000000000000004>");
    EXPECT_EQ(caller.RunTest("Checks/Near"), "##failure Checks.qlx:3: expected: <1> but was: <nan> (delta 1)");
    EXPECT_EQ(caller.RunTest("Checks/NearOk"), "##pass");
    EXPECT_EQ(caller.RunTest("Checks/NotEquals"), "##failure Checks.qlx:5: names, expected and actual were: <a>");
    EXPECT_EQ(caller.RunTest("Checks/Check"), "##failure Checks.qlx:6: check failed");
    EXPECT_EQ(caller.RunTest("Checks/Fail"), "##failure Checks.qlx:7: ");
    EXPECT_EQ(caller.RunTest("Checks/NoError"), "##failure Checks.qlx:8: expected an error");
    EXPECT_EQ(caller.RunTest("Checks/OtherError"), "##failure Checks.qlx:9: expected an error containing: <y> but was: <x>");
    EXPECT_EQ(caller.RunTest("Checks/Nil"), "##exception Checks.qlx:10: attempt to index a nil value (local 't')\n  Checks.qlx:10 in Nil");
    EXPECT_EQ(caller.RunTest("Checks/Object"), "##exception Checks.qlx:11: (error object is a table value)\n  Checks.qlx:11 in Object");
}

TEST_F(WexelLibraryTest, SetUpsAndTearDownsWrapEveryTestOfTheirSuite)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Fixtures.qlx"),
                           "log = {}\n"
                           "local function note(s) return function() log[#log + 1] = s end end\n"
                           "setup(note('lib+'))\n"
                           "teardown(note('lib-'))\n"
                           "suite('Outer', function()\n"
                           "  setup(note('outer+'))\n"
                           "  teardown(note('outer-'))\n"
                           "  suite('Inner', function()\n"
                           "    setup(note('inner+'))\n"
                           "    teardown(note('inner-'))\n"
                           "    test('Passes', note('test'))\n"
                           "    test('Fails', function() fail('in test') end)\n"
                           "  end)\n"
                           "end)\n"
                           "suite('BadSetUp', function()\n"
                           "  setup(function() error('no set-up', 0) end)\n"
                           "  teardown(note('down'))\n"
                           "  test('Skipped', note('never'))\n"
                           "end)\n"
                           "suite('BadTearDown', function()\n"
                           "  teardown(function() error('no tear-down', 0) end)\n"
                           "  test('Passes', note('ran'))\n"
                           "  test('Fails', function() fail('first') end)\n"
                           "end)\n"
                           "test('Log', function() check_equals('lib+ outer+ inner+ test inner- outer- lib- '\n"
                           "  .. 'lib+ outer+ inner+ inner- outer- lib- lib+ down lib- lib+ ran lib- lib+ lib- lib+',\n"
                           "  table.concat(log, ' ')) end)\n");
    TWexelCaller caller("", ExeDir());
    ASSERT_EQ(caller.FindTests(dir.Path() + "/Fixtures.qlx"),
              "Fixtures/Outer/Inner/Passes\nFixtures/Outer/Inner/Fails\nFixtures/BadSetUp/Skipped\n"
              "Fixtures/BadTearDown/Passes\nFixtures/BadTearDown/Fails\nFixtures/Log");

    EXPECT_EQ(caller.RunTest("Fixtures/Outer/Inner/Passes"), "##pass nochecks");
    EXPECT_EQ(caller.RunTest("Fixtures/Outer/Inner/Fails"), "##failure Fixtures.qlx:12: in test");
    EXPECT_EQ(caller.RunTest("Fixtures/BadSetUp/Skipped"), "##exception Fixtures.qlx:16: no set-up\n  Fixtures.qlx:16 in setup");
    EXPECT_EQ(caller.RunTest("Fixtures/BadTearDown/Passes"), "##exception Fixtures.qlx:21: no tear-down\n  Fixtures.qlx:21 in teardown");
    EXPECT_EQ(caller.RunTest("Fixtures/BadTearDown/Fails"), "##failure Fixtures.qlx:23: first");
    EXPECT_EQ(caller.RunTest("Fixtures/Log"), "##pass");
}

namespace {

// Runs every test of one library written to a scratch directory; the answers by name.
std::map<std::string, std::string> RunLibrary(const std::string& exeDir, const std::string& name,
                                              const std::string& source)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File(name + ".qlx"), source);
    TWexelCaller caller("", exeDir);
    std::map<std::string, std::string> answers;
    std::string listing = caller.FindTests(dir.Path() + "/" + name + ".qlx");
    for (std::size_t start = 0; start < listing.size();) {
        std::size_t end = std::min(listing.find('\n', start), listing.size());
        std::string path = listing.substr(start, end - start);
        answers[path.substr(path.rfind('/') + 1)] = caller.RunTest(path);
        start = end + 1;
    }
    return answers;
}

} // namespace

TEST_F(WexelLibraryTest, TablesCompareByContentAndSayWhereTheyDiffer)
{
    auto a = RunLibrary(ExeDir(), "Deep",
                        "local function order() return { id = 7, rows = { { name = 'Ann' }, { name = 'Bob' } } } end\n"
                        "test('Same', function() check_equals(order(), order()); check_equals({1, {2}}, {1, {2}}) end)\n"
                        "test('Nested', function()\n"
                        "  local b = order(); b.rows[2].name = 'Rob'\n"
                        "  check_equals(order(), b, 'order')\n"
                        "end)\n"
                        "test('Missing', function() check_equals({1, 2, 3}, {1, 2}) end)\n"
                        "test('Cycles', function()\n"
                        "  local a, b = { n = 1 }, { n = 1 }; a.self, b.self = a, b\n"
                        "  check_equals(a, b)\n"
                        "  local c = { n = 2 }; c.self = c\n"
                        "  check_equals(a, c)\n"
                        "end)\n"
                        "test('OwnEq', function()\n"
                        "  local mt = { __eq = function() return true end }\n"
                        "  check_equals(setmetatable({1}, mt), setmetatable({2}, mt))\n"
                        "  check_not_equals({1, 2}, {1, 2})\n"
                        "end)\n"
                        "test('Long', function() check_equals({string.rep('x', 300)}, {}) end)\n"
                        "test('Lines', function() check_equals('a\\nb c\\t \\nd', 'a\\nb c\\r  \\nd') end)\n"
                        "test('Function', function() check_equals(print, function() end) end)\n");
    EXPECT_EQ(a["Same"], "##pass");
    EXPECT_EQ(a["Nested"], "##failure Deep.qlx:5: order, at .rows[2].name: expected: <Bob> but was: <Rob>");
    EXPECT_EQ(a["Missing"], "##failure Deep.qlx:7: at [3]: expected: <3> but was: <nil>");
    EXPECT_EQ(a["Cycles"], "##failure Deep.qlx:12: at .n: expected: <1> but was: <2>");
    EXPECT_EQ(a["OwnEq"], "##failure Deep.qlx:17: expected and actual were: <{1, 2}>");
    EXPECT_EQ(a["Long"], "##failure Deep.qlx:19: at [1]: expected: <" + std::string(110, 'x') + "...(150 bytes)..." +
                             std::string(40, 'x') + "> but was: <nil>");
    EXPECT_EQ(a["Lines"],
              "##failure Deep.qlx:20: texts differ at line 2, column 4: expected: <b c\\t\\x20> but was: <b c\\r\\x20\\x20>");
    EXPECT_EQ(a["Function"],
              "##failure Deep.qlx:21: expected: <builtin function> but was: <function <Deep.qlx:21>>");
}

TEST_F(WexelLibraryTest, MoreChecksInTheSameStyle)
{
    auto a = RunLibrary(ExeDir(), "More",
                        "test('Matches', function() check_matches('^%d+$', '12'); check_matches('^%d+$', '1a', 'id') end)\n"
                        "test('NotAString', function() check_matches('x', 5) end)\n"
                        "test('Contains', function()\n"
                        "  check_contains('a,b', ',b'); check_contains({1, {2}}, {2})\n"
                        "  check_contains({'a', 'b'}, 'c')\n"
                        "end)\n"
                        "test('TableError', function()\n"
                        "  check_error(function() error(setmetatable({}, {__tostring = function() return 'E7' end})) end)\n"
                        "  check_error(function() error({}) end, '7')\n"
                        "end)\n"
                        "test('TextError', function() check_error(function() error('bad 7') end, '7') end)\n");
    EXPECT_EQ(a["Matches"], "##failure More.qlx:1: id, expected a match of: <^%d+$> but was: <1a>");
    EXPECT_EQ(a["NotAString"], "##failure More.qlx:2: expected a match of: <x> but was: <5>");
    EXPECT_EQ(a["Contains"], "##failure More.qlx:5: expected to contain: <c> but was: <{\"a\", \"b\"}>");
    // A table error is never matched, whatever its address holds.
    EXPECT_EQ(a["TableError"],
              "##failure More.qlx:9: expected an error containing: <7> but was: <(error object is a table value)>");
    EXPECT_EQ(a["TextError"], "##pass");
}

TEST_F(WexelLibraryTest, FailuresAndErrorsStartWhereTheTestLibraryLedToThem)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Helper.lua"), "local M = {}\n"
                                                   "function M.same(a, b)\n"
                                                   "  check_equals(a, b, 'helper')\n"
                                                   "end\n"
                                                   "function M.parse(s)\n"
                                                   "  return s.field.x\n"
                                                   "end\n"
                                                   "function M.outer(s)\n"
                                                   "  local x = M.parse(s) return x\n"
                                                   "end\n"
                                                   "return M\n");
    TestSupport::WriteFile(dir.File("Uses.qlx"), "package.path = '" + dir.Path() + "/?.lua;' .. package.path\n"
                                                 "local helper = require('Helper')\n"
                                                 "test('InHelper', function()\n"
                                                 "  helper.same(1, 2)\n"
                                                 "end)\n"
                                                 "test('TwoDeep', function()\n"
                                                 "  helper.outer({})\n"
                                                 "end)\n"
                                                 "local function down(n) return down(n + 1) + 1 end\n"
                                                 "test('Runaway', function()\n"
                                                 "  down(1)\n"
                                                 "end)\n");
    TWexelCaller caller("", ExeDir());
    caller.FindTests(dir.File("Uses.qlx"));
    // require names a module by the file it found, as Lua does.
    const std::string helper = dir.File("Helper.lua");
    EXPECT_EQ(caller.RunTest("Uses/InHelper"),
              "##failure Uses.qlx:4: " + helper + ":3: helper, expected: <1> but was: <2>");
    EXPECT_EQ(caller.RunTest("Uses/TwoDeep"),
              "##exception " + helper + ":6: attempt to index a nil value (field 'field')\n"
              "  " + helper + ":6 in parse\n"
              "  " + helper + ":9 in outer\n"
              "  Uses.qlx:7 in TwoDeep");
    // A runaway recursion: a bounded chain that still ends with the test's own line.
    std::string runaway = caller.RunTest("Uses/Runaway");
    EXPECT_EQ(runaway.rfind("##exception Uses.qlx:9: stack overflow", 0), 0u) << runaway;
    EXPECT_EQ(std::count(runaway.begin(), runaway.end(), '\n'), 8) << runaway;
    EXPECT_NE(runaway.find("\n  ... ("), std::string::npos) << runaway;
    EXPECT_EQ(runaway.substr(runaway.rfind('\n')), "\n  Uses.qlx:11 in Runaway") << runaway;
    EXPECT_EQ(runaway.find("Wexel"), std::string::npos) << runaway;
}

TEST_F(WexelLibraryTest, PathsThatDifferOnlyInLetterCaseDoNotLoad)
{
    auto a = RunLibrary(ExeDir(), "Cases",
                        "suite('Pricing', function() test('x', function() check(true) end) end)\n"
                        "suite('pricing', function() test('x', function() check(false) end) end)\n");
    EXPECT_EQ(a["(load)"], "##exception Cases.qlx:2: test Cases/pricing/x is declared twice: Cases/Pricing/x and "
                           "Cases/pricing/x differ only in letter case");
    a = RunLibrary(ExeDir(), "Names", "test('Run', function() end)\ntest('RUN', function() end)\n");
    EXPECT_EQ(a["(load)"], "##exception Names.qlx:2: test Names/RUN is declared twice: Names/Run and "
                           "Names/RUN differ only in letter case");
    // Names that differ only in letter case in different suites are no clash, but the
    // tests declared before them must still be known to a later case-variant suite.
    a = RunLibrary(ExeDir(), "Later",
                   "suite('Pricing', function() test('Round', function() check(true) end)\n"
                   "  test('Other', function() check(true) end) end)\n"
                   "suite('Tax', function() test('ROUND', function() check(true) end) end)\n"
                   "suite('pricing', function() test('other', function() check(true) end) end)\n");
    EXPECT_EQ(a["(load)"], "##exception Later.qlx:4: test Later/pricing/other is declared twice: "
                           "Later/Pricing/Other and Later/pricing/other differ only in letter case");
    a = RunLibrary(ExeDir(), "Fine",
                   "suite('A', function() test('Run', function() check(true) end) end)\n"
                   "suite('B', function() test('RUN', function() check(true) end)\n"
                   "  test('Walk', function() check(true) end) end)\n"
                   "suite('b', function() test('Swim', function() check(true) end) end)\n");
    EXPECT_EQ(a, (std::map<std::string, std::string>{
                     {"Run", "##pass"}, {"RUN", "##pass"}, {"Walk", "##pass"}, {"Swim", "##pass"}}));
    // A suite opened again meets the names it was given the first time.
    a = RunLibrary(ExeDir(), "Again",
                   "suite('A', function() test('x', function() check(true) end) end)\n"
                   "suite('B', function() test('y', function() check(true) end) end)\n"
                   "suite('A', function() test('X', function() check(true) end) end)\n");
    EXPECT_EQ(a["(load)"], "##exception Again.qlx:3: test Again/A/X is declared twice: Again/A/x and "
                           "Again/A/X differ only in letter case");
    // A name the library knows already, met again once letter case is being checked.
    a = RunLibrary(ExeDir(), "Known",
                   "suite('A', function() test('x', function() end) end)\n"
                   "suite('B', function() test('y', function() end) test('x', function() end) end)\n"
                   "suite('a', function() test('z', function() end) test('y', function() end)\n"
                   "  test('x', function() end) end)\n");
    EXPECT_EQ(a["(load)"], "##exception Known.qlx:4: test Known/a/x is declared twice: Known/A/x and "
                           "Known/a/x differ only in letter case");
}

// A test that replaces the functions everyone shares changes nothing for the tests after
// it, in its own library or another.
TEST_F(WexelLibraryTest, NoTestChangesHowLaterTestsAreJudged)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("A.qlx"), "test('Breaks', function()\n"
                                              "  _G.pcall = function() return true end\n"
                                              "  _G.error = function() end\n"
                                              "  string.find = function() return 1 end\n"
                                              "  _G.getmetatable = function() return nil end\n"
                                              "  _G.tostring = function() return '' end\n"
                                              "  _G.type = function() return 'nil' end\n"
                                              "end)\n"
                                              "test('Fails', function() check_equals(1, 2) end)\n"
                                              "test('Errs', function() local t; t.x = 1 end)\n");
    TestSupport::WriteFile(dir.File("B.qlx"), "test('Fails', function() check_error(function() end) end)\n"
                                              "test('Raises', function() error('raised') end)\n");
    TWexelCaller caller("", ExeDir());
    ASSERT_EQ(caller.FindTests(dir.Path() + "/*.qlx"), "A/Breaks\nA/Fails\nA/Errs\nB/Fails\nB/Raises");
    EXPECT_EQ(caller.RunTest("A/Breaks"), "##pass nochecks");
    EXPECT_EQ(caller.RunTest("A/Fails"), "##failure A.qlx:9: expected: <1> but was: <2>");
    EXPECT_EQ(caller.RunTest("A/Errs"),
              "##exception A.qlx:10: attempt to index a nil value (local 't')\n  A.qlx:10 in Errs");
    EXPECT_EQ(caller.RunTest("B/Fails"), "##failure B.qlx:1: expected an error");
    EXPECT_EQ(caller.RunTest("B/Raises"), "##exception B.qlx:2: raised\n  B.qlx:2 in Raises");
}

// Through the adapter, as a run registers them: the sample tests with their declarations,
// and the no-checks option failing only the test that checked nothing.
TEST_F(WexelLibraryTest, TheRunnerKeepsDeclarationsAndJudgesChecks)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("Quiet.qlx"), "test('Checks', function() check(true) end)\n"
                                                  "test('Silent', function() end)\n");
    Wexel::TWexelAdapter adapter("*.qlx", "", std::make_unique<TWexelCaller>("", ExeDir()));
    TestFramework::ClearRegistry();
    adapter.RegisterTests();
    std::string positions;
    std::function<void(const TestFramework::ITestPtr&)> collect = [&](const TestFramework::ITestPtr& test) {
        if (auto* quill = dynamic_cast<Wexel::TTestCaseQuill*>(test.get()))
            positions += quill->FullName() + " " + quill->DeclFile() + ":" + std::to_string(quill->DeclLine()) + "\n";
        for (const auto& child : test->Tests())
            collect(child);
    };
    collect(TestFramework::RegisteredTests());
    EXPECT_EQ(positions, "Calculator/Addition/SmallNumbers Calculator.lua:8\n"
                         "Calculator/Addition/NegativeNumbers Calculator.lua:12\n"
                         "Calculator/Division/Integer/Floors Calculator.lua:19\n"
                         "Calculator/Division/ByZeroIsInfinite Calculator.lua:25\n"
                         "Calculator/Division/Fractions Calculator.lua:29\n"
                         "Calculator/Smoke Calculator.lua:35\n"
                         "Orders/Pricing/RoundsToCents Orders.lua:7\n"
                         "Orders/Pricing/Discounts/TenPercent Orders.lua:12\n"
                         "Orders/Pricing/Discounts/NeverNegative Orders.lua:16\n"
                         "Orders/Shipping/KnownCountry Orders.lua:33\n"
                         "Orders/Shipping/FreeAboveLimit Orders.lua:37\n"
                         "Orders/Shipping/UnknownCountry Orders.lua:41\n");

    TestFramework::ClearRegistry();
    adapter.FileMask = dir.File("Quiet.qlx");
    adapter.RegisterTests();
    Wexel::WexelAdapter = &adapter;
    TestFramework::TTestResult result;
    result.FailsIfNoChecksExecuted = true;
    result.RunSuite(TestFramework::RegisteredTests());
    Wexel::WexelAdapter = nullptr;
    ASSERT_EQ(result.FailureCount(), 1);
    EXPECT_EQ(result.Failures(0).FailedTest()->GetName(), "Silent");
    EXPECT_EQ(result.Failures(0).ThrownExceptionMessage(), "No checks executed in TestCase");
    EXPECT_EQ(result.ErrorCount(), 0);
    TestFramework::ClearRegistry();
}

// A test runs from the library that the last discovery found under its name, also when
// the one before held the same path and ran just before; a suite interrupted by one of
// its own keeps every test runnable, and fixtures follow their tests into later runs.
TEST_F(WexelLibraryTest, TestsRunFromTheLibraryLastFoundUnderTheirName)
{
    TestSupport::TTempDir first;
    TestSupport::TTempDir second;
    TestSupport::WriteFile(first.File("Same.qlx"),
                           "suite('S', function()\n"
                           "  setup(function() ready = true end)\n"
                           "  teardown(function() ready = false end)\n"
                           "  test('t', function() check(ready) end)\n"
                           "  suite('In', function() test('u', function() check(ready) end) end)\n"
                           "  test('v', function() check(ready) end)\n"
                           "end)\n");
    TestSupport::WriteFile(second.File("Same.qlx"), "suite('S', function() test('t', function() fail('second') end) end)\n");
    TWexelCaller caller("", ExeDir());
    EXPECT_EQ(caller.FindTests(first.Path() + "/Same.qlx"), "Same/S/t\nSame/S/In/u\nSame/S/v");
    EXPECT_EQ(caller.RunTest("Same/S/t"), "##pass");
    EXPECT_EQ(caller.RunTest("Same/S/In/u"), "##pass");
    EXPECT_EQ(caller.RunTest("Same/S/v"), "##pass");
    EXPECT_EQ(caller.RunTest("Same/S"), "##notfound");
    EXPECT_EQ(caller.RunTest("Same/S/t/"), "##notfound");
    EXPECT_EQ(caller.FindTests(second.Path() + "/Same.qlx"), "Same/S/t");
    EXPECT_EQ(caller.RunTest("Same/S/t"), "##failure Same.qlx:1: second");
    EXPECT_EQ(caller.RunTest("Same/S/v"), "##notfound");
}

// Declaration positions come as rows that the host joins: one line per test of a source
// library, in the listing's order, naming the library by the path it was found at; a
// library compiled without line information has none, and the listing is unchanged.
TEST_F(WexelLibraryTest, PositionsNameEachTestsLineInItsLibrary)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("A.qlx"), "suite('S', function()\n"
                                              "  test('one', function() check(true) end)\n"
                                              "  test('two', function() check(true) end)\n"
                                              "end)\n"
                                              "test('three', function() check(true) end)\n");
    TestSupport::WriteFile(dir.File("B.qlx"), "\n\ntest('four', function() check(true) end)\n");
    TestSupport::WriteFile(dir.File("C.qlx"), "");
    TWexelCaller caller("", ExeDir());
    const std::string mask = dir.Path() + "/*.qlx";
    EXPECT_EQ(caller.FindTests(mask), "A/S/one\nA/S/two\nA/three\nB/four");
    EXPECT_EQ(caller.GetTestPositions(mask), "A/S/one\t" + dir.File("A.qlx") + "\t2\n"
                                             "A/S/two\t" + dir.File("A.qlx") + "\t3\n"
                                             "A/three\t" + dir.File("A.qlx") + "\t5\n"
                                             "B/four\t" + dir.File("B.qlx") + "\t3");
    // Through the adapter every test carries its place.
    TestFramework::ClearRegistry();
    Wexel::TWexelAdapter adapter(mask, "", std::make_unique<TWexelCaller>("", ExeDir()));
    adapter.RegisterTests();
    std::string places;
    std::function<void(const TestFramework::ITestPtr&)> walk = [&](const TestFramework::ITestPtr& test) {
        if (auto quill = std::dynamic_pointer_cast<Wexel::TTestCaseQuill>(test))
            places += quill->GetName() + "@" + std::to_string(quill->DeclLine()) +
                      (quill->DeclFile() == dir.File(quill->FullName().substr(0, 1) + ".qlx") ? " " : "? ");
        for (const auto& child : test->Tests())
            walk(child);
    };
    walk(TestFramework::RegisteredTests());
    EXPECT_EQ(places, "one@2 two@3 three@5 four@3 ");
    TestFramework::ClearRegistry();
}

// A test whose function comes from another chunk (a compiled library's source, a helper)
// is placed in that chunk's file, whichever file the test before came from.
TEST_F(WexelLibraryTest, PositionsOfFunctionsFromOtherChunksNameTheirOwnFiles)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("D.qlx"), "local one = load('return function() check(true) end', '@H1.lua')()\n"
                                              "local two = load('\\nreturn function() check(true) end', '@H2.lua')()\n"
                                              "test('h1', one) test('h2', two) test('h1b', one)\n"
                                              "test('own', function() check(true) end)\n");
    TWexelCaller caller("", ExeDir());
    const std::string mask = dir.Path() + "/*.qlx";
    EXPECT_EQ(caller.FindTests(mask), "D/h1\nD/h2\nD/h1b\nD/own");
    EXPECT_EQ(caller.GetTestPositions(mask),
              "D/h1\tH1.lua\t1\nD/h2\tH2.lua\t2\nD/h1b\tH1.lua\t1\nD/own\t" + dir.File("D.qlx") + "\t4");
}

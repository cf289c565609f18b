// The caller against the real host and the built Wexel.qlx with the sample libraries:
// every kind of answer of the protocol, and what the host journal shows.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "bridge/HostTables.h"
#include "bridge/WexelCaller.h"
#include "host/HostJournal.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

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

// The adapter and the script test case against a host without Lua: the library's
// answers come from a handler, so every shape of answer can be tried.

#include "FakeHost.h"

#include "bridge/TestCaseQuill.h"
#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"

#include <gtest/gtest.h>

#include <map>

using namespace TestFramework;
using Wexel::TTestCaseQuill;
using Wexel::TWexelAdapter;
using Wexel::TRegistrationPlan;

namespace {

class WexelAdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRegistry();
        FakeHost::Reset();
        FakeHost::SetHandler([this](const FakeHost::TExecutedCall& call) -> std::string {
            if (call.ProcName == "GetProtocolVersion")
                return FProtocol;
            if (call.ProcName == "FindTests")
                return FTests;
            if (call.ProcName == "GetTestPositions") {
                if (FPositions == nullptr)
                    throw WexelHost::EExtCallError("the library has no procedure GetTestPositions");
                return FPositions;
            }
            if (call.ProcName == "RunTest") {
                auto found = FAnswers.find(call.Params.at(0).value_or(""));
                return found == FAnswers.end() ? "##pass" : found->second;
            }
            return "";
        });
    }
    void TearDown() override
    {
        Wexel::WexelAdapter = nullptr;
        ClearRegistry();
    }

    // Names of the tree below the root, one line per node, indented by depth.
    static std::string Tree(const ITestPtr& test, int depth = 0)
    {
        std::string text;
        for (const ITestPtr& child : test->Tests()) {
            text += std::string(depth * 2, ' ') + child->GetName() + "\n";
            text += Tree(child, depth + 1);
        }
        return text;
    }

    std::string FProtocol = "0.87";
    std::string FTests;
    const char* FPositions = "";
    std::map<std::string, std::string> FAnswers;
};

} // namespace

TEST_F(WexelAdapterTest, ProtocolMustMatchExactly)
{
    for (const char* answer : {"0.90", "0.87 ", ""}) {
        FProtocol = answer;
        TWexelAdapter adapter("*.qlx", "");
        EXPECT_FALSE(adapter.Ready);
        EXPECT_EQ(adapter.ErrorText, std::string("Incorrect protocol version: 0.87 at WexelRunner, ") + answer +
                                         " at Wexel.");
    }
    FProtocol = "0.87";
    TWexelAdapter adapter("*.qlx", "");
    EXPECT_TRUE(adapter.Ready);
    EXPECT_EQ(adapter.ErrorText, "");
}

TEST_F(WexelAdapterTest, PathsBecomeNestedSuitesInFirstMetOrder)
{
    FTests = "A/x\r\nA/B/y\nC/z\ra/w\n";
    TWexelAdapter adapter("Lib*.qlx", "");
    adapter.RegisterTests();
    EXPECT_EQ(FakeHost::ExecutedCalls().back().Params.at(0), "Lib*.qlx");
    auto root = RegisteredTests();
    ASSERT_TRUE(root);
    EXPECT_EQ(Tree(root), "A\n  x\n  B\n    y\n  w\nC\n  z\n");
}

TEST_F(WexelAdapterTest, EmptyAnswerRegistersNothing)
{
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    EXPECT_EQ(RegisteredTests(), nullptr);
}

TEST_F(WexelAdapterTest, BadLineStopsRegistrationAndNamesTheLine)
{
    for (const char* bad : {"Smoke", "", "A//x"}) {
        ClearRegistry();
        FTests = std::string("Good/one\n") + bad + "\nGood/two";
        TWexelAdapter adapter("*.qlx", "");
        try {
            adapter.RegisterTests();
            FAIL() << "no error for \"" << bad << "\"";
        } catch (const Sys::EAssertionFailed& e) {
            EXPECT_EQ(e.Message().rfind("Assertion failure", 0), 0u) << e.Message();
            EXPECT_NE(e.Message().find(std::string("\"") + bad + "\""), std::string::npos) << e.Message();
        }
        ASSERT_TRUE(RegisteredTests());
        EXPECT_EQ(Tree(RegisteredTests()), "Good\n  one\n");
    }
}

TEST_F(WexelAdapterTest, LevelsAreFoundByParentAndNameIgnoringCase)
{
    // b and B under different parents are two suites; the same path in another case is one.
    FTests = "A/b/x\nC/B/y\na/B/z\nA/b/c/w\nC/b/v";
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    EXPECT_EQ(Tree(RegisteredTests()), "A\n  b\n    x\n    z\n    c\n      w\nC\n  B\n    y\n    v\n");
}

TEST_F(WexelAdapterTest, ABadLevelOrTooManyLevelsAddNoSuiteOfTheirLine)
{
    std::string deepest;
    for (int i = 1; i < 1000; ++i)
        deepest += "d/";
    for (const std::string& bad : {std::string("Good/New//x"), "Good/New/" + deepest + "x"}) {
        ClearRegistry();
        FTests = "Good/one\n" + bad + "\nGood/two";
        TWexelAdapter adapter("*.qlx", "");
        EXPECT_THROW(adapter.RegisterTests(), Sys::EAssertionFailed) << bad.substr(0, 20);
        EXPECT_EQ(Tree(RegisteredTests()), "Good\n  one\n");
    }
    // 1,000 levels, the test's own included, are still a test.
    ClearRegistry();
    FTests = deepest + "x";
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    EXPECT_EQ(RegisteredTests()->CountTestCases(), 1);
}

TEST_F(WexelAdapterTest, NamesAreCutToTheLimitWithoutSplittingCharacters)
{
    const std::string longName(10005, 'n');
    FTests = "S/" + longName + "\n" + std::string(9998, 'a') + "\xC3\xA9\xC3\xA9/t";
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    auto root = RegisteredTests();
    EXPECT_EQ(root->Tests()[0]->Tests()[0]->GetName(), std::string(9999, 'n'));
    EXPECT_EQ(root->Tests()[1]->GetName(), std::string(9998, 'a') + "\xC3\xA9");
}

TEST(ScriptAnswer, MapsToPassFailureOrError)
{
    struct Case {
        const char* answer;
        const char* kind; // "pass", "nochecks", "ETestFailure" or "Exception"
        const char* message;
    };
    const Case cases[] = {
        {"##pass\r\n", "pass", ""},
        {"  ##pass", "pass", ""},
        {"##pass nochecks\r\n", "nochecks", ""},
        {"##pass no checks", "Exception", "Unknown error"},
        {"##passed", "Exception", "Unknown error"},
        {"##failure expected 3 but was 4", "ETestFailure", "expected 3 but was 4"},
        {"##failure", "ETestFailure", ""},
        {"##failure\t  spaced  \r\n", "ETestFailure", "spaced"},
        {"##exceptionAccess violation", "Exception", "Access violation"},
        {"##notfound ", "Exception", "Test not found"},
        {"##NOTFOUND", "Exception", "Unknown error"},
        {"", "Exception", "Unknown error"},
    };
    for (const Case& c : cases) {
        try {
            bool checked = Wexel::MapRunTestAnswer(c.answer);
            EXPECT_STREQ(c.kind, checked ? "pass" : "nochecks") << c.answer;
        } catch (const Sys::Exception& e) {
            EXPECT_EQ(e.ClassName(), c.kind) << c.answer;
            EXPECT_EQ(e.Message(), c.message) << c.answer;
        }
    }
}

TEST(ScriptAnswer, LongMessagesAreCut)
{
    try {
        Wexel::MapRunTestAnswer("##failure " + std::string(20000, 'm'));
        FAIL();
    } catch (const ETestFailure& e) {
        EXPECT_EQ(e.Message().size(), 9999u);
    }
}

namespace {

// Records the outcome of each test by name.
class TOutcomeListener : public ITestListener {
public:
    void Status(const ITestPtr&, const std::string&) override {}
    void TestingStarts() override {}
    void StartTest(const ITestPtr&) override {}
    void AddSuccess(const ITestPtr& test) override { Log += test->GetName() + ":pass "; }
    void AddError(TTestFailure& f) override
    {
        Log += f.FailedTest()->GetName() + ":error(" + f.ThrownExceptionName() + "," + f.ThrownExceptionMessage() + ") ";
    }
    void AddFailure(TTestFailure& f) override
    {
        Log += f.FailedTest()->GetName() + ":failure(" + f.ThrownExceptionMessage() + ") ";
    }
    void EndTest(const ITestPtr&) override {}
    void TestingEnds(TTestResult&) override {}
    bool ShouldRunTest(const ITestPtr& test) override { return test->GetEnabled(); }
    std::string Log;
};

} // namespace

TEST_F(WexelAdapterTest, ScriptTestCasesRunThroughTheAdapter)
{
    FTests = "S/ok\nS/bad\nS/boom\nS/off";
    FAnswers = {{"S/bad", "##failure no"}, {"S/boom", "##exception kaputt"}};
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    Wexel::WexelAdapter = &adapter;
    auto suite = RegisteredTests()->Tests()[0];
    suite->Tests()[3]->SetEnabled(false);

    auto listener = std::make_shared<TOutcomeListener>();
    auto result = RunTest(suite, {listener});
    EXPECT_EQ(listener->Log, "ok:pass bad:failure(no) boom:error(Exception,kaputt) S:pass ");
    EXPECT_EQ(result->RunCount(), 3); // the disabled test is not counted
}

// The library says which passing tests ran no check; a library that does not say counts
// as checking (a plain "##pass"), so that turning the option on fails nothing by mistake.
TEST_F(WexelAdapterTest, OnlyAPassWithoutChecksFailsWhenChecksAreRequired)
{
    FTests = "S/ok\nS/none\nS/bad";
    FAnswers = {{"S/bad", "##failure own"}, {"S/none", "##pass nochecks"}};
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    Wexel::WexelAdapter = &adapter;

    auto listener = std::make_shared<TOutcomeListener>();
    TTestResult result;
    result.FailsIfNoChecksExecuted = true;
    result.AddListener(listener);
    result.RunSuite(RegisteredTests()->Tests()[0]);
    EXPECT_EQ(listener->Log, "ok:pass none:failure(No checks executed in TestCase) bad:failure(own) S:pass ");

    ClearRegistry();
    adapter.RegisterTests();
    auto quiet = std::make_shared<TOutcomeListener>();
    TTestResult optionOff;
    optionOff.AddListener(quiet);
    optionOff.RunSuite(RegisteredTests()->Tests()[0]);
    EXPECT_EQ(quiet->Log, "ok:pass none:pass bad:failure(own) S:pass ");
}

TEST_F(WexelAdapterTest, ScriptTestsKeepTheirDeclarationPositions)
{
    FTests = "S/a\nS/b\nS/c\nS/d";
    FPositions = "S/a\tS.lua\t3\nS/c\tS.lua\tx\nS/d\t\t4\nS/b\tHelp er.lua\t12\nS/zz\tS.lua\t9\r\n";
    TWexelAdapter adapter("*.qlx", "");
    adapter.RegisterTests();
    auto positions = [] {
        std::string text;
        for (const ITestPtr& test : RegisteredTests()->Tests()[0]->Tests()) {
            auto& quill = dynamic_cast<TTestCaseQuill&>(*test);
            text += quill.GetName() + "=" + quill.DeclFile() + ":" + std::to_string(quill.DeclLine()) + " ";
        }
        return text;
    };
    // A line that does not parse gives its test no position.
    EXPECT_EQ(positions(), "a=S.lua:3 b=Help er.lua:12 c=:0 d=:0 ");

    // A library without the procedure still registers every test.
    ClearRegistry();
    FPositions = nullptr;
    adapter.RegisterTests();
    EXPECT_EQ(positions(), "a=:0 b=:0 c=:0 d=:0 ");

    // A path placed twice keeps its first place, also when the second comes in order;
    // a test placed before the walk reached it is still found.
    ClearRegistry();
    FPositions = "S/a\tS.lua\t3\nS/a\tOther.lua\t5\nS/b\tS.lua\t4\nS/d\tT.lua\t8\nS/c\tS.lua\t6";
    adapter.RegisterTests();
    EXPECT_EQ(positions(), "a=S.lua:3 b=S.lua:4 c=S.lua:6 d=T.lua:8 ");

    // Every pass of a plan places its tests, in whatever order it takes them.
    ClearRegistry();
    adapter.Plan = [](const std::vector<std::string_view>&) { return TRegistrationPlan{{3, 0}, {0}}; };
    adapter.RegisterTests();
    std::string passes;
    for (const ITestPtr& suite : RegisteredTests()->Tests())
        for (const ITestPtr& test : suite->Tests()) {
            auto& quill = dynamic_cast<TTestCaseQuill&>(*test);
            passes += quill.GetName() + "=" + quill.DeclFile() + ":" + std::to_string(quill.DeclLine()) + " ";
        }
    EXPECT_EQ(passes, "d=T.lua:8 a=S.lua:3 a=S.lua:3 ");

    // The largest line a library can give, and files that differ only in their ends.
    ClearRegistry();
    adapter.Plan = nullptr;
    FPositions = "S/a\tS.lua\t2147483647\nS/b\tS.lua2\t1\nS/c\tS.lu\t2";
    adapter.RegisterTests();
    EXPECT_EQ(positions(), "a=S.lua:2147483647 b=S.lua2:1 c=S.lu:2 d=:0 ");
}

// Script tests hold their paths, names and declaration files in the discovery's shared
// text: a test that outlives its tree and its adapter still has all of them, runs by its
// whole path, and a long name is still cut without splitting a character.
TEST_F(WexelAdapterTest, AScriptTestOutlivesTheDiscoveryItCameFrom)
{
    const std::string longName = std::string(9998, 'n') + "\xC3\xA9\xC3\xA9";
    FTests = "S/T/" + longName + "\r\nS/x";
    FPositions = "S/x\tS.lua\t7";
    FAnswers["S/T/" + longName] = "##failure long";
    ITestPtr kept;
    ITestPtr other;
    {
        TWexelAdapter adapter("*.qlx", "");
        Wexel::WexelAdapter = &adapter;
        adapter.RegisterTests();
        kept = RegisteredTests()->Tests()[0]->Tests()[0]->Tests()[0];
        other = RegisteredTests()->Tests()[0]->Tests()[1];
        auto listener = std::make_shared<TOutcomeListener>();
        RunTest(kept, {listener});
        EXPECT_EQ(listener->Log, std::string(9998, 'n') + "\xC3\xA9:failure(long) ");
        Wexel::WexelAdapter = nullptr;
    }
    ClearRegistry();
    auto& quill = dynamic_cast<TTestCaseQuill&>(*kept);
    EXPECT_EQ(quill.FullName(), "S/T/" + longName);
    EXPECT_EQ(quill.GetName(), std::string(9998, 'n') + "\xC3\xA9");
    EXPECT_EQ(quill.DeclFile(), "");
    auto& second = dynamic_cast<TTestCaseQuill&>(*other);
    EXPECT_EQ(second.FullName() + " " + second.GetName() + " " + second.DeclFile() + ":" +
                  std::to_string(second.DeclLine()),
              "S/x x S.lua:7");
}

TEST_F(WexelAdapterTest, ScriptTestNeedsAPathAndAnAdapter)
{
    EXPECT_THROW(TTestCaseQuill(""), Sys::EAssertionFailed);
    auto test = std::make_shared<TTestCaseQuill>("A/B/c");
    EXPECT_EQ(test->GetName(), "c");
    EXPECT_EQ(std::make_shared<TTestCaseQuill>("A/")->GetName(), "");
    auto listener = std::make_shared<TOutcomeListener>();
    RunTest(test, {listener});
    EXPECT_EQ(listener->Log, "c:error(Exception,No script test library is connected) ");
}

// A bad line fails every selection alike, also one that does not hold it; each pass of a
// plan is a tree of its own, in the plan's order.
TEST_F(WexelAdapterTest, APlanChoosesOrdersAndRepeatsButEveryLineIsChecked)
{
    FTests = "A/t0\nA//t1\nA/t2";
    TWexelAdapter adapter("*.qlx", "");
    adapter.Plan = [](const std::vector<std::string_view>&) { return TRegistrationPlan{{0}}; };
    EXPECT_THROW(adapter.RegisterTests(), Sys::EAssertionFailed);
    EXPECT_EQ(Tree(RegisteredTests()), "A\n  t0\n");

    ClearRegistry();
    FTests = "A/x\nB/y\nA/z";
    adapter.Plan = [](const std::vector<std::string_view>& paths) {
        EXPECT_EQ(paths, (std::vector<std::string_view>{"A/x", "B/y", "A/z"}));
        return TRegistrationPlan{{2, 1}, {0, 2}};
    };
    adapter.RegisterTests();
    EXPECT_EQ(Tree(RegisteredTests()), "A\n  z\nB\n  y\nA\n  x\n  z\n");
}

// A pass's tests of one suite go in together, but only as far as every line up to them
// has been checked: a bad line that the plan leaves out, between two tests of one suite,
// still stops the registration before the second.
TEST_F(WexelAdapterTest, APlanKeepsItsOrderAcrossRunsOfOneSuiteAndStopsAtALeftOutBadLine)
{
    FTests = "A/a\nA/b\nA/c\nB/d\nA/e\nA//bad\nA/f";
    TWexelAdapter adapter("*.qlx", "");
    adapter.Plan = [](const std::vector<std::string_view>&) { return TRegistrationPlan{{0, 2, 1, 0, 3, 4, 6}}; };
    EXPECT_THROW(adapter.RegisterTests(), Sys::EAssertionFailed);
    EXPECT_EQ(Tree(RegisteredTests()), "A\n  a\n  c\n  b\n  a\n  e\nB\n  d\n");
}

// A suite's list of tests is made at its size, planned or not.
TEST_F(WexelAdapterTest, ASuitesListIsMadeAtItsSize)
{
    FTests = "A/x\nA/y\nA/z\nB/w";
    for (bool planned : {false, true}) {
        ClearRegistry();
        TWexelAdapter adapter("*.qlx", "");
        if (planned)
            adapter.Plan = [](const std::vector<std::string_view>&) { return TRegistrationPlan{{0, 1, 2, 3}}; };
        adapter.RegisterTests();
        const TestFramework::TTestList& a = RegisteredTests()->Tests().at(0)->Tests();
        EXPECT_EQ(Tree(RegisteredTests()), "A\n  x\n  y\n  z\nB\n  w\n") << planned;
        EXPECT_EQ(a.capacity(), 3u) << planned;
    }
}

// Masks after the first add only libraries that no earlier mask found.
TEST_F(WexelAdapterTest, MoreMasksAddEachLibraryOnce)
{
    FakeHost::SetHandler([](const FakeHost::TExecutedCall& call) -> std::string {
        if (call.ProcName == "GetProtocolVersion")
            return "0.87";
        const std::string mask = call.Params.at(0).value_or("");
        return mask == "A.qlx" ? "A/x\n" : mask == "B.qlx" ? "B/y" : "B/y\nA/x\nC/z";
    });
    TWexelAdapter adapter("A.qlx", "");
    adapter.MoreMasks = {"B.qlx", "*.qlx"};
    adapter.RegisterTests();
    EXPECT_EQ(Tree(RegisteredTests()), "A\n  x\nB\n  y\nC\n  z\n");
}

// The tests of a registration share their memory; one that outlives the tree (a failure
// record holds its test) and the adapter stays whole, and a rescan makes a tree of its own.
TEST_F(WexelAdapterTest, ATestOutlivesItsTreeAndTheNextRegistration)
{
    FTests = "A/x\nA/y\nB/z";
    ITestPtr kept;
    {
        TWexelAdapter adapter("*.qlx", "");
        adapter.RegisterTests();
        kept = RegisteredTests()->Tests().at(1)->Tests().at(0);
        ClearRegistry();
        FTests = "C/w";
        adapter.RegisterTests();
        EXPECT_EQ(Tree(RegisteredTests()), "C\n  w\n");
        ClearRegistry();
    }
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->GetName(), "z");
    EXPECT_EQ(std::dynamic_pointer_cast<TTestCaseQuill>(kept)->FullName(), "B/z");
    kept.reset();
}

// Lines of one suite are checked once, but a bad line is caught wherever it comes: right
// after good lines of a suite with the same start, and at the very end.
TEST_F(WexelAdapterTest, ABadLineAfterGoodOnesOfItsSuiteStillStopsTheRegistration)
{
    for (const char* listing : {"A/B/x\nA/B/y\nA/B//z\nA/B/w", "A/B/x\nA/B/y\nA//B/z", "A/B/x\nA/B/y\ny"}) {
        ClearRegistry();
        FTests = listing;
        TWexelAdapter adapter("*.qlx", "");
        EXPECT_THROW(adapter.RegisterTests(), Sys::EAssertionFailed) << listing;
        EXPECT_EQ(Tree(RegisteredTests()), "A\n  B\n    x\n    y\n") << listing;
    }
}

#include "core/AbstractTest.h"
#include "core/TrimmedIniFile.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"
#include "platform/Clock.h"
#include "platform/Process.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace TestFramework;

namespace {

std::shared_ptr<TAbstractTest> NewTest(const std::string& name = "T")
{
    return std::make_shared<TAbstractTest>(name);
}

} // namespace

TEST(AbstractTest, StartsEnabledIdleAndUncounted)
{
    auto t = NewTest();
    EXPECT_EQ(t->CountTestCases(), 1);
    EXPECT_EQ(t->CountEnabledTestCases(), 1);
    EXPECT_EQ(t->GetStatus(), "");
    EXPECT_EQ(t->ElapsedTestTime(), 0u);
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 0);
    EXPECT_TRUE(t->Tests().empty());
    t->SetEnabled(false);
    EXPECT_EQ(t->CountEnabledTestCases(), 0);
    EXPECT_EQ(t->CountTestCases(), 1);
}

// A test keeps its name in a block of its own: every byte comes back, NULs and all, for
// the empty name, a one-byte one and one far longer than a string keeps inline.
TEST(AbstractTest, KeepsItsNameByteForByte)
{
    const std::string withNul("a\0b", 3);
    const std::string longName = std::string(70000, 'x') + "\xC3\xA9";
    for (const std::string& name : {std::string(), std::string("T"), withNul, longName})
        EXPECT_EQ(NewTest(name)->GetName(), name);
    EXPECT_TRUE(TTestName().empty());
    EXPECT_TRUE(TTestName("").empty());
    EXPECT_EQ(TTestName(withNul).View(), withNul);
}

TEST(AbstractTest, ElapsedTimeGrowsWhileRunningAndFreezesAtStop)
{
    auto t = NewTest();
    const std::int64_t frequency = Sys::QueryPerformanceFrequency();
    t->SetStartTime(Sys::QueryPerformanceCounter() - frequency); // started a second ago
    const std::uint32_t first = t->ElapsedTestTime();
    EXPECT_GE(first, 1000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GT(t->ElapsedTestTime(), first);

    t->SetStartTime(5 * frequency);
    t->SetStopTime(5 * frequency + frequency / 2 + frequency / 1000 * 3);
    EXPECT_EQ(t->ElapsedTestTime(), 503u);
    EXPECT_EQ(t->ElapsedTestTime(), 503u);

    // A test that never started reports 0 even with a stop time of 0.
    t->SetStartTime(0);
    t->SetStopTime(0);
    EXPECT_EQ(t->ElapsedTestTime(), 0u);
}

TEST(AbstractTest, AllowedLeakListAndCursor)
{
    auto t = NewTest();
    t->SetAllowedLeakArray({0, 256});
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 256); // first non-zero when entry 0 is 0
    t->SetAllowedMemoryLeakSize(16);
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 16);

    t->SetAllowedMemoryLeakSize(1);
    t->SetAllowedLeakArray({2, 3, 4});
    auto next = t->GetAllowedLeaksIterator();
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i)
        seen.push_back(next());
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 0, 0}));
    // The iterator rewinds the cursor.
    EXPECT_EQ(t->GetAllowedLeaksIterator()(), 1);
}

// Zeros are what a test starts with, whether it was never given a list or was given
// zeros; values set later still come through in order.
TEST(AbstractTest, AllowedLeaksStartAsZerosAndTakeValuesSetLater)
{
    auto t = NewTest();
    t->SetAllowedMemoryLeakSize(0);
    t->SetAllowedLeakArray({0, 0, 0});
    t->StopExpectingException();
    auto next = t->GetAllowedLeaksIterator();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(next(), 0) << i;
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 0);

    t->SetAllowedLeakArray({0, 9});
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 9);
    next = t->GetAllowedLeaksIterator();
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i)
        seen.push_back(next());
    EXPECT_EQ(seen, (std::vector<int>{0, 0, 9, 0, 0}));
}

TEST(AbstractTest, TooManyAllowedLeaksFailTheCallingTestAndChangeNothing)
{
    auto t = NewTest();
    t->SetAllowedLeakArray({5, 7});
    try {
        t->SetAllowedLeakArray({1, 2, 3, 4});
        FAIL() << "no failure";
    } catch (const ETestFailure& e) {
        EXPECT_EQ(e.Message(), "Too many values in for AllowedLeakArray. Limit = 3");
    }
    t->SetAllowedMemoryLeakSize(0);
    auto next = t->GetAllowedLeaksIterator();
    EXPECT_EQ(next(), 0);
    EXPECT_EQ(next(), 5);
    EXPECT_EQ(next(), 7);
    EXPECT_EQ(next(), 0);
    t->SetAllowedLeakArray({});
    EXPECT_EQ(t->GetAllowedMemoryLeakSize(), 0);
}

TEST(AbstractTest, IteratorDoesNotKeepTheTestAlive)
{
    auto t = NewTest();
    std::weak_ptr<TAbstractTest> weak = t;
    auto next = t->GetAllowedLeaksIterator();
    t.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(next(), 0);
}

TEST(AbstractTest, RunWithoutResultCopiesTheTestsOptions)
{
    auto t = NewTest();
    t->SetFailsOnNoChecksExecuted(true);
    t->SetIgnoreSetUpTearDownLeaks(true);
    auto result = t->Run();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->FailsIfNoChecksExecuted);
    EXPECT_FALSE(result->FailsIfMemoryLeaked);
    EXPECT_TRUE(result->IgnoresMemoryLeakInSetUpTearDown);
    EXPECT_TRUE(result->WasSuccessful());

    TTestResult given;
    given.FailsIfMemoryLeaked = true;
    t->Run(given);
    EXPECT_FALSE(t->GetFailsOnNoChecksExecuted());
    EXPECT_TRUE(t->GetFailsOnMemoryLeak());
    EXPECT_FALSE(t->GetIgnoreSetUpTearDownLeaks());
}

TEST(AbstractTest, RunWithFixtureNeedsAResult)
{
    auto t = NewTest();
    EXPECT_THROW(t->RunWithFixture(nullptr), Sys::EAssertionFailed);
}

TEST(TestSuite, CountsChildrenAndHonoursItsOwnSwitch)
{
    auto root = std::make_shared<TTestSuite>("R");
    auto inner = std::make_shared<TTestSuite>("S");
    auto shared = NewTest("x");
    inner->AddTest(shared);
    inner->AddTest(NewTest("y"));
    root->AddSuite(inner);
    root->AddTest(shared); // one test in two suites counts twice
    EXPECT_EQ(root->CountTestCases(), 3);
    shared->SetEnabled(false);
    EXPECT_EQ(root->CountEnabledTestCases(), 1);
    inner->SetEnabled(false);
    EXPECT_EQ(root->CountEnabledTestCases(), 0);
    EXPECT_EQ(root->CountTestCases(), 3);
    EXPECT_EQ(std::make_shared<TTestSuite>("E")->CountTestCases(), 0);
}

TEST(TestSuite, PreconditionsAreAssertionErrors)
{
    EXPECT_THROW(TTestSuite(""), Sys::EAssertionFailed);
    auto s = std::make_shared<TTestSuite>("S");
    EXPECT_THROW(s->AddTest(nullptr), Sys::EAssertionFailed);
    EXPECT_THROW(s->RunTest(nullptr), Sys::EAssertionFailed);
}

TEST(TestSuite, TestsIsTheLiveChildList)
{
    auto s = std::make_shared<TTestSuite>("S");
    const TTestList& children = s->Tests();
    s->AddTest(NewTest("added"));
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(s->CountTestCases(), 1);
}

TEST(TestSuite, CreateFromAClassWithoutPublishedMethodsIsEmpty)
{
    auto s = TTestSuite::Create(TTestSuite::StaticClass());
    EXPECT_EQ(s->GetName(), "TTestSuite");
    EXPECT_EQ(s->CountTestCases(), 0);
}

namespace {

// R holds an enabled test a, a disabled suite S with a disabled test T and an enabled u.
std::shared_ptr<TTestSuite> ConfigTree(bool allEnabled)
{
    auto root = std::make_shared<TTestSuite>("R");
    auto s = std::make_shared<TTestSuite>("S");
    auto t = NewTest("T");
    s->AddTest(t);
    s->AddTest(NewTest("u"));
    root->AddTest(NewTest("a"));
    root->AddSuite(s);
    if (!allEnabled) {
        s->SetEnabled(false);
        t->SetEnabled(false);
    }
    return root;
}

std::vector<bool> EnabledFlags(const ITestPtr& test)
{
    std::vector<bool> flags{test->GetEnabled()};
    for (const ITestPtr& child : test->Tests()) {
        auto sub = EnabledFlags(child);
        flags.insert(flags.end(), sub.begin(), sub.end());
    }
    return flags;
}

} // namespace

class ConfigurationStores : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { Sys::SetEnv("XDG_CONFIG_HOME", FDir.Path()); }

    bool UseRegistry() const { return GetParam() == 0; }
    bool UseMemIni() const { return GetParam() == 1; }
    std::string StoreFile() const
    {
        return UseRegistry() ? TRegistryIniFile::KeyFilePath(FFileName) : FFileName;
    }

    TestSupport::TTempDir FDir;
    std::string FFileName = FDir.File("roved.ini");
};

TEST_P(ConfigurationStores, SaveKeepsOnlyDisabledTestsAndLoadRestoresThem)
{
    auto saved = ConfigTree(false);
    saved->SaveConfiguration(FFileName, UseRegistry(), UseMemIni());
    const std::string bytes = TestSupport::ReadFile(StoreFile());
    EXPECT_EQ(bytes, "[Tests.R]\r\nS=0\r\n\r\n[Tests.R.S]\r\nT=0\r\n") << bytes;

    auto loaded = ConfigTree(true);
    loaded->LoadConfiguration(FFileName, UseRegistry(), UseMemIni());
    EXPECT_EQ(EnabledFlags(loaded), EnabledFlags(saved));

    // Enabling everything again removes the entries.
    ConfigTree(true)->SaveConfiguration(FFileName, UseRegistry(), UseMemIni());
    auto reloaded = ConfigTree(false);
    reloaded->LoadConfiguration(FFileName, UseRegistry(), UseMemIni());
    EXPECT_EQ(EnabledFlags(reloaded), EnabledFlags(ConfigTree(true)));
}

TEST_P(ConfigurationStores, SavingKeepsAnotherProgramsSectionsAndComments)
{
    const std::string foreign = "; written by hand\r\n[Other]\r\nkey=value\r\n";
    std::filesystem::create_directories(std::filesystem::path(StoreFile()).parent_path());
    TestSupport::WriteFile(StoreFile(), foreign);
    ConfigTree(false)->SaveConfiguration(FFileName, UseRegistry(), UseMemIni());
    const std::string bytes = TestSupport::ReadFile(StoreFile());
    EXPECT_NE(bytes.find("; written by hand"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("[Other]\r\nkey=value"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("[Tests.R.S]\r\nT=0"), std::string::npos) << bytes;
}

TEST_P(ConfigurationStores, AnEnabledTestLosesItsKeyWhateverTheSectionsCase)
{
    // Enabled tests skip the store where their suite has no section: the section must be
    // found as every lookup finds it, whatever its case.
    std::filesystem::create_directories(std::filesystem::path(StoreFile()).parent_path());
    TestSupport::WriteFile(StoreFile(), "[tests.r.s]\r\nt=0\r\nu=0\r\n");
    ConfigTree(true)->SaveConfiguration(FFileName, UseRegistry(), UseMemIni());
    const std::string bytes = TestSupport::ReadFile(StoreFile());
    EXPECT_EQ(bytes.find("=0"), std::string::npos) << bytes;
}

INSTANTIATE_TEST_SUITE_P(AllStores, ConfigurationStores, ::testing::Values(0, 1, 2),
                         [](const auto& info) {
                             return std::string(info.param == 0   ? "Registry"
                                                : info.param == 1 ? "MemIni"
                                                                  : "PlainIni");
                         });

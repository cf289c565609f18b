#include "core/TestRegistry.h"

#include "RunRecorder.h"
#include "core/TestSuite.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>

using namespace TestFramework;
using namespace TestFramework::Testing;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override { ClearRegistry(); }

    ITestPtr Fake(const std::string& name) { return std::make_shared<TFakeTest>(name, Log); }

    // The names of a suite's children, suites marked with a trailing "/".
    static std::vector<std::string> Children(const ITestPtr& suite)
    {
        std::vector<std::string> names;
        for (const auto& child : suite->Tests())
            names.push_back(child->GetName() + (Supports<ITestSuite>(child) ? "/" : ""));
        return names;
    }
    static ITestPtr Child(const ITestPtr& suite, std::size_t index) { return suite->Tests().at(index); }

    TLog Log;
};

std::string OwnFileName()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return full.substr(full.find_last_of('/') + 1);
}

// Collects what the process writes to its standard output meanwhile.
class TStdOutCapture {
public:
    TStdOutCapture() : FFile(std::tmpfile()), FSaved(::dup(STDOUT_FILENO))
    {
        ::dup2(::fileno(FFile), STDOUT_FILENO);
    }
    ~TStdOutCapture()
    {
        Restore();
        std::fclose(FFile);
    }
    std::string Bytes()
    {
        Restore();
        std::string bytes;
        std::rewind(FFile);
        for (int c; (c = std::fgetc(FFile)) != EOF;)
            bytes.push_back(static_cast<char>(c));
        return bytes;
    }

private:
    void Restore()
    {
        if (FSaved >= 0) {
            ::dup2(FSaved, STDOUT_FILENO);
            ::close(FSaved);
            FSaved = -1;
        }
    }
    std::FILE* FFile;
    int FSaved;
};

} // namespace

TEST_F(Registry, RootIsNamedAfterTheModuleAndStartsAfreshAfterClearing)
{
    EXPECT_EQ(RegisteredTests(), nullptr);
    auto t = Fake("t");
    RegisterTest(t);
    ITestSuitePtr root = RegisteredTests();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), OwnFileName());
    EXPECT_EQ(Children(root), (std::vector<std::string>{"t"}));

    std::weak_ptr<ITest> oldRoot = root;
    root.reset();
    ClearRegistry();
    EXPECT_EQ(RegisteredTests(), nullptr);
    EXPECT_TRUE(oldRoot.expired());

    RegisterTest(Fake("u"));
    EXPECT_EQ(Children(RegisteredTests()), (std::vector<std::string>{"u"}));
}

TEST_F(Registry, SamePathTwiceSharesTheSuites)
{
    RegisterTest("X.Y", Fake("t1"));
    RegisterTest("X.Y", Fake("t2"));
    RegisterTest("X", Fake("t3"));

    ITestPtr root = RegisteredTests();
    ASSERT_EQ(Children(root), (std::vector<std::string>{"X/"}));
    ITestPtr x = Child(root, 0);
    ASSERT_EQ(Children(x), (std::vector<std::string>{"Y/", "t3"}));
    EXPECT_EQ(Children(Child(x, 0)), (std::vector<std::string>{"t1", "t2"}));
}

TEST_F(Registry, PointThenBackslashThenSlashSplitsThePath)
{
    RegisterTest("X\\Y", Fake("t1"));
    RegisterTest("X/Y", Fake("t2"));
    // The point wins wherever it stands: A/B.C is the suite "A/B" holding the suite "C".
    RegisterTest("A/B.C", Fake("t3"));
    RegisterTest("A\\B/C", Fake("t4"));

    ITestPtr root = RegisteredTests();
    ASSERT_EQ(Children(root), (std::vector<std::string>{"X/", "A/B/", "A/"}));
    EXPECT_EQ(Children(Child(Child(root, 0), 0)), (std::vector<std::string>{"t1", "t2"}));
    EXPECT_EQ(Children(Child(Child(root, 1), 0)), (std::vector<std::string>{"t3"}));
    ITestPtr b = Child(Child(root, 2), 0);
    EXPECT_EQ(b->GetName(), "B");
    EXPECT_EQ(Children(Child(b, 0)), (std::vector<std::string>{"t4"}));
}

TEST_F(Registry, NonSuiteChildDoesNotCaptureAPath)
{
    RegisterTest(Fake("X"));
    RegisterTest("X.Y", Fake("t"));
    RegisterTest("x.Y", Fake("u")); // names compare case-sensitively

    ITestPtr root = RegisteredTests();
    ASSERT_EQ(Children(root), (std::vector<std::string>{"X", "X/", "x/"}));
    EXPECT_EQ(Children(Child(Child(root, 1), 0)), (std::vector<std::string>{"t"}));
}

TEST_F(Registry, BadRegistrationsRaiseAndKeepWhatCameBefore)
{
    EXPECT_THROW(RegisterTest("X", nullptr), Sys::EAssertionFailed);
    RegisterTest("X", Fake("t"));
    EXPECT_THROW(RegisterTest("X..Y", Fake("u")), Sys::EAssertionFailed);
    EXPECT_THROW(RegisterTest("/X", Fake("v")), Sys::EAssertionFailed);
    ITestPtr root = RegisteredTests();
    ASSERT_EQ(Children(root), (std::vector<std::string>{"X/"}));
    EXPECT_EQ(Children(Child(root, 0)), (std::vector<std::string>{"t"}));
}

TEST_F(Registry, RunTestWithoutSuiteRegistersListenersAndSendsNothing)
{
    auto first = std::make_shared<TRecordingSuiteListener>(Log);
    auto second = std::make_shared<TRecordingListener>(Log);
    auto result = RunTest(nullptr, {first, second});
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Listeners(), (std::vector<ITestListenerPtr>{first, second}));
    EXPECT_EQ(result->RunCount(), 0);
    EXPECT_EQ(result->FailureCount() + result->ErrorCount(), 0);
    EXPECT_TRUE(Log.empty());
}

TEST_F(Registry, RunTestRunsTheSuiteWithAllOptionsOff)
{
    auto suite = std::make_shared<TTestSuite>("S");
    suite->AddTest(Fake("a"));
    suite->SetFailsOnMemoryLeak(true);
    auto result = RunTest(suite, {std::make_shared<TRecordingListener>(Log)});
    EXPECT_EQ(Log.front(), "TestingStarts");
    EXPECT_EQ(Log.back(), "TestingEnds");
    EXPECT_FALSE(result->FailsIfMemoryLeaked);
    EXPECT_FALSE(suite->GetFailsOnMemoryLeak());
    EXPECT_TRUE(result->WasSuccessful());
}

TEST_F(Registry, TenThousandTestsAreReleasedWithTheRegistry)
{
    // Every 7th test fails, every 11th raises an error; weak references to all tests and
    // suites show that nothing survives the result and the registry (no cycles).
    std::vector<std::weak_ptr<ITest>> watched;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        auto test = std::make_shared<TFakeTest>("t" + std::to_string(i), Log);
        if (i % 7 == 0)
            test->OnRunTest = [] { throw ETestFailure("f"); };
        else if (i % 11 == 0)
            test->OnRunTest = [] { throw std::runtime_error("e"); };
        RegisterTest("Lib" + std::to_string(i / 1000) + "/Group" + std::to_string(i / 100 % 10), test);
        watched.push_back(test);
    }
    ITestPtr root = RegisteredTests();
    watched.push_back(root);
    for (const auto& lib : root->Tests()) {
        watched.push_back(lib);
        for (const auto& group : lib->Tests())
            watched.push_back(group);
    }
    EXPECT_EQ(root->CountTestCases(), 10000);
    EXPECT_EQ(watched.size(), 10000u + 1 + 10 + 100);

    {
        auto result = RunTest(root, {std::make_shared<TRecordingSuiteListener>(Log)});
        const int failures = (10000 + 6) / 7;
        int errors = 0;
        for (int i = 0; i < 10000; ++i)
            errors += i % 7 != 0 && i % 11 == 0;
        EXPECT_EQ(result->FailureCount(), failures);
        EXPECT_EQ(result->ErrorCount(), errors);
        EXPECT_EQ(std::count(Log.begin(), Log.end(), "TestingEnds"), 1);
    }
    root.reset();
    ClearRegistry();
    Log.clear();
    for (const auto& w : watched)
        ASSERT_TRUE(w.expired());
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    std::printf("10000 tests built, run and released in %lld ms\n", static_cast<long long>(ms));
}

TEST(StdOut, WritesBytesUnchangedAndEndsLinesWithCrLf)
{
    TStdOutCapture capture;
    WriteStdOut(std::string_view("a\nb\0c", 5));
    WriteLnStdOut("");
    WriteLnStdOut("end");
    EXPECT_EQ(capture.Bytes(), std::string("a\nb\0c\r\nend\r\n", 12));
}

TEST(MethodEnumerator, ListsMostDerivedFirstAndEachNameOnce)
{
    struct TBase : Sys::TObject {
        WEXEL_CLASS(TBase, Sys::TObject)
    };
    struct TDerived : TBase {
        WEXEL_CLASS(TDerived, TBase)
    };
    EXPECT_EQ(TMethodEnumerator(TTestSuite::StaticClass()).MethodCount(), 0);

    TMethodEnumerator::PublishMethods(TBase::StaticClass(), {"TestOne", "TestTwo", "Shared"});
    TMethodEnumerator::PublishMethods(TDerived::StaticClass(), {"TestThree", "Shared"});
    TMethodEnumerator names(TDerived::StaticClass());
    std::vector<std::string> listed;
    for (int i = 0; i < names.MethodCount(); ++i)
        listed.push_back(names.NameOfMethod(i));
    EXPECT_EQ(listed, (std::vector<std::string>{"TestThree", "Shared", "TestOne", "TestTwo"}));
    EXPECT_THROW(names.NameOfMethod(4), EListError);
}

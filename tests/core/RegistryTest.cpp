#include "core/TestRegistry.h"
#include "platform/Process.h"

#include "RunRecorder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

using namespace TestFramework;
using namespace TestFramework::Testing;

namespace {

using TNames = std::vector<std::string>;

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override { ClearRegistry(); }
    ITestPtr Fake(const std::string& name) { return std::make_shared<TFakeTest>(name, Log); }
    TLog Log;
};

// The children of a suite reached by child indexes from the root; suites end in "/".
TNames Children(std::vector<std::size_t> path = {})
{
    ITestPtr suite = RegisteredTests();
    for (std::size_t index : path)
        suite = suite->Tests().at(index);
    TNames names;
    for (const auto& child : suite->Tests())
        names.push_back(child->GetName() + (Supports<ITestSuite>(child) ? "/" : ""));
    return names;
}

} // namespace

TEST_F(Registry, RootIsNamedAfterTheModuleAndStartsAfreshAfterClearing)
{
    EXPECT_EQ(RegisteredTests(), nullptr);
    RegisterTest(Fake("t"));
    std::weak_ptr<ITest> root = RegisteredTests();
    EXPECT_EQ(root.lock()->GetName(), std::filesystem::read_symlink("/proc/self/exe").filename().string());
    EXPECT_EQ(Children(), TNames{"t"});

    ClearRegistry();
    EXPECT_EQ(RegisteredTests(), nullptr);
    EXPECT_TRUE(root.expired());
    RegisterTest(Fake("u"));
    EXPECT_EQ(Children(), TNames{"u"});
}

TEST_F(Registry, SamePathTwiceSharesTheSuites)
{
    RegisterTest("X.Y", Fake("t1"));
    RegisterTest("X.Y", Fake("t2"));
    RegisterTest("X", Fake("t3"));
    EXPECT_EQ(Children(), TNames{"X/"});
    EXPECT_EQ(Children({0}), (TNames{"Y/", "t3"}));
    EXPECT_EQ(Children({0, 0}), (TNames{"t1", "t2"}));
}

TEST_F(Registry, PointThenBackslashThenSlashSplitsThePath)
{
    RegisterTest("X\\Y", Fake("t1"));
    RegisterTest("X/Y", Fake("t2"));
    RegisterTest("A/B.C", Fake("t3")); // the point wins wherever it stands
    RegisterTest("A\\B/C", Fake("t4"));
    EXPECT_EQ(Children(), (TNames{"X/", "A/B/", "A/"}));
    EXPECT_EQ(Children({0, 0}), (TNames{"t1", "t2"}));
    EXPECT_EQ(Children({1}), TNames{"C/"});
    EXPECT_EQ(Children({2, 0}), TNames{"C/"});
    EXPECT_EQ(Children({2, 0, 0}), TNames{"t4"});
}

TEST_F(Registry, NonSuiteChildDoesNotCaptureAPath)
{
    RegisterTest(Fake("X"));
    RegisterTest("X.Y", Fake("t"));
    RegisterTest("x.Y", Fake("u")); // names compare case-sensitively
    EXPECT_EQ(Children(), (TNames{"X", "X/", "x/"}));
    EXPECT_EQ(Children({1, 0}), TNames{"t"});
}

TEST_F(Registry, BadRegistrationsRaiseAndKeepWhatCameBefore)
{
    EXPECT_THROW(RegisterTest("X", nullptr), Sys::EAssertionFailed);
    RegisterTest("X", Fake("t"));
    EXPECT_THROW(RegisterTest("X..Y", Fake("u")), Sys::EAssertionFailed);
    EXPECT_EQ(Children(), TNames{"X/"});
    EXPECT_EQ(Children({0}), TNames{"t"});
}

TEST_F(Registry, RunTestWithoutSuiteRegistersListenersAndSendsNothing)
{
    auto first = std::make_shared<TRecordingSuiteListener>(Log);
    auto second = std::make_shared<TRecordingListener>(Log);
    auto result = RunTest(nullptr, {first, second});
    EXPECT_EQ(result->Listeners(), (std::vector<ITestListenerPtr>{first, second}));
    EXPECT_EQ(result->RunCount() + result->FailureCount() + result->ErrorCount(), 0);
    EXPECT_TRUE(Log.empty());
}

TEST_F(Registry, TenThousandTestsAreReleasedWithTheRegistry)
{
    // Weak references to every test and suite show that nothing outlives the result and
    // the registry: no cycle through records, status channels or leak callbacks.
    std::vector<std::weak_ptr<ITest>> watched;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        auto test = std::make_shared<TFakeTest>("t" + std::to_string(i), Log);
        if (i % 7 == 0)
            test->OnRunTest = [] { throw ETestFailure("f"); };
        else if (i % 11 == 0)
            test->OnRunTest = [t = test.get()] {
                t->StatusChannel()->Status(t->shared_from_this(), "about to fail");
                throw std::runtime_error("e");
            };
        RegisterTest("Lib" + std::to_string(i / 1000) + "/Group" + std::to_string(i / 100 % 10), test);
        watched.push_back(test);
    }
    ITestPtr root = RegisteredTests();
    for (const auto& lib : root->Tests()) {
        watched.push_back(lib);
        for (const auto& group : lib->Tests())
            watched.push_back(group);
    }
    watched.push_back(root);
    {
        auto result = RunTest(root, {std::make_shared<TRecordingSuiteListener>(Log)});
        EXPECT_EQ(result->FailureCount(), 1429);
        EXPECT_EQ(result->ErrorCount(), 780);
    }
    root.reset();
    ClearRegistry();
    Log.clear();
    EXPECT_EQ(std::count_if(watched.begin(), watched.end(), [](auto& w) { return !w.expired(); }), 0);
    auto elapsed = std::chrono::steady_clock::now() - started;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed);
    std::printf("10000 tests built, run and released in %lld ms\n", static_cast<long long>(ms.count()));
}

TEST(StdOut, WritesBytesUnchangedAndEndsLinesWithCrLf)
{
    std::FILE* file = std::tmpfile();
    int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(file), STDOUT_FILENO);
    WriteStdOut(std::string_view("a\nb\0c", 5));
    WriteLnStdOut("");
    WriteLnStdOut("end");
    Sys::FlushConsole();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    std::string bytes(64, '\0');
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    EXPECT_EQ(bytes, std::string("a\nb\0c\r\nend\r\n", 12));
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
    TNames listed;
    for (int i = 0; i < names.MethodCount(); ++i)
        listed.push_back(names.NameOfMethod(i));
    EXPECT_EQ(listed, (TNames{"TestThree", "Shared", "TestOne", "TestTwo"}));
}

#pragma once
// A small registered test tree for running the report listeners in-process, capture of
// standard output, and masks that take the clock and code addresses out of reports.

#include "core/AbstractTest.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"
#include "platform/Process.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <unistd.h>

namespace ListenerTesting {

using namespace TestFramework;

class EStockEmpty : public Sys::Exception {
public:
    WEXEL_CLASS(EStockEmpty, Sys::Exception)
    using Sys::Exception::Exception;
};

// A test case whose body is a function. Like a script test case it adds itself to the
// result's run count, which is what the reports count as tests.
class TBodyTest : public TAbstractTest {
public:
    TBodyTest(std::string name, std::function<void(TBodyTest&)> body)
        : TAbstractTest(std::move(name)), FBody(std::move(body))
    {
    }
    void RunWithFixture(TTestResult* testResult) override
    {
        if (testResult->ShouldRunTest(shared_from_this())) {
            ++testResult->RunTests;
            TAbstractTest::RunWithFixture(testResult);
        }
    }
    void RunTest(TTestResult*) override { FBody(*this); }

private:
    std::function<void(TBodyTest&)> FBody;
};

// A suite whose body breaks off after its first child: the run loop records the suite's
// error, and its EndSuite never comes.
class TBreakingSuite : public TTestSuite {
public:
    using TTestSuite::TTestSuite;
    void RunTest(TTestResult* testResult) override
    {
        testResult->StartSuite(shared_from_this());
        FTests.front()->RunWithFixture(testResult);
        throw EStockEmpty("suite body broke off");
    }
};

inline std::shared_ptr<TBodyTest> Passing(std::string name)
{
    return std::make_shared<TBodyTest>(std::move(name), [](TBodyTest& t) { t.Check(true); });
}

// Registers A { Passes, B { Fails, Raises, Off (disabled) } } below the registry's root,
// which is named after this test program.
inline void RegisterSmallTree()
{
    auto a = std::make_shared<TTestSuite>("A");
    auto b = std::make_shared<TTestSuite>("B");
    a->AddTest(Passing("Passes"));
    a->AddTest(b);
    b->AddTest(std::make_shared<TBodyTest>("Fails", [](TBodyTest& t) { t.Check(false, "stock <0>"); }));
    b->AddTest(std::make_shared<TBodyTest>("Raises", [](TBodyTest&) {
        throw EStockEmpty("no stock for \"X\"");
    }));
    auto off = Passing("Off");
    off->SetEnabled(false);
    b->AddTest(off);
    RegisterTest(a);
}

// Registers Outer { Broken { First, NeverRuns }, After }, where Broken's body breaks off
// after First, so its EndSuite never comes.
inline void RegisterBrokenTree()
{
    auto outer = std::make_shared<TTestSuite>("Outer");
    auto broken = std::make_shared<TBreakingSuite>("Broken");
    broken->AddTest(Passing("First"));
    broken->AddTest(Passing("NeverRuns"));
    outer->AddTest(broken);
    outer->AddTest(Passing("After"));
    RegisterTest(outer);
}

// Every case starts and ends with an empty registry.
class RegistryFixture : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override { ClearRegistry(); }
    static std::string RootName() { return RegisteredTests()->GetName(); }
};

// Runs the registered tree through a report runner into a file and answers the file.
template <std::unique_ptr<TTestResult> (*RunReport)(const ITestPtr&, const std::string&)>
class ReportFileFixture : public RegistryFixture {
protected:
    std::string RunToFile()
    {
        const std::string file = FDir.File("roved-report.xml");
        FResult = RunReport(RegisteredTests(), file);
        return TestSupport::ReadFile(file);
    }
    TestSupport::TTempDir FDir;
    std::unique_ptr<TTestResult> FResult;
};

// What the code in between writes to file descriptor 1, where the framework's standard
// output goes.
class TStdOutCapture {
public:
    TStdOutCapture() : FFile(FDir.File("stdout"))
    {
        std::fflush(stdout);
        Sys::FlushConsole();
        FSaved = ::dup(STDOUT_FILENO);
        std::FILE* f = std::fopen(FFile.c_str(), "wb");
        ::dup2(::fileno(f), STDOUT_FILENO);
        std::fclose(f);
    }
    ~TStdOutCapture() { Restore(); }
    TStdOutCapture(const TStdOutCapture&) = delete;
    TStdOutCapture& operator=(const TStdOutCapture&) = delete;

    // Ends the capture and answers what was written.
    std::string Text()
    {
        Restore();
        return TestSupport::ReadFile(FFile);
    }

private:
    void Restore()
    {
        if (FSaved < 0)
            return;
        Sys::FlushConsole();
        ::dup2(FSaved, STDOUT_FILENO);
        ::close(FSaved);
        FSaved = -1;
    }
    TestSupport::TTempDir FDir;
    std::string FFile;
    int FSaved = -1;
};

inline std::string Mask(const std::string& text, const char* pattern, const char* replacement)
{
    return std::regex_replace(text, std::regex(pattern), replacement);
}

} // namespace ListenerTesting

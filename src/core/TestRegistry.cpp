#include "core/TestRegistry.h"

#include "core/TestExceptions.h"
#include "core/TestSuite.h"
#include "platform/Process.h"

#include <algorithm>
#include <map>

namespace TestFramework {

namespace {

// The unit's state lives in one function-local static, so it exists before the first
// registration whatever the order of static initialisation, and is torn down with the
// module that holds it (dlclose of the runner library, or the end of a test program).
struct TFrameworkUnit {
    ITestSuitePtr RootSuite;
    const void* RootModule = nullptr;
    std::string RegistryKeyBase;
    std::map<const Sys::TClass*, std::vector<std::string>> PublishedMethods;
};

TFrameworkUnit& Unit()
{
    static TFrameworkUnit unit;
    return unit;
}

// An address inside the module that holds the framework; internal linkage, so that it
// cannot resolve to a copy in another module.
const char ModuleAnchor = 0;

std::string RootSuiteName()
{
    const void* module = Unit().RootModule;
    std::string path = Sys::ModuleFileName(module ? module : &ModuleAnchor);
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    auto first = std::find_if_not(path.begin(), path.end(), isBlank);
    auto last = std::find_if_not(path.rbegin(), path.rend(), isBlank).base();
    path = first < last ? std::string(first, last) : std::string();
    auto slash = path.find_last_of(Sys::PathDelim);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ITestSuitePtr FindChildSuite(ITestSuite& suite, const std::string& name)
{
    for (const ITestPtr& child : suite.Tests())
        if (auto childSuite = Supports<ITestSuite>(child); childSuite && child->GetName() == name)
            return childSuite;
    return nullptr;
}

void RegisterTestInSuite(ITestSuite& rootSuite, const std::string& path, const ITestPtr& test)
{
    // Iterative rather than recursive: a path has as many levels as its separators.
    ITestSuite* suite = &rootSuite;
    ITestSuitePtr held;
    std::string rest = path;
    while (!rest.empty()) {
        std::size_t sep = rest.find('.');
        if (sep == std::string::npos)
            sep = rest.find('\\');
        if (sep == std::string::npos)
            sep = rest.find('/');
        std::string head = sep == std::string::npos ? rest : rest.substr(0, sep);
        rest = sep == std::string::npos ? std::string() : rest.substr(sep + 1);

        ITestSuitePtr child = FindChildSuite(*suite, head);
        if (!child) {
            child = std::make_shared<TTestSuite>(head);
            suite->AddTest(child);
        }
        held = child;
        suite = held.get();
    }
    suite->AddTest(test);
}

} // namespace

void RegisterTest(const std::string& path, const ITestPtr& test)
{
    Sys::Assert(test != nullptr, FrameworkUnit, __LINE__);
    TFrameworkUnit& unit = Unit();
    if (!unit.RootSuite)
        unit.RootSuite = std::make_shared<TTestSuite>(RootSuiteName());
    RegisterTestInSuite(*unit.RootSuite, path, test);
}

void RegisterTest(const ITestPtr& test) { RegisterTest(std::string(), test); }

ITestSuitePtr RegisteredTests() { return Unit().RootSuite; }

void ClearRegistry() { Unit().RootSuite.reset(); }

std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::vector<ITestListenerPtr>& listeners)
{
    auto result = std::make_unique<TTestResult>();
    for (const auto& listener : listeners)
        result->AddListener(listener);
    if (suite)
        suite->Run(*result);
    return result;
}

std::string GetRegistryKeyBase() { return Unit().RegistryKeyBase; }

void NameRootAfterModule(const void* addressInModule) { Unit().RootModule = addressInModule; }

void WriteStdOut(std::string_view text) { Sys::WriteRaw(Sys::TStdHandle::Output, text); }

void WriteLnStdOut(std::string_view text)
{
    std::string line(text);
    line += "\r\n";
    WriteStdOut(line);
}

TMethodEnumerator::TMethodEnumerator(const Sys::TClass& testClass)
{
    const auto& published = Unit().PublishedMethods;
    for (const Sys::TClass* cls = &testClass; cls; cls = cls->Parent) {
        auto found = published.find(cls);
        if (found == published.end())
            continue;
        for (const std::string& name : found->second)
            if (std::find(FMethodNameList.begin(), FMethodNameList.end(), name) == FMethodNameList.end())
                FMethodNameList.push_back(name);
    }
}

int TMethodEnumerator::MethodCount() const { return static_cast<int>(FMethodNameList.size()); }

std::string TMethodEnumerator::NameOfMethod(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= FMethodNameList.size())
        ListIndexError(index);
    return FMethodNameList[static_cast<std::size_t>(index)];
}

void TMethodEnumerator::PublishMethods(const Sys::TClass& testClass, std::vector<std::string> names)
{
    Unit().PublishedMethods[&testClass] = std::move(names);
}

} // namespace TestFramework

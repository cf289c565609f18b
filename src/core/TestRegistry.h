#pragma once
// The process-wide test tree every runner takes its tests from, the one-call way of
// running a suite with listeners, the raw standard-output writer of the report runners,
// and the enumerator of a test class's published methods.

#include "core/TestInterfaces.h"
#include "core/TestResult.h"
#include "platform/SysUtils.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace TestFramework {

// --- registry ---

// Places the test below the root by path: the path splits at its first ".", or failing
// that its first "\", or failing that its first "/"; each head names a child suite, found
// (first suite child of that exact name) or created. An empty path adds the test to the
// root itself. The root is created on first use and named after the runner module's file.
void RegisterTest(const std::string& path, const ITestPtr& test);
void RegisterTest(const ITestPtr& test);
// The root suite, or nullptr when nothing is registered.
ITestSuitePtr RegisteredTests();
// Releases the tree; the next registration starts a new root.
void ClearRegistry();
// Runs the suite (when there is one) on a new result with the listeners in the given
// order, and hands the result to the caller. Exceptions from the run pass on.
std::unique_ptr<TTestResult> RunTest(const ITestPtr& suite, const std::vector<ITestListenerPtr>& listeners);
// The prefix of the per-user settings keys of the file-form configuration; empty.
std::string GetRegistryKeyBase();

// Names the root suite created from now on after the file of the module that holds the
// address (the runner library names it after itself); until then the root is named after
// the module that holds the framework.
void NameRootAfterModule(const void* addressInModule);

// --- standard output ---

// The bytes as they are: no conversion, no line-end translation, no buffering.
void WriteStdOut(std::string_view text);
// The bytes followed by CR LF.
void WriteLnStdOut(std::string_view text);

// --- published test methods ---

// The names of the published methods of a test class and its ancestors, most derived
// class first; a name published again by a descendant is listed once, at its place.
class TMethodEnumerator {
public:
    explicit TMethodEnumerator(const Sys::TClass& testClass);
    int MethodCount() const;
    // 0-based; an index outside the list raises EListError.
    std::string NameOfMethod(int index) const;

    // How a class publishes its methods, in declaration order. No class of the runner
    // does, so every enumeration there is empty.
    static void PublishMethods(const Sys::TClass& testClass, std::vector<std::string> names);

private:
    std::vector<std::string> FMethodNameList;
};

} // namespace TestFramework

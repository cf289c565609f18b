#include "platform/Process.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(CommandLine, QuotesEmptyArgumentsAndArgumentsWithBlanks)
{
    EXPECT_EQ(Sys::JoinCommandLine({"/x/wexel-host", "--mode=txt", "a b", "", "c"}),
              "/x/wexel-host --mode=txt \"a b\" \"\" c");
    // An option keeps its name outside the quotes, so that it stays an option.
    EXPECT_EQ(Sys::JoinCommandLine({"p", "--filter=*a b*", "--x y=z"}), "p --filter=\"*a b*\" \"--x y=z\"");
    // A quotation mark inside an argument is passed on as it is.
    EXPECT_EQ(Sys::JoinCommandLine({"p", "it's", "say\"hi\""}), "p it's say\"hi\"");
    EXPECT_EQ(Sys::JoinCommandLine({}), "");
}

TEST(CommandLine, OverrideReplacesTheProcessArguments)
{
    Sys::SetCommandLineArgs({"prog name", "--ver"});
    EXPECT_EQ(Sys::CommandLine(), "\"prog name\" --ver");
    Sys::ResetCommandLineArgs();
    EXPECT_NE(Sys::CommandLine().find("platform_tests"), std::string::npos);
}

TEST(AssertionError, NamesTheUnitAndLine)
{
    try {
        Sys::AssertionFailure("roved\\src\\TestFramework", 2128);
        FAIL();
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Assertion failure (roved\\src\\TestFramework, line 2128)");
    }
    try {
        Sys::Assert(false, "Wexel", 7, "listener is nil");
        FAIL();
    } catch (const Sys::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "listener is nil (Wexel, line 7)");
    }
}

TEST(ExceptionClassName, UsesOwnNamesAndDemangledStandardNames)
{
    EXPECT_EQ(Sys::ExceptionClassName(Sys::EAbort("x")), "EAbort");
    EXPECT_EQ(Sys::ExceptionClassName(std::out_of_range("x")), "std::out_of_range");
}

TEST(ModuleFileName, FindsTheModuleOfAnAddress)
{
    std::string runtime = Sys::ModuleFileName(reinterpret_cast<const void*>(&Sys::ExitCode));
    EXPECT_NE(runtime.find("libWexelRuntime.so"), std::string::npos) << runtime;
    EXPECT_EQ(Sys::ModuleBase(nullptr), nullptr);
}

#include "bridge/WexelCaller.h"

#include "bridge/HostPlatform.h"
#include "core/TestResult.h"
#include "platform/Process.h"
#include "platform/Signals.h"

#include <charconv>
#include <cmath>

namespace Wexel {

namespace {

const std::string DefaultConfigName = "default";
const std::string RunTestProc = "RunTest";

// The per-test time limit from the environment: a positive decimal number of seconds,
// 0 when the variable is unset or empty. Anything else is refused: a CI job that meant to
// set a limit must not run without one.
double TimeLimitFromEnvironment()
{
    const std::string text = Sys::GetEnv(TimeLimitVariable);
    if (text.empty())
        return 0;
    double seconds = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) || seconds <= 0)
        throw Sys::Exception(std::string(TimeLimitVariable) + " must be a positive number of seconds, not \"" +
                             text + "\"");
    return seconds;
}

} // namespace

TWexelCaller::TWexelCaller(const std::string& config) : TWexelCaller(config, Sys::ExeDir()) {}

TWexelCaller::TWexelCaller(const std::string& config, std::string exeDir)
    : ExeDir(std::move(exeDir)),
      Config(config == DefaultConfigName ? ExeDir + "/../EXE/default.cfg" : config),
      TestTimeLimit(TimeLimitFromEnvironment()), FLibraryPath(ExeDir + "/../USER/Wexel.qlx")
{
    SetSearchPath();
}

TWexelCaller::~TWexelCaller()
{
    if (!WexelHost::CloseScriptEngine(TestTimeLimit) && !Sys::StopSignal()) {
        Sys::WriteRaw(Sys::TStdHandle::Error, "Error: a finalizer of a script library could not be stopped\r\n");
        Sys::SetExitCode(1);
    }
}

void TWexelCaller::SetSearchPath()
{
    std::string path = Sys::GetEnv("PATH");
    // An empty entry in PATH means the current directory; never add one by accident.
    if (!path.empty())
        path += Sys::PathListSep;
    path += ExeDir + "/../SYSTEM" + Sys::PathListSep + ExeDir + "/../USER";
    Sys::SetEnv("PATH", path);
}

std::string TWexelCaller::GetProtocolVersion()
{
    static const std::string proc = "GetProtocolVersion";
    return Call(proc, nullptr);
}

std::string TWexelCaller::FindTests(const std::string& mask)
{
    static const std::string proc = "FindTests";
    return Call(proc, &mask);
}

std::string TWexelCaller::GetTestPositions(const std::string& mask)
{
    static const std::string proc = "GetTestPositions";
    return Call(proc, &mask);
}

std::string TWexelCaller::RunTest(std::string_view fullName)
{
    if (!FRunCall) {
        FRunCall = std::make_unique<WexelHost::TExtCall>();
        FRunCall->CallKind = WexelHost::ScriptCallKind;
        FRunCall->LibraryPath = FLibraryPath;
        FRunCall->ProcName = RunTestProc;
        FRunCall->Prepare();
    }
    FRunCall->CallData.GetParam(0).AssignString(fullName);
    FRunCall->TimeLimit = TestTimeLimit;
    Execute(*FRunCall, RunTestProc, &fullName);
    return FRunCall->CallData.ResultParam.TakeString();
}

std::string TWexelCaller::Call(const std::string& proc, const std::string* argument)
{
    WexelHost::TExtCall call;
    call.CallKind = WexelHost::ScriptCallKind;
    call.LibraryPath = FLibraryPath;
    call.ProcName = proc;
    call.Prepare();
    if (argument)
        call.CallData.GetParam(0).SetAsString(*argument);
    const bool isTest = proc == RunTestProc;
    if (isTest)
        call.TimeLimit = TestTimeLimit;
    else
        call.LibraryTimeLimit = TestTimeLimit;
    std::string_view testPath = argument ? std::string_view(*argument) : std::string_view();
    Execute(call, proc, isTest ? &testPath : nullptr);
    // A listing holds a line per test: handed on, not copied.
    return call.CallData.ResultParam.TakeString();
}

void TWexelCaller::Execute(WexelHost::TExtCall& call, const std::string& proc, const std::string_view* testPath)
{
    const bool isTest = testPath != nullptr;
    try {
        call.Execute();
    } catch (const WexelHost::EScriptAbandoned& e) {
        // The scripts' state is gone: the run ends here, its reports finished as at a
        // stop signal.
        TestFramework::RequestStop();
        if (!isTest)
            throw Sys::Exception("Call of " + proc + " " + e.Message());
        const std::string message = "Test " + std::string(testPath->substr(0, 2000)) + " " + e.Message();
        if (e.Signal != 0 || !Sys::StopSignal()) {
            Sys::WriteRaw(Sys::TStdHandle::Error, "Error: " + message + "\r\n");
            Sys::SetExitCode(1);
        }
        throw Sys::Exception("Test " + e.Message());
    } catch (const WexelHost::EScriptStopped& e) {
        // Only translated: a stopped test is an error because it raises one; the run loop
        // records it. Said as what the user was running, without the library's path, so that the
        // report reads the same on every machine.
        if (isTest)
            throw Sys::Exception("Test " + e.Message());
        throw WexelHost::EExtCallError("Call of " + proc + " " + e.Message());
    }
}

} // namespace Wexel

#include "bridge/WexelCaller.h"

#include "bridge/HostPlatform.h"
#include "platform/Process.h"

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

TWexelCaller::~TWexelCaller() = default;

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

std::string TWexelCaller::RunTest(const std::string& fullName)
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
    Execute(*FRunCall, RunTestProc, true);
    return FRunCall->CallData.ResultParam.GetAsString();
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
    Execute(call, proc, isTest);
    return call.CallData.ResultParam.GetAsString();
}

void TWexelCaller::Execute(WexelHost::TExtCall& call, const std::string& proc, bool isTest)
{
    try {
        call.Execute();
    } catch (const WexelHost::EScriptStopped& e) {
        // Said as what the user was running, without the library's path, so that the
        // report reads the same on every machine.
        if (isTest)
            throw Sys::Exception("Test " + e.Message());
        throw WexelHost::EExtCallError("Call of " + proc + " " + e.Message());
    }
}

} // namespace Wexel

#include "bridge/WexelCaller.h"

#include "bridge/HostPlatform.h"
#include "platform/Process.h"

namespace Wexel {

namespace {

const std::string DefaultConfigName = "default";

} // namespace

TWexelCaller::TWexelCaller(const std::string& config) : TWexelCaller(config, Sys::ExeDir()) {}

TWexelCaller::TWexelCaller(const std::string& config, std::string exeDir)
    : ExeDir(std::move(exeDir)),
      Config(config == DefaultConfigName ? ExeDir + "/../EXE/default.cfg" : config),
      FLibraryPath(ExeDir + "/../USER/Wexel.qlx")
{
    SetSearchPath();
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

std::string TWexelCaller::RunTest(const std::string& fullName)
{
    static const std::string proc = "RunTest";
    return Call(proc, &fullName);
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
    call.Execute();
    return call.CallData.ResultParam.GetAsString();
}

} // namespace Wexel

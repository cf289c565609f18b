#include "runner/GuiModule.h"

#include "platform/Library.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "runner/WexelRunner.h"

namespace WexelRunner {

namespace {

constexpr const char* HeadlessHint = "; use --mode=txt (or xml, xml_nunit, xml_junit) to run without a window";

void Refuse(const std::string& why)
{
    WriteLine(2, "Error: " + why + HeadlessHint);
    Sys::SetExitCode(1);
}

std::string RunnerDir()
{
    const std::string path = Sys::ModuleFileName(reinterpret_cast<const void*>(&Main));
    const auto slash = path.find_last_of(Sys::PathDelim);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

std::string MissingDisplayReason()
{
    // A platform chosen explicitly (offscreen, vnc, ...) needs no display server; Qt
    // aborts the process when it finds none, so the question is asked before loading it.
    if (!Sys::GetEnv("QT_QPA_PLATFORM").empty() || !Sys::GetEnv("DISPLAY").empty() ||
        !Sys::GetEnv("WAYLAND_DISPLAY").empty())
        return {};
    return "mode \"gui\" needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set";
}

void RunInWindow()
{
    if (const std::string reason = MissingDisplayReason(); !reason.empty())
        return Refuse(reason);
    // Kept loaded to the end of the process: Qt does not survive being unloaded and loaded
    // again, and a second Main call in the same process reuses the module.
    static Sys::TLibrary module;
    const std::string path = RunnerDir() + Sys::PathDelim + GuiModuleFileName;
    if (!module.Symbol(GuiModuleEntry) && !module.Load(path, true))
        return Refuse("the window cannot be shown: " + module.LastError());
    auto entry = reinterpret_cast<void (*)()>(module.Symbol(GuiModuleEntry));
    if (!entry)
        return Refuse("the window cannot be shown: " + path + " has no entry " + GuiModuleEntry);
    // The window runs the scripts on this thread; its toolkit sets the process's locale
    // to the user's, which would give a script another verdict than in the console.
    const Sys::TScriptLocale scriptLocale;
    entry();
}

} // namespace WexelRunner

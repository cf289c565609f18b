#pragma once
// The seam to the window: mode "gui" loads the GUI module beside the runner library and
// hands the run to it, so that the headless modes never load Qt or need a display.

#include <string>

namespace WexelRunner {

// The module's file name, looked for in the runner library's own directory.
inline constexpr const char* GuiModuleFileName = "WexelRunnerGui.so";
// Its one entry: creates the application object, shows the window on the registered
// tests and returns when the window has closed.
inline constexpr const char* GuiModuleEntry = "WexelGuiMain";

// Why the window cannot be shown in this process, or empty when it can be tried.
std::string MissingDisplayReason();

// Runs the registered tests in the window. When there is no display or the module
// cannot be loaded it writes one "Error: " line, sets the exit code to 1 and returns.
void RunInWindow();

} // namespace WexelRunner

#pragma once
// The GUI runner's entries: a suite, or the registered tests, in the runner window.
// They need the application object (QApplication) to exist already.

#include "core/TestInterfaces.h"
#include "gui/RunDisplay.h"

namespace GUITestRunner {

// The script library behind the bridge: its host tables and the adapter, if one is set.
TScriptLibrary BridgeScriptLibrary();

// Creates the window, assigns the suite, shows the window modally and destroys it once
// it has closed.
void RunTestsInWindow(const TestFramework::ITestPtr& suite);
// RunTestsInWindow with the registry's root suite.
void RunRegisteredTestsInWindow();

} // namespace GUITestRunner

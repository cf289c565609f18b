#include "gui/qt/GuiEntry.h"

#include "core/TestRegistry.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/QtRunnerLayer.h"

#include <cstdlib>

namespace GUITestRunner {

void RunTestsInWindow(const TestFramework::ITestPtr& suite)
{
    // The layer outlives the form, whose destruction still talks to the window.
    QtLayer::TQtRunnerLayer window;
    TGUITestRunner form(window);
    form.RunModal(suite);
}

void RunRegisteredTestsInWindow()
{
    RunTestsInWindow(TestFramework::RegisteredTests());
}

std::string MissingDisplayReason()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM"))
        return {};
    return "mode \"gui\" needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set; "
           "use --mode=txt to run the tests without a window";
}

} // namespace GUITestRunner

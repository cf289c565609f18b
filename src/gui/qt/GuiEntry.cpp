#include "gui/qt/GuiEntry.h"

#include "core/TestRegistry.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/QtRunnerLayer.h"

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

} // namespace GUITestRunner

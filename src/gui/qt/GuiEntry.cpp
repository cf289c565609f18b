#include "gui/qt/GuiEntry.h"

#include "bridge/HostPlatform.h"
#include "bridge/HostTables.h"
#include "bridge/TestCaseQuill.h"
#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/QtRunnerLayer.h"

namespace GUITestRunner {

TScriptLibrary BridgeScriptLibrary()
{
    return {[] { Wexel::RefreshHostTables(); },
            [] {
                Wexel::RefreshHostTables();
                TestFramework::ClearRegistry();
                if (Wexel::WexelAdapter)
                    Wexel::WexelAdapter->RegisterTests();
            },
            [](void (*pulse)(void*), void* context) {
                WexelHost::SetScriptPulse(pulse, context, PulseIntervalMs / 1000.0);
            },
            [] { WexelHost::StopRunningScript(); },
            [](const TestFramework::ITestPtr& test) {
                const auto* script = dynamic_cast<const Wexel::TTestCaseQuill*>(test.get());
                return script ? script->DeclFile() : std::string();
            }};
}

void RunTestsInWindow(const TestFramework::ITestPtr& suite)
{
    // The layer outlives the form, whose destruction still talks to the window.
    QtLayer::TQtRunnerLayer window;
    TGUITestRunner form(window.Views(), BridgeScriptLibrary());
    form.RunModal(suite);
}

void RunRegisteredTestsInWindow()
{
    RunTestsInWindow(TestFramework::RegisteredTests());
}

} // namespace GUITestRunner

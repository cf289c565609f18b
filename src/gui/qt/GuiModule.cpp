// The GUI module's one export, which the runner calls in mode "gui".

#include "gui/qt/GuiEntry.h"
#include "platform/SysUtils.h"

#include <QApplication>

extern "C" void WexelGuiMain()
{
    const std::string missing = GUITestRunner::MissingDisplayReason();
    if (!missing.empty())
        throw Sys::Exception(missing);
    // QApplication keeps references to both for its whole life.
    static int argc = 1;
    static char programName[] = "wexel-host";
    static char* argv[] = {programName, nullptr};
    QApplication application(argc, argv);
    GUITestRunner::RunRegisteredTestsInWindow();
}

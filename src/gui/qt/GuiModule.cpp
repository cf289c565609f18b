// The GUI module's one export, which the runner calls in mode "gui" once it has made
// sure that there is a display to show the window on.

#include "gui/qt/GuiEntry.h"

#include <QApplication>

extern "C" void WexelGuiMain()
{
    // QApplication keeps references to both for its whole life.
    static int argc = 1;
    static char programName[] = "wexel-host";
    static char* argv[] = {programName, nullptr};
    QApplication application(argc, argv);
    GUITestRunner::RunRegisteredTestsInWindow();
}

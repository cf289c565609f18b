// The GUI module's one export, which the runner calls in mode "gui" once it has made
// sure that a display is named.

#include "gui/qt/GuiEntry.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

#include <QApplication>

namespace {

// Qt's X11 platform ends the process with an abort when it cannot connect to the named
// display, so the connection is tried first, through the same client library Qt uses.
// Empty when the display answers or when Qt will not use X11 at all.
std::string UnreachableDisplay()
{
    const std::string display = Sys::GetEnv("DISPLAY");
    if (display.empty() || !Sys::GetEnv("QT_QPA_PLATFORM").empty() || !Sys::GetEnv("WAYLAND_DISPLAY").empty())
        return {};
    Sys::TLibrary xcb;
    if (!xcb.Load("libxcb.so.1"))
        return {}; // Qt's X11 platform cannot load without it either, and says so
    using TConnect = void* (*)(const char*, int*);
    using THasError = int (*)(void*);
    using TDisconnect = void (*)(void*);
    const auto connect = reinterpret_cast<TConnect>(xcb.Symbol("xcb_connect"));
    const auto hasError = reinterpret_cast<THasError>(xcb.Symbol("xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<TDisconnect>(xcb.Symbol("xcb_disconnect"));
    if (!connect || !hasError || !disconnect)
        return {};
    // A failed connection is still an object of its own that must be released.
    void* connection = connect(nullptr, nullptr);
    const bool failed = hasError(connection) != 0;
    disconnect(connection);
    if (!failed)
        return {};
    return "mode \"gui\" cannot connect to the display \"" + display +
           "\"; use --mode=txt (or xml, xml_nunit, xml_junit) to run without a window";
}

} // namespace

extern "C" void WexelGuiMain()
{
    if (const std::string reason = UnreachableDisplay(); !reason.empty())
        throw Sys::Exception(reason);
    // QApplication keeps references to both for its whole life.
    static int argc = 1;
    static char programName[] = "wexel-host";
    static char* argv[] = {programName, nullptr};
    QApplication application(argc, argv);
    GUITestRunner::RunRegisteredTestsInWindow();
}

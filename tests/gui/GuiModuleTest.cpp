// The staged host in mode "gui" with a display that is named but does not answer: Qt
// would abort the process there, so the module refuses first with one "Error: " line.

#include "HostProcess.h"

#include <gtest/gtest.h>

TEST(GuiModule, UnreachableDisplayIsOneErrorLineAndExitOne)
{
    TestSupport::TProcessOptions options;
    options.Env = {{"DISPLAY", ":65531"}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    const auto r = TestSupport::RunHost({}, options);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: mode \"gui\" cannot connect to the display \":65531\"; use --mode=txt "
                     "(or xml, xml_nunit, xml_junit) to run without a window\r\n");
}

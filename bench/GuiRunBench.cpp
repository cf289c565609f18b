// One run of the registered script tests, timed from the start of the run to its end:
// in mode "txt" through the console runner, in mode "gui" from the window's Run command
// until the window has painted the run's last state. Registration is not timed. The
// program must sit in an installation's EXE folder, like the host program.
//
//   gui_run_bench txt|txt+refresh|gui MASK    prints "<mode> <seconds> <tests run> <cpu seconds>"
//                                             on stderr; the processor time is the process's, user
//                                             and system: a run that waits shows less than its seconds

#include "bridge/HostTables.h"
#include "bridge/WexelAdapter.h"
#include "core/TestRegistry.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/GuiEntry.h"
#include "gui/qt/QtRunnerLayer.h"
#include "report/TextTestRunner.h"

#include <QApplication>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <string>

#include <sys/resource.h>

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Pages the process has touched for the first time: memory taken anew from the system.
long PageFaults()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: gui_run_bench txt|txt+refresh|gui MASK\n");
        return 2;
    }
    const std::string mode = argv[1];
    Wexel::TWexelAdapter adapter(argv[2], "");
    if (!adapter.Ready) {
        std::fprintf(stderr, "%s\n", adapter.ErrorText.c_str());
        return 1;
    }
    Wexel::WexelAdapter = &adapter;
    adapter.RegisterTests();

    double seconds = 0;
    double cpu = 0;
    long faults = 0;
    std::string run;
    if (mode == "txt" || mode == "txt+refresh") {
        const auto start = TClock::now();
        const double cpuStart = CpuSeconds();
        faults = PageFaults();
        // What the window's reset does before every run, so that the run sees freshly
        // compiled libraries: they are loaded again on their first call.
        if (mode == "txt+refresh")
            Wexel::RefreshHostTables();
        auto result = TextTestRunner::RunRegisteredTests();
        seconds = Since(start);
        cpu = CpuSeconds() - cpuStart;
        faults = PageFaults() - faults;
        run = std::to_string(result->RunCount());
    } else {
        QApplication application(argc, argv);
        GUITestRunner::QtLayer::TQtRunnerLayer window;
        GUITestRunner::TGUITestRunner form(window.Views(), GUITestRunner::BridgeScriptLibrary());
        form.AssignSuite(TestFramework::RegisteredTests());
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        const auto start = TClock::now();
        const double cpuStart = CpuSeconds();
        faults = PageFaults();
        form.ExecuteAction(GUITestRunner::TActionId::RunAction);
        // The coalesced last paint is part of the run as a user sees it.
        window.RunView().PaintNow();
        seconds = Since(start);
        cpu = CpuSeconds() - cpuStart;
        faults = PageFaults() - faults;
        run = form.RunDisplay().Statistics()[GUITestRunner::StatCell::Run];
    }
    Wexel::WexelAdapter = nullptr;
    std::fprintf(stderr, "%s %.3f %s %.3f %ld\n", mode.c_str(), seconds, run.c_str(), cpu, faults);
    return 0;
}

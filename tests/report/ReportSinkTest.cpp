#include "report/ReportSink.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using ReportSink::EInOutError;
using ReportSink::TReportSink;
using TestSupport::ReadFile;
using TestSupport::TTempDir;
using TestSupport::WriteFile;

namespace fs = std::filesystem;

namespace {

// The message of the EInOutError that creating a sink for the file raises.
std::string CreateError(const std::string& fileName)
{
    try {
        TReportSink sink(fileName);
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ClassName(), "EInOutError");
        return e.Message();
    }
    return "no error";
}

} // namespace

TEST(ReportSink, TruncatesTheFileAndFlushesTheFirstRecordThenOnTheClock)
{
    TTempDir dir;
    const std::string path = dir.File("roved-report.xml");
    WriteFile(path, "a much longer report of an earlier run\r\n");

    TReportSink sink(path);
    EXPECT_EQ(ReadFile(path), "");
    // The first record at once, so an unwritable file shows before any test runs.
    sink.Write("<a>\r\n");
    EXPECT_EQ(ReadFile(path), "<a>\r\n");
    sink.Write(std::string("\0\xFF", 2));
    sink.Flush();
    EXPECT_EQ(ReadFile(path), std::string("<a>\r\n\0\xFF", 7));
    // A record written once the clock has passed takes the held ones along.
    sink.Write("<b/>");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    sink.Write("<c/>");
    EXPECT_EQ(ReadFile(path), std::string("<a>\r\n\0\xFF<b/><c/>", 15));
    sink.Write("<d/>");
    // Between ticks even records of many pages are held, not written page by page.
    const std::string pages(40000, 'x');
    sink.Write(pages);
    EXPECT_EQ(ReadFile(path).size(), 15u);
    sink.Close();
    EXPECT_EQ(ReadFile(path), std::string("<a>\r\n\0\xFF<b/><c/><d/>", 19) + pages);
    EXPECT_THROW(sink.Write("late"), EInOutError);
}

TEST(ReportSink, NamesTheFileAndTheReasonWhenItCannotBeCreated)
{
    TTempDir dir;
    const std::string taken = dir.File("roved-report.xml");
    fs::create_directory(taken);
    EXPECT_EQ(CreateError(taken), "Cannot create report file \"" + taken + "\": Is a directory");

    const std::string missing = dir.File("no/such/dir/roved-report.xml");
    EXPECT_EQ(CreateError(missing), "Cannot create report file \"" + missing + "\": No such file or directory");
}

TEST(ReportSink, NamesTheReasonWhenTheDirectoryIsReadOnly)
{
    TTempDir dir;
    const std::string readOnly = dir.File("ro");
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(readOnly + "/probe")) {
        fs::permissions(readOnly, fs::perms::owner_all);
        GTEST_SKIP() << "running with privileges that ignore directory permissions";
    }
    EXPECT_EQ(CreateError(readOnly + "/r.xml"),
              "Cannot create report file \"" + readOnly + "/r.xml\": Permission denied");
    fs::permissions(readOnly, fs::perms::owner_all);
}

// A write that fails is an error naming the reason: here the file size limit, which a
// shell sets for the probe (with SIGXFSZ ignored, the write fails with EFBIG).
TEST(ReportSink, AWriteThatFailsIsAnError)
{
    TTempDir dir;
    TestSupport::TProcessOptions inDir;
    inDir.WorkDir = dir.Path();
    const auto result = TestSupport::RunProcess(
        {"/bin/sh", "-c", std::string("trap '' XFSZ; ulimit -f 0; exec '") + WEXEL_SINK_PROBE + "' r.xml"}, inDir);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Err, "Error: Cannot write report file \"r.xml\": File too large\r\n");
}

// Only a regular file can hold a report: a FIFO would block the open for ever and a
// device swallows or refuses it. Both are refused at once, also behind a link.
TEST(ReportSink, RefusesAFifoAndADeviceWithoutWaiting)
{
    TTempDir dir;
    const std::string fifo = dir.File("fifo.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CreateError(fifo), "Cannot create report file \"" + fifo + "\": it is a FIFO or a socket, not a regular file");
    const std::string device = dir.File("null.xml");
    if (::mknod(device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here";
    EXPECT_EQ(CreateError(device), "Cannot create report file \"" + device + "\": it is a device, not a regular file");
    const std::string link = dir.File("link.xml");
    fs::create_symlink(device, link);
    EXPECT_EQ(CreateError(link), "Cannot create report file \"" + link + "\": it is a device, not a regular file");
}

// Two sinks on one file would interleave their records: the second is refused, and the
// first one's file is left as it was.
TEST(ReportSink, ASecondSinkOnTheSameFileIsRefusedWhileTheFirstIsOpen)
{
    TTempDir dir;
    const std::string path = dir.File("r.xml");
    {
        TReportSink first(path);
        first.Write("<r/>\r\n");
        EXPECT_EQ(CreateError(path), "Cannot create report file \"" + path + "\": another run is writing it");
        EXPECT_EQ(ReadFile(path), "<r/>\r\n");
        first.Close();
    }
    EXPECT_EQ(CreateError(path), "no error");
}

// A report whose file disappeared (its directory was removed) reaches nobody: closing it
// says so.
TEST(ReportSink, AFileRemovedDuringTheRunIsAnErrorAtClose)
{
    TTempDir dir;
    const std::string path = dir.File("r.xml");
    TReportSink sink(path);
    sink.Write("<r/>\r\n");
    fs::remove(path);
    try {
        sink.Close();
        FAIL() << "the close succeeded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Cannot close report file \"" + path + "\": the file was removed during the run");
    }
}

TEST(ReportSink, WritesToStandardOutputWithoutAFileName)
{
    TTempDir dir;
    TestSupport::TProcessOptions inDir;
    inDir.WorkDir = dir.Path();
    const auto result = TestSupport::RunProcess({WEXEL_SINK_PROBE, ""}, inDir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out, "<r>\r\n</r>\r\n");
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(fs::is_empty(dir.Path()));

    // The probe ends like the host does when the sink fails.
    fs::create_directory(dir.File("roved-report.xml"));
    const auto failed = TestSupport::RunProcess({WEXEL_SINK_PROBE, "roved-report.xml"}, inDir);
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Out, "");
    EXPECT_EQ(failed.Err, "Error: Cannot create report file \"roved-report.xml\": Is a directory\r\n");
}

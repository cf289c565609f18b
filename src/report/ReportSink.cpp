#include "report/ReportSink.h"

#include "platform/Process.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ReportSink {

namespace {

// Why a file of that type cannot hold a report, or nullptr for a regular file.
const char* NotARegularFile(mode_t mode)
{
    if (S_ISFIFO(mode) || S_ISSOCK(mode))
        return "it is a FIFO or a socket, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a regular file";
    if (S_ISDIR(mode))
        return "Is a directory";
    return S_ISREG(mode) ? nullptr : "it is not a regular file";
}

} // namespace

TReportSink::TReportSink(const std::string& fileName) : FFileName(fileName)
{
    if (FFileName.empty())
        return;
    // Opening a FIFO for writing waits for a reader, for ever; the type is checked on the
    // open file (no race with a file swapped in between), which O_NONBLOCK opens at once.
    // Nothing is cut before the lock is held: the file may be another run's report.
    errno = 0;
    const int fd = ::open(FFileName.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        // A FIFO without a reader refuses a non-blocking open with ENXIO.
        struct stat st {};
        if (errno == ENXIO && ::stat(FFileName.c_str(), &st) == 0)
            Fail("create", NotARegularFile(st.st_mode));
        Fail("create", errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || NotARegularFile(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        if (const char* reason = NotARegularFile(st.st_mode))
            Fail("create", reason);
        Fail("create", error);
    }
    // Held for the run: a second run on the same file stops here instead of writing
    // between this run's records.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            Fail("create", "another run is writing it");
        Fail("create", error);
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        Fail("create", error);
    }
    FDevice = st.st_dev;
    FInode = st.st_ino;
    FFile.reset(::fdopen(fd, "wb"));
    if (!FFile) {
        const int error = errno;
        ::close(fd);
        Fail("create", error);
    }
    // Large enough that the clock, not the buffer, decides most writes.
    constexpr std::size_t BufferSize = 64 * 1024;
    FBuffer = std::make_unique<char[]>(BufferSize);
    std::setvbuf(FFile.get(), FBuffer.get(), _IOFBF, BufferSize);
}

void TReportSink::Write(std::string_view bytes)
{
    if (FFileName.empty()) {
        Sys::WriteRaw(Sys::TStdHandle::Output, bytes);
        return;
    }
    if (!FFile)
        Fail("write", EBADF);
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), FFile.get()) != bytes.size())
        Fail("write", errno);
    const auto now = std::chrono::steady_clock::now();
    if (now - FFlushed >= std::chrono::milliseconds(50)) {
        FFlushed = now;
        Flush();
    }
}

void TReportSink::Flush()
{
    if (FFileName.empty()) {
        Sys::FlushConsole();
        return;
    }
    errno = 0;
    if (FFile && std::fflush(FFile.get()) != 0)
        Fail("write", errno);
}

void TReportSink::Overwrite(std::size_t offset, std::string_view bytes)
{
    if (!FFile)
        return;
    // What is still buffered fails here with its reason, not silently in the seek.
    Flush();
    if (std::fseek(FFile.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), FFile.get()) != bytes.size() || std::fflush(FFile.get()) != 0 ||
        std::fseek(FFile.get(), 0, SEEK_END) != 0)
        Fail("write", errno);
}

void TReportSink::Close()
{
    if (FFileName.empty())
        Sys::FlushConsole();
    if (!FFile)
        return;
    // A report whose file was removed during the run (its directory deleted) took every
    // write and still reaches no reader.
    struct stat st {};
    const bool gone = ::stat(FFileName.c_str(), &st) != 0 || st.st_dev != FDevice || st.st_ino != FInode;
    errno = 0;
    // fclose releases the stream even when it fails; the pointer must not be closed twice.
    const int rc = std::fclose(FFile.release());
    if (rc != 0)
        Fail("close", errno);
    if (gone)
        Fail("close", "the file was removed during the run");
}

void TReportSink::Fail(const char* what, const char* reason) const
{
    throw EInOutError(std::string("Cannot ") + what + " report file \"" + FFileName + "\": " + reason);
}

void TReportSink::Fail(const char* what, int error) const
{
    std::string message = std::string("Cannot ") + what + " report file \"" + FFileName + "\"";
    if (error != 0)
        message += std::string(": ") + std::strerror(error);
    throw EInOutError(message);
}

} // namespace ReportSink

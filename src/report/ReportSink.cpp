#include "report/ReportSink.h"

#include "platform/Process.h"

#include <cerrno>
#include <cstring>

namespace ReportSink {

TReportSink::TReportSink(const std::string& fileName) : FFileName(fileName)
{
    if (FFileName.empty())
        return;
    errno = 0;
    FFile.reset(std::fopen(FFileName.c_str(), "wb"));
    if (!FFile)
        Fail("create", errno);
    // Large enough that the clock, not the buffer, decides most writes.
    std::setvbuf(FFile.get(), nullptr, _IOFBF, 64 * 1024);
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
    errno = 0;
    // fclose releases the stream even when it fails; the pointer must not be closed twice.
    const int rc = std::fclose(FFile.release());
    if (rc != 0)
        Fail("close", errno);
}

void TReportSink::Fail(const char* what, int error) const
{
    std::string message = std::string("Cannot ") + what + " report file \"" + FFileName + "\"";
    if (error != 0)
        message += std::string(": ") + std::strerror(error);
    throw EInOutError(message);
}

} // namespace ReportSink

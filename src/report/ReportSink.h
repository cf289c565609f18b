#pragma once
// Where a report's records go: a file, or standard output when no file is named.

#include "platform/SysUtils.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace ReportSink {

// The report file could not be created, written or closed. The message names the file
// and the reason, e.g. "Cannot create report file \"out/roved-report.xml\": Is a directory".
class EInOutError : public Sys::Exception {
public:
    WEXEL_CLASS(EInOutError, Sys::Exception)
    using Sys::Exception::Exception;
};

class TReportSink {
public:
    // An empty file name writes to standard output. Otherwise the file is created, or
    // truncated when it exists; EInOutError when that fails, when the name is not that of
    // a regular file (a FIFO or a device: never waited for), and when another sink holds
    // the file (an advisory lock, held until Close).
    explicit TReportSink(const std::string& fileName);

    // Writes the bytes as they are (records carry their own line ends). A file is flushed
    // when 50 ms have passed since its last flush, not per record, so that a run that is
    // killed loses at most the records of its last 50 ms; Close and the process's exit
    // flush the rest. EInOutError when the file cannot take them. Writes to standard
    // output are not checked: a closed pipe must not end a run.
    void Write(std::string_view bytes);

    // Writes out what the file or the console holds now.
    void Flush();

    // Replaces bytes already written, from the offset on, for a record that can only be
    // completed at the end; the next Write still appends. Standard output and files that
    // cannot seek (a pipe) keep what they were given: those bytes are out of reach.
    void Overwrite(std::size_t offset, std::string_view bytes);

    // Closes the file; EInOutError when that fails, or when the file is no longer found
    // under its name (removed during the run). Further writes fail. The destructor
    // closes a file still open, silently.
    void Close();

    const std::string& FileName() const { return FFileName; }

private:
    struct TFileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    [[noreturn]] void Fail(const char* what, int error) const;
    [[noreturn]] void Fail(const char* what, const char* reason) const;

    std::string FFileName;
    unsigned long long FDevice = 0; // the file's identity, to see at Close that it is still there
    unsigned long long FInode = 0;
    // The file's buffer, given to it: the C library ignores a size asked for without one
    // and writes a report in pieces of a page. Declared first, so that it outlives the file.
    std::unique_ptr<char[]> FBuffer;
    std::unique_ptr<std::FILE, TFileCloser> FFile;
    // Long past at first, so the first record is flushed at once: a file that takes no
    // bytes fails the run before any test runs.
    std::chrono::steady_clock::time_point FFlushed{};
};

} // namespace ReportSink

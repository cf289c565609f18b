#pragma once
// A copied installation holding only the test libraries a case writes, a working
// directory for the report file, and the masks that take the clock out of the outputs.

#include "HostProcess.h"
#include "StageCopy.h"

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace E2e {

using TestSupport::TProcessOptions;
using TestSupport::TProcessResult;

class TE2eStage : public TestSupport::TStageCopy {
public:
    // The shipped sample libraries are removed, so that what a case expects depends only
    // on the libraries it writes itself.
    TE2eStage()
    {
        namespace fs = std::filesystem;
        for (const auto& entry : fs::directory_iterator(Root() + "/USER"))
            if (entry.path().filename() != "Wexel.qlx")
                fs::remove(entry.path());
        fs::create_directory(WorkDir());
    }

    std::string WorkDir() const { return Root() + "/work"; }
    std::string ReportPath() const { return WorkDir() + "/roved-report.xml"; }

    // The copied host, started in the working directory.
    TProcessResult Run(const std::vector<std::string>& args, TProcessOptions options = {}) const
    {
        std::vector<std::string> argv{HostPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        options.WorkDir = WorkDir();
        return TestSupport::RunProcess(argv, options);
    }
};

inline std::string Replace(const std::string& text, const char* pattern, const char* replacement)
{
    return std::regex_replace(text, std::regex(pattern), replacement);
}

// The console report's time line, only in its one correct form: three-digit milliseconds.
inline std::string MaskTimeLine(const std::string& out)
{
    return Replace(out, R"re(\r\nTime: \d+:\d\d:\d\d\.\d\d\d\r\n)re", "\r\nTime: <time>\r\n");
}

// The framework report's finishing date and run time.
inline std::string MaskXmlTimes(const std::string& report)
{
    return Replace(report, R"re((<Stat name="(Finished At|Runtime)" result=")[^"]*")re", "$1<time>\"");
}

// The NUnit-format report's dates and times. Durations are masked only in their one
// correct form, seconds with three decimals and a point, so that a comma shows.
inline std::string MaskNUnitTimes(const std::string& report)
{
    std::string r = Replace(report, R"re(( date=")[^"]*(" time=")[^"]*(">))re", "$1<date>$2<time>$3");
    r = Replace(r, R"re((<stat name="(started-at|finished-at)" value=")[^"]*")re", "$1<time>\"");
    r = Replace(r, R"re((<stat name="runtime" value=")\d+\.\d\d\d")re", "$1<seconds>\"");
    return Replace(r, R"re(( time=")\d+\.\d\d\d(" result=))re", "$1<seconds>$2");
}

inline std::string Banner(const std::string& mode, const std::string& config = "",
                                const std::string& mask = "*.qlx")
{
    return "***  Wexel Runner  ***\r\nMode: " + mode + "\r\nConfig: " + config + "\r\nFilemask: " + mask + "\r\n";
}

// The host journal with every external call reduced to its procedure's name, so that the
// order of login, library calls and closing stands out.
inline std::string JournalProcedures(const std::string& journal)
{
    std::string summary;
    std::size_t start = 0;
    while (start < journal.size()) {
        std::size_t end = journal.find('\n', start);
        if (end == std::string::npos)
            end = journal.size();
        std::string line = journal.substr(start, end - start);
        start = end + 1;
        if (line.rfind("ExtCall ", 0) == 0) {
            // "ExtCall <library> <procedure> <argument>"
            const std::size_t proc = line.find(' ', 8) + 1;
            line = line.substr(proc, line.find(' ', proc) - proc);
        }
        summary += line + "\n";
    }
    return summary;
}

} // namespace E2e

// Writes two records through a sink for the file named by the first argument (standard
// output when it is empty) and reports a sink error the way the host does.
#include "platform/Process.h"
#include "report/ReportSink.h"

#include <string>

int main(int argc, char** argv)
{
    try {
        ReportSink::TReportSink sink(argc > 1 ? argv[1] : "");
        sink.Write("<r>\r\n");
        sink.Write("</r>\r\n");
        sink.Close();
        return 0;
    } catch (const Sys::Exception& e) {
        Sys::WriteRaw(Sys::TStdHandle::Error, "Error: " + e.Message() + "\r\n");
        return 1;
    }
}

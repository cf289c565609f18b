#pragma once
// What both XML reports share: the report is written record by record as the run goes
// on, to a file or (for an empty file name) to standard output, and the elements of
// suites that an aborted run left open are closed, so the document stays well-formed.

#include "core/TestInterfaces.h"
#include "platform/Locale.h"
#include "report/OpenSuites.h"
#include "report/ReportSink.h"

#include <cstddef>
#include <optional>
#include <string>

namespace XmlReport {

using TestFramework::ITestPtr;
using TestFramework::TTestFailure;
using TestFramework::TTestResult;

// Each notification writes the record a report builds for it and flushes it, so a broken
// run still leaves a readable prefix. A report supplies only its records.
class TXmlReportListener : public TestFramework::TEmptySuiteListener {
public:
    explicit TXmlReportListener(std::string fileName);

    void Status(const ITestPtr& test, const std::string& msg) final;
    void TestingStarts() final;
    void StartTest(const ITestPtr& test) final;
    void AddSuccess(const ITestPtr& test) final;
    void AddError(TTestFailure& failure) final;
    void AddFailure(TTestFailure& failure) final;
    void EndTest(const ITestPtr& test) final;
    void TestingEnds(TTestResult& testResult) final;
    bool ShouldRunTest(const ITestPtr& test) final;
    void StartSuite(const ITestPtr& suite) final;
    void EndSuite(const ITestPtr& suite) final;

protected:
    // The suites open at the moment of the call, for reports that name by path.
    const TOpenSuites& OpenSuites() const { return FOpenSuites; }

    // The bytes written so far: the offset of the next record.
    std::size_t WrittenBytes() const { return FWritten; }

    // Replaces bytes already written, for a record whose values only a later moment knows;
    // nothing happens where the report cannot be rewritten (a pipe).
    void RewriteRecord(std::size_t offset, const std::string& record);

    // When testing started, taken before the file is opened.
    Sys::TDateTime StartTime() const { return FStartTime; }

    // For a record too large to be built once more around its parts: written in pieces,
    // in the order the records would have held them.
    void WriteRecord(const std::string& record);

private:
    // The records, each with its line ends; an empty one writes nothing.
    // TestingStarts, before the file is opened.
    virtual std::string RunHeader() = 0;
    virtual std::string StatusLine(const ITestPtr& test, const std::string& msg) = 0;
    // StartTest, for a report that follows each test from its start.
    virtual void TestStarted(const ITestPtr&) {}
    // AddSuccess of a test without children.
    virtual std::string PassedTest(const ITestPtr& test) = 0;
    virtual std::string ErroredTest(TTestFailure& failure) = 0;
    virtual std::string FailedTest(TTestFailure& failure) = 0;
    // ShouldRunTest of a disabled test.
    virtual std::string SkippedTest(const ITestPtr& test) = 0;
    // StartSuite, while OpenSuites() does not hold the suite yet.
    virtual std::string SuiteHeader(const ITestPtr& suite) = 0;
    virtual std::string SuiteFooter() = 0;
    // TestingEnds, after the footers of the suites left open.
    virtual std::string RunFooter(TTestResult& testResult) = 0;
    // TestingEnds, after RunFooter: the bytes that replace the start of the file, for a
    // first record that holds what only the end of the run knows; empty for none.
    virtual std::string FinalRunHeader(TTestResult&) { return {}; }
    // False for a suite that gets no element of its own: neither header nor footer,
    // and no part of the names below it.
    virtual bool HasElement(const ITestPtr&) { return true; }

    void WriteSuiteFooters(std::size_t count);

    std::string FFileName;
    std::optional<ReportSink::TReportSink> FSink;
    Sys::TDateTime FStartTime = 0;
    std::size_t FWritten = 0;
    TOpenSuites FOpenSuites;
};

} // namespace XmlReport

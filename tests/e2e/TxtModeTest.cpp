// The staged host in mode "txt", and how Main ends a run that cannot start: whole outputs
// compared byte for byte, with only the time line masked.

#include "E2eStage.h"
#include "Libraries.h"

#include <gtest/gtest.h>

using namespace E2e;
using TestSupport::ReadFile;

TEST(TxtMode, WritesTheWholeReportOfFailuresAndErrors)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
    stage.WriteUserLibrary("Beta.qlx", BetaLibrary);

    const auto r = stage.Run({"--mode=txt"});
    EXPECT_EQ(r.ExitCode, 0) << "test failures never change the exit code";
    EXPECT_EQ(r.Err, "");
    // A dot for every test and suite that starts (the registry's root, Alpha, Pricing,
    // ...), the letter right after the dot of the test it is about.
    EXPECT_EQ(MaskTimeLine(r.Out),
              Banner("txt") +
                  "\r\n"
                  "ROved / Testing\r\n"
                  ".....F..E.....F\r\n"
                  "Time: <time>\r\n"
                  "\r\n"
                  "FAILURES!!!\r\n"
                  "Test Results:\r\n"
                  "Run:             6\r\n"
                  "Failures:        2\r\n"
                  "Errors:          1\r\n"
                  "There was 1 error:\r\n"
                  "  1) Rate: Exception\r\n"
                  "     at \r\n"
                  "      \"Alpha.qlx:5: no rate for \"XX\" & <none>\n"
                  "  Alpha.qlx:5 in Rate\"\r\n"
                  "\r\n"
                  "There were 2 failures:\r\n"
                  "  1) Discount: ETestFailure\r\n"
                  "     at \r\n"
                  "      \"Alpha.qlx:3: ten percent off, expected: <90> but was: <91>\"\r\n"
                  "  2) Writes: ETestFailure\r\n"
                  "     at \r\n"
                  "      \"Beta.qlx:3: disk full\"\r\n"
                  "\r\n"
                  "\r\n"
                  "\r\n");
}

TEST(TxtMode, WritesOkForARunWithoutFailuresAndNothingWhenNoTestIsFound)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Alpha.qlx", AlphaLibrary);
    stage.WriteUserLibrary("Gamma.qlx", "test('One', function() end)\n"
                                        "test('Two', function() end)\n"
                                        "test('Three', function() check(1 < 2) end)\n");

    auto r = stage.Run({"--mode=txt", "Gamma.qlx"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(MaskTimeLine(r.Out), Banner("txt", "", "Gamma.qlx") +
                                       "\r\nROved / Testing\r\n.....\r\nTime: <time>\r\n\r\nOK: 3 tests\r\n\r\n\r\n");

    // A mask that matches no library registers nothing, and with no tree there is no run
    // to report on.
    r = stage.Run({"--mode=txt", "Nothing*.qlx"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, Banner("txt", "", "Nothing*.qlx"));
    EXPECT_EQ(r.Err, "");
}

TEST(TxtMode, RejectsAnotherProtocolVersionAndStillCleansUp)
{
    TE2eStage stage;
    stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.90", "A/x"));
    const std::string journal = stage.Root() + "/journal.txt";
    TestSupport::TProcessOptions options;
    options.Env["WEXEL_HOST_JOURNAL"] = journal;

    const auto r = stage.Run({"--mode=txt", "--config=default"}, options);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Error: Incorrect protocol version: 0.87 at WexelRunner, 0.90 at Wexel.\r\n");
    EXPECT_EQ(r.Out, Banner("txt", "default"));
    // The version is asked again for the message; no test is looked for.
    EXPECT_EQ(JournalProcedures(ReadFile(journal)),
              "PerformLogin default\nGetProtocolVersion\nGetProtocolVersion\nCloseConnections\n");
}

// A listing line that cannot become a test inside a suite ends the registration with the
// assertion error. The host reports it on one line that quotes the line, and the
// connections are closed all the same.
TEST(TxtMode, ReportsAListingLineThatNamesNoTestInASuite)
{
    struct TCase {
        std::string Listing;
        std::string BadLine;
    };
    const TCase cases[] = {
        {"A/x\nSmoke\nB/y", "Smoke"},  // no suite
        {"A/x\r\n\r\nB/y", ""},        // an empty line
        {"A/x\nA//z\nB/y", "A//z"},    // an empty level
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Listing);
        TE2eStage stage;
        stage.WriteUserLibrary("Wexel.qlx", StandInWexel("0.87", c.Listing));
        const std::string journal = stage.Root() + "/journal.txt";
        TestSupport::TProcessOptions options;
        options.Env["WEXEL_HOST_JOURNAL"] = journal;

        const auto r = stage.Run({"--mode=txt", "--config=default"}, options);
        EXPECT_NE(r.ExitCode, 0);
        EXPECT_EQ(r.Signal, 0);
        EXPECT_EQ(r.Out, Banner("txt", "default"));
        EXPECT_EQ(r.Err.rfind("Error: Assertion failure", 0), 0u) << r.Err;
        EXPECT_NE(r.Err.find("\"" + c.BadLine + "\""), std::string::npos) << r.Err;
        EXPECT_EQ(r.Err.find("\r\n"), r.Err.size() - 2) << "one line: " << r.Err;
        EXPECT_EQ(JournalProcedures(ReadFile(journal)),
                  "PerformLogin default\nGetProtocolVersion\nFindTests\nCloseConnections\n");
    }
}

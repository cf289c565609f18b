// Tests found through a mask outside USER's top level must still run after the procedure
// container was reset, and from the library discovery found, not from a namesake in USER.

#include "E2eStage.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace E2e;

namespace {

const std::string Alpha = R"(suite("Pricing", function()
  test("RoundsHalfUp", function() check_equals(3, math.floor(2.5 + 0.5)) end)
  suite("Taxes", function() test("Rate", function() check(true) end) end)
end)
test("Smoke", function() check(true) end)
)";
const std::string Beta = "test('Reads', function() check(true) end)\n";

// A USER/Alpha.qlx with the same paths, which must not be taken for the one discovered.
const std::string AlphaNamesake = R"(suite("Pricing", function()
  test("RoundsHalfUp", function() fail("wrong library") end)
  suite("Taxes", function() test("Rate", function() fail("wrong library") end) end)
end)
test("Smoke", function() fail("wrong library") end)
)";

} // namespace

TEST(ContainerReset, TestsOfAnAbsoluteOrSubfolderMaskPassBeforeAndAfterIt)
{
    namespace fs = std::filesystem;
    const std::string passes = "Alpha/Pricing/RoundsHalfUp: pass\nAlpha/Pricing/Taxes/Rate: pass\n"
                               "Alpha/Smoke: pass\nBeta/Reads: pass\n";
    for (bool absolute : {true, false}) {
        SCOPED_TRACE(absolute ? "absolute mask" : "subfolder mask");
        TE2eStage stage;
        const std::string dir = absolute ? stage.Root() + "/elsewhere" : stage.Root() + "/USER/nightly";
        fs::create_directories(dir);
        TestSupport::WriteFile(dir + "/Alpha.qlx", Alpha);
        TestSupport::WriteFile(dir + "/Beta.qlx", Beta);
        stage.WriteUserLibrary("Alpha.qlx", AlphaNamesake);
        fs::copy_file(WEXEL_RESET_PROBE, stage.ExeDir() + "/wexel_reset_probe");

        TestSupport::TProcessOptions options;
        options.WorkDir = stage.WorkDir();
        const std::string mask = absolute ? dir + "/*.qlx" : "nightly/*.qlx";
        const auto r = TestSupport::RunProcess({stage.ExeDir() + "/wexel_reset_probe", mask}, options);

        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, passes + "reset\n" + passes);
    }
}

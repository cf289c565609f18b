#include "core/TrimmedIniFile.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

using namespace TestFramework;
using TestSupport::TTempDir;
using TestSupport::WriteFile;

TEST(MemIniFileTrimmed, TrimsValuesAndDefaultsButPlainMemoryDoesNot)
{
    TTempDir dir;
    std::string name = dir.File("t.ini");
    WriteFile(name, "[S]\nyes=  yes  \nflag=\t0 \n");
    TMemIniFileTrimmed trimmed(name);
    EXPECT_EQ(trimmed.ReadString("S", "yes", ""), "yes");
    EXPECT_EQ(trimmed.ReadString("S", "none", " \t dflt \x01"), "dflt");
    EXPECT_FALSE(trimmed.ReadBool("S", "flag", true));
    trimmed.WriteString("S", "w", "  spaced  ");
    EXPECT_EQ(trimmed.ReadString("S", "w", ""), "spaced");

    EXPECT_EQ(TMemIniFile(name).ReadString("S", "yes", ""), "  yes  ");
}

// File masks and library lookup of the host.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "host/HostLayout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace WexelHost;

TEST(HostMask, MatchesStarsAndQuestionMarks)
{
    EXPECT_TRUE(MatchesMask("Orders.qlx", "*.qlx"));
    EXPECT_TRUE(MatchesMask(".qlx", "*.qlx"));
    EXPECT_FALSE(MatchesMask("Orders.qlx.bak", "*.qlx"));
    EXPECT_FALSE(MatchesMask("Orders.QLX", "*.qlx"));
    EXPECT_TRUE(MatchesMask("Test1.qlx", "Test?.qlx"));
    EXPECT_FALSE(MatchesMask("Test.qlx", "Test?.qlx"));
    EXPECT_TRUE(MatchesMask("abcbc", "a*bc"));
    EXPECT_TRUE(MatchesMask("anything", "*"));
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_FALSE(MatchesMask("a", ""));
    EXPECT_TRUE(MatchesMask("Orders.qlx", "Orders.qlx"));
}

TEST(HostMask, ManyStarsStayFast)
{
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(HostLibraries, ListsMatchingFilesSortedWithRelativeMasksFromTheBase)
{
    TestSupport::TTempDir dir;
    for (const char* name : {"b.qlx", "a.qlx", "c.txt", "sub/d.qlx"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
        TestSupport::WriteFile(dir.File(name), "");
    }
    std::filesystem::create_directory(dir.File("dir.qlx"));

    EXPECT_EQ(ListLibraries("*.qlx", dir.Path()),
              (std::vector<std::string>{dir.File("a.qlx"), dir.File("b.qlx")}));
    EXPECT_EQ(ListLibraries("sub/*.qlx", dir.Path()), (std::vector<std::string>{dir.File("sub/d.qlx")}));
    EXPECT_EQ(ListLibraries(dir.Path() + "/?.txt", "/nowhere"), (std::vector<std::string>{dir.File("c.txt")}));
    EXPECT_EQ(ListLibraries("b.qlx", dir.Path()), (std::vector<std::string>{dir.File("b.qlx")}));
    EXPECT_TRUE(ListLibraries("*.none", dir.Path()).empty());
    EXPECT_THROW(ListLibraries("missing/*.qlx", dir.Path()), EHostError);
}

TEST(HostLibraries, FindsLibrariesOnTheSearchPathSystemFirst)
{
    EXPECT_EQ(FindLibrary("Money"), SystemDir() + "/Money.qlx");
    EXPECT_EQ(FindLibrary("Money.qlx"), SystemDir() + "/Money.qlx");
    EXPECT_EQ(FindLibrary("Orders"), UserDir() + "/Orders.qlx");
    EXPECT_EQ(FindLibrary("Nothing"), "");
    EXPECT_EQ(FindLibrary(""), "");
    EXPECT_EQ(FindLibrary(UserDir() + "/Orders"), UserDir() + "/Orders.qlx");
}

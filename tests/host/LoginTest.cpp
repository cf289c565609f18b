// Login with a configuration, and the end of the session.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "host/HostJournal.h"
#include "host/Login.h"

#include <gtest/gtest.h>

using namespace WexelHost;

namespace {

std::string LoginError(const std::string& config)
{
    try {
        PerformLogin(config);
    } catch (const ELoginError& e) {
        return e.Message();
    }
    return "(logged in)";
}

} // namespace

TEST(Login, BuiltInDefaultNeedsNoFile)
{
    PerformLogin("default");
    EXPECT_TRUE(LoginState().LoggedIn);
    EXPECT_EQ(LoginState().Config, "default");
    BaseMng->CloseConnections();
    EXPECT_FALSE(LoginState().LoggedIn);
}

TEST(Login, ReadsAnIniConfiguration)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("app.cfg"), "; comment\r\n# other\r\n\r\nTop=1\r\n[Database]\r\n"
                                                "  Server = db1 \r\nUser=\r\n[ Login ]\nName=a=b\n");
    PerformLogin(dir.File("app.cfg"));
    EXPECT_EQ(LoginState().Settings, (std::map<std::string, std::string>{{".Top", "1"},
                                                                         {"Database.Server", "db1"},
                                                                         {"Database.User", ""},
                                                                         {"Login.Name", "a=b"}}));
    BaseMng->CloseConnections();
    EXPECT_TRUE(LoginState().Settings.empty());
}

// Unlike a store's keyed reads, the login takes the file whole: section names keep their
// case, and a setting given twice keeps its last value.
TEST(Login, LaterSettingsWinAndSectionsKeepTheirCase)
{
    TestSupport::TTempDir dir;
    TestSupport::WriteFile(dir.File("app.cfg"), "\xEF\xBB\xBF[A]\nk=1\n[a]\nk=2\n[A]\nk=3\n\t\f\n");
    PerformLogin(dir.File("app.cfg"));
    EXPECT_EQ(LoginState().Settings, (std::map<std::string, std::string>{{"A.k", "3"}, {"a.k", "2"}}));
    BaseMng->CloseConnections();
}

TEST(Login, FailuresNameTheFileAndTheCause)
{
    TestSupport::TTempDir dir;
    EXPECT_EQ(LoginError("no-such.cfg"), "Cannot log in: the configuration file no-such.cfg does not exist");
    EXPECT_EQ(LoginError(dir.Path()), "Cannot log in: the configuration file " + dir.Path() + " is a directory");
    EXPECT_EQ(LoginError(""), "Cannot log in: no configuration is named");
    TestSupport::WriteFile(dir.File("bad.cfg"), "[A]\nkey=1\njust words\n");
    EXPECT_EQ(LoginError(dir.File("bad.cfg")),
              "Cannot log in: " + dir.File("bad.cfg") + ", line 3: expected [Section] or Name=Value");
    TestSupport::WriteFile(dir.File("noname.cfg"), "=1\n");
    EXPECT_EQ(LoginError(dir.File("noname.cfg")),
              "Cannot log in: " + dir.File("noname.cfg") + ", line 1: expected [Section] or Name=Value");
    EXPECT_FALSE(LoginState().LoggedIn);
}

TEST(Login, JournalShowsLoginAndClose)
{
    StartJournal();
    PerformLogin("default");
    BaseMng->CloseConnections();
    EXPECT_THROW(PerformLogin("no-such.cfg"), ELoginError);
    EXPECT_EQ(JournalEntries(),
              (std::vector<std::string>{"PerformLogin default", "CloseConnections", "PerformLogin no-such.cfg"}));
    StopJournal();
}

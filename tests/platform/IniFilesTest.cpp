#include "platform/IniFiles.h"
#include "platform/Process.h"

#include "HostProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestFramework;
using TestSupport::ReadFile;
using TestSupport::TTempDir;
using TestSupport::WriteFile;

namespace {

using TestSupport::TEnvOverride;

// Another program's file: LF line ends, comments in every position, odd spacing, a
// line that is no entry, and a comment as the last line.
const std::string ForeignFile =
    "; written by another tool\n"
    "[Other]\n"
    "  Path = /opt/x  \n"
    "# note=not a key\n"
    "garbage line\n"
    "\n"
    "; about the tests\n"
    "[Tests]\n"
    "Old=0\n"
    "\n"
    "; trailing comment\n";

} // namespace

// The layout that saving a tree R > S(disabled) > T(disabled) produces, through every store.
enum class TStoreKind { Plain, Memory, Registry };

std::string StoreName(const ::testing::TestParamInfo<TStoreKind>& info)
{
    switch (info.param) {
    case TStoreKind::Plain: return "Plain";
    case TStoreKind::Memory: return "Memory";
    case TStoreKind::Registry: return "Registry";
    }
    return "";
}

void PrintTo(TStoreKind kind, std::ostream* os)
{
    *os << StoreName(::testing::TestParamInfo<TStoreKind>(kind, 0));
}

class IniStoreRoundTrip : public ::testing::TestWithParam<TStoreKind> {
protected:
    TTempDir FDir;
    TEnvOverride FConfigHome{"XDG_CONFIG_HOME", FDir.Path()};
    std::string FName = FDir.File("roved.ini");

    std::unique_ptr<TCustomIniFile> Open()
    {
        switch (GetParam()) {
        case TStoreKind::Plain: return std::make_unique<TIniFile>(FName);
        case TStoreKind::Memory: return std::make_unique<TMemIniFile>(FName);
        case TStoreKind::Registry: return std::make_unique<TRegistryIniFile>(FName);
        }
        return nullptr;
    }
    std::string StoredBytes()
    {
        std::string path = GetParam() == TStoreKind::Registry ? TRegistryIniFile::KeyFilePath(FName) : FName;
        return std::filesystem::exists(path) ? ReadFile(path) : std::string("<missing>");
    }
    void Save(bool sDisabled, bool tDisabled)
    {
        auto ini = Open();
        ini->DeleteKey("Tests", "R");
        auto put = [&](const char* section, const char* name, bool disabled) {
            if (disabled)
                ini->WriteBool(section, name, false);
            else
                ini->DeleteKey(section, name);
        };
        put("Tests.R", "S", sDisabled);
        put("Tests.R.S", "T", tDisabled);
        ini->UpdateFile();
    }
};

TEST_P(IniStoreRoundTrip, WritesOnlyDisabledTestsAndReadsThemBack)
{
    Save(true, true);
    EXPECT_EQ(StoredBytes(), "[Tests.R]\r\nS=0\r\n\r\n[Tests.R.S]\r\nT=0\r\n");

    auto ini = Open();
    EXPECT_TRUE(ini->ReadBool("Tests", "R", true));
    EXPECT_FALSE(ini->ReadBool("tests.r", "s", true));
    EXPECT_FALSE(ini->ReadBool("Tests.R.S", "T", true));
    ini.reset();

    // Enabling them again removes the keys and leaves the (now empty) sections.
    Save(false, false);
    EXPECT_EQ(StoredBytes(), "[Tests.R]\r\n\r\n[Tests.R.S]\r\n");
}

TEST_P(IniStoreRoundTrip, KeepsAnotherProgramsSectionsAndComments)
{
    std::string path = GetParam() == TStoreKind::Registry ? TRegistryIniFile::KeyFilePath(FName) : FName;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, ForeignFile);

    auto ini = Open();
    EXPECT_EQ(ini->ReadString("other", "PATH", ""), " /opt/x  "); // kept as written
    EXPECT_FALSE(ini->ValueExists("Other", "# note"));
    ini.reset();

    Save(true, false);
    // Every line of the other program's file as it was, then the new section.
    EXPECT_EQ(StoredBytes(), ForeignFile + "\n[Tests.R]\nS=0\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, IniStoreRoundTrip,
                         ::testing::Values(TStoreKind::Plain, TStoreKind::Memory, TStoreKind::Registry),
                         StoreName);

TEST(IniFile, WritesReachTheFileAtOnceAndReadsSeeOtherWriters)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    TIniFile ini(name);
    ini.DeleteKey("S", "K"); // nothing to delete: no file is created
    EXPECT_FALSE(std::filesystem::exists(name));

    ini.WriteInteger("S", "K", -12);
    EXPECT_EQ(ReadFile(name), "[S]\r\nK=-12\r\n");

    WriteFile(name, "[S]\r\nK=-12\r\nOther=x\r\n");
    ini.WriteBool("s", "k", true); // the stored spellings stay
    EXPECT_EQ(ReadFile(name), "[S]\r\nK=1\r\nOther=x\r\n");
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"K", "Other"}));
}

TEST(IniFile, PlacesNewKeysAfterTheLastKeyOfTheirSection)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    WriteFile(name, "\xEF\xBB\xBF[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\n; only a comment\r\n\r\n");
    TIniFile ini(name);
    ini.WriteString("a", "y", "2");
    ini.WriteString("B", "z", "3");
    EXPECT_EQ(ReadFile(name),
              "\xEF\xBB\xBF[A]\r\nx=1\r\ny=2\r\n\r\n; about B\r\n[B]\r\n; only a comment\r\nz=3\r\n\r\n");
}

TEST(IniFile, EraseSectionKeepsWhatLeadsToTheNextSection)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    WriteFile(name, "[A]\nx=1\n[B]\nk=1\n; comment\ny=2\n\n; about C\n[C]\nz=3\n");
    TIniFile ini(name);
    ini.EraseSection("b");
    EXPECT_EQ(ReadFile(name), "[A]\nx=1\n; about C\n[C]\nz=3\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "C"}));
    EXPECT_FALSE(ini.SectionExists("B"));
}

TEST(IniFile, DeleteKeyRemovesEveryCopySoNoneSurfacesLater)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    WriteFile(name, "[Tests]\nT=0\n[tests]\nt=0\nU=0\n");
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadSection("TESTS"), (std::vector<std::string>{"T", "U"}));
    ini.DeleteKey("Tests", "T");
    EXPECT_TRUE(ini.ReadBool("Tests", "T", true));
    EXPECT_EQ(ReadFile(name), "[Tests]\n[tests]\nU=0\n");
}

TEST(IniFile, TypedReadsFallBackToTheDefault)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    WriteFile(name, "[N]\nblank= 7 \nhex=0x1F\ndollar=$FFFFFFFF\nplus=+4\nneg=-3\n"
                    "word=yes\nempty=\nbig=2147483648\nhalf=12abc\nplusminus=+-1\n");
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("N", "blank", 0), 7);
    EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("N", "dollar", 0), -1);
    EXPECT_EQ(ini.ReadInteger("N", "plus", 0), 4);
    EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -3);
    for (const char* bad : {"word", "empty", "big", "half", "plusminus", "missing"})
        EXPECT_EQ(ini.ReadInteger("N", bad, 99), 99) << bad;

    EXPECT_TRUE(ini.ReadBool("N", "neg", false));
    EXPECT_TRUE(ini.ReadBool("N", "word", true));
    EXPECT_FALSE(ini.ReadBool("N", "word", false));
    ini.WriteBool("N", "flag", false);
    EXPECT_EQ(ini.ReadString("N", "flag", ""), "0");
}

TEST(IniFile, EscapesNamesTheFormatCannotHoldAndReadsThemBackAsWritten)
{
    TTempDir dir;
    std::string name = dir.File("a.ini");
    // Test libraries may name tests like this; each must come back as it went in.
    const std::vector<std::string> odd{"a=b", ";c", "#d", "[k]", " k", "k ", "", "%",
                                       "%41", "two\r\nlines", "x\x7f"};
    const std::vector<std::string> plain{"x]", "100%", "tab\tin", "a b", "Ünï"};
    {
        TMemIniFile ini(name);
        for (const std::string& key : odd)
            ini.WriteBool("Tests.R", key, false);
        for (const std::string& key : plain)
            ini.WriteBool("Tests.R", key, false);
        ini.WriteBool("Tests.R.S ", " s", false); // a section that ends in a blank
        ini.UpdateFile();
    }
    const std::string bytes = ReadFile(name);
    for (const std::string& key : plain) // ordinary names keep their bytes
        EXPECT_NE(bytes.find("\r\n" + key + "=0\r\n"), std::string::npos) << key;
    EXPECT_NE(bytes.find("\r\n%a%3Db=0\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\r\n%%2541=0\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(TIniDocument(bytes).FirstMalformedLine(), 0u);

    TIniFile ini(name);
    std::vector<std::string> all = odd;
    all.insert(all.end(), plain.begin(), plain.end());
    EXPECT_EQ(ini.ReadSection("Tests.R"), all);
    for (const std::string& key : all)
        EXPECT_FALSE(ini.ReadBool("tests.r", key, true)) << key;
    EXPECT_FALSE(ini.ReadBool("Tests.R.S ", " s", true));
    EXPECT_TRUE(ini.ReadBool("Tests.R.S", " s", true));
    ini.DeleteKey("Tests.R", "a=b");
    EXPECT_TRUE(ini.ReadBool("Tests.R", "a=b", true));

    // Another program's name that only looks escaped stays its own.
    WriteFile(name, "[S]\r\n%PATH%=1\r\n%4=2\r\n");
    EXPECT_EQ(TIniFile(name).ReadSection("S"), (std::vector<std::string>{"%PATH%", "%4"}));
    EXPECT_EQ(TIniFile(name).ReadString("S", "%path%", ""), "1");
    TIniFile(name).WriteString("S", "%4", "3");
    EXPECT_EQ(ReadFile(name), "[S]\r\n%PATH%=1\r\n%4=3\r\n");

    // A line break in a value would still end the line early.
    EXPECT_THROW(ini.WriteString("S", "k", "1\r\n[X]\r\nk=2"), EIniFileException);
}

TEST(IniFile, UnreadableOrUnwritableFileRaisesAClearError)
{
    TTempDir dir;
    std::string folder = dir.File("is-a-dir.ini");
    std::filesystem::create_directory(folder);
    try {
        TIniFile(folder).WriteBool("S", "K", false);
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.ClassName(), "EIniFileException");
        EXPECT_NE(e.Message().find("ini file \"" + folder + "\": Is a directory"), std::string::npos)
            << e.Message();
    }

    std::string underFile = dir.File("plain") + "/a.ini";
    WriteFile(dir.File("plain"), "");
    TMemIniFile mem(underFile); // a missing directory reads as an empty file
    mem.WriteString("S", "K", "v");
    try {
        mem.UpdateFile();
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_NE(e.Message().find("Cannot write ini file \"" + underFile + "\": "), std::string::npos)
            << e.Message();
    }
}

TEST(MemIniFile, WritesTheFileOnlyOnUpdate)
{
    TTempDir dir;
    std::string name = dir.File("m.ini");
    WriteFile(name, "[S]\nK=old\n");
    {
        TMemIniFile ini(name);
        ini.WriteString("S", "K", "new");
        EXPECT_EQ(ini.ReadString("s", "k", ""), "new");
        EXPECT_EQ(ReadFile(name), "[S]\nK=old\n");
    } // destroyed without UpdateFile: the change is dropped
    EXPECT_EQ(ReadFile(name), "[S]\nK=old\n");

    // Updating an unchanged store still writes the file, creating it if needed.
    std::string fresh = dir.File("fresh.ini");
    TMemIniFile(fresh).UpdateFile();
    EXPECT_EQ(ReadFile(fresh), "");
}

TEST(RegistryIniFile, KeepsEachKeyInOneFileBelowTheConfigDirectory)
{
    TTempDir dir;
    TEnvOverride configHome("XDG_CONFIG_HOME", dir.Path() + "/");
    std::string base = dir.Path() + "/WexelRunner/registry/";

    EXPECT_EQ(TRegistryIniFile::KeyFilePath("/opt/w/EXE/roved.ini"),
              base + "%2Fopt%2Fw%2FEXE%2Froved.ini.ini");
    // Separators and ".." never leave the directory; "%" itself is escaped.
    EXPECT_EQ(TRegistryIniFile::KeyFilePath(".."), base + "...ini");
    EXPECT_EQ(TRegistryIniFile::KeyFilePath("..\\..\\x y%"), base + "..%5C..%5Cx%20y%25.ini");
    // Keys differ in case as the paths they come from do.
    EXPECT_NE(TRegistryIniFile::KeyFilePath("A"), TRegistryIniFile::KeyFilePath("a"));

    // A long key gets a name the file system takes, and different keys stay apart.
    std::string longKey(300, '/');
    std::string one = TRegistryIniFile::KeyFilePath(longKey + "a");
    std::string two = TRegistryIniFile::KeyFilePath(longKey + "b");
    EXPECT_NE(one, two);
    std::string file = std::filesystem::path(one).filename().string();
    EXPECT_LE(file.size(), 255u);
    EXPECT_EQ(file.substr(0, 6), "%2F%2F");
    EXPECT_EQ(file[file.size() - 21], '~') << file;

    // The first write creates the directories; the store is named after its key.
    TRegistryIniFile ini("/opt/w/EXE/roved.ini");
    EXPECT_EQ(ini.FileName(), "/opt/w/EXE/roved.ini");
    ini.WriteBool("GUITestRunner Config", "AutoSave", true);
    EXPECT_EQ(ReadFile(ini.Path()), "[GUITestRunner Config]\r\nAutoSave=1\r\n");

    EXPECT_THROW(TRegistryIniFile(""), EIniFileException);
}

TEST(RegistryIniFile, FallsBackToHomeAndRefusesWithoutEither)
{
    TEnvOverride home("HOME", "/home/someone");
    {
        TEnvOverride relative("XDG_CONFIG_HOME", "relative/dir");
        EXPECT_EQ(TRegistryIniFile::KeyFilePath("k"), "/home/someone/.config/WexelRunner/registry/k.ini");
    }
    TEnvOverride unset("XDG_CONFIG_HOME", "");
    EXPECT_EQ(TRegistryIniFile::KeyFilePath("k"), "/home/someone/.config/WexelRunner/registry/k.ini");
    TEnvOverride noHome("HOME", "");
    EXPECT_THROW(TRegistryIniFile::KeyFilePath("k"), EIniFileException);
}

TEST(RegistryIniFile, RaisesWhenItsDirectoryCannotBeCreated)
{
    TTempDir dir;
    WriteFile(dir.File("file"), "");
    TEnvOverride configHome("XDG_CONFIG_HOME", dir.File("file"));
    TRegistryIniFile ini("k");
    EXPECT_TRUE(ini.ReadBool("S", "K", true)); // nothing stored yet
    EXPECT_THROW(ini.WriteBool("S", "K", false), EIniFileException);
}

namespace {

void Set(const std::string& path, const char* key, const char* value)
{
    UpdateIniFile(path, [&](TCustomIniFile& store) { store.WriteString("S", key, value); });
}

std::string WriteError(const std::function<void()>& write)
{
    try {
        write();
    } catch (const EIniFileException& e) {
        return e.Message();
    }
    return "<written>";
}

// Runs body in a child process and answers its exit code.
int InChild(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(IniFileTargets, LinksAreFollowedOnlyToARegularFile)
{
    TTempDir dir;
    namespace fs = std::filesystem;
    const std::string file = dir.File("elsewhere.ini"), link = dir.File("roved.ini");
    WriteFile(file, "[Other]\nx=1\n");
    fs::create_symlink("elsewhere.ini", link);
    Set(link, "K", "v");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(file), "[Other]\nx=1\n\n[S]\nK=v\n");

    // A device of our own, never the system's: left as it was, not even opened.
    const std::string device = dir.File("null");
    ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    const std::string toDevice = dir.File("to-device.ini"), loop = dir.File("loop.ini");
    fs::create_symlink(device, toDevice);
    fs::create_symlink("loop.ini", loop);
    fs::create_symlink("nowhere", dir.File("dangling.ini"));
    ::mkfifo(dir.File("fifo.ini").c_str(), 0666);
    for (const auto& [name, why] : {std::pair{toDevice, "it is a device"}, {device, "it is a device"},
                                    {loop, "Too many levels of symbolic links"},
                                    {dir.File("dangling.ini"), "which does not exist"},
                                    {dir.File("fifo.ini"), "not a regular file"}}) {
        EXPECT_NE(WriteError([&] { Set(name, "K", "v"); }).find(why), std::string::npos) << name;
        EXPECT_NE(WriteError([&] { TIniFile(name).WriteString("S", "K", "v"); }).find(why), std::string::npos);
    }
    struct stat st{};
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, ::makedev(1, 3));
    // A pipe is not read either: that would wait for a writer for ever.
    EXPECT_THROW(TMemIniFile(dir.File("fifo.ini")), EIniFileException);
}

TEST(IniFileTargets, KeepsOtherProgramsLineEndsOwnerAndReadOnlyFiles)
{
    TTempDir dir;
    const std::string name = dir.File("roved.ini");
    WriteFile(name, "[S]\nk=v\r\nother=1\n[T]\r\n");
    Set(name, "other", "2");
    Set(name, "new", "3");
    EXPECT_EQ(ReadFile(name), "[S]\nk=v\r\nother=2\nnew=3\n[T]\r\n");

    // A new file is made as the process's umask says.
    const mode_t mask = ::umask(027);
    Set(dir.File("new.ini"), "K", "v");
    ::umask(mask);
    struct stat made{};
    ::stat(dir.File("new.ini").c_str(), &made);
    EXPECT_EQ(made.st_mode & 0777, 0640u);

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(name.c_str(), 4321, 4322), 0);
        Set(name, "other", "4");
        struct stat st{};
        ::stat(name.c_str(), &st);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }

    ::chmod(name.c_str(), 0444);
    const std::string before = ReadFile(name);
    EXPECT_NE(WriteError([&] { Set(name, "other", "5"); }).find("the file is read-only"), std::string::npos);
    EXPECT_EQ(ReadFile(name), before);
    // Nothing to change, nothing to refuse.
    EXPECT_EQ(WriteError([&] { Set(name, "k", "v"); }), "<written>");
}

TEST(IniFileTargets, AFolderThatTakesNoNewFilesGetsTheFileRewrittenInPlace)
{
    TTempDir dir;
    const std::string folder = dir.File("exe"), name = folder + "/roved.ini";
    std::filesystem::create_directory(folder);
    WriteFile(name, "[S]\r\nlong=0123456789\r\n");
    struct stat before{};
    ::stat(name.c_str(), &before);
    // Root may create files in any folder: the write runs as another user then.
    const uid_t user = ::geteuid() == 0 ? 4321 : ::geteuid();
    ::chown(name.c_str(), user, user);
    ::chmod(folder.c_str(), 0555);
    ::chmod(dir.Path().c_str(), 0755);
    const int code = InChild([&] {
        if (::geteuid() == 0 && (::setgid(user) != 0 || ::setuid(user) != 0))
            return 2;
        try {
            UpdateIniFile(name, [](TCustomIniFile& store) { store.WriteString("S", "long", "1"); });
        } catch (const EIniFileException&) {
            return 1;
        }
        return 0;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(name), "[S]\r\nlong=1\r\n");
    struct stat after{};
    ::stat(name.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(IniFileTargets, ARegistryFileNameNearTheLimitIsStillWritten)
{
    TTempDir dir;
    TEnvOverride configHome("XDG_CONFIG_HOME", dir.Path());
    for (std::size_t size : {245u, 248u, 251u}) {
        const std::string key(size, 'k');
        TRegistryIniFile(key).WriteString("S", "K", "v");
        TMemRegistryIniFile mem(key);
        mem.WriteString("S", "K", "w");
        mem.UpdateFile();
        UpdateRegistryIniFile(key, [](TCustomIniFile& store) { store.WriteString("S", "J", "x"); });
        EXPECT_EQ(ReadFile(TRegistryIniFile::KeyFilePath(key)), "[S]\r\nK=w\r\nJ=x\r\n");
    }
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() + "/WexelRunner/registry"),
                            std::filesystem::directory_iterator()),
              3);
}

// Two processes saving together: each save is one read-modify-write, so no save is lost
// and none is mixed with another.
TEST(IniFileTargets, SavesOfTwoProcessesDoNotInterleave)
{
    TTempDir dir;
    const std::string name = dir.File("roved.ini");
    constexpr int Saves = 50;
    std::vector<pid_t> children;
    for (const char* who : {"A", "B"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < Saves; ++i)
                UpdateIniFile(name, [&](TCustomIniFile& store) {
                    store.WriteInteger("S", "Count", store.ReadInteger("S", "Count", 0) + 1);
                    store.WriteString("S", "Left", who);
                    store.WriteString("S", "Right", who);
                });
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
        ::waitpid(pid, nullptr, 0);
    TMemIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("S", "Count", 0), 2 * Saves);
    EXPECT_EQ(ini.ReadString("S", "Left", ""), ini.ReadString("S", "Right", "-"));
}

#include "runner/WexelRunner.h"

#include "bridge/HostPlatform.h"
#include "platform/Process.h"
#include "runner/CmdLineParser.h"

#include <exception>

namespace WexelRunner {

void WriteLine(unsigned char level, std::string_view text)
{
    if (level != 1 && level != 2)
        return;
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    Sys::WriteRaw(level == 1 ? Sys::TStdHandle::Output : Sys::TStdHandle::Error, line);
}

TRunSettings& RunSettings()
{
    static TRunSettings settings;
    return settings;
}

namespace {

// Reads the options into the run settings; "ver" and every option error end the process.
void ReadOptions()
{
    try {
        CmdLineParser::TCommandLineReader reader;
        reader.AllowSlashPrefix = true;
        reader.DeclareFlag("ver", false);
        reader.DeclareString("mode", "gui");
        reader.DeclareString("config", "");
        reader.Parse();
        if (reader.ReadFlag("ver")) {
            WriteLine(1, std::string("Build version: ") + BuildVersion +
                             ". Protocol version: " + ProtocolVersion + ".");
            Sys::Halt(0);
        }
        TRunSettings& settings = RunSettings();
        settings.RunMode = reader.ReadString("mode");
        settings.ConfigFile = reader.ReadString("config");
        settings.FileMask = "*.qlx";
        if (!reader.ReadPositional().empty())
            settings.FileMask = reader.ReadPositional().front();
    } catch (const std::exception& e) {
        WriteLine(2, e.what());
        Sys::Halt(1);
    }
}

void WriteBanner(const TRunSettings& settings)
{
    WriteLine(1, "***  Wexel Runner  ***");
    WriteLine(1, "Mode: " + settings.RunMode);
    WriteLine(1, "Config: " + settings.ConfigFile);
    WriteLine(1, "Filemask: " + settings.FileMask);
}

// Runs the registered tests in the given mode; false for a mode that is not one of the
// four words (compared exactly, case-sensitively).
bool Dispatch(const std::string& mode)
{
    if (mode == "txt" || mode == "xml" || mode == "xml_nunit" || mode == "gui") {
        // The runners arrive with their own units; until then a known mode runs nothing.
        return true;
    }
    return false;
}

// Closes the host's connections when the run leaves, whichever way it leaves, once a
// login was made.
class TConnectionGuard {
public:
    explicit TConnectionGuard(bool loggedIn) : FLoggedIn(loggedIn) {}
    ~TConnectionGuard()
    {
        if (FLoggedIn)
            WexelHost::BaseMng->CloseConnections();
    }
    TConnectionGuard(const TConnectionGuard&) = delete;
    TConnectionGuard& operator=(const TConnectionGuard&) = delete;

private:
    bool FLoggedIn;
};

} // namespace

} // namespace WexelRunner

void Main()
{
    using namespace WexelRunner;
    Sys::SetExitCode(0);
    ReadOptions();
    const TRunSettings& settings = RunSettings();
    WriteBanner(settings);
    // A failed login raises out of Main before anything needs cleaning up.
    const bool login = !settings.ConfigFile.empty();
    if (login)
        WexelHost::PerformLogin(settings.ConfigFile);
    // The clean-up starts here: what is created above this line is freed after the
    // connections are closed, and a failure above it leaves nothing to clean up.
    TConnectionGuard connections(login);
    if (!Dispatch(settings.RunMode))
        WriteLine(2, "Unknown mode");
}

// Login and connections of the host platform substitute. There is no database behind it:
// a login reads and checks the configuration, and the journal shows the calls.

#include "host/Login.h"

#include "bridge/HostPlatform.h"
#include "host/HostJournal.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace WexelHost {

namespace {

TLoginState& State()
{
    static TLoginState state;
    return state;
}

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

[[noreturn]] void LoginFailed(const std::string& why)
{
    throw ELoginError("Cannot log in: " + why);
}

std::string ReadConfigurationFile(const std::string& file)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (!fs::exists(status))
        LoginFailed("the configuration file " + file + " does not exist");
    if (fs::is_directory(status))
        LoginFailed("the configuration file " + file + " is a directory");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        LoginFailed("the configuration file " + file + " cannot be read");
    // The stream library raises its own error for a failed read (a file of /proc, a
    // device), which names no file; turn it into the login's.
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        in.setstate(std::ios::badbit);
    }
    if (in.bad())
        LoginFailed("the configuration file " + file + " cannot be read");
    return text;
}

TApplicationManager GlobalManager;

} // namespace

TApplicationManager* const BaseMng = &GlobalManager;

const TLoginState& LoginState() { return State(); }

std::map<std::string, std::string> ParseConfiguration(const std::string& text, const std::string& source)
{
    std::map<std::string, std::string> settings;
    std::string section;
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    while (std::getline(lines, raw)) {
        ++number;
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        auto eq = line.find('=');
        std::string name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
        if (name.empty())
            LoginFailed(source + ", line " + std::to_string(number) + ": expected [Section] or Name=Value");
        settings[section + "." + name] = Trim(line.substr(eq + 1));
    }
    return settings;
}

void PerformLogin(const std::string& configFile)
{
    if (JournalActive())
        RecordCall("PerformLogin " + configFile);
    if (configFile.empty())
        LoginFailed("no configuration is named");
    std::map<std::string, std::string> settings;
    if (configFile != DefaultConfiguration)
        settings = ParseConfiguration(ReadConfigurationFile(configFile), configFile);
    TLoginState& state = State();
    state.LoggedIn = true;
    state.Config = configFile;
    state.Settings = std::move(settings);
}

void TApplicationManager::CloseConnections()
{
    if (JournalActive())
        RecordCall("CloseConnections");
    TLoginState& state = State();
    state.LoggedIn = false;
    state.Settings.clear();
}

} // namespace WexelHost

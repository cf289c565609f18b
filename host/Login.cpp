// Login and connections of the host platform substitute. There is no database behind it:
// a login reads and checks the configuration, and the journal shows the calls.

#include "host/Login.h"

#include "bridge/HostPlatform.h"
#include "host/HostJournal.h"
#include "platform/IniFiles.h"
#include "platform/TextUtils.h"

#include <filesystem>
#include <optional>

namespace WexelHost {

namespace {

TLoginState& State()
{
    static TLoginState state;
    return state;
}

[[noreturn]] void LoginFailed(const std::string& why)
{
    throw ELoginError("Cannot log in: " + why);
}

// Every setting of the file, "Section.Name" -> value without its surrounding blanks; a
// name given twice keeps its last value. A store reads a missing file as empty and
// keeps lines it cannot parse; a login must not start on such a file.
std::map<std::string, std::string> ReadConfigurationFile(const std::string& file)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (!fs::exists(status))
        LoginFailed("the configuration file " + file + " does not exist");
    if (fs::is_directory(status))
        LoginFailed("the configuration file " + file + " is a directory");
    std::optional<TestFramework::TMemIniFile> store;
    try {
        store.emplace(file);
    } catch (const std::exception&) {
        // The stream library raises its own error for a failed read (a file of /proc, a
        // device), which names no file; the login's names it.
        LoginFailed("the configuration file " + file + " cannot be read");
    }
    const TestFramework::TIniDocument& document = store->Document();
    if (const std::size_t line = document.FirstMalformedLine())
        LoginFailed(file + ", line " + std::to_string(line) + ": expected [Section] or Name=Value");
    std::map<std::string, std::string> settings;
    for (const TestFramework::TIniDocument::TEntry& entry : document.Entries())
        settings[entry.Section + "." + entry.Key] = Sys::Trim(entry.Value);
    return settings;
}

TApplicationManager GlobalManager;

} // namespace

TApplicationManager* const BaseMng = &GlobalManager;

const TLoginState& LoginState() { return State(); }

void PerformLogin(const std::string& configFile)
{
    if (JournalActive())
        RecordCall("PerformLogin " + configFile);
    if (configFile.empty())
        LoginFailed("no configuration is named");
    std::map<std::string, std::string> settings;
    if (configFile != DefaultConfiguration)
        settings = ReadConfigurationFile(configFile);
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

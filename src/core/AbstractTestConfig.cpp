// Loading and saving a test's enabled switch. A store holds entries only for disabled
// tests: enabled is the default, so saving an enabled test removes its entry.

#include "core/AbstractTest.h"
#include "core/TrimmedIniFile.h"
#include "core/TestRegistry.h"

#include <memory>

namespace TestFramework {

namespace {

// Registry keys are named after the configuration file below the registry key base.
std::string RegistryKeyFor(const std::string& fileName) { return GetRegistryKeyBase() + fileName; }

// A whole tree is read or written at once, so the registry key is read once and
// written once, like the in-memory file, rather than once per test.
std::unique_ptr<TCustomIniFile> OpenConfigurationStore(const std::string& fileName, bool useRegistry,
                                                       bool useMemIni)
{
    if (useRegistry)
        return std::make_unique<TMemRegistryIniFile>(RegistryKeyFor(fileName));
    if (useMemIni)
        return std::make_unique<TMemIniFileTrimmed>(fileName);
    return std::make_unique<TIniFile>(fileName);
}

constexpr const char* TestsSection = "Tests";

} // namespace

void TAbstractTest::LoadConfiguration(TCustomIniFile& iniFile, const std::string& section)
{
    SetEnabled(iniFile.ReadBool(section, GetName(), true));
}

void TAbstractTest::SaveConfiguration(TCustomIniFile& iniFile, const std::string& section)
{
    if (GetEnabled())
        iniFile.DeleteKey(section, GetName());
    else
        iniFile.WriteBool(section, GetName(), false);
}

void TAbstractTest::LoadConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni)
{
    auto store = OpenConfigurationStore(fileName, useRegistry, useMemIni);
    LoadConfiguration(*store, TestsSection);
}

void TAbstractTest::SaveConfiguration(const std::string& fileName, bool useRegistry, bool useMemIni)
{
    auto store = OpenConfigurationStore(fileName, useRegistry, useMemIni);
    SaveConfiguration(*store, TestsSection);
    store->UpdateFile();
}

} // namespace TestFramework

// External calls and the cached tables of the host platform substitute.

#include "bridge/HostPlatform.h"
#include "host/HostJournal.h"
#include "host/ProcContainer.h"

#include <map>

namespace WexelHost {

TExtCall::TExtCall() = default;

TExtCall::~TExtCall() = default;

void TExtCall::Prepare()
{
    FPrepared = false;
    CallData.Clear();
    if (CallKind != ScriptCallKind)
        throw EExtCallError("Call kind " + std::to_string(CallKind) + " is not supported; only " +
                            std::to_string(ScriptCallKind) + " (script procedures) is");
    if (LibraryPath.empty())
        throw EExtCallError("The external call names no library");
    if (ProcName.empty())
        throw EExtCallError("The external call to " + LibraryPath + " names no procedure");
    FPrepared = true;
}

void TExtCall::Execute()
{
    if (!FPrepared)
        throw EExtCallError("Call of " + ProcName + " in " + LibraryPath + " was executed without Prepare");
    if (JournalActive()) {
        std::string entry = "ExtCall " + LibraryPath + " " + ProcName;
        for (const auto& param : CallData.Params())
            entry += " " + (param->IsAssigned() ? param->GetAsString() : std::string("nil"));
        RecordCall(entry);
    }
    TProcContainer::Instance().Call(LibraryPath, ProcName, CallData.Params(), CallData.ResultParam, TimeLimit,
                                     LibraryTimeLimit);
}

void ResetProcContainer()
{
    if (JournalActive())
        RecordCall("ResetProcContainer");
    TProcContainer::Instance().Reset();
}

void THostTable::Refresh()
{
    // The substitute caches nothing in its tables; the journal is what tests can see.
    if (JournalActive())
        RecordCall("Refresh " + FName);
}

namespace {

THostTable GlobalDSPTable("DSPTable");
THostTable GlobalLocalizatorTable("LocalizatorTable");
THostTable GlobalLanguagesTable("LanguagesTable");

// Named tables are created on first request and live as long as the library.
THostTable* NamedTable(const std::string& kind, const std::string& name)
{
    static std::map<std::string, std::unique_ptr<THostTable>> tables;
    std::string key = kind + "(" + name + ")";
    auto& table = tables[key];
    if (!table)
        table = std::make_unique<THostTable>(key);
    return table.get();
}

TDSPContainer GlobalDSPContainer;
TLContainer GlobalLContainer;

} // namespace

THostTable* const DSPTable = &GlobalDSPTable;
THostTable* const LocalizatorTable = &GlobalLocalizatorTable;
THostTable* const LanguagesTable = &GlobalLanguagesTable;
TDSPContainer* const DSPContainer = &GlobalDSPContainer;
TLContainer* const LContainer = &GlobalLContainer;

THostTable* TDSPContainer::GetDSPTable(const std::string& name)
{
    return NamedTable("DSPContainer.GetDSPTable", name);
}

THostTable* TLContainer::GetLocalizatorTable(const std::string& name)
{
    return NamedTable("LContainer.GetLocalizatorTable", name);
}

THostTable* TLContainer::GetLanguagesTable(const std::string& name)
{
    return NamedTable("LContainer.GetLanguagesTable", name);
}

} // namespace WexelHost

#include "FakeHost.h"

#include <map>
#include <memory>

namespace FakeHost {

namespace {

struct TState {
    std::vector<TExecutedCall> Calls;
    std::vector<std::string> Journal;
    THandler Handler;
    int Live = 0;
};

TState& State()
{
    static TState state;
    return state;
}

} // namespace

void Reset()
{
    TState& state = State();
    state.Calls.clear();
    state.Journal.clear();
    state.Handler = nullptr;
}

void SetHandler(THandler handler) { State().Handler = std::move(handler); }
const std::vector<TExecutedCall>& ExecutedCalls() { return State().Calls; }
const std::vector<std::string>& Journal() { return State().Journal; }
int LiveCalls() { return State().Live; }

} // namespace FakeHost

namespace WexelHost {

using FakeHost::State;

void PerformLogin(const std::string& configFile) { State().Journal.push_back("PerformLogin " + configFile); }

void TApplicationManager::CloseConnections() { State().Journal.push_back("CloseConnections"); }

namespace {
TApplicationManager Manager;
THostTable Dsp("DSPTable"), Localizator("LocalizatorTable"), Languages("LanguagesTable");
TDSPContainer DspContainer;
TLContainer LanguageContainer;

THostTable* Named(const std::string& name)
{
    static std::map<std::string, std::unique_ptr<THostTable>> tables;
    auto& table = tables[name];
    if (!table)
        table = std::make_unique<THostTable>(name);
    return table.get();
}
} // namespace

TApplicationManager* const BaseMng = &Manager;
THostTable* const DSPTable = &Dsp;
THostTable* const LocalizatorTable = &Localizator;
THostTable* const LanguagesTable = &Languages;
TDSPContainer* const DSPContainer = &DspContainer;
TLContainer* const LContainer = &LanguageContainer;

THostTable* TDSPContainer::GetDSPTable(const std::string& name) { return Named("DSPContainer.GetDSPTable(" + name + ")"); }
THostTable* TLContainer::GetLocalizatorTable(const std::string& name) { return Named("LContainer.GetLocalizatorTable(" + name + ")"); }
THostTable* TLContainer::GetLanguagesTable(const std::string& name) { return Named("LContainer.GetLanguagesTable(" + name + ")"); }

void THostTable::Refresh() { State().Journal.push_back("Refresh " + FName); }

void ResetProcContainer() { State().Journal.push_back("ResetProcContainer"); }

void KeepCompiledLibraries(bool) noexcept {}
bool CloseScriptEngine(double) noexcept { return true; }

TExtCall::TExtCall() { ++State().Live; }
TExtCall::~TExtCall() { --State().Live; }

void TExtCall::Prepare()
{
    State().Journal.push_back("Prepare " + ProcName);
    CallData.Clear();
    FPrepared = true;
}

void TExtCall::Execute()
{
    State().Journal.push_back("Execute " + ProcName);
    if (!FPrepared)
        throw EExtCallError("executed without Prepare");
    FakeHost::TExecutedCall call{CallKind, LibraryPath, ProcName, {}};
    for (const auto& param : CallData.Params())
        call.Params.push_back(param->IsAssigned() ? std::optional<std::string>(param->GetAsString()) : std::nullopt);
    State().Calls.push_back(call);
    std::string answer = State().Handler ? State().Handler(call) : std::string();
    CallData.ResultParam.SetAsString(std::move(answer));
}

} // namespace WexelHost

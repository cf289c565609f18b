#pragma once
// The host platform as the runner sees it: login, closing the connections, external calls
// into compiled script libraries and the cached tables. This is the only host header the
// bridge includes; the host library implements it, and tests may link a fake instead.

#include "platform/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace WexelHost {

// Anything the platform raises. Reports print the class name, so each kind has its own.
class EHostError : public Sys::Exception {
public:
    WEXEL_CLASS(EHostError, Sys::Exception)
    using Sys::Exception::Exception;
};

class ELoginError : public EHostError {
public:
    WEXEL_CLASS(ELoginError, EHostError)
    using EHostError::EHostError;
};

class EExtCallError : public EHostError {
public:
    WEXEL_CLASS(EExtCallError, EHostError)
    using EHostError::EHostError;
};

// Raised by an external call that was stopped from outside: by StopScripts or by running
// past its TimeLimit. The message says how, without the call ("exceeded the time limit of
// 1 s", "was interrupted by SIGTERM"), so that the caller can say what it was running.
class EScriptStopped : public EExtCallError {
public:
    WEXEL_CLASS(EScriptStopped, EExtCallError)
    using EExtCallError::EExtCallError;
};

// Raised by an external call that the host gave up on: it did not return within 2 s of
// its stop ("could not be stopped within 2 s after exceeding the time limit of 1 s"), or
// it crashed (Signal: the fatal signal, "crashed with SIGSEGV"). Its scripts' state is
// dropped unused; the run must end, as at a stop signal.
class EScriptAbandoned : public EScriptStopped {
public:
    WEXEL_CLASS(EScriptAbandoned, EScriptStopped)
    EScriptAbandoned(const std::string& message, int signal) : EScriptStopped(message), Signal(signal) {}
    int Signal = 0;
};

// Logs in with the named configuration file; "default" is the built-in configuration.
// Returns once the login is in force, raises ELoginError otherwise.
void PerformLogin(const std::string& configFile);

class TApplicationManager {
public:
    // Ends the session that PerformLogin opened.
    void CloseConnections();
};
extern TApplicationManager* const BaseMng;

// One value passed to or returned from a script procedure.
class TOneCallParameter {
public:
    void SetAsString(std::string value)
    {
        FValue = std::move(value);
        FAssigned = true;
    }
    // Copies into the storage the parameter already has: a call object used again for
    // every test allocates nothing for its argument.
    void AssignString(std::string_view value)
    {
        FValue.assign(value);
        FAssigned = true;
    }
    const std::string& GetAsString() const { return FValue; }
    // Hands the value over, leaving the parameter empty: a large answer is not copied.
    std::string TakeString() { return std::move(FValue); }
    bool IsAssigned() const { return FAssigned; }

private:
    std::string FValue;
    bool FAssigned = false;
};

class TCallData {
public:
    // The argument slot at the index, created on first use; slots keep their address.
    TOneCallParameter& GetParam(int index);
    // The arguments in slot order; a slot never assigned passes no value.
    const std::vector<std::unique_ptr<TOneCallParameter>>& Params() const { return FParams; }
    void Clear();

    TOneCallParameter ResultParam;

private:
    std::vector<std::unique_ptr<TOneCallParameter>> FParams;
};

// One call of a procedure in a compiled script library. Use: set CallKind, LibraryPath and
// ProcName, Prepare, fill CallData, Execute, read CallData.ResultParam.
class TExtCall {
public:
    TExtCall();
    virtual ~TExtCall();
    TExtCall(const TExtCall&) = delete;
    TExtCall& operator=(const TExtCall&) = delete;

    std::uint8_t CallKind = 0;
    std::string LibraryPath;
    std::string ProcName;
    TCallData CallData;
    // Seconds the procedure may run before Execute stops it; 0 for no limit.
    double TimeLimit = 0;
    // Seconds each library that the procedure loads through host.run_library may take;
    // 0 for no limit.
    double LibraryTimeLimit = 0;

    // Checks the call's description and empties the call data; raises EExtCallError.
    void Prepare();
    // Runs the procedure; its answer lands in CallData.ResultParam. Raises EExtCallError.
    virtual void Execute();

protected:
    bool FPrepared = false;
};

// Kind 3: a procedure of a compiled script library.
inline constexpr std::uint8_t ScriptCallKind = 3;

// A cached table of the platform; Refresh reloads it from its source.
class THostTable {
public:
    explicit THostTable(std::string name) : FName(std::move(name)) {}
    const std::string& Name() const { return FName; }
    void Refresh();

private:
    std::string FName;
};

extern THostTable* const DSPTable;
extern THostTable* const LocalizatorTable;
extern THostTable* const LanguagesTable;

class TDSPContainer {
public:
    // The table of that name; the empty name gives the default table.
    THostTable* GetDSPTable(const std::string& name);
};
extern TDSPContainer* const DSPContainer;

class TLContainer {
public:
    THostTable* GetLocalizatorTable(const std::string& name);
    THostTable* GetLanguagesTable(const std::string& name);
};
extern TLContainer* const LContainer;

// Stops the script procedure running now at its next instruction, and every later one
// at its first, with EScriptStopped naming the cause (a text that is never freed, such as
// "SIGTERM"). Safe to call from a signal handler on the thread that runs the scripts, not
// from another thread. ResumeScripts lets calls run again.
void StopScripts(const char* cause) noexcept;
void ResumeScripts() noexcept;

// A window's chance to handle its events during a long test: while pulse is set, it is
// called about every intervalSeconds from inside the running script procedure, on the
// thread that set it, never from a signal handler or another thread; between procedures it
// is not called. It must not throw or call a script procedure; a stop it asks for
// (StopRunningScript) takes effect as it returns. nullptr removes it; without one nothing
// is timed at all.
using TScriptPulse = void (*)(void* context);
void SetScriptPulse(TScriptPulse pulse, void* context, double intervalSeconds);
// Stops the script procedure running now, if any, with EScriptStopped "was stopped";
// later calls run as usual. On the thread that runs the scripts, not in a signal handler.
void StopRunningScript() noexcept;

// Output capture for the reports: from BeginOutputCapture on, what scripts write to
// standard output is also kept (up to 1 MB, then a line saying how much was left out);
// EndOutputCapture ends the capture and answers the text.
void BeginOutputCapture() noexcept;
std::string EndOutputCapture();

// Drops every loaded script library, so that the next call loads it from its file again.
void ResetProcContainer();

// Whether libraries compiled from source are kept, so that loading an unchanged one into a
// later state is not compiling it again (on until said otherwise). Keeping costs time and
// memory per library; it pays only where the state is reset and the libraries loaded again.
void KeepCompiledLibraries(bool keep) noexcept;

// Closes the scripts' state, running their finalizers, within the time limit (0: none)
// and the stop signals. False when a finalizer could not be stopped (the state is then
// dropped unclosed); the next call starts a fresh state.
bool CloseScriptEngine(double timeLimit) noexcept;

// Line coverage of the script libraries: StartCoverage collects from now on for the report
// file (LCOV, or Cobertura XML for a name ending in ".xml"); FinishCoverage writes it and
// prints the summary on standard error. Both raise EHostError (a bad pattern in the
// environment, a file that cannot be written); FinishCoverage without a start does nothing.
void StartCoverage(const std::string& reportFile);
void FinishCoverage();

} // namespace WexelHost

namespace WexelHost {

inline TOneCallParameter& TCallData::GetParam(int index)
{
    // A bound keeps a stray index from turning into a huge allocation.
    constexpr int MaxParams = 255;
    if (index < 0 || index >= MaxParams)
        throw EExtCallError("Parameter index " + std::to_string(index) + " is out of range");
    while (FParams.size() <= static_cast<std::size_t>(index))
        FParams.push_back(std::make_unique<TOneCallParameter>());
    return *FParams[static_cast<std::size_t>(index)];
}

inline void TCallData::Clear()
{
    FParams.clear();
    ResultParam = TOneCallParameter();
}

} // namespace WexelHost

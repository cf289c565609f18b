#pragma once
// A host platform without Lua for bridge tests: it records every platform call and
// answers external calls through a handler the test installs.

#include "bridge/HostPlatform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace FakeHost {

// What an external call looked like when it was executed.
struct TExecutedCall {
    unsigned CallKind = 0;
    std::string LibraryPath;
    std::string ProcName;
    std::vector<std::optional<std::string>> Params; // nullopt: slot never assigned
};

// Answers a call or raises; the default answers "".
using THandler = std::function<std::string(const TExecutedCall&)>;

// Forgets everything recorded and installs the default handler.
void Reset();
void SetHandler(THandler handler);

const std::vector<TExecutedCall>& ExecutedCalls();
// Every platform call in order: "PerformLogin x", "CloseConnections", "Refresh <table>",
// "ResetProcContainer", "Prepare <proc>", "Execute <proc>".
const std::vector<std::string>& Journal();
// Call objects alive now.
int LiveCalls();

} // namespace FakeHost

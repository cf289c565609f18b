// The host's one hook: a line counter, the script's own hook and a stop from outside, all
// on the same threads at once.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "host/ProcContainer.h"
#include "host/ScriptHooks.h"

#include <gtest/gtest.h>

#include <lua.hpp>

#include <set>
#include <thread>

using namespace WexelHost;

namespace {

std::set<int> CountedLines;
int CountedEvents = 0;

void CountLine(lua_State*, lua_Debug* ar)
{
    ++CountedEvents;
    CountedLines.insert(ar->currentline);
}

class ScriptHooksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProcContainer();
        CountedLines.clear();
        CountedEvents = 0;
    }
    void TearDown() override
    {
        SetScriptPulse(nullptr, nullptr, 0);
        SetLineCounter(nullptr);
        ResumeScripts();
        ResetProcContainer();
    }

    std::string Call(const std::string& source, const std::string& proc, double timeLimit = 0)
    {
        const std::string path = Dir.File("Hooks.qlx");
        TestSupport::WriteFile(path, source);
        TExtCall call;
        call.CallKind = ScriptCallKind;
        call.LibraryPath = path;
        call.ProcName = proc;
        call.TimeLimit = timeLimit;
        call.Prepare();
        call.Execute();
        return call.CallData.ResultParam.GetAsString();
    }

    TestSupport::TTempDir Dir;
};

const std::string Library = "function Counted()\n"    // 1
                            "  local x = 1\n"          // 2
                            "  local co = coroutine.wrap(function()\n"
                            "    x = x + 1\n"          // 4
                            "  end)\n"
                            "  co()\n"                 // 6
                            "  return x\n"             // 7
                            "end\n"
                            "function OwnHook()\n"
                            "  lines = 0\n"
                            "  debug.sethook(function(event) lines = lines + 1 end, 'l')\n"
                            "  local f, mask, count = debug.gethook()\n"
                            "  return mask .. count .. tostring(f ~= nil)\n"
                            "end\n"
                            "function Lines() return lines end\n"
                            "function Loops() while true do end end\n"
                            "function Unhooks() debug.sethook() return tostring(debug.gethook()) end\n";

} // namespace

TEST_F(ScriptHooksTest, TheLineCounterSeesEveryThreadBesideTheScriptsOwnHook)
{
    SetLineCounter(CountLine);
    EXPECT_EQ(Call(Library, "Counted"), "2");
    EXPECT_TRUE(CountedLines.count(2) && CountedLines.count(4) && CountedLines.count(7))
        << "lines of the call and of its coroutine";

    // The script sets its own line hook: both are served, and the script sees only its own.
    EXPECT_EQ(Call(Library, "OwnHook"), "l0true");
    const int before = CountedEvents;
    Call(Library, "Counted");
    EXPECT_GT(CountedEvents, before);
    EXPECT_GT(std::stoi(Call(Library, "Lines")), 0);

    // Removing its own hook leaves the counter in place.
    EXPECT_EQ(Call(Library, "Unhooks"), "nil");
    const int afterUnhook = CountedEvents;
    Call(Library, "Counted");
    EXPECT_GT(CountedEvents, afterUnhook);
}

TEST_F(ScriptHooksTest, AStoppedCallGivesTheScriptItsOwnHookBack)
{
    Call(Library, "OwnHook");
    EXPECT_THROW(Call(Library, "Loops", 0.2), EScriptStopped);
    const int before = std::stoi(Call(Library, "Lines"));
    Call(Library, "Counted");
    EXPECT_GT(std::stoi(Call(Library, "Lines")), before) << "the script's hook still counts after the stop";

    StopScripts("SIGTERM");
    try {
        Call(Library, "Counted");
        FAIL() << "a pending stop ends every call";
    } catch (const EScriptStopped& e) {
        EXPECT_STREQ(e.what(), "was interrupted by SIGTERM");
    }
}

TEST_F(ScriptHooksTest, CommandsAnswerAsLuasOwnFunctions)
{
    const std::string library =
        "function Run()\n"
        "  local results = {}\n"
        "  local function add(...)\n"
        "    for i = 1, select('#', ...) do results[#results + 1] = tostring((select(i, ...))) end\n"
        "  end\n"
        "  add(os.execute())\n"
        "  add(os.execute('exit 3'))\n"
        "  add(os.execute('kill -TERM $$'))\n"
        "  local f = io.popen('echo hi; exit 2')\n"
        "  add(f:read('l'))\n"
        "  add(f:close())\n"
        "  local w = io.popen('cat > /dev/null', 'w')\n"
        "  add(w:write('x') == w)\n"
        "  add(w:close())\n"
        "  add(pcall(io.popen, 'true', 'rw'))\n"
        "  return table.concat(results, ' ')\n"
        "end\n";
    EXPECT_EQ(Call(library, "Run"), "true nil exit 3 nil signal 15 hi nil exit 2 true true exit 0 false "
                                    "bad argument #2 to 'io.popen' (invalid mode)");
}

namespace {

struct TPulseProbe {
    int Calls = 0;
    int StopAt = 0; // stops the running script at this call; 0: never
    bool OtherThread = false;
    std::thread::id Thread = std::this_thread::get_id();
};

void Pulse(void* context)
{
    auto& probe = *static_cast<TPulseProbe*>(context);
    ++probe.Calls;
    probe.OtherThread |= std::this_thread::get_id() != probe.Thread;
    if (probe.Calls == probe.StopAt)
        StopRunningScript();
}

const std::string Spins = "function Spin(seconds)\n"
                          "  local t = os.clock()\n"
                          "  local co = coroutine.wrap(function() while os.clock() - t < seconds do end end)\n"
                          "  co()\n"
                          "  return 'done'\n"
                          "end\n"
                          "function Spin02() return Spin(0.2) end\n"
                          "function SpinLong() return Spin(30) end\n"
                          "function Caught()\n"
                          "  local ok = pcall(Spin, 30)\n"
                          "  while true do end\n"
                          "end\n";

} // namespace

// The window's pulse comes on the script's own thread, also inside a coroutine; a stop it
// asks for ends that call alone, also one that catches errors, and the next call runs.
TEST_F(ScriptHooksTest, APulseComesFromInsideTheCallAndCanStopIt)
{
    TPulseProbe probe;
    SetScriptPulse(Pulse, &probe, 0.02);
    EXPECT_EQ("done", Call(Spins, "Spin02"));
    EXPECT_GE(probe.Calls, 3);
    EXPECT_FALSE(probe.OtherThread);

    for (const char* proc : {"SpinLong", "Caught"}) {
        probe = TPulseProbe{};
        probe.StopAt = 2;
        try {
            Call(Spins, proc);
            ADD_FAILURE() << proc << " was not stopped";
        } catch (const EScriptStopped& e) {
            EXPECT_EQ("was stopped", e.Message()) << proc;
        }
        EXPECT_EQ(2, probe.Calls) << proc;
    }
    EXPECT_EQ("done", Call(Spins, "Spin02"));

    // Removed, it is not called, and a stop between calls stops nothing.
    SetScriptPulse(nullptr, nullptr, 0);
    probe = TPulseProbe{};
    StopRunningScript();
    EXPECT_EQ("done", Call(Spins, "Spin02"));
    EXPECT_EQ(0, probe.Calls);
}

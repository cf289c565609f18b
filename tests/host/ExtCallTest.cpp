// External calls of kind 3 into Lua libraries: answers, failures with their messages, the
// state after a failure, and the procedure container's cache.

#include "HostProcess.h"

#include "bridge/HostPlatform.h"
#include "host/HostJournal.h"
#include "host/HostLayout.h"
#include "host/ProcContainer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace WexelHost;
using TestSupport::WriteFile;

namespace {

class ExtCallTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProcContainer(); }
    void TearDown() override
    {
        StopJournal();
        ResetProcContainer();
    }

    std::string Library(const std::string& name, const std::string& source)
    {
        std::string path = Dir.File(name);
        WriteFile(path, source);
        return path;
    }

    static std::string Call(const std::string& library, const std::string& proc,
                            std::vector<std::optional<std::string>> args = {})
    {
        TExtCall call;
        call.CallKind = ScriptCallKind;
        call.LibraryPath = library;
        call.ProcName = proc;
        call.Prepare();
        for (std::size_t i = 0; i < args.size(); ++i) {
            TOneCallParameter& param = call.CallData.GetParam(static_cast<int>(i));
            if (args[i])
                param.SetAsString(*args[i]);
        }
        call.Execute();
        return call.CallData.ResultParam.GetAsString();
    }

    // The message of the EExtCallError the call raises; fails the test if none.
    static std::string Failure(const std::string& library, const std::string& proc)
    {
        try {
            Call(library, proc);
        } catch (const EExtCallError& e) {
            return e.Message();
        }
        ADD_FAILURE() << "no EExtCallError from " << proc;
        return {};
    }

    // What a call whose answer of lines holds a value of the type named fails with.
    static std::string BadLines(const std::string& library, const std::string& proc, const std::string& type)
    {
        return "Call of " + proc + " in " + library + " failed: the procedure answered lines holding a " + type +
               " instead of a string";
    }

    TestSupport::TTempDir Dir;
};

} // namespace

TEST_F(ExtCallTest, HandsBackAnswersAsText)
{
    auto lib = Library("Answers.qlx",
                       "function Text(s) return 'got ' .. s end\n"
                       "function Int() return 42 end\n"
                       "function Float() return 2.5 end\n"
                       "function Nil() return nil end\n"
                       "function Nothing() end\n"
                       "function Count(...) return select('#', ...) end\n"
                       "function Types(...) local t = {} for i = 1, select('#', ...) do\n"
                       "  t[#t + 1] = type((select(i, ...))) end return table.concat(t, ',') end\n"
                       "function Bytes(s) return s .. '\\0' end\n");
    EXPECT_EQ(Call(lib, "Text", {"x y"}), "got x y");
    EXPECT_EQ(Call(lib, "Int"), "42");
    EXPECT_EQ(Call(lib, "Float"), "2.5");
    EXPECT_EQ(Call(lib, "Nil"), "");
    EXPECT_EQ(Call(lib, "Nothing"), "");
    EXPECT_EQ(Call(lib, "Count"), "0");
    EXPECT_EQ(Call(lib, "Count", {""}), "1");
    EXPECT_EQ(Call(lib, "Types", {std::nullopt, "b"}), "nil,string");
    EXPECT_EQ(Call(lib, "Bytes", {std::string("a\0b", 3)}), std::string("a\0b\0", 4));
}

// Lines marked by host.lines are joined by the host, one line feed between two lines,
// lists of lines taken in place; anything else among them fails the call.
TEST_F(ExtCallTest, AnAnswerOfLinesIsJoinedByTheHost)
{
    auto lib = Library("Lines.qlx",
                       "function Mixed() return host.lines({'a', {'b', 'c'}, {}, {'d'}, ''}) end\n"
                       "function None() return host.lines({}) end\n"
                       "function Blank() return host.lines({{''}}) end\n"
                       "function Kept() local run = {'x', 'y', suite = {}} return host.lines({run, run}) end\n"
                       "function BadLine() return host.lines({'a', {'b', 7}}) end\n"
                       "function BadItem() return host.lines({'a', true}) end\n"
                       "function Rows() return host.lines({'head', host.rows({'p', 'q'}, '\\t', {3, -40}),\n"
                       "  host.rows('x', {'1', '2'}, '.'), host.rows({}, '-')}) end\n"
                       "function BadRow() return host.lines({host.rows({'p', 'q'}, {1.5, 2})}) end\n"
                       "function ShortColumn() return host.lines({host.rows({'p', 'q'}, '=', {1})}) end\n"
                       "function NotRows() return host.lines({host.rows(true)}) end\n"
                       "function NotLines() return host.lines('a') end\n");
    EXPECT_EQ(Call(lib, "Mixed"), "a\nb\nc\nd\n");
    EXPECT_EQ(Call(lib, "None"), "");
    EXPECT_EQ(Call(lib, "Blank"), "");
    EXPECT_EQ(Call(lib, "Kept"), "x\ny\nx\ny");
    EXPECT_EQ(Failure(lib, "BadLine"), BadLines(lib, "BadLine", "number"));
    EXPECT_EQ(Failure(lib, "BadItem"), BadLines(lib, "BadItem", "boolean"));
    // Rows: one per entry of the first list, its columns joined, integers in decimal.
    EXPECT_EQ(Call(lib, "Rows"), "head\np\t3\nq\t-40\nx1.\nx2.");
    EXPECT_EQ(Failure(lib, "BadRow"), BadLines(lib, "BadRow", "number"));
    EXPECT_EQ(Failure(lib, "ShortColumn"), BadLines(lib, "ShortColumn", "nil"));
    EXPECT_EQ(Failure(lib, "NotRows"), "Call of NotRows in " + lib +
                                           " failed: Lines.qlx:11: bad argument #1 to 'rows' (string or table expected, got boolean)");
    EXPECT_EQ(Failure(lib, "NotLines"), "Call of NotLines in " + lib +
                                            " failed: Lines.qlx:12: bad argument #1 to 'lines' (table expected, got string)");
}

// The size a script gives with its lines is only a hint: too small, too large, absurd or
// given for another table, the answer is the same, and a bad line still fails the call.
TEST_F(ExtCallTest, TheSizeGivenWithLinesChangesNothingButTheWork)
{
    auto lib = Library("Sized.qlx", "function Exact() return host.lines({'ab', {'c', 'de'}}, 9) end\n"
                                    "function Small() return host.lines({'ab', {'c', 'de'}}, 1) end\n"
                                    "function Huge() return host.lines({'ab', {'c', 'de'}}, math.maxinteger) end\n"
                                    "function Odd() return host.lines({'ab', {'c', 'de'}}, -4) end\n"
                                    "function Other() host.lines({}, 3) return host.lines({'x', 'y'}) end\n"
                                    "function Bad() return host.lines({'a', {'b', 7}}, 5) end\n"
                                    "function BadItem() return host.lines({'a', true}, 99) end\n"
                                    "function Rows() return host.lines({host.rows({'p'}, '=', {1})}, 4) end\n");
    for (const char* proc : {"Exact", "Small", "Huge", "Odd"})
        EXPECT_EQ(Call(lib, proc), "ab\nc\nde") << proc;
    EXPECT_EQ(Call(lib, "Other"), "x\ny");
    EXPECT_EQ(Call(lib, "Rows"), "p=1");
    EXPECT_EQ(Failure(lib, "Bad"), BadLines(lib, "Bad", "number"));
    EXPECT_EQ(Failure(lib, "BadItem"), BadLines(lib, "BadItem", "boolean"));
    // The state is still sound for the next call.
    EXPECT_EQ(Call(lib, "Exact"), "ab\nc\nde");
}

TEST_F(ExtCallTest, EveryFailureNamesLibraryProcedureAndCause)
{
    auto lib = Library("Faulty.qlx",
                       "Value = 5\n"
                       "function Boom() error('boom') end\n"
                       "function Index() local t; return t.x end\n"
                       "function Table() return {} end\n"
                       "function Bool() return true end\n"
                       "function Object() error(setmetatable({}, {__tostring = function() return 'custom' end})) end\n"
                       "function Plain() error({}) end\n"
                       "function Deep() return Deep() + 1 end\n");
    EXPECT_EQ(Failure(lib, "Boom"), "Call of Boom in " + lib + " failed: Faulty.qlx:2: boom");
    EXPECT_EQ(Failure(lib, "Index"),
              "Call of Index in " + lib + " failed: Faulty.qlx:3: attempt to index a nil value (local 't')");
    EXPECT_EQ(Failure(lib, "Table"), "Call of Table in " + lib + " failed: the procedure answered a table instead of a string");
    EXPECT_EQ(Failure(lib, "Bool"), "Call of Bool in " + lib + " failed: the procedure answered a boolean instead of a string");
    EXPECT_EQ(Failure(lib, "Object"), "Call of Object in " + lib + " failed: custom");
    EXPECT_EQ(Failure(lib, "Plain"), "Call of Plain in " + lib + " failed: (error object is a table value)");
    EXPECT_NE(Failure(lib, "Deep").find("stack overflow"), std::string::npos);
    EXPECT_EQ(Failure(lib, "Missing"), "Call of Missing in " + lib + " failed: the library has no procedure Missing");
    EXPECT_EQ(Failure(lib, "Value"), "Call of Value in " + lib + " failed: Value is a number, not a procedure");
    // The shared globals behind a library are not its procedures.
    EXPECT_EQ(Failure(lib, "print"), "Call of print in " + lib + " failed: the library has no procedure print");

    EXPECT_EQ(Failure(Dir.File("None.qlx"), "Run"),
              "Call of Run in " + Dir.File("None.qlx") + " failed: the library does not exist");
    EXPECT_EQ(Failure(Dir.Path(), "Run"), "Call of Run in " + Dir.Path() + " failed: the library is a directory");
    auto bad = Library("Bad.qlx", "function Run()\n  return 'x' +\nend\n");
    EXPECT_EQ(Failure(bad, "Run"),
              "Call of Run in " + bad + " failed: the library does not compile: Bad.qlx:3: unexpected symbol near 'end'");
    auto garbage = Library("Garbage.qlx", std::string("\x1bLua\x54\x00garbage", 13));
    EXPECT_NE(Failure(garbage, "Run").find("the library does not compile: Garbage.qlx: "), std::string::npos);
}

TEST_F(ExtCallTest, StateStaysUsableAfterEveryKindOfFailure)
{
    auto lib = Library("Counter.qlx",
                       "local n = 0\n"
                       "function Next() n = n + 1; return n end\n"
                       "function Boom() n = n + 100; error('boom') end\n"
                       "function Table() return {} end\n");
    EXPECT_EQ(Call(lib, "Next"), "1");
    // Enough rounds that a value left on the stack per failure would overrun it.
    for (int i = 0; i < 50; ++i) {
        EXPECT_THROW(Call(lib, "Boom"), EExtCallError);
        EXPECT_THROW(Call(lib, "Table"), EExtCallError);
        EXPECT_THROW(Call(lib, "Missing"), EExtCallError);
        EXPECT_THROW(Call(Dir.File("None.qlx"), "Run"), EExtCallError);
    }
    // What the failing procedure changed before it raised is kept, like any script state.
    EXPECT_EQ(Call(lib, "Next"), "5002");
}

TEST_F(ExtCallTest, KeepsLibrariesLoadedUntilTheContainerIsReset)
{
    auto lib = Library("Cached.qlx", "local n = 0\nfunction Next() n = n + 1; return n end\n");
    EXPECT_EQ(Call(lib, "Next"), "1");
    WriteFile(lib, "function Next() return 'edited' end\n");
    EXPECT_EQ(Call(lib, "Next"), "2");
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Next"), "edited");
}

// The compiled form outlives a reset while the file is the same; the file is told apart
// by its size, modification time and inode, not by its bytes.
TEST_F(ExtCallTest, AnUnchangedLibraryIsNotCompiledAgainAfterAReset)
{
    auto lib = Library("Kept.qlx", "function Run() return 'one' end\n");
    EXPECT_EQ(Call(lib, "Run"), "one");
    struct stat before {};
    ASSERT_EQ(::stat(lib.c_str(), &before), 0);
    // Same size, same inode, the old modification time put back: taken for unchanged.
    std::FILE* f = std::fopen(lib.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fputs("function Run() return 'two' end\n", f);
    std::fclose(f);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, lib.c_str(), times, 0), 0);
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Run"), "one") << "executed again from the kept chunk";

    const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, lib.c_str(), later, 0), 0);
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Run"), "two");
    // A fresh state still runs the main chunk afresh: its globals start over.
    auto counter = Library("Counter.qlx", "local n = 0\nfunction Next() n = n + 1; return n end\n");
    EXPECT_EQ(Call(counter, "Next"), "1");
    ResetProcContainer();
    EXPECT_EQ(Call(counter, "Next"), "1");
}

// Where nothing loads the libraries again, nothing is kept: a reset then compiles even a
// library that looks unchanged.
TEST_F(ExtCallTest, NothingIsKeptWhenKeepingIsOff)
{
    struct TKeepAgain {
        ~TKeepAgain() { KeepCompiledLibraries(true); }
    } keepAgain;
    KeepCompiledLibraries(false);
    auto lib = Library("Fresh.qlx", "function Run() return 'one' end\n");
    EXPECT_EQ(Call(lib, "Run"), "one");
    struct stat before {};
    ASSERT_EQ(::stat(lib.c_str(), &before), 0);
    std::FILE* f = std::fopen(lib.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fputs("function Run() return 'two' end\n", f);
    std::fclose(f);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, lib.c_str(), times, 0), 0);
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Run"), "two");
}

// Libraries are read in blocks: source and compiled ones larger than a block load whole,
// and a file that opens but cannot be read says so.
TEST_F(ExtCallTest, LibrariesLargerThanAReadLoadWhole)
{
    std::string big = "local parts = {}\n";
    for (int i = 0; i < 4000; ++i)
        big += "parts[#parts + 1] = '" + std::string(60, static_cast<char>('a' + i % 26)) + "'\n";
    big += "function Run() return #parts .. ':' .. parts[4000]:sub(1, 3) end\n";
    ASSERT_GT(big.size(), 3u * 64 * 1024);
    auto source = Library("Big.qlx", big);
    EXPECT_EQ(Call(source, "Run"), "4000:vvv");
    auto maker = Library("Maker.qlx", "function Make(from, to)\n"
                                      "  local f = assert(io.open(from, 'rb')); local text = f:read('a'); f:close()\n"
                                      "  local out = assert(io.open(to, 'wb')); out:write(string.dump(assert(load(text))))\n"
                                      "  out:close(); return 'made'\n"
                                      "end\n"
                                      "function Read(path) local chunk, err = host.loadfile(path); return chunk and 'chunk' or err end\n");
    const std::string compiled = Dir.File("BigCompiled.qlx");
    ASSERT_EQ(Call(maker, "Make", {source, compiled}), "made");
    EXPECT_EQ(Call(compiled, "Run"), "4000:vvv");
    EXPECT_EQ(Call(maker, "Read", {compiled}), "chunk");
    EXPECT_EQ(Call(maker, "Read", {Dir.Path()}), "cannot read " + Dir.Path());
}

TEST_F(ExtCallTest, ScriptsLoadFilesThroughTheKeptChunks)
{
    auto helper = Library("Helper.lua", "x = (x or 0) + 1\nreturn Base .. x\n");
    auto broken = Library("Broken.lua", "return +\n");
    auto lib = Library("Loader.qlx",
                       "function Run(path)\n"
                       "  local env = { Base = 'b' }\n"
                       "  local chunk, err = host.loadfile(path, nil, env)\n"
                       "  if not chunk then return 'nil: ' .. err end\n"
                       "  return chunk() .. chunk() .. tostring(x)\n"
                       "end\n");
    EXPECT_EQ(Call(lib, "Run", {helper}), "b1b2nil");
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Run", {helper}), "b1b2nil");
    const std::string syntax = Call(lib, "Run", {broken});
    EXPECT_EQ(syntax.rfind("nil: ", 0), 0u) << syntax;
    EXPECT_NE(syntax.find("Broken.lua:1:"), std::string::npos) << syntax;
    EXPECT_NE(Call(lib, "Run", {Dir.File("none.lua")}).find("nil: cannot open "), std::string::npos);
}

TEST_F(ExtCallTest, WhatAScriptRemembersOutlivesAReset)
{
    auto lib = Library("Memo.qlx", "function Keep(v) host.remember('memo', v) end\n"
                                   "function Get() return host.recall('memo') or 'nothing' end\n"
                                   "function BadKey() host.remember(1, 'x') end\n");
    EXPECT_EQ(Call(lib, "Get"), "nothing");
    Call(lib, "Keep", {"kept"});
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Get"), "kept");
    Call(lib, "Keep", {std::nullopt});
    EXPECT_EQ(Call(lib, "Get"), "nothing") << "nil forgets";
    EXPECT_NE(Failure(lib, "BadKey").find("host.remember expects a string, got number"), std::string::npos);
}

TEST_F(ExtCallTest, LibraryThatFailsToLoadIsTriedAgainNextTime)
{
    auto lib = Library("Later.qlx", "error('not yet')\nfunction Run() return 'ran' end\n");
    EXPECT_EQ(Failure(lib, "Run"),
              "Call of Run in " + lib + " failed: loading the library raised an error: Later.qlx:1: not yet");
    WriteFile(lib, "function Run() return 'ran' end\n");
    EXPECT_EQ(Call(lib, "Run"), "ran");
}

// Each call looks its procedure up anew, whichever names came before it and whatever the
// library did to its globals, also in the new state after a reset.
TEST_F(ExtCallTest, EachCallFindsTheProcedureTheLibraryHoldsNow)
{
    auto lib = Library("Swaps.qlx", "function First() return 'first' end\n"
                                    "function Second() First = function() return 'replaced' end return 'second' end\n");
    EXPECT_EQ(Call(lib, "First"), "first");
    EXPECT_EQ(Call(lib, "Second"), "second");
    EXPECT_EQ(Call(lib, "First"), "replaced");
    EXPECT_NE(Failure(lib, "Third").find("the library has no procedure Third"), std::string::npos);
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "Second"), "second");
    EXPECT_EQ(Call(lib, "First"), "replaced");
    ResetProcContainer();
    EXPECT_EQ(Call(lib, "First"), "first");
}

// A procedure may hand back, beside its answer, lists of the strings it expects later
// calls to pass. Whatever order the calls then take (the expected one, one that skips
// some, goes back, repeats from the start, passes strings that only begin like a hint, or
// goes on long enough in another order that the hints are given up), each argument
// arrives exactly as given, and a new list of hints replaces the old.
TEST_F(ExtCallTest, ArgumentsArriveAsGivenWhateverHintsTheLibraryGave)
{
    auto lib = Library("Hints.qlx", "function List(s) return 'listed', {{s .. '/1', s .. '/2'}, {}, {s .. '/3'}, {'b/1'}} end\n"
                                    "function Echo(s) return '[' .. s .. ']' end\n");
    auto echoes = [&](const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments)
            EXPECT_EQ(Call(lib, "Echo", {argument}), "[" + argument + "]");
    };
    EXPECT_EQ(Call(lib, "List", {std::string("a")}), "listed");
    echoes({"a/1", "a/2", "a/3", "b/1", "a/1", "a/3", "a/", "a/11", "b/1", "a/1", "x", "a/2", "", std::string("a/3\0z", 5)});
    std::vector<std::string> others;
    for (int i = 0; i < 80; ++i)
        others.push_back("c/" + std::to_string(i));
    echoes(others);
    echoes({"a/1", "a/2"});
    EXPECT_EQ(Call(lib, "List", {std::string("d")}), "listed");
    echoes({"d/1", "a/2", "d/2", "d/3", "b/1", "d/1"});
}

// A call whose arguments are all hints (or nil) takes a shorter way into the library; its
// answers, failures and new hints must come out as those of any other call.
TEST_F(ExtCallTest, CallsWithHintedArgumentsAnswerAndFailAsAnyOther)
{
    auto lib = Library("Hinted.qlx",
                       "local list = {{'p/1', 'p/2', 'p/3', 'p/4', 'p/5', 'p/6', 'p/7', 'p/8', 'p/9'}}\n"
                       "function List() return 'listed', list end\n"
                       "function Text(s, t) return s .. (t or '-') end\n"
                       "function Int(s) return #s end\n"
                       "function Nil(s) end\n"
                       "function Lines(s) return host.lines({s, {s}}) end\n"
                       "function Bool(s) return true end\n"
                       "function Boom(s) error('boom ' .. s) end\n"
                       "function Again(s) return 'again', {{'q/1', s}} end\n"
                       "Value = 1\n"
                       "function Up(s) error('up ' .. s, 2) end\n");
    // Each procedure is named once before, so that the state knows its name.
    for (const char* proc : {"Text", "Int", "Nil", "Lines", "Bool", "Boom", "Up", "Again"}) {
        try {
            Call(lib, proc, {std::string("x")});
        } catch (const EExtCallError&) {
        }
    }
    EXPECT_EQ(Call(lib, "List"), "listed");
    EXPECT_EQ(Call(lib, "Text", {std::string("p/1"), std::nullopt}), "p/1-");
    EXPECT_EQ(Call(lib, "Text", {std::string("p/2"), std::string("p/3")}), "p/2p/3");
    EXPECT_EQ(Call(lib, "Int", {std::string("p/4")}), "3");
    EXPECT_EQ(Call(lib, "Nil", {std::string("p/5")}), "");
    EXPECT_EQ(Call(lib, "Lines", {std::string("p/6")}), "p/6\np/6");
    try {
        Call(lib, "Bool", {std::string("p/7")});
        ADD_FAILURE() << "no failure from Bool";
    } catch (const EExtCallError& e) {
        EXPECT_EQ(e.Message(), "Call of Bool in " + lib + " failed: the procedure answered a boolean instead of a string");
    }
    try {
        Call(lib, "Boom", {std::string("p/8")});
        ADD_FAILURE() << "no failure from Boom";
    } catch (const EExtCallError& e) {
        EXPECT_EQ(e.Message(), "Call of Boom in " + lib + " failed: Hinted.qlx:8: boom p/8");
    }
    // An error said at the caller's level has no position: the host called the procedure.
    try {
        Call(lib, "Up", {std::string("p/9")});
        ADD_FAILURE() << "no failure from Up";
    } catch (const EExtCallError& e) {
        EXPECT_EQ(e.Message(), "Call of Up in " + lib + " failed: up p/9");
    }
    try {
        Call(lib, "Value", {std::string("p/9")});
        ADD_FAILURE() << "no failure from Value";
    } catch (const EExtCallError& e) {
        EXPECT_EQ(e.Message(), "Call of Value in " + lib + " failed: Value is a number, not a procedure");
    }
    // New hints handed back by a hinted call replace the old ones.
    EXPECT_EQ(Call(lib, "Again", {std::string("p/1")}), "again");
    EXPECT_EQ(Call(lib, "Text", {std::string("q/1")}), "q/1-");
    EXPECT_EQ(Call(lib, "Text", {std::string("p/1")}), "p/1-");
    EXPECT_EQ(Call(lib, "Text", {std::string("p/2")}), "p/2-");
}

TEST_F(ExtCallTest, LibrariesHaveTheirOwnGlobals)
{
    auto a = Library("A.qlx", "Name = 'a'\nfunction Get() return Name end\n");
    auto b = Library("B.qlx", "Name = 'b'\nfunction Get() return Name end\n");
    EXPECT_EQ(Call(a, "Get"), "a");
    EXPECT_EQ(Call(b, "Get"), "b");
    EXPECT_EQ(Call(a, "Get"), "a");
}

TEST_F(ExtCallTest, LoadsCompiledLibraries)
{
    auto source = Library("Compiled.lua", "function Run(s) return s:upper() end\n");
    std::string compiled = Dir.File("Compiled.qlx");
    std::string command = std::string(WEXEL_LUAC) + " -s -o '" + compiled + "' '" + source + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(Call(compiled, "Run", {"abc"}), "ABC");
}

TEST_F(ExtCallTest, ScriptsReachOtherLibrariesThroughTheHost)
{
    auto lib = Library("User.qlx",
                       "function Cents() return host.load('Money').Format(1.005 + 1) end\n"
                       "function Missing() return host.load('NoSuchHelper') end\n"
                       "function BadArg() return host.load(42) end\n"
                       "function Dirs() return host.user_dir .. '|' .. host.system_dir end\n"
                       "function Path() return package.path end\n"
                       "function List(mask) return table.concat(host.libraries(mask), ',') end\n");
    EXPECT_EQ(Call(lib, "Cents"), "2.00");
    EXPECT_EQ(Call(lib, "Dirs"), UserDir() + "|" + SystemDir());
    EXPECT_NE(Call(lib, "Path").find(SystemDir() + "/?.qlx;"), std::string::npos);
    EXPECT_EQ(Call(lib, "List", {Dir.Path() + "/U*.qlx"}), lib);

    std::string missing = Failure(lib, "Missing");
    EXPECT_NE(missing.find("host.load: no library NoSuchHelper in " + SystemDir()), std::string::npos) << missing;
    EXPECT_NE(Failure(lib, "BadArg").find("host.load expects a string, got number"), std::string::npos);
    EXPECT_NE(Call(lib, "List", {"*.qlx"}).find("/Wexel.qlx"), std::string::npos);
    EXPECT_NE(Failure(lib, "List").find("host.libraries expects a string, got nil"), std::string::npos);
}

TEST_F(ExtCallTest, LibraryThatLoadsItselfFailsInsteadOfRecursing)
{
    std::string lib = Dir.File("Loop.qlx");
    WriteFile(lib, "host.load('" + lib + "')\nfunction Run() end\n");
    std::string message = Failure(lib, "Run");
    EXPECT_NE(message.find("the library is loaded again while it is being loaded"), std::string::npos) << message;
}

TEST_F(ExtCallTest, CallDescriptionIsCheckedBeforeAnythingRuns)
{
    TExtCall call;
    call.LibraryPath = "x.qlx";
    call.ProcName = "Run";
    call.CallKind = 2;
    EXPECT_THROW(call.Prepare(), EExtCallError);
    EXPECT_THROW(call.Execute(), EExtCallError);
    call.CallKind = ScriptCallKind;
    call.ProcName = "";
    EXPECT_THROW(call.Prepare(), EExtCallError);
    EXPECT_THROW(call.CallData.GetParam(-1), EExtCallError);
    EXPECT_THROW(call.CallData.GetParam(100000), EExtCallError);
}

TEST_F(ExtCallTest, JournalRecordsCallsOnlyWhileStarted)
{
    auto lib = Library("J.qlx", "function Run(s) return s end\n");
    Call(lib, "Run", {"before"});
    EXPECT_TRUE(JournalEntries().empty());
    StartJournal();
    Call(lib, "Run", {"x"});
    Call(lib, "Run");
    ResetProcContainer();
    EXPECT_EQ(JournalEntries(),
              (std::vector<std::string>{"ExtCall " + lib + " Run x", "ExtCall " + lib + " Run", "ResetProcContainer"}));
    StopJournal();
    Call(lib, "Run", {"after"});
    EXPECT_TRUE(JournalEntries().empty());
}

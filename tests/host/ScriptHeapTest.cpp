// The memory of a script state: blocks that move between size classes, and between the
// chunks and the C library, keep their bytes, and no two live blocks overlap.

#include "HostProcess.h"

#include "host/ScriptHeap.h"

#include <gtest/gtest.h>
#include <lua.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <vector>

using WexelHost::TScriptHeap;

namespace {

struct TBlock {
    void* At = nullptr;
    std::size_t Size = 0;
    unsigned char Mark = 0;
};

void Fill(const TBlock& block) { std::memset(block.At, block.Mark, block.Size); }

bool Holds(const TBlock& block, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(block.At);
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] != block.Mark)
            return false;
    return true;
}

} // namespace

TEST(ScriptHeap, BlocksKeepTheirBytesWhateverSizesTheyPassThrough)
{
    TScriptHeap heap;
    // Sizes within one class, across classes, and across the small limit both ways.
    const std::vector<std::vector<std::size_t>> journeys = {
        {1, 16, 17, 250, 256, 257, 4000, 300, 200, 8, 1},
        {24, 24, 40, 1000, 100000, 33, 3},
        {5000, 5001, 256, 255, 512, 16},
    };
    std::vector<TBlock> live;
    unsigned char mark = 1;
    // Many travellers at once, so that freed blocks are reused while others hold theirs.
    for (int round = 0; round < 200; ++round) {
        for (const auto& sizes : journeys) {
            TBlock block{TScriptHeap::Allocate(&heap, nullptr, LUA_TSTRING, sizes[0]), sizes[0], mark++};
            ASSERT_NE(block.At, nullptr);
            Fill(block);
            for (std::size_t i = 1; i < sizes.size(); ++i) {
                block.At = TScriptHeap::Allocate(&heap, block.At, block.Size, sizes[i]);
                ASSERT_NE(block.At, nullptr);
                ASSERT_TRUE(Holds(block, std::min(block.Size, sizes[i]))) << round << ": " << block.Size << " to "
                                                                          << sizes[i];
                block.Size = sizes[i];
                Fill(block);
            }
            live.push_back(block);
        }
        // Every other block goes, so that the next round reuses what they leave.
        for (std::size_t i = 0; i < live.size(); i += 2) {
            ASSERT_TRUE(Holds(live[i], live[i].Size));
            EXPECT_EQ(TScriptHeap::Allocate(&heap, live[i].At, live[i].Size, 0), nullptr);
        }
        std::erase_if(live, [i = std::size_t(0)](const TBlock&) mutable { return i++ % 2 == 0; });
    }
    for (const TBlock& block : live) {
        ASSERT_TRUE(Holds(block, block.Size));
        TScriptHeap::Allocate(&heap, block.At, block.Size, 0);
    }
    EXPECT_GT(heap.ChunkBytes(), 0u);
}

// Chunks grow with the heap, so that a large state is made of few of them, but never far
// beyond what it holds.
TEST(ScriptHeap, ChunksGrowWithWhatTheHeapHolds)
{
    TScriptHeap heap;
    std::vector<void*> blocks;
    std::size_t held = 0;
    while (held < 40 * 1024 * 1024) {
        blocks.push_back(TScriptHeap::Allocate(&heap, nullptr, LUA_TTABLE, 64));
        held += 64;
    }
    EXPECT_GE(heap.ChunkBytes(), held);
    EXPECT_LE(heap.ChunkBytes(), held + 8 * 1024 * 1024);
    for (void* block : blocks)
        TScriptHeap::Allocate(&heap, block, 64, 0);
    // Freed blocks are used again before a new chunk is taken.
    const std::size_t before = heap.ChunkBytes();
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = TScriptHeap::Allocate(&heap, nullptr, LUA_TTABLE, 64);
    EXPECT_EQ(heap.ChunkBytes(), before);
    for (void* block : blocks)
        TScriptHeap::Allocate(&heap, block, 64, 0);
}

TEST(ScriptHeap, AStateRunsClosesAndRunsItsFinalizersOnIt)
{
    lua_State* L = TScriptHeap::NewState();
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    // Tables and strings that grow past the small blocks and shrink again, garbage
    // collected on the way, and a finalizer that must still run at the close.
    const char* script =
        "local t = {}\n"
        "for i = 1, 20000 do t[i] = string.rep('x', i % 600) .. i end\n"
        "for i = 1, 20000, 2 do t[i] = nil end\n"
        "collectgarbage()\n"
        "local sum = 0\n"
        "for i = 2, 20000, 2 do sum = sum + #t[i] end\n"
        "local keyed = {}\n"
        "for i = 1, 5000 do keyed['k' .. i] = {i} end\n"
        "for i = 1, 5000 do sum = sum + keyed['k' .. i][1] end\n"
        "return sum\n";
    ASSERT_EQ(luaL_dostring(L, script), LUA_OK) << lua_tostring(L, -1);
    lua_Integer expected = 0;
    for (int i = 2; i <= 20000; i += 2)
        expected += (i % 600) + static_cast<lua_Integer>(std::to_string(i).size());
    expected += 5000 * 5001 / 2;
    EXPECT_EQ(lua_tointeger(L, -1), expected);
    // A finalizer that reaches back into C++ runs while the state closes.
    static bool finalized = false;
    finalized = false;
    lua_pushcfunction(L, [](lua_State*) -> int {
        finalized = true;
        return 0;
    });
    lua_setglobal(L, "note");
    // It may allocate, small blocks and large, while the state's blocks are being freed.
    ASSERT_EQ(luaL_dostring(L, "setmetatable({}, {__gc = function()\n"
                               "  local t = {} for i = 1, 100 do t[i] = string.rep('x', i * 7) .. i end\n"
                               "  if #table.concat(t) > 0 then note() end end})"),
              LUA_OK);
    TScriptHeap::CloseState(L);
    EXPECT_TRUE(finalized);
}

// A reload closes a state and builds the next on the memory it leaves: every state asks
// for other sizes than the one before (kept blocks then serve requests they only just
// fit), its values must all stay intact, and finalizers allocate during the kept close.
TEST(ScriptHeap, AStateBuiltOnTheMemoryOfTheStateBeforeKeepsEveryValue)
{
    TScriptHeap::TSpareMemory spares;
    for (int round = 1; round <= 4; ++round) {
        lua_State* L = TScriptHeap::NewState(&spares);
        ASSERT_NE(L, nullptr);
        luaL_openlibs(L);
        lua_pushinteger(L, round);
        lua_setglobal(L, "round");
        const char* script =
            "local t, rows = {}, {}\n"
            "for i = 1, 6000 do\n"
            "  t[i] = string.rep(string.char(65 + i % 26), (i * (round + 2)) % 2500)\n"
            "  if i % 50 == 0 then local row = {} for j = 1, i // round do row[j] = j end rows[#rows + 1] = row end\n"
            "end\n"
            "for i = 1, 6000, 3 do t[i] = nil end\n"
            "collectgarbage()\n"
            "for i = 1, 6000 do\n"
            "  local s = t[i]\n"
            "  if s and (#s ~= (i * (round + 2)) % 2500 or (#s > 0 and s:byte(#s) ~= 65 + i % 26)) then return i end\n"
            "end\n"
            "for k, row in ipairs(rows) do if #row ~= (k * 50) // round or row[#row] ~= #row then return -k end end\n"
            "setmetatable({}, {__gc = function() local u = {} for i = 1, 200 do u[i] = string.rep('y', i * 11) end end})\n"
            "return 0\n";
        ASSERT_EQ(luaL_dostring(L, script), LUA_OK) << lua_tostring(L, -1);
        EXPECT_EQ(lua_tointeger(L, -1), 0) << "round " << round;
        TScriptHeap::CloseState(L, &spares);
    }
}

// Warnings are off until a script turns them on, as in a state of the auxiliary library,
// and then written whole to standard error, however many pieces they come in.
TEST(ScriptHeap, WarningsFollowTheScriptsControlMessages)
{
    TestSupport::TTempDir dir;
    const std::string file = dir.File("stderr.txt");
    lua_State* L = TScriptHeap::NewState();
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(target, 0);
    ::dup2(target, 2);
    const int status = luaL_dostring(L, "warn('hidden') warn('@on') warn('a', 'b') warn('@off') warn('gone')\n"
                                        "warn('@on') warn('c') warn('@unknown')");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(target);
    TScriptHeap::CloseState(L);
    ASSERT_EQ(status, LUA_OK);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "Lua warning: ab\nLua warning: c\n");
}

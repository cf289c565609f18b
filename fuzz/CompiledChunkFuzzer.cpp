// Loading a compiled script library from any bytes, as discovery does: Lua should refuse
// the bytes with a message or give a function. It checks the chunk's header but not the
// body: with the Lua 5.4.4 of this platform a few erased bytes of the sample library's
// body already crash the loader itself, past any check of the header or the file's size
// that the host could make first. So the host reports such a crash (a line naming the
// library, exit code 128 plus the signal) rather than trying to refuse the file.

#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Bounds what a damaged length may make Lua allocate, so that the fuzzer looks for
// faults rather than running out of memory.
void* BoundedAlloc(void* used, void* block, std::size_t oldSize, std::size_t newSize)
{
    auto& total = *static_cast<std::size_t*>(used);
    if (newSize == 0) {
        total -= block ? oldSize : 0;
        std::free(block);
        return nullptr;
    }
    const std::size_t before = block ? oldSize : 0;
    if (newSize > before && total + (newSize - before) > 64u * 1024 * 1024)
        return nullptr;
    void* moved = std::realloc(block, newSize);
    if (moved)
        total = total - before + newSize;
    return moved;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t used = 0;
    lua_State* L = lua_newstate(BoundedAlloc, &used);
    if (!L)
        return 0;
    const int status = luaL_loadbufferx(L, reinterpret_cast<const char*>(data), size, "=chunk", "b");
    if (status == LUA_OK && lua_type(L, -1) != LUA_TFUNCTION)
        std::abort();
    if (status != LUA_OK && lua_type(L, -1) != LUA_TSTRING)
        std::abort();
    lua_close(L);
    return 0;
}

#include "host/ChunkCache.h"

#include <lua.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unordered_map>

namespace WexelHost {

namespace {

struct TFileIdentity {
    off_t Size = 0;
    timespec Modified{};
    ino_t Inode = 0;
    dev_t Device = 0;

    bool operator==(const TFileIdentity& other) const
    {
        return Size == other.Size && Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec && Inode == other.Inode && Device == other.Device;
    }
};

struct TKeptChunk {
    TFileIdentity Identity;
    std::string ChunkName;
    std::string Bytecode;
};

std::unordered_map<std::string, TKeptChunk>& Kept()
{
    static std::unordered_map<std::string, TKeptChunk> kept;
    return kept;
}

bool Identify(const std::string& path, TFileIdentity& identity)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    identity = {info.st_size, info.st_mtim, info.st_ino, info.st_dev};
    return true;
}

// lua_dump's writer. It runs inside Lua and must not throw through it.
int AppendBytes(lua_State*, const void* bytes, std::size_t size, void* target) noexcept
{
    try {
        static_cast<std::string*>(target)->append(static_cast<const char*>(bytes), size);
        return 0;
    } catch (...) {
        return 1;
    }
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

} // namespace

int LoadFileChunk(lua_State* L, const std::string& path, const std::string& chunkName,
                  const std::function<std::string(const std::string&)>& read)
{
    TFileIdentity identity;
    const bool identified = Identify(path, identity);
    if (identified) {
        auto found = Kept().find(path);
        if (found != Kept().end() && found->second.Identity == identity && found->second.ChunkName == chunkName)
            return luaL_loadbufferx(L, found->second.Bytecode.data(), found->second.Bytecode.size(),
                                    chunkName.c_str(), "b");
    }
    const std::string bytes = read(path);
    const int status = luaL_loadbufferx(L, bytes.data(), bytes.size(), chunkName.c_str(), "bt");
    if (status != LUA_OK || !identified)
        return status;
    TKeptChunk chunk{identity, chunkName, {}};
    // Debug information stays: messages name the library's lines as before.
    if (lua_dump(L, AppendBytes, &chunk.Bytecode, 0) == 0)
        Kept().insert_or_assign(path, std::move(chunk));
    else
        Kept().erase(path);
    return status;
}

void ForgetFileChunks() { Kept().clear(); }

int HostLoadFile(lua_State* L)
{
    // Only calls that cannot raise while C++ objects are alive; messages leave through
    // a plain buffer, the way the host's other script functions do.
    const char* path = luaL_checkstring(L, 1);
    const char* name = luaL_optstring(L, 2, nullptr);
    const bool hasEnv = !lua_isnone(L, 3);
    char message[1024] = "";
    int status = LUA_ERRFILE;
    try {
        const std::string file = path;
        status = LoadFileChunk(L, file, name ? std::string(name) : "@" + file, ReadWholeFile);
    } catch (const std::exception& e) {
        std::snprintf(message, sizeof message, "%s", e.what());
    } catch (...) {
        std::snprintf(message, sizeof message, "%s", "cannot read the file");
    }
    if (status != LUA_OK) {
        lua_pushnil(L);
        if (message[0] != '\0')
            lua_pushstring(L, message);
        else
            lua_insert(L, -2);
        return 2;
    }
    if (hasEnv) {
        lua_pushvalue(L, 3);
        if (lua_setupvalue(L, -2, 1) == nullptr) // a chunk without upvalues uses no globals
            lua_pop(L, 1);
    }
    return 1;
}

} // namespace WexelHost

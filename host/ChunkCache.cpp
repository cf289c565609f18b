#include "host/ChunkCache.h"

#include "bridge/HostPlatform.h"

#include <lua.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
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

bool KeepChunks = true;

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

// Feeds lua_load from the file in blocks, so that a library never sits in memory whole
// beside its compiled form.
struct TFileReader {
    std::FILE* File = nullptr;
    std::unique_ptr<char[]> Block = std::make_unique_for_overwrite<char[]>(BlockSize);
    static constexpr std::size_t BlockSize = 64 * 1024;

    ~TFileReader()
    {
        if (File)
            std::fclose(File);
    }
    static const char* Read(lua_State*, void* data, std::size_t* size) noexcept
    {
        auto* self = static_cast<TFileReader*>(data);
        *size = std::fread(self->Block.get(), 1, BlockSize, self->File);
        return *size > 0 ? self->Block.get() : nullptr;
    }
};

} // namespace

int LoadFileChunk(lua_State* L, const std::string& path, const std::string& chunkName, bool* opened)
{
    if (opened)
        *opened = true;
    TFileIdentity identity;
    const bool identified = Identify(path, identity);
    if (identified) {
        auto found = Kept().find(path);
        if (found != Kept().end() && found->second.Identity == identity && found->second.ChunkName == chunkName)
            return luaL_loadbufferx(L, found->second.Bytecode.data(), found->second.Bytecode.size(),
                                    chunkName.c_str(), "b");
    }
    TFileReader reader;
    reader.File = std::fopen(path.c_str(), "rb");
    if (!reader.File) {
        if (opened)
            *opened = false;
        return LUA_ERRFILE;
    }
    const int first = std::fgetc(reader.File);
    const bool compiled = first == LUA_SIGNATURE[0];
    if (first != EOF)
        std::ungetc(first, reader.File);
    const int status = lua_load(L, &TFileReader::Read, &reader, chunkName.c_str(), "bt");
    if (std::ferror(reader.File)) {
        lua_pop(L, 1);
        return LUA_ERRFILE;
    }
    // A compiled library is read as fast as a kept copy would be; only source is worth
    // keeping, as its compilation is what a reload would repeat.
    if (status != LUA_OK || !identified || compiled || !KeepChunks)
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

void KeepCompiledLibraries(bool keep) noexcept
{
    KeepChunks = keep;
    if (!keep)
        Kept().clear();
}

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
        bool opened = true;
        status = LoadFileChunk(L, file, name ? std::string(name) : "@" + file, &opened);
        if (status == LUA_ERRFILE)
            std::snprintf(message, sizeof message, "cannot %s %s", opened ? "read" : "open", path);
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

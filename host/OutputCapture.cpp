#include "host/OutputCapture.h"

#include "bridge/HostPlatform.h"
#include "platform/Process.h"

#include <lua.hpp>

#include <cstdio>
#include <string>
#include <string_view>

namespace WexelHost {

namespace {

struct TCapture {
    bool Open = false;
    std::string Text;
    std::size_t LeftOut = 0;
};

TCapture& Capture()
{
    static TCapture capture;
    return capture;
}

// Called from Lua frames: nothing may escape, and nothing here raises a Lua error.
void Emit(const char* bytes, std::size_t size) noexcept
{
    try {
        Sys::WriteRaw(Sys::TStdHandle::Output, std::string_view(bytes, size));
        TCapture& capture = Capture();
        if (!capture.Open)
            return;
        const std::size_t room = CaptureLimit - capture.Text.size();
        const std::size_t kept = size < room ? size : room;
        capture.Text.append(bytes, kept);
        capture.LeftOut += size - kept;
    } catch (...) {
        // Out of memory: the console has the text; the report goes without it.
    }
}

void AddValue(luaL_Buffer& b, lua_State* L, int index)
{
    if (lua_type(L, index) == LUA_TNUMBER) {
        // io.write's own forms: an integer in full, a float as %.14g without a ".0".
        char text[64];
        const int n = lua_isinteger(L, index)
                          ? std::snprintf(text, sizeof text, LUA_INTEGER_FMT, static_cast<LUAI_UACINT>(lua_tointeger(L, index)))
                          : std::snprintf(text, sizeof text, LUA_NUMBER_FMT, static_cast<LUAI_UACNUMBER>(lua_tonumber(L, index)));
        luaL_addlstring(&b, text, static_cast<std::size_t>(n));
    } else {
        std::size_t len = 0;
        const char* s = luaL_checklstring(L, index, &len);
        luaL_addlstring(&b, s, len);
    }
}

// Writes arguments from..top as io.write does.
void WriteValues(lua_State* L, int from)
{
    const int top = lua_gettop(L);
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int i = from; i <= top; ++i)
        AddValue(b, L, i);
    luaL_pushresult(&b);
    std::size_t len = 0;
    const char* text = lua_tolstring(L, -1, &len);
    Emit(text, len);
    lua_pop(L, 1);
}

int Print(lua_State* L)
{
    const int n = lua_gettop(L);
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            luaL_addchar(&b, '\t');
        // Pushed right before addvalue takes it from the top, as the buffer requires.
        luaL_tolstring(L, i, nullptr);
        luaL_addvalue(&b);
    }
    luaL_addchar(&b, '\n');
    luaL_pushresult(&b);
    std::size_t len = 0;
    const char* text = lua_tolstring(L, -1, &len);
    Emit(text, len);
    return 0;
}

// Upvalues: standard output as the io library opened it, its own io.write, io.output.
int IoWrite(lua_State* L)
{
    lua_pushvalue(L, lua_upvalueindex(3));
    lua_call(L, 0, 1);
    const bool toStdout = lua_rawequal(L, -1, lua_upvalueindex(1));
    lua_pop(L, 1);
    if (!toStdout) {
        lua_pushvalue(L, lua_upvalueindex(2));
        lua_insert(L, 1);
        lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
        return lua_gettop(L);
    }
    WriteValues(L, 1);
    lua_pushvalue(L, lua_upvalueindex(1));
    return 1;
}

// Upvalues: standard output as the io library opened it, the files' own write method.
int FileWrite(lua_State* L)
{
    if (!lua_rawequal(L, 1, lua_upvalueindex(1))) {
        lua_pushvalue(L, lua_upvalueindex(2));
        lua_insert(L, 1);
        lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
        return lua_gettop(L);
    }
    WriteValues(L, 2);
    lua_settop(L, 1);
    return 1;
}

} // namespace

void InstallOutputCapture(lua_State* L)
{
    lua_pushcfunction(L, Print);
    lua_setglobal(L, "print");

    lua_getglobal(L, "io");
    const int io = lua_gettop(L);
    lua_getfield(L, io, "stdout");
    lua_getfield(L, io, "write");
    lua_getfield(L, io, "output");
    lua_pushcclosure(L, IoWrite, 3);
    lua_setfield(L, io, "write");

    // The write method is shared by every file; it keeps its own for the others.
    luaL_getmetatable(L, LUA_FILEHANDLE);
    lua_getfield(L, -1, "__index");
    const int methods = lua_gettop(L);
    lua_getfield(L, io, "stdout");
    lua_getfield(L, methods, "write");
    lua_pushcclosure(L, FileWrite, 2);
    lua_setfield(L, methods, "write");
    lua_settop(L, io - 1);
}

void BeginOutputCapture() noexcept
{
    TCapture& capture = Capture();
    capture.Text.clear();
    capture.LeftOut = 0;
    capture.Open = true;
}

std::string EndOutputCapture()
{
    TCapture& capture = Capture();
    capture.Open = false;
    std::string text = std::move(capture.Text);
    capture.Text.clear();
    if (capture.LeftOut > 0) {
        // Cut where a character starts, so the kept part stays valid UTF-8.
        std::size_t cut = text.size();
        while (cut > 0 && (static_cast<unsigned char>(text[cut - 1]) & 0xC0) == 0x80)
            --cut;
        if (cut > 0 && static_cast<unsigned char>(text[cut - 1]) >= 0xC0)
            --cut;
        const std::size_t leftOut = capture.LeftOut + (text.size() - cut);
        text.resize(cut);
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        text += "[output cut: " + std::to_string(leftOut) + " more bytes were left out]\n";
        capture.LeftOut = 0;
    }
    return text;
}

} // namespace WexelHost

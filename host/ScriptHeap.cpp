#include "host/ScriptHeap.h"

#include "platform/MemoryPoison.h"
#include "platform/Process.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>


namespace WexelHost {

namespace {

// Warnings as a state of the auxiliary library handles them: off until a script sends
// "@on", then written to standard error as "Lua warning: " and the message's pieces.
void WarnOff(void* ud, const char* message, int toContinue);
void WarnOn(void* ud, const char* message, int toContinue);

bool WarnControl(lua_State* L, const char* message, int toContinue)
{
    if (toContinue || message[0] != '@')
        return false;
    if (std::strcmp(message + 1, "off") == 0)
        lua_setwarnf(L, WarnOff, L);
    else if (std::strcmp(message + 1, "on") == 0)
        lua_setwarnf(L, WarnOn, L);
    return true;
}

void WarnOff(void* ud, const char* message, int toContinue)
{
    WarnControl(static_cast<lua_State*>(ud), message, toContinue);
}

void WarnContinued(void* ud, const char* message, int toContinue)
{
    auto* L = static_cast<lua_State*>(ud);
    std::fputs(message, stderr);
    if (toContinue) {
        lua_setwarnf(L, WarnContinued, L);
    } else {
        std::fputs("\n", stderr);
        lua_setwarnf(L, WarnOn, L);
    }
    std::fflush(stderr);
}

void WarnOn(void* ud, const char* message, int toContinue)
{
    if (WarnControl(static_cast<lua_State*>(ud), message, toContinue))
        return;
    std::fputs("Lua warning: ", stderr);
    WarnContinued(ud, message, toContinue);
}

// What Lua does when a protected call is missing, as the auxiliary library's states do.
int Panic(lua_State* L)
{
    const char* message = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "error object is not a string";
    std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", message);
    std::fflush(stderr);
    return 0;
}

} // namespace

TScriptHeap::~TScriptHeap()
{
    while (FLastChunk) {
        void* chunk = FLastChunk;
        std::size_t size = 0;
        std::memcpy(&size, static_cast<char*>(chunk) + sizeof FLastChunk, sizeof size);
        WEXEL_UNPOISON(chunk, size);
        std::memcpy(&FLastChunk, chunk, sizeof FLastChunk);
        std::free(chunk);
    }
}

void* TScriptHeap::Take(std::size_t size) noexcept
{
    const std::size_t sizeClass = ClassOf(size);
    const std::size_t rounded = (sizeClass + 1) * Granule;
    if (TFreeBlock* block = FFree[sizeClass]) {
        WEXEL_UNPOISON(block, rounded);
        FFree[sizeClass] = block->Next;
        return block;
    }
    if (FLeft < rounded && !Refill())
        return nullptr;
    void* block = FNext;
    FNext += rounded;
    FLeft -= rounded;
    WEXEL_UNPOISON(block, rounded);
    return block;
}

// Apart from Take, so that taking a block, a million times a run, needs no frame of its own.
bool TScriptHeap::Refill() noexcept
{
    // What is left of the chunk goes to the lists, so that nothing is lost.
    while (FLeft >= Granule) {
        const std::size_t piece = FLeft < MaxSmall ? FLeft / Granule * Granule : MaxSmall;
        WEXEL_UNPOISON(FNext, piece);
        Give(FNext, piece);
        FNext += piece;
        FLeft -= piece;
    }
    const std::size_t size = FChunkBytes < LastChunkSize ? std::max(FChunkBytes, FirstChunkSize) : LastChunkSize;
    void* chunk = std::malloc(size);
    if (!chunk)
        return false;
    Sys::OfferHugePages(chunk, size);
    std::memcpy(chunk, &FLastChunk, sizeof FLastChunk);
    std::memcpy(static_cast<char*>(chunk) + sizeof FLastChunk, &size, sizeof size);
    FLastChunk = chunk;
    FChunkBytes += size;
    // The link and the size take the first granule.
    FNext = static_cast<char*>(chunk) + Granule;
    FLeft = size - Granule;
    WEXEL_POISON(FNext, FLeft);
    return true;
}

void TScriptHeap::Give(void* block, std::size_t size) noexcept
{
    const std::size_t sizeClass = ClassOf(size);
    if (FClosing) {
        WEXEL_POISON(block, (sizeClass + 1) * Granule);
        return;
    }
    auto* freed = static_cast<TFreeBlock*>(block);
    freed->Next = FFree[sizeClass];
    FFree[sizeClass] = freed;
    WEXEL_POISON(block, (sizeClass + 1) * Granule);
}

void* TScriptHeap::Resize(void* block, std::size_t oldSize, std::size_t newSize) noexcept
{
    const bool wasSmall = IsSmall(oldSize);
    if (!wasSmall && !IsSmall(newSize))
        return std::realloc(block, newSize);
    if (wasSmall && IsSmall(newSize) && ClassOf(oldSize) == ClassOf(newSize))
        return block;
    void* moved = IsSmall(newSize) ? Take(newSize) : std::malloc(newSize);
    if (!moved)
        return nullptr;
    std::memcpy(moved, block, oldSize < newSize ? oldSize : newSize);
    if (wasSmall)
        Give(block, oldSize);
    else
        std::free(block);
    return moved;
}

void* TScriptHeap::Allocate(void* ud, void* block, std::size_t oldSize, std::size_t newSize) noexcept
{
    auto* heap = static_cast<TScriptHeap*>(ud);
    if (newSize == 0) {
        if (block) {
            if (IsSmall(oldSize))
                heap->Give(block, oldSize);
            else
                std::free(block);
        }
        return nullptr;
    }
    // Without a block, the old size names the kind of object, not a size.
    if (!block)
        return IsSmall(newSize) ? heap->Take(newSize) : std::malloc(newSize);
    return heap->Resize(block, oldSize, newSize);
}

// While the state closes, every object is freed; a small block is only marked as gone, as
// its chunk follows. Finalizers may still allocate.
void* TScriptHeap::AllocateClosing(void* ud, void* block, std::size_t oldSize, std::size_t newSize) noexcept
{
    if (newSize != 0)
        return Allocate(ud, block, oldSize, newSize);
    if (block) {
        if (IsSmall(oldSize))
            WEXEL_POISON(block, (ClassOf(oldSize) + 1) * Granule);
        else
            std::free(block);
    }
    return nullptr;
}

lua_State* TScriptHeap::NewState() noexcept
{
    auto* heap = new (std::nothrow) TScriptHeap();
    if (!heap)
        return nullptr;
    lua_State* L = lua_newstate(&TScriptHeap::Allocate, heap);
    if (!L) {
        delete heap;
        return nullptr;
    }
    lua_atpanic(L, Panic);
    lua_setwarnf(L, WarnOff, L);
    return L;
}

void TScriptHeap::CloseState(lua_State* L) noexcept
{
    void* heap = nullptr;
    lua_getallocf(L, &heap);
    static_cast<TScriptHeap*>(heap)->FClosing = true;
    lua_setallocf(L, &TScriptHeap::AllocateClosing, heap);
    lua_close(L);
    delete static_cast<TScriptHeap*>(heap);
}

} // namespace WexelHost

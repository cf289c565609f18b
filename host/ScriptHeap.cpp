#include "host/ScriptHeap.h"

#include "platform/MemoryPoison.h"
#include "platform/Process.h"

#include <lua.hpp>

#include <algorithm>
#include <bit>
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

// A chunk's link and size sit in its first granule, readable while the rest is poisoned.
std::size_t TScriptHeap::SizeOfChunk(void* chunk) noexcept
{
    std::size_t size = 0;
    WEXEL_UNPOISON(chunk, Granule);
    std::memcpy(&size, static_cast<char*>(chunk) + sizeof(void*), sizeof size);
    return size;
}

void* TScriptHeap::NextChunk(void* chunk) noexcept
{
    void* next = nullptr;
    WEXEL_UNPOISON(chunk, Granule);
    std::memcpy(&next, chunk, sizeof next);
    return next;
}

void TScriptHeap::FreeChunks(void* chunk) noexcept
{
    while (chunk) {
        void* next = NextChunk(chunk);
        WEXEL_UNPOISON(chunk, SizeOfChunk(chunk));
        std::free(chunk);
        chunk = next;
    }
}

void TScriptHeap::FreeLarge(void* (&lists)[LargeLists]) noexcept
{
    for (void*& list : lists) {
        while (list) {
            void* next = nullptr;
            std::memcpy(&next, list, sizeof next);
            std::free(list);
            list = next;
        }
    }
}

void* TScriptHeap::TakeLarge(std::size_t size) noexcept
{
    const int width = std::bit_width(size);
    if (FAnyLarge && width + 1 < LargeLists) {
        // A reloaded library asks for the sizes it asked for before: a few looks in the
        // size's own list, then the head of the list above, whose blocks all fit.
        void** link = &FLarge[width];
        for (int looks = 0; *link && looks < 4; ++looks, link = static_cast<void**>(*link)) {
            std::size_t kept = 0;
            std::memcpy(&kept, static_cast<char*>(*link) + sizeof(void*), sizeof kept);
            if (kept >= size) {
                void* block = *link;
                *link = *static_cast<void**>(block);
                return block;
            }
        }
        if (void* block = FLarge[width + 1]) {
            FLarge[width + 1] = *static_cast<void**>(block);
            return block;
        }
    }
    return std::malloc(size);
}

TScriptHeap::TSpareMemory::~TSpareMemory()
{
    Clear();
}

void TScriptHeap::TSpareMemory::Clear() noexcept
{
    FreeChunks(FFirst);
    FFirst = nullptr;
    FreeLarge(FLarge);
}

TScriptHeap::~TScriptHeap()
{
    FreeChunks(FLastChunk);
    FreeChunks(FSpare);
    FreeLarge(FLarge);
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
    void* chunk = FSpare;
    std::size_t size = 0;
    if (chunk) {
        size = SizeOfChunk(chunk);
        FSpare = NextChunk(chunk);
        WEXEL_UNPOISON(chunk, size);
    } else {
        size = FChunkBytes < LastChunkSize ? std::max(FChunkBytes, FirstChunkSize) : LastChunkSize;
        chunk = std::malloc(size);
        if (!chunk)
            return false;
        Sys::OfferHugePages(chunk, size);
    }
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
    void* moved = IsSmall(newSize) ? Take(newSize) : TakeLarge(newSize);
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
        return IsSmall(newSize) ? heap->Take(newSize) : heap->TakeLarge(newSize);
    return heap->Resize(block, oldSize, newSize);
}

// While the state closes, every object is freed; a small block is only marked as gone, as
// its chunk follows. Finalizers may still allocate.
void* TScriptHeap::AllocateClosing(void* ud, void* block, std::size_t oldSize, std::size_t newSize) noexcept
{
    if (newSize != 0)
        return Allocate(ud, block, oldSize, newSize);
    if (block) {
        auto* heap = static_cast<TScriptHeap*>(ud);
        if (IsSmall(oldSize)) {
            WEXEL_POISON(block, (ClassOf(oldSize) + 1) * Granule);
        } else if (heap->FKeepLarge && std::bit_width(oldSize) < LargeLists) {
            void*& list = heap->FLarge[std::bit_width(oldSize)];
            std::memcpy(block, &list, sizeof list);
            std::memcpy(static_cast<char*>(block) + sizeof list, &oldSize, sizeof oldSize);
            list = block;
        } else {
            std::free(block);
        }
    }
    return nullptr;
}

lua_State* TScriptHeap::NewState(TSpareMemory* spares) noexcept
{
    auto* heap = new (std::nothrow) TScriptHeap();
    if (!heap)
        return nullptr;
    if (spares) {
        heap->FSpare = spares->FFirst;
        spares->FFirst = nullptr;
        for (int i = 0; i < LargeLists; ++i) {
            heap->FLarge[i] = spares->FLarge[i];
            heap->FAnyLarge |= spares->FLarge[i] != nullptr;
            spares->FLarge[i] = nullptr;
        }
    }
    lua_State* L = lua_newstate(&TScriptHeap::Allocate, heap);
    if (!L) {
        delete heap;
        return nullptr;
    }
    lua_atpanic(L, Panic);
    lua_setwarnf(L, WarnOff, L);
    return L;
}

void TScriptHeap::CloseState(lua_State* L, TSpareMemory* spares) noexcept
{
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    auto* heap = static_cast<TScriptHeap*>(ud);
    heap->FClosing = true;
    if (spares) {
        // One closed state's worth is kept, not more: what is left from before goes.
        spares->Clear();
        FreeChunks(heap->FSpare);
        heap->FSpare = nullptr;
        FreeLarge(heap->FLarge);
        heap->FAnyLarge = false;
        heap->FKeepLarge = true;
    }
    lua_setallocf(L, &TScriptHeap::AllocateClosing, heap);
    lua_close(L);
    if (spares) {
        spares->FFirst = heap->FLastChunk;
        heap->FLastChunk = nullptr;
        std::copy(std::begin(heap->FLarge), std::end(heap->FLarge), spares->FLarge);
        std::fill(std::begin(heap->FLarge), std::end(heap->FLarge), nullptr);
    }
    delete heap;
}

} // namespace WexelHost

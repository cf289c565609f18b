#pragma once
// The memory of one Lua state. A run's state holds a few small objects per test (the
// test's function, its path, table entries), hundreds of thousands of them, allocated
// and freed again and again by the collector and all freed at once when the state
// closes. Small blocks come from large chunks, kept in lists by size class and reused;
// larger ones come from the C library. Closing the state then gives the chunks back
// whole, rather than a million blocks one by one.

#include <cstddef>

struct lua_State;

namespace WexelHost {

class TScriptHeap {
public:
    TScriptHeap() = default;
    // Gives back every chunk: only once the state that used the heap is closed.
    ~TScriptHeap();
    TScriptHeap(const TScriptHeap&) = delete;
    TScriptHeap& operator=(const TScriptHeap&) = delete;

    // The state's allocation function (lua_Alloc) over the heap in ud.
    static void* Allocate(void* ud, void* block, std::size_t oldSize, std::size_t newSize) noexcept;
    // The same while the state closes: frees cost next to nothing.
    static void* AllocateClosing(void* ud, void* block, std::size_t oldSize, std::size_t newSize) noexcept;

    // Lists of large blocks, one for each bit width of their sizes.
    static constexpr int LargeLists = 64;

    // The memory of a closed state, its chunks and its large blocks, kept for the state
    // that replaces it: their pages are in memory already, where new ones would each be
    // faulted in again (a reload of large libraries is then a third quicker). Freed with
    // the object unless a new state takes it.
    class TSpareMemory {
    public:
        TSpareMemory() = default;
        ~TSpareMemory();
        TSpareMemory(const TSpareMemory&) = delete;
        TSpareMemory& operator=(const TSpareMemory&) = delete;
        void Clear() noexcept;

    private:
        friend class TScriptHeap;
        void* FFirst = nullptr;
        void* FLarge[LargeLists] = {};
    };

    // A new state whose memory comes from a new heap, with warnings off until a script
    // turns them on ("@on"), as a state of the auxiliary library starts; nullptr when
    // there is not enough memory. The heap takes its memory from spares first, if given.
    static lua_State* NewState(TSpareMemory* spares = nullptr) noexcept;
    // Closes a state made by NewState and frees its heap; its memory goes to spares, if
    // given, instead of back to the C library.
    static void CloseState(lua_State* L, TSpareMemory* spares = nullptr) noexcept;

    // Bytes of the chunks taken from the C library.
    std::size_t ChunkBytes() const { return FChunkBytes; }

private:
    static constexpr std::size_t Granule = 16;
    static constexpr std::size_t MaxSmall = 256;
    static constexpr std::size_t ClassCount = MaxSmall / Granule;
    // Chunks grow from the first size to the last, so that a small state stays small and
    // a large one is made of few chunks; the large ones are offered to the system's huge
    // pages, as a state of a million tests would otherwise fault in page by page.
    static constexpr std::size_t FirstChunkSize = 256 * 1024;
    static constexpr std::size_t LastChunkSize = 8 * 1024 * 1024;

    struct TFreeBlock {
        TFreeBlock* Next;
    };

    static bool IsSmall(std::size_t size) { return size <= MaxSmall; }
    static std::size_t ClassOf(std::size_t size) { return (size - 1) / Granule; }

    void* Take(std::size_t size) noexcept;
    // A new chunk to take from; false when there is not enough memory.
    [[gnu::noinline]] bool Refill() noexcept;
    void Give(void* block, std::size_t size) noexcept;
    void* Resize(void* block, std::size_t oldSize, std::size_t newSize) noexcept;

    static std::size_t SizeOfChunk(void* chunk) noexcept;
    static void* NextChunk(void* chunk) noexcept;
    static void FreeChunks(void* chunk) noexcept;

    // A block of more than MaxSmall bytes: one the closed state left, else the C library's.
    void* TakeLarge(std::size_t size) noexcept;
    static void FreeLarge(void* (&lists)[LargeLists]) noexcept;

    TFreeBlock* FFree[ClassCount] = {};
    // The chunks, each linked to the one before through its first bytes.
    // Each chunk begins with the link to the one before and its own size.
    void* FLastChunk = nullptr;
    // Chunks of a closed state, linked the same way, taken before new ones.
    void* FSpare = nullptr;
    // Large blocks of a closed state, in lists by the bit width of their size; each
    // begins with the link to the next of its list and its size. Given back to the C
    // library, they would as often as not come back as new pages.
    void* FLarge[LargeLists] = {};
    bool FAnyLarge = false;
    // Set while a state closes whose memory is kept: large blocks go to FLarge.
    bool FKeepLarge = false;
    std::size_t FChunkBytes = 0;
    // Set while the state closes: a small block freed then is not kept for reuse, as the
    // chunks go next, so that the close does not write into every block it frees.
    bool FClosing = false;
    char* FNext = nullptr;
    std::size_t FLeft = 0;
};

} // namespace WexelHost

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

    // A new state whose memory comes from a new heap, with warnings off until a script
    // turns them on ("@on"), as a state of the auxiliary library starts; nullptr when
    // there is not enough memory.
    static lua_State* NewState() noexcept;
    // Closes a state made by NewState and frees its heap.
    static void CloseState(lua_State* L) noexcept;

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

    TFreeBlock* FFree[ClassCount] = {};
    // The chunks, each linked to the one before through its first bytes.
    // Each chunk begins with the link to the one before and its own size.
    void* FLastChunk = nullptr;
    std::size_t FChunkBytes = 0;
    // Set while the state closes: a small block freed then is not kept for reuse, as the
    // chunks go next, so that the close does not write into every block it frees.
    bool FClosing = false;
    char* FNext = nullptr;
    std::size_t FLeft = 0;
};

} // namespace WexelHost

#pragma once
// Memory for the test objects of one registration, handed out from large blocks: a tree
// of a million script tests then costs a few hundred allocations instead of a million,
// and freeing it as few. The blocks go when the last object made in them is freed and
// the registration has let go of the arena.

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace Wexel {

class TTestArena {
public:
    // A new arena, held by the caller until its Release.
    static TTestArena* Create() { return new TTestArena(); }
    TTestArena(const TTestArena&) = delete;
    TTestArena& operator=(const TTestArena&) = delete;

    // Only while the caller's hold lasts, from one thread at a time; objects up to 64 KiB.
    void* Allocate(std::size_t size, std::size_t alignment);
    // Gives back what Allocate handed out (every object holds the arena until then).
    void Deallocate(void* at, std::size_t size) noexcept;
    // Lets go of the caller's hold.
    void Release() noexcept;
    // Keeps object as long as the arena: what its objects refer to without owning it.
    void Keep(std::shared_ptr<const void> object) { FKept.push_back(std::move(object)); }

private:
    TTestArena() = default;
    ~TTestArena();

    // Blocks grow from the first size to the last, so that a small tree stays small and a
    // large one is made of few blocks, whose huge pages are offered to the system.
    static constexpr std::size_t FirstBlockSize = 64 * 1024;
    static constexpr std::size_t LastBlockSize = 8 * 1024 * 1024;

    struct TBlock {
        std::unique_ptr<std::byte[]> Bytes;
        std::size_t Size;
    };

    // Objects alive, plus one for the caller's hold; freed from any thread.
    std::atomic<std::size_t> FHolds{1};
    std::vector<TBlock> FBlocks;
    std::vector<std::shared_ptr<const void>> FKept;
    std::size_t FBlockBytes = 0;
    std::byte* FNext = nullptr;
    std::size_t FLeft = 0;
};

// A standard allocator over an arena, for std::allocate_shared.
template <class T>
struct TArenaAllocator {
    using value_type = T;

    explicit TArenaAllocator(TTestArena* arena) noexcept : Arena(arena) {}
    template <class U>
    TArenaAllocator(const TArenaAllocator<U>& other) noexcept : Arena(other.Arena)
    {
    }

    T* allocate(std::size_t n) { return static_cast<T*>(Arena->Allocate(n * sizeof(T), alignof(T))); }
    void deallocate(T* at, std::size_t n) noexcept { Arena->Deallocate(at, n * sizeof(T)); }

    template <class U>
    bool operator==(const TArenaAllocator<U>& other) const noexcept
    {
        return Arena == other.Arena;
    }

    TTestArena* Arena;
};

// The registration's hold on a new arena, let go whichever way the registration ends.
class TArenaHold {
public:
    TArenaHold() : FArena(TTestArena::Create()) {}
    ~TArenaHold() { FArena->Release(); }
    TArenaHold(const TArenaHold&) = delete;
    TArenaHold& operator=(const TArenaHold&) = delete;
    TTestArena* Get() const { return FArena; }

private:
    TTestArena* FArena;
};

} // namespace Wexel

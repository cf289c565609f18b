#include "bridge/TestArena.h"

#include "platform/MemoryPoison.h"
#include "platform/Process.h"

#include <algorithm>
#include <cstdint>

namespace Wexel {

TTestArena::~TTestArena()
{
    for (const TBlock& block : FBlocks)
        WEXEL_UNPOISON(block.Bytes.get(), block.Size);
}

void* TTestArena::Allocate(std::size_t size, std::size_t alignment)
{
    const std::size_t skip = (alignment - reinterpret_cast<std::uintptr_t>(FNext) % alignment) % alignment;
    if (!FNext || skip + size > FLeft) {
        if (size + alignment > FirstBlockSize)
            throw std::bad_alloc();
        const std::size_t blockSize =
            FBlockBytes < LastBlockSize ? std::max(FBlockBytes, FirstBlockSize) : LastBlockSize;
        FBlocks.push_back({std::make_unique_for_overwrite<std::byte[]>(blockSize), blockSize});
        FBlockBytes += blockSize;
        FNext = FBlocks.back().Bytes.get();
        FLeft = blockSize;
        Sys::OfferHugePages(FNext, FLeft);
        WEXEL_POISON(FNext, FLeft);
        return Allocate(size, alignment);
    }
    std::byte* at = FNext + skip;
    FNext = at + size;
    FLeft -= skip + size;
    FHolds.fetch_add(1, std::memory_order_relaxed);
    WEXEL_UNPOISON(at, size);
    return at;
}

void TTestArena::Deallocate(void* at, std::size_t size) noexcept
{
    WEXEL_POISON(at, size);
    Release();
}

void TTestArena::Release() noexcept
{
    if (FHolds.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

} // namespace Wexel

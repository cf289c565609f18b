// The memory of a registration's tests: objects keep their bytes and alignment across
// blocks, outlive the registration's hold, and the last one freed (from any thread)
// frees the arena.

#include "bridge/TestArena.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using Wexel::TArenaAllocator;
using Wexel::TArenaHold;
using Wexel::TTestArena;

namespace {

std::atomic<int> Alive{0};

struct alignas(32) TProbe {
    explicit TProbe(std::uint32_t value) : Value(value) { ++Alive; }
    ~TProbe() { --Alive; }
    std::uint32_t Value;
    char Padding[40] = {};
};

struct TSmall {
    explicit TSmall(char value) : Value(value) { ++Alive; }
    ~TSmall() { --Alive; }
    char Value;
};

} // namespace

TEST(TestArena, ObjectsKeepTheirValuesAndAlignmentAcrossBlocksAndOutliveTheHold)
{
    std::vector<std::shared_ptr<TProbe>> probes;
    std::vector<std::shared_ptr<TSmall>> smalls;
    {
        const TArenaHold arena;
        // Far more than the first block holds, mixed sizes and alignments.
        for (std::uint32_t i = 0; i < 50000; ++i) {
            probes.push_back(std::allocate_shared<TProbe>(TArenaAllocator<TProbe>(arena.Get()), i));
            smalls.push_back(std::allocate_shared<TSmall>(TArenaAllocator<TSmall>(arena.Get()), char(i % 128)));
        }
    }
    ASSERT_EQ(Alive, 100000);
    for (std::uint32_t i = 0; i < probes.size(); ++i) {
        ASSERT_EQ(probes[i]->Value, i);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(probes[i].get()) % alignof(TProbe), 0u);
        ASSERT_EQ(smalls[i]->Value, char(i % 128));
    }
    // Freed from several threads at once: the count of holds is shared.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < probes.size(); i += 4) {
                probes[i].reset();
                smalls[i].reset();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Alive, 0);
}

TEST(TestArena, AnObjectLargerThanABlockIsRefused)
{
    const TArenaHold arena;
    struct TLarge {
        char Bytes[128 * 1024];
    };
    TArenaAllocator<TLarge> allocator(arena.Get());
    EXPECT_THROW(allocator.allocate(1), std::bad_alloc);
    // The arena still serves small objects after the refusal.
    auto small = std::allocate_shared<TSmall>(TArenaAllocator<TSmall>(arena.Get()), 'x');
    EXPECT_EQ(small->Value, 'x');
}

// What the arena keeps goes with its last object, not with the registration's hold.
TEST(TestArena, KeepsWhatItsObjectsReferToUntilTheLastOneGoes)
{
    auto kept = std::make_shared<int>(7);
    const std::weak_ptr<int> watch = kept;
    std::shared_ptr<TSmall> last;
    {
        const TArenaHold arena;
        arena.Get()->Keep(std::move(kept));
        last = std::allocate_shared<TSmall>(TArenaAllocator<TSmall>(arena.Get()), 'x');
    }
    EXPECT_FALSE(watch.expired());
    last.reset();
    EXPECT_TRUE(watch.expired());
    {
        const TArenaHold empty;
        empty.Get()->Keep(std::make_shared<int>(1));
    } // an arena that made nothing lets go of what it keeps with the hold
}

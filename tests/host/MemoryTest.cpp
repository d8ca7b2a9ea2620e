// Host memory: orv::Alloc blocks, and the shared pointers the eastl subset makes in them.
#include "host/base/Memory.h"
#include "host/eastl/allocator.h"
#include "host/eastl/shared_ptr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace
{

uintptr_t Address(const void* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// The word in front of a block: the address the runtime gave out for it.
uintptr_t ReleaseWord(const void* block)
{
    uintptr_t raw = 0;
    std::memcpy(&raw, static_cast<const unsigned char*>(block) - sizeof(void*), sizeof(raw));
    return raw;
}

// Blocks are aligned, with their release address just before.
TEST(HostMemory, Alignment)
{
    for (size_t alignment : {1, 8, 16, 64, 4096})
        for (size_t size : {0, 1, 100})
        {
            void* p = orv::Alloc(size, alignment);
            ASSERT_NE(p, nullptr);
            const size_t effective = std::max(alignment, sizeof(void*));
            EXPECT_EQ(Address(p) % effective, 0u) << "alignment " << alignment;
            // The raw start lies in front of the word, within the alignment padding.
            EXPECT_LE(ReleaseWord(p), Address(p) - sizeof(void*));
            EXPECT_LT(Address(p) - ReleaseWord(p), effective + sizeof(void*));
            std::memset(p, 0xAB, size); // the whole block is writable (ASan checks)
            orv::Free(p);
        }
    // Impossible requests give null instead of throwing.
    EXPECT_EQ(orv::Alloc(std::numeric_limits<size_t>::max()), nullptr);
    EXPECT_EQ(orv::Alloc(16, std::numeric_limits<size_t>::max()), nullptr);
}

// Counts live instances so tests see exactly when objects are built and destroyed.
struct Counted
{
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
    virtual int Kind() const { return 1; }
};
int Counted::alive = 0;

struct Derived final : Counted
{
    int Kind() const override { return 2; }
};

struct Throwing
{
    Throwing() { throw std::runtime_error("no"); }
};

struct LiveBlocksUnchanged
{
    uint64_t before = orv::Testing::LiveBlockCount();
    ~LiveBlocksUnchanged() { EXPECT_EQ(orv::Testing::LiveBlockCount(), before); }
};

// One block, with the counts just before the object: the host's layout.
TEST(HostSharedPtr, AllocateSharedLayout)
{
    // A class with only a vtable pointer: 16 bytes of counts, 8 of object, rounded to 32.
    static_assert(eastl::allocate_shared_block_size<Counted> == 32);
    static_assert((eastl::allocate_shared_block_size<std::array<char, 17>> == 48));
    LiveBlocksUnchanged noLeak;
    const uint64_t made = orv::Testing::AllocationCount();
    eastl::shared_ptr<Counted> p = eastl::allocate_shared<Counted>(eastl::allocator());
    ASSERT_TRUE(p);
    EXPECT_EQ(orv::Testing::AllocationCount(), made + 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p.get()) % 16, 0u);
    int counts[2]; // use and weak count
    std::memcpy(counts, reinterpret_cast<const char*>(p.get()) - 8, sizeof(counts));
    EXPECT_TRUE(counts[0] == 1 && counts[1] == 1);
}

// Failing allocations give empty pointers or throw, and leak nothing.
TEST(HostSharedPtr, FailingAllocations)
{
    LiveBlocksUnchanged noLeak;
    const int alive = Counted::alive;
    Counted* raw = new Counted;
    orv::Testing::FailAllocationsAfter(0);
    eastl::shared_ptr<Counted> p = eastl::allocate_shared<Counted>(eastl::allocator());
    EXPECT_FALSE(p);
    EXPECT_EQ(p.use_count(), 0);
    // Owning a raw pointer deletes it when the count block cannot be made.
    EXPECT_THROW(eastl::shared_ptr<Counted>{raw}, std::bad_alloc);
    orv::Testing::FailAllocationsAfter(-1);
    EXPECT_EQ(Counted::alive, alive);
    // A constructor that throws gives the block back.
    EXPECT_THROW(eastl::allocate_shared<Throwing>(eastl::allocator()), std::runtime_error);
}

TEST(HostSharedPtr, Counts)
{
    LiveBlocksUnchanged noLeak;
    const int alive = Counted::alive;
    {
        auto derived = eastl::allocate_shared<Derived>(eastl::allocator());
        eastl::shared_ptr<Counted> base = derived; // converting copy
        EXPECT_EQ(base->Kind(), 2);
        eastl::shared_ptr<Counted> moved = std::move(base);
        EXPECT_EQ(base, nullptr);
        eastl::shared_ptr<Counted> copy;
        copy = moved;
        eastl::shared_ptr<Counted>& alias = copy;
        copy = alias; // self-assignment keeps the count
        EXPECT_EQ(copy.use_count(), 3);
        derived.reset();
        moved = nullptr;
        EXPECT_EQ(copy.use_count(), 1);
        EXPECT_EQ(Counted::alive, alive + 1);
    }
    EXPECT_EQ(Counted::alive, alive);
}

} // namespace

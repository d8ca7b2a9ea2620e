#include "host/base/Memory.h"
#include "tests/host/base_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

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

TEST(HostMemory, BlocksAreAlignedWithTheirReleaseAddressJustBefore)
{
    for (size_t alignment : {size_t(1), size_t(8), size_t(16), size_t(64), size_t(4096)})
    {
        for (size_t size : {size_t(0), size_t(1), size_t(100)})
        {
            void* p = orv::Alloc(size, alignment);
            ASSERT_NE(p, nullptr);
            const size_t effective = alignment < sizeof(void*) ? sizeof(void*) : alignment;
            EXPECT_EQ(Address(p) % effective, 0u) << "alignment " << alignment;
            // The raw start lies in front of the word, within the alignment padding.
            const uintptr_t raw = ReleaseWord(p);
            EXPECT_LE(raw, Address(p) - sizeof(void*));
            EXPECT_LT(Address(p) - raw, effective + sizeof(void*));
            std::memset(p, 0xAB, size); // the whole block is writable (ASan checks)
            orv::Free(p);
        }
    }
}

TEST(HostMemory, OffsetAlignmentPutsTheOffsetOnTheBoundary)
{
    for (size_t offset : {size_t(0), size_t(3), size_t(8), size_t(24), size_t(40)})
    {
        void* p = orv::AllocWithOffset(64, 32, offset);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ((Address(p) + offset) % 32, 0u) << "offset " << offset;
        EXPECT_LE(ReleaseWord(p), Address(p) - sizeof(void*));
        orv::Free(p);
    }
}

TEST(HostMemory, CountersTrackBlocksAndFreeOfNullDoesNothing)
{
    const uint64_t live = orv::Testing::LiveBlockCount();
    const uint64_t made = orv::Testing::AllocationCount();
    void* a = orv::Alloc(10);
    void* b = orv::Alloc(20);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live + 2);
    orv::Free(nullptr);
    orv::Free(a);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live + 1);
    orv::Free(b);
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);
    EXPECT_EQ(orv::Testing::AllocationCount(), made + 2);
}

TEST(HostMemory, FailureSwitchLetsExactlyNThroughAndFailuresAreNotCounted)
{
    const uint64_t made = orv::Testing::AllocationCount();
    void* blocks[4] = {};
    {
        FailAllocationsScope failing(2);
        for (void*& block : blocks)
            block = orv::Alloc(8);
    }
    EXPECT_NE(blocks[0], nullptr);
    EXPECT_NE(blocks[1], nullptr);
    EXPECT_EQ(blocks[2], nullptr);
    EXPECT_EQ(blocks[3], nullptr);
    EXPECT_EQ(orv::Testing::AllocationCount(), made + 2);
    void* after = orv::Alloc(8); // switched off again
    EXPECT_NE(after, nullptr);
    for (void* block : blocks)
        orv::Free(block);
    orv::Free(after);
}

TEST(HostMemory, ImpossibleRequestsGiveNullInsteadOfThrowing)
{
    EXPECT_EQ(orv::Alloc(std::numeric_limits<size_t>::max()), nullptr);
    EXPECT_EQ(orv::Alloc(16, std::numeric_limits<size_t>::max()), nullptr);
}

struct Plain : orv::AllocatedObject
{
    int value = 5;
};
struct alignas(64) Wide : orv::AllocatedObject
{
    char bytes[64];
};

TEST(HostMemory, AllocatedObjectsLiveInHostMemory)
{
    const uint64_t live = orv::Testing::LiveBlockCount();
    Plain* one = new Plain;
    Plain* many = new Plain[3];
    Wide* wide = new Wide;
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live + 3);
    EXPECT_EQ(Address(wide) % 64, 0u);
    EXPECT_EQ(many[2].value, 5);
    delete one;
    delete[] many;
    delete wide;
    EXPECT_EQ(orv::Testing::LiveBlockCount(), live);

    FailAllocationsScope failing(0);
    EXPECT_THROW(new Plain, std::bad_alloc);
    EXPECT_EQ(new (std::nothrow) Plain, nullptr);
    alignas(Plain) unsigned char storage[sizeof(Plain)];
    Plain* placed = new (storage) Plain; // placement still works beside the class's own new
    EXPECT_EQ(placed->value, 5);
    placed->~Plain();
}

} // namespace

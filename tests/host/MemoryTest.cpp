#include "host/base/Memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

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

} // namespace

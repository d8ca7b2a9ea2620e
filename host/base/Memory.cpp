#include "host/base/Memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orv
{
namespace
{

std::atomic<int64_t> gAllocationsLeft{-1}; // < 0: failure injection off
std::atomic<uint64_t> gAllocationCount{0};
std::atomic<uint64_t> gLiveBlocks{0};

// True when the failure switch lets this allocation through (and counts it against the budget).
bool TakeAllocationBudget()
{
    int64_t left = gAllocationsLeft.load(std::memory_order_acquire);
    while (left >= 0)
    {
        if (left == 0)
            return false;
        if (gAllocationsLeft.compare_exchange_weak(left, left - 1, std::memory_order_acq_rel))
            return true;
    }
    return true;
}

size_t NormaliseAlignment(size_t alignment)
{
    size_t result = sizeof(void*);
    while (result < alignment && result <= std::numeric_limits<size_t>::max() / 2)
        result *= 2;
    return result < alignment ? 0 : result; // 0: not representable
}

} // namespace

void* AllocWithOffset(size_t size, size_t alignment, size_t alignmentOffset)
{
    alignment = NormaliseAlignment(alignment);
    if (alignment == 0)
        return nullptr;
    alignmentOffset %= alignment;
    // Room for the release word in front plus the worst-case padding.
    const size_t overhead = sizeof(void*) + alignment - 1;
    if (size > std::numeric_limits<size_t>::max() - overhead)
        return nullptr;
    if (!TakeAllocationBudget())
        return nullptr;
    void* raw = std::malloc(size + overhead);
    if (raw == nullptr)
        return nullptr;

    // Smallest address after the release word whose (address + offset) is aligned.
    const uintptr_t lowest = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
    const uintptr_t aligned =
        (lowest + alignmentOffset + alignment - 1) & ~(uintptr_t(alignment) - 1);
    unsigned char* block = reinterpret_cast<unsigned char*>(aligned - alignmentOffset);
    // With an odd offset the word may be unaligned, hence memcpy rather than a pointer store.
    std::memcpy(block - sizeof(void*), &raw, sizeof(void*));

    gAllocationCount.fetch_add(1, std::memory_order_relaxed);
    gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void* Alloc(size_t size, size_t alignment)
{
    return AllocWithOffset(size, alignment, 0);
}

void Free(void* p)
{
    if (p == nullptr)
        return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<unsigned char*>(p) - sizeof(void*), sizeof(void*));
    gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(raw);
}

// ---- AllocatedObject --------------------------------------------------------------------------

namespace
{
void* AllocOrThrow(size_t size, size_t alignment)
{
    void* p = Alloc(size, alignment);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
} // namespace

void* AllocatedObject::operator new(size_t size)
{
    return AllocOrThrow(size, 16);
}
void* AllocatedObject::operator new[](size_t size)
{
    return AllocOrThrow(size, 16);
}
void* AllocatedObject::operator new(size_t size, std::align_val_t alignment)
{
    return AllocOrThrow(size, static_cast<size_t>(alignment));
}
void* AllocatedObject::operator new[](size_t size, std::align_val_t alignment)
{
    return AllocOrThrow(size, static_cast<size_t>(alignment));
}
void* AllocatedObject::operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Alloc(size, 16);
}
void* AllocatedObject::operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Alloc(size, 16);
}
void AllocatedObject::operator delete(void* p) noexcept
{
    Free(p);
}
void AllocatedObject::operator delete[](void* p) noexcept
{
    Free(p);
}
void AllocatedObject::operator delete(void* p, std::align_val_t) noexcept
{
    Free(p);
}
void AllocatedObject::operator delete[](void* p, std::align_val_t) noexcept
{
    Free(p);
}
void AllocatedObject::operator delete(void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}
void AllocatedObject::operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}

// ---- Testing ----------------------------------------------------------------------------------

namespace Testing
{
void FailAllocationsAfter(int64_t n)
{
    gAllocationsLeft.store(n < 0 ? -1 : n, std::memory_order_release);
}

uint64_t AllocationCount()
{
    return gAllocationCount.load(std::memory_order_relaxed);
}

uint64_t LiveBlockCount()
{
    return gLiveBlocks.load(std::memory_order_relaxed);
}
} // namespace Testing

} // namespace orv

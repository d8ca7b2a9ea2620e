#pragma once

#include "host/base/BaseExport.h"

#include <cstddef>
#include <cstdint>
#include <new>

// The host's memory services. Every block handed out by the host (host objects derived from
// AllocatedObject, the buffers of element tables, the blocks behind eastl containers and
// shared pointers) comes from orv::Alloc and goes back through orv::Free, whichever library
// releases it: the blocks cross library boundaries, so all of them must agree on one layout.
//
// Layout: the machine word just before every block holds the address that Free hands back to
// the C runtime (the start of the raw allocation, which also holds the padding needed for the
// alignment). Free reads that word; nothing else is stored in front of the block.
//
// All functions are thread-safe.

namespace orv
{

// A block of `size` bytes whose address is a multiple of `alignment`, or nullptr when memory
// is short. Never throws. `alignment` is rounded up to a power of two and to at least the
// size of a pointer; a request of 0 bytes gives a distinct, releasable block.
ORV_BASE_API void* Alloc(size_t size, size_t alignment = 16);

// Like Alloc, but the block is placed so that (address + alignmentOffset) is a multiple of
// `alignment` (for containers that keep a header in front of aligned elements). The word
// before the block still holds the address Free releases.
ORV_BASE_API void* AllocWithOffset(size_t size, size_t alignment, size_t alignmentOffset);

// Releases a block from Alloc / AllocWithOffset. Free(nullptr) does nothing.
ORV_BASE_API void Free(void* p);

// Base of host objects that live in host memory: new and delete of any derived class go
// through Alloc and Free, so an object created in one library can be deleted in another.
// operator new throws std::bad_alloc when Alloc gives no memory; the nothrow forms give null.
class ORV_BASE_API AllocatedObject
{
public:
    static void* operator new(size_t size);
    static void* operator new[](size_t size);
    static void* operator new(size_t size, std::align_val_t alignment);
    static void* operator new[](size_t size, std::align_val_t alignment);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void* operator new[](size_t size, const std::nothrow_t&) noexcept;
    // Placement forms: a class-scope operator new hides the global ones, so derived classes
    // would otherwise lose placement construction.
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void* operator new[](size_t, void* where) noexcept { return where; }

    static void operator delete(void* p) noexcept;
    static void operator delete[](void* p) noexcept;
    static void operator delete(void* p, std::align_val_t) noexcept;
    static void operator delete[](void* p, std::align_val_t) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept;
    static void operator delete[](void* p, const std::nothrow_t&) noexcept;
    static void operator delete(void*, void*) noexcept {}
    static void operator delete[](void*, void*) noexcept {}
};

// Switches and counters for tests only. Production code never calls them; they exist so that
// tests can provoke allocation failure and check that every block is returned.
namespace Testing
{

// After this call, `n` further Alloc calls succeed and every later one fails (gives null),
// until the next call. FailAllocationsAfter(0) makes the very next Alloc fail; a negative `n`
// switches failure off again (the default).
ORV_BASE_API void FailAllocationsAfter(int64_t n);

// Number of successful Alloc / AllocWithOffset calls since the process started.
ORV_BASE_API uint64_t AllocationCount();

// Number of blocks handed out and not yet released.
ORV_BASE_API uint64_t LiveBlockCount();

} // namespace Testing

} // namespace orv

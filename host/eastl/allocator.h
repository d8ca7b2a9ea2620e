#pragma once

#include "host/base/Memory.h"

#include <cstddef>

// The host's container allocator. Stateless: every instance hands out host memory through
// orv::Alloc and takes it back through orv::Free, so any instance may release what another
// (in any library) allocated, and a block may also be released with orv::Free directly.
// allocate gives null when memory is short; it never throws.

namespace eastl
{

class allocator
{
public:
    // Alignment of the blocks allocate(n, flags) hands out.
    static constexpr size_t kDefaultAlignment = 16;

    explicit allocator(const char* name = nullptr) noexcept : m_name(name) {}

    void* allocate(size_t n, int flags = 0)
    {
        (void)flags; // no allocation flags are honoured by the host
        return orv::Alloc(n, kDefaultAlignment);
    }

    // A block of n bytes whose address plus alignmentOffset is a multiple of alignment.
    void* allocate(size_t n, size_t alignment, size_t alignmentOffset, int flags = 0)
    {
        (void)flags;
        return orv::AllocWithOffset(n, alignment, alignmentOffset);
    }

    void deallocate(void* p, size_t n)
    {
        (void)n; // the block knows its own extent
        orv::Free(p);
    }

    const char* get_name() const noexcept { return m_name; }
    void set_name(const char* name) noexcept { m_name = name; }

private:
    const char* m_name;
};

// All allocators share one heap, so any two compare equal.
inline bool operator==(const allocator&, const allocator&) noexcept
{
    return true;
}
inline bool operator!=(const allocator&, const allocator&) noexcept
{
    return false;
}

} // namespace eastl

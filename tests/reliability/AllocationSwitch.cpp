#include "tests/reliability/AllocationSwitch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<std::int64_t> g_newBudget{-1}; // < 0: never fail
} // namespace

// The replacement covers every operator new of the process (shared libraries included); the
// array and aligned forms are not replaced and never fail on demand.
void* operator new(std::size_t size)
{
    std::int64_t left = g_newBudget.load();
    while (left > 0 && !g_newBudget.compare_exchange_weak(left, left - 1))
    {
    }
    if (left == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

// Not inlined: inlined into a caller, GCC would see free() meet a block from operator new.
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}

__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void orv::TestSupport::FailOperatorNewAfter(std::int64_t n)
{
    g_newBudget.store(n < 0 ? -1 : n);
}

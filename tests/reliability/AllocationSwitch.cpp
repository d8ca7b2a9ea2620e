#include "AllocationSwitch.h"

#include "host/base/Memory.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<std::int64_t> g_newBudget{-1}; // < 0: never fail

bool TakeNewBudget()
{
    std::int64_t left = g_newBudget.load();
    while (left >= 0)
    {
        if (left == 0)
            return false;
        if (g_newBudget.compare_exchange_weak(left, left - 1))
            return true;
    }
    return true;
}
} // namespace

// The replacement covers every operator new of the process (shared libraries included); the
// array and aligned forms are not replaced and never fail on demand.
void* operator new(std::size_t size)
{
    if (!TakeNewBudget())
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

namespace orv::Reliability
{

void FailOperatorNewAfter(std::int64_t n)
{
    g_newBudget.store(n < 0 ? -1 : n);
}

FailureSwitch::FailureSwitch(Allocator which, std::int64_t n)
{
    if (which == Allocator::Host)
        orv::Testing::FailAllocationsAfter(n);
    else
        FailOperatorNewAfter(n);
}

FailureSwitch::~FailureSwitch()
{
    Off();
}

void FailureSwitch::Off()
{
    orv::Testing::FailAllocationsAfter(-1);
    FailOperatorNewAfter(-1);
}

} // namespace orv::Reliability

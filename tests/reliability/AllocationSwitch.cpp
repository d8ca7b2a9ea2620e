#include "tests/reliability/AllocationSwitch.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

std::atomic<std::int64_t> g_newBudget{-1}; // < 0: never fail
std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_adapterCalls{0};
std::atomic<std::uint64_t> g_otherCalls{0};

// Attributes a call to the shared library whose code holds `caller`.
void Count(const void* caller)
{
    Dl_info info{};
    const bool adapter = dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
                         std::strstr(info.dli_fname, "libOrvDataProxyImplTzk") != nullptr;
    ++(adapter ? g_adapterCalls : g_otherCalls);
}

} // namespace

// The replacement covers every operator new of the process (shared libraries included); the
// array and aligned forms are not replaced and neither fail on demand nor count.
void* operator new(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        Count(__builtin_return_address(0));
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

void orv::TestSupport::CountOperatorNew(bool on)
{
    if (on)
        g_adapterCalls = g_otherCalls = 0;
    g_counting = on;
}

orv::TestSupport::OperatorNewCalls orv::TestSupport::CountedOperatorNew()
{
    return {g_adapterCalls.load(), g_otherCalls.load()};
}

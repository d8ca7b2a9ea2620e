#pragma once

// Allocation on demand and on record. The host's orv::Alloc has its own test switch and count;
// the global operator new of the executable that links AllocationSwitch.cpp gets both here:
// it fails on demand, and it counts its calls by the shared library whose code made them.

#include "host/base/Memory.h"

#include <cstdint>

namespace orv::TestSupport
{

// After this call `n` further operator new calls succeed and every later one throws
// std::bad_alloc; a negative `n` switches failure off.
void FailOperatorNewAfter(std::int64_t n);

// The calls of operator new while counting was on: made by the adapter library's own code,
// and by anything else (the host, the standard library, the test).
struct OperatorNewCalls
{
    std::uint64_t adapter = 0;
    std::uint64_t other = 0;
};
void CountOperatorNew(bool on); // switching on starts from zero
OperatorNewCalls CountedOperatorNew();

enum class Allocator
{
    Host,  // orv::Alloc: host tables, subsets, eastl blocks, host objects
    Global // operator new: the library's own objects and every standard container
};

inline void AllocationWorks()
{
    orv::Testing::FailAllocationsAfter(-1);
    FailOperatorNewAfter(-1);
}

// Arms one allocator to fail after `n` further allocations; disarms both when destroyed.
struct FailureSwitch
{
    FailureSwitch(Allocator which, std::int64_t n)
    {
        which == Allocator::Host ? orv::Testing::FailAllocationsAfter(n) : FailOperatorNewAfter(n);
    }
    ~FailureSwitch() { AllocationWorks(); }
    FailureSwitch(const FailureSwitch&) = delete;
    FailureSwitch& operator=(const FailureSwitch&) = delete;
};

} // namespace orv::TestSupport

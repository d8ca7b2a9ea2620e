#pragma once

// Allocation failure on demand: the host's orv::Alloc has its own test switch; the global
// operator new of the executable that links AllocationSwitch.cpp gets one here.

#include "host/base/Memory.h"

#include <cstdint>

namespace orv::TestSupport
{

// After this call `n` further operator new calls succeed and every later one throws
// std::bad_alloc; a negative `n` switches failure off.
void FailOperatorNewAfter(std::int64_t n);

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

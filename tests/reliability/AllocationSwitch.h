#pragma once

// Allocation failure on demand, for the fault-injection suites: the host's orv::Alloc has its
// own test switch; the global operator new of the executable that links AllocationSwitch.cpp
// gets one here.

#include <cstdint>

namespace orv::Reliability
{

// After this call `n` further operator new calls succeed and every later one throws
// std::bad_alloc, until the next call; a negative `n` switches failure off.
void FailOperatorNewAfter(std::int64_t n);

enum class Allocator
{
    Host,  // orv::Alloc: host tables, subsets, eastl blocks, host objects
    Global // operator new: the library's own objects and every standard container
};

// Arms one allocator to fail after `n` further allocations; disarms both when destroyed.
class FailureSwitch
{
public:
    FailureSwitch(Allocator which, std::int64_t n);
    ~FailureSwitch();
    FailureSwitch(const FailureSwitch&) = delete;
    FailureSwitch& operator=(const FailureSwitch&) = delete;
    static void Off();
};

} // namespace orv::Reliability

#pragma once

#include "host/base/Memory.h"

#include <cstdint>

// Switches allocation failure on for one scope and off again, whatever the test does.
class FailAllocationsScope
{
public:
    explicit FailAllocationsScope(int64_t successesLeft)
    {
        orv::Testing::FailAllocationsAfter(successesLeft);
    }
    ~FailAllocationsScope() { orv::Testing::FailAllocationsAfter(-1); }
    FailAllocationsScope(const FailAllocationsScope&) = delete;
    FailAllocationsScope& operator=(const FailAllocationsScope&) = delete;
};

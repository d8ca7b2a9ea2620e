// libFuzzer entry point. Spatial query records of arbitrary doubles.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return orv::Fuzz::RunAsFuzzTarget(orv::Fuzz::RunQueryRecords, data, size);
}

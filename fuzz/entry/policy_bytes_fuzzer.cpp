// libFuzzer entry point. Conversion policies on arbitrary bytes and values.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return orv::Fuzz::RunAsFuzzTarget(orv::Fuzz::RunPolicyBytes, data, size);
}

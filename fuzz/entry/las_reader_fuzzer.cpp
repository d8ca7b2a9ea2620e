// libFuzzer entry point. The LAS library's reader over arbitrary bytes.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return orv::Fuzz::RunAsFuzzTarget(orv::Fuzz::RunLasReader, data, size);
}

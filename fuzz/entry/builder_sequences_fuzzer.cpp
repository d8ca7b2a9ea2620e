// libFuzzer entry point. Operation sequences on mappings, builder factories and builders.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return orv::Fuzz::RunAsFuzzTarget(orv::Fuzz::RunBuilderSequences, data, size);
}

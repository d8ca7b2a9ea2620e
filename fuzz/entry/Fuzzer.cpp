// libFuzzer entry point of the target ORV_FUZZ_TARGET names (a function of FuzzSupport.h). A
// broken invariant, or any exception escaping the target, becomes an abort, which libFuzzer
// reports as a crash and saves the input of.
#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try
    {
        orv::Fuzz::ORV_FUZZ_TARGET(data, size);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "fuzz target failed: %s\n", e.what());
        std::abort();
    }
    catch (...)
    {
        std::fprintf(stderr, "fuzz target failed: an exception of unknown type escaped\n");
        std::abort();
    }
    return 0;
}

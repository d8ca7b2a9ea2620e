// A client of the installed package: includes the umbrella header and uses the library.
#include <OrvDataProxyImplTzk.h>

#include <cstdio>

int main()
{
    orv::Data::Cloud::ComponentMapping mapping;
    const unsigned char first = mapping.Map(orv::DataProxy::EPointDataComponent::Real, 7);
    const unsigned char second = mapping.Map(orv::DataProxy::EPointDataComponent::Real, 8);
    if (first != 0 || second != 1)
    {
        std::puts("unexpected indices");
        return 1;
    }
    std::puts("installed package OK");
    return 0;
}

// A client of the installed package: includes the umbrella header and uses the library.
#include <OrvDataProxyImplTzk.h>
#include <las/LasReader.h>
#include <las/LasWriter.h>

#include <cstdio>

bool UmbrellaClientWorks(); // umbrella.cpp: includes nothing but the umbrella header

// Links only if the library exports IQueryablePointData's special members.
class NoPoints final : public orv::DataProxy::IQueryablePointData<orv::DataProxy::InsideSphereQuery>
{
public:
    std::unique_ptr<orv::DataProxy::IPointDataProvider>
    GetPoints(const orv::DataProxy::InsideSphereQuery&, bool) const override
    {
        return nullptr;
    }
};

int main()
{
    const NoPoints queryable;
    NoPoints copy(queryable);
    copy = queryable;
    if (copy.GetPoints({{0, 0, 0}, 1.0}, false) != nullptr)
    {
        return 1;
    }

    orv::Data::Cloud::ComponentMapping mapping;
    const unsigned char first = mapping.Map(orv::DataProxy::EPointDataComponent::Real, 7);
    const unsigned char second = mapping.Map(orv::DataProxy::EPointDataComponent::Real, 8);
    if (first != 0 || second != 1)
    {
        std::puts("unexpected indices");
        return 1;
    }
    // The LAS library: an empty cloud written and read back, its error type caught here.
    const orv::Data::Cloud::PointCloudDataProvider empty{orv::Data::Cloud::PointCloud()};
    orv::DataProxy::Las::WriteLas("installed_client.las", empty, {});
    if (orv::DataProxy::Las::LasReader("installed_client.las").Header().pointCount != 0)
    {
        return 1;
    }
    try
    {
        orv::DataProxy::Las::LasReader("installed_client.absent");
        return 1;
    }
    catch (const orv::DataProxy::Las::LasError&)
    {
    }
    if (!UmbrellaClientWorks())
    {
        return 1;
    }
    std::puts("installed package OK");
    return 0;
}

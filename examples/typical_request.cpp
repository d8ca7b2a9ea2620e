// The typical request, end to end: copy the points of a cloud that lie inside a sphere,
// with one extra-data attribute, into a new cloud.
//
// Built and run by the tests, so this example always compiles and works.
#include <OrvDataProxyImplTzk.h>

#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"

#include <cmath>
#include <cstdio>
#include <memory>

using namespace orv::Data::Cloud;
using orv::DataProxy::EPointDataComponent;

namespace
{

// A host cloud of 1000 points on a line, each classified by its position.
PointCloud MakeCloud()
{
    PointCloud cloud;
    orv::Math::Algebra::GPointDouble position{};
    std::uint8_t classification = 0;
    GCloudPointData record(&position); // the host reads the staged values at every AddPoint
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    for (int i = 0; i < 1000; ++i)
    {
        position = {652000.0 + i * 0.1, 5180000.0, 300.0};
        classification = static_cast<std::uint8_t>(i % 10);
        cloud.AddPoint(record, true);
    }
    return cloud;
}

} // namespace

int main()
{
    const int classificationType = CloudClassificationExtraData::TypeId();

    // 1. A provider over the host cloud, with the attribute mapped: key (UnsignedInteger, 0).
    PointCloudDataProvider source(MakeCloud());
    const unsigned char index =
        *source.MapOptionalComponent(EPointDataComponent::UnsignedInteger, classificationType);

    // 2. The points inside a sphere, as a new provider with the same mapping.
    const orv::DataProxy::InsideSphereQuery sphere{{652050.0, 5180000.0, 300.0}, 10.05};
    const std::unique_ptr<orv::DataProxy::IPointDataProvider> inside =
        source.GetPoints(sphere, /*invert=*/false);

    // 3. A factory configured with the same component and type, at the type's own width (one
    //    byte for a classification). PointCloudDataBuilderFactory factory(source.GetMapping())
    //    would do the same for every key of the source.
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger, classificationType);
    const orv::DataProxy::WantAll consumer; // wants every key; outlives builder and iterable
    const std::shared_ptr<orv::DataProxy::IPointDataBuilder> builder =
        factory.CreatePointDataBuilder(consumer);

    // 4. Walk the query result with a cursor and append every point.
    std::uint64_t copied = 0;
    for (auto cursor = inside->GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        builder->AddPointData(*cursor);
        ++copied;
    }

    // 5. The new cloud, as a provider that reports the mapped key.
    const std::shared_ptr<orv::DataProxy::IPointDataProvider> result = builder->GetResult();
    const bool hasKey = result->HasComponent(EPointDataComponent::UnsignedInteger, index);
    std::uint64_t checked = 0;
    for (auto cursor = result->GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        const auto p = cursor->GetPosition();
        const auto label = cursor->GetUnsignedInteger(index);
        const long i = std::lround((p.x - 652000.0) / 0.1);
        checked += label && *label == static_cast<std::uint64_t>(i % 10) ? 1 : 0;
    }
    std::printf("copied %llu points inside the sphere, %llu verified, key present: %s\n",
                static_cast<unsigned long long>(copied), static_cast<unsigned long long>(checked),
                hasKey ? "yes" : "no");
    // 201 points lie within 10.05 m of the centre (spacing 0.1 m): i = 400 .. 600.
    return copied == 201 && checked == copied && hasKey ? 0 : 1;
}

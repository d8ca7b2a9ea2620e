#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Selection.h"
#include "host/geometry/VariantSwitch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <tuple>
#include <typeindex>

// The switch between the reference host's choices and the alternate host's. Its own
// executable: the in-process switch needs a process without clouds.

namespace
{

using namespace orv::Data::Cloud;
using orv::HostVariant;

// What a client can see of the host's free choices: the subset capacity, a new cloud's colour
// mode, whether the frame stays the identity after a first point far from the origin, the scan
// id of a point without one next to one with, the fill of a New(false) element, whether the
// host has its own intensity-as-colour policy, an empty cloud's box (minimum x), whether no
// plane keeps everything, and whether the normal codec gives the y axis back exactly.
using Choices = std::tuple<uint32_t, int, bool, uint32_t, int, bool, double, bool, bool>;

Choices Observe()
{
    PointCloud cloud;
    const uint32_t capacity = cloud.Convert().GetSubsetCapacity();
    const int mode = cloud.Convert().GetType();
    const double emptyBoxMinX = cloud.ComputeBoundingBox().v[0];
    GPointDouble position{652000, 5180000, 300};
    uint32_t scan = 7, lacking = 0;
    GCloudPointData bare(&position), withScan(&position);
    withScan.AddExtraData(CloudScanIDExtraData::TypeId(), &scan);
    cloud.AddPoint(bare, true);
    cloud.AddPoint(withScan, true);
    std::memcpy(&lacking, cloud.Convert().GetExtraDataElement(CloudScanIDExtraData::TypeId(), 0),
                4);
    orv::Collection::TableCluster table(4);
    GVector3 y{};
    orv::Math::Algebra::CompressedVector32Bits(GVector3{0, 1, 0}).VectorGet(y);
    return {capacity,
            mode,
            orv::Math::Algebra::IsIdentity(cloud.Convert().GetMatrix()),
            lacking,
            *static_cast<uint8_t*>(table.New(false)),
            orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
                CloudIntensityExtraData::TypeId(),
                std::type_index(typeid(orv::Data::Primitive::ColorValue))) != nullptr,
            emptyBoxMinX,
            orv::Graphics::SelPrcPntClipPlane(orv::Graphics::GCompSelClippingPlane())
                .Accepts({1, 2, 3}),
            y.x == 0.0};
}

// Switches every choice while no cloud exists.
TEST(HostVariant, Switch)
{
    const HostVariant loaded = orv::CurrentHostVariant();
    ASSERT_TRUE(orv::Testing::UseHostVariant(HostVariant::Alternate));
    const Choices alternate = Observe();
    {
        const PointCloud alive;
        EXPECT_FALSE(orv::Testing::UseHostVariant(HostVariant::Reference)) << "a cloud exists";
        EXPECT_EQ(orv::CurrentHostVariant(), HostVariant::Alternate);
    }
    ASSERT_TRUE(orv::Testing::UseHostVariant(HostVariant::Reference));
    const Choices reference = Observe();
    ASSERT_TRUE(orv::Testing::UseHostVariant(loaded));
    // The reference host's octahedral codec stores the axes exactly; the alternate host's
    // latitude-azimuth codec does not.
    EXPECT_EQ(reference, Choices(65536u, 1, false, 0u, 0, true,
                                 std::numeric_limits<double>::infinity(), true, true));
    EXPECT_EQ(alternate, Choices(97u, 3, true, 0xCDCDCDCDu, 0xCD, false, 0.0, false, false));
}

// Type ids are handed out while the host loads, so only the environment switches them.
TEST(HostVariant, TypeIds)
{
    const int first = CloudClassificationExtraData::TypeId();
    const int second = CloudGridPositionIndexExtraData::TypeId();
    EXPECT_EQ(first, orv::IsAlternateHost() ? 30011 : 1);
    EXPECT_EQ(second - first, orv::IsAlternateHost() ? -7 : 1);
}

} // namespace

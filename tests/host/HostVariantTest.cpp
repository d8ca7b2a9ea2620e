#include "host/core/TableCluster.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Selection.h"
#include "host/geometry/VariantSwitch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <typeindex>

// The switch between the reference host's choices and the alternate host's. Its own
// executable: the in-process switch needs a process without clouds.

namespace
{

using namespace orv::Data::Cloud;
using orv::HostVariant;

// What a client can see of the host's free choices.
struct Choices
{
    uint32_t subsetCapacity;
    int newCloudMode;
    bool frameStaysIdentity; // after a first point far from the origin
    uint32_t lackingScanId;  // a point without a scan id, next to one with
    uint8_t freshFill;       // New(false)
    bool colourPolicy;       // the host's own intensity-as-colour policy
    double emptyBoxMinX;
    bool noPlaneKeepsAll;
    GVector3 decodedY; // (0, 1, 0) through the normal codec
};

Choices Observe()
{
    Choices c{};
    PointCloud cloud;
    c.subsetCapacity = cloud.Convert().GetSubsetCapacity();
    c.newCloudMode = cloud.Convert().GetType();
    c.emptyBoxMinX = cloud.ComputeBoundingBox().v[0];
    GPointDouble position{652000, 5180000, 300};
    uint32_t scan = 7;
    GCloudPointData bare(&position), withScan(&position);
    withScan.AddExtraData(CloudScanIDExtraData::TypeId(), &scan);
    cloud.AddPoint(bare, true);
    cloud.AddPoint(withScan, true);
    c.frameStaysIdentity = orv::Math::Algebra::IsIdentity(cloud.Convert().GetMatrix());
    std::memcpy(&c.lackingScanId,
                cloud.Convert().GetExtraDataElement(CloudScanIDExtraData::TypeId(), 0), 4);
    orv::Collection::TableCluster table(4);
    c.freshFill = *static_cast<uint8_t*>(table.New(false));
    c.colourPolicy = orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
                         CloudIntensityExtraData::TypeId(),
                         std::type_index(typeid(orv::Data::Primitive::ColorValue))) != nullptr;
    orv::Graphics::GCompSelClippingPlane none;
    c.noPlaneKeepsAll = orv::Graphics::SelPrcPntClipPlane(none).Accepts({1, 2, 3});
    orv::Math::Algebra::CompressedVector32Bits(GVector3{0, 1, 0}).VectorGet(c.decodedY);
    return c;
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

    EXPECT_EQ(reference.subsetCapacity, 65536u);
    EXPECT_EQ(alternate.subsetCapacity, 97u);
    EXPECT_EQ(reference.newCloudMode, 1);
    EXPECT_EQ(alternate.newCloudMode, 3);
    EXPECT_FALSE(reference.frameStaysIdentity);
    EXPECT_TRUE(alternate.frameStaysIdentity);
    EXPECT_EQ(reference.lackingScanId, 0u);
    EXPECT_EQ(alternate.lackingScanId, 0xCDCDCDCDu);
    EXPECT_EQ(reference.freshFill, 0);
    EXPECT_EQ(alternate.freshFill, 0xCD);
    EXPECT_TRUE(reference.colourPolicy);
    EXPECT_FALSE(alternate.colourPolicy);
    EXPECT_EQ(reference.emptyBoxMinX, std::numeric_limits<double>::infinity());
    EXPECT_EQ(alternate.emptyBoxMinX, 0.0);
    EXPECT_TRUE(reference.noPlaneKeepsAll);
    EXPECT_FALSE(alternate.noPlaneKeepsAll);
    EXPECT_EQ(reference.decodedY.x, 0.0) << "the octahedral codec stores the axes exactly";
    EXPECT_NE(alternate.decodedY.x, 0.0) << "the latitude-azimuth codec does not";
}

// Type ids are handed out while the host loads, so only the environment switches them.
TEST(HostVariant, TypeIds)
{
    const int first = CloudClassificationExtraData::TypeId();
    const int second = CloudGridPositionIndexExtraData::TypeId();
    if (orv::IsAlternateHost())
    {
        EXPECT_EQ(first, 30011);
        EXPECT_EQ(second - first, -7);
    }
    else
    {
        EXPECT_EQ(first, 1);
        EXPECT_EQ(second - first, 1);
    }
}

} // namespace

#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;

namespace
{

const Matrix3x4 kIdentity{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};

struct Visit
{
    std::uint64_t pointIndex;
    GPointDouble position;
};

std::vector<Visit> Walk(orv::DataProxy::IPointDataCursor& cursor)
{
    std::vector<Visit> visits;
    for (; cursor.IsValid(); cursor.MoveNext())
    {
        visits.push_back({cursor.GetPointIndex(), cursor.GetPosition()});
    }
    return visits;
}

// The stored floats of every visible point, as the host keeps them.
std::vector<std::array<float, 3>> StoredFloats(const orv::Data::Cloud::PointCloud& cloud)
{
    const orv::Data::Cloud::GCloud& host = cloud.Convert();
    std::vector<std::array<float, 3>> stored;
    for (std::uint64_t i = 0; i < host.GetStoredPointCount(); ++i)
    {
        if (host.IsPointVisible(i))
        {
            std::array<float, 3> xyz;
            std::memcpy(xyz.data(), host.GetStoredCoordinates(i), sizeof xyz);
            stored.push_back(xyz);
        }
    }
    return stored;
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(Cursor, VisitsVisiblePointsAcrossSubsetsWithTheirStorageIndex)
{
    // Subsets of 4: hidden points at a subset start, in the middle, a whole subset hidden,
    // and the last point hidden.
    CloudSetup setup;
    setup.frame = kIdentity;
    setup.subsetCapacity = 4;
    setup.hidden = {0, 5, 8, 9, 10, 11, 13};
    std::vector<TestPoint> points = GridPoints(14);
    PointCloudDataProvider provider(BuildCloud(points, setup));
    WantAll consumer;
    const auto visits = Walk(*provider.GetIterable(consumer)->CreateCursor());

    std::vector<std::uint64_t> expected = {1, 2, 3, 4, 6, 7, 12};
    ASSERT_EQ(visits.size(), expected.size());
    EXPECT_EQ(provider.Size(), expected.size());
    for (std::size_t i = 0; i < visits.size(); ++i)
    {
        EXPECT_EQ(visits[i].pointIndex, expected[i]);
        // Identity frame, coordinates exact in float: the position is the input, exactly.
        EXPECT_EQ(visits[i].position.x, points[expected[i]].world.x);
        EXPECT_EQ(visits[i].position.y, points[expected[i]].world.y);
        EXPECT_EQ(visits[i].position.z, points[expected[i]].world.z);
    }
}

TEST(Cursor, WorldPositionsFollowTheFrameToTheBit)
{
    CloudSetup setup;
    setup.frame = RotationZ(0.7, 652000.25, 5180000.5, 301.0);
    setup.subsetCapacity = 3;
    setup.hidden = {4};
    const auto cloud = BuildCloud(GridPoints(10, 652000.0), setup);
    const auto stored = StoredFloats(cloud);
    PointCloudDataProvider provider(cloud);
    WantAll consumer;
    const auto visits = Walk(*provider.GetIterable(consumer)->CreateCursor());
    ASSERT_EQ(visits.size(), stored.size());
    const double* m = cloud.Convert().GetMatrix().v;
    for (std::size_t i = 0; i < visits.size(); ++i)
    {
        const double x = stored[i][0];
        const double y = stored[i][1];
        const double z = stored[i][2];
        EXPECT_TRUE(SameBits(visits[i].position.x, ((m[1] * y + m[0] * x) + m[2] * z) + m[9]));
        EXPECT_TRUE(SameBits(visits[i].position.y, ((m[4] * y + m[3] * x) + m[5] * z) + m[10]));
        EXPECT_TRUE(SameBits(visits[i].position.z, ((m[7] * y + m[6] * x) + m[8] * z) + m[11]));
    }
}

TEST(Cursor, ExtraDataFollowsThePointAcrossSubsetsAndFilters)
{
    CloudSetup setup;
    setup.frame = RotationZ(M_PI / 2, 0, 0, 0); // x -> y
    setup.subsetCapacity = 4;
    setup.hidden = {1, 4, 5, 6, 7};
    const std::vector<TestPoint> points = GridPoints(11);
    PointCloudDataProvider provider(BuildCloud(points, setup));
    using namespace orv::Data::Cloud;
    const auto cls = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                   CloudClassificationExtraData::TypeId());
    const auto scan = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                    CloudScanIDExtraData::TypeId());
    const auto intensity = provider.MapOptionalComponent(EPointDataComponent::Real,
                                                         CloudIntensityNewExtraData::TypeId());
    const auto normal =
        provider.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());

    WantAll consumer;
    auto cursor = provider.GetIterable(consumer)->CreateCursor();
    std::size_t visited = 0;
    for (; cursor->IsValid(); cursor->MoveNext(), ++visited)
    {
        const TestPoint& p = points[cursor->GetPointIndex()];
        EXPECT_EQ(cursor->GetUnsignedInteger(*cls), p.classification);
        EXPECT_EQ(cursor->GetUnsignedInteger(*scan), p.scanId);
        EXPECT_EQ(cursor->GetReal(*intensity), static_cast<double>(p.intensityNew));
        // Normals come out rotated into the frame: (x, y, z) -> (-y, x, z).
        const auto n = cursor->GetVector3(*normal);
        ASSERT_TRUE(n.has_value());
        EXPECT_NEAR(n->x, -p.normal.y, 1e-4);
        EXPECT_NEAR(n->y, p.normal.x, 1e-4);
        EXPECT_NEAR(n->z, p.normal.z, 1e-4);
    }
    EXPECT_EQ(visited, 6u);
}

TEST(Cursor, UnrequestedUnmappedAndUnreadableKeys)
{
    using namespace orv::Data::Cloud;
    PointCloudDataProvider provider(BuildCloud(GridPoints(3)));
    const auto cls = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                   CloudClassificationExtraData::TypeId());
    // No policy converts classifications to signed integers: readable key, no value.
    const auto signedCls = provider.MapOptionalComponent(EPointDataComponent::SignedInteger,
                                                         CloudClassificationExtraData::TypeId());
    // A type the cloud does not carry: no value either.
    const auto absent = provider.MapOptionalComponent(EPointDataComponent::Real,
                                                      CloudMaxProbabilityExtraData::TypeId());
    const auto declined = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                        CloudScanIDExtraData::TypeId());
    RecordingConsumer consumer({{EPointDataComponent::UnsignedInteger, *declined}});
    auto cursor = provider.GetIterable(consumer)->CreateCursor();
    ASSERT_TRUE(cursor->IsValid());

    EXPECT_TRUE(cursor->GetUnsignedInteger(*cls).has_value());
    EXPECT_FALSE(cursor->GetSignedInteger(*signedCls).has_value());
    EXPECT_FALSE(cursor->GetReal(*absent).has_value());
    for (auto call :
         std::initializer_list<std::function<void()>>{
             [&] { cursor->GetUnsignedInteger(*declined); }, [&] { cursor->GetUnsignedInteger(9); },
             [&] { cursor->GetVector3(0); }, [&] { cursor->GetColor(0); },
             [&] { cursor->GetReal(1); }})
    {
        try
        {
            call();
            ADD_FAILURE() << "expected std::out_of_range";
        }
        catch (const std::out_of_range& error)
        {
            EXPECT_STREQ(error.what(), "invalid unordered_map<K, T> key");
        }
    }

    // Asked once about (Position, 0), then once per mapped key.
    ASSERT_EQ(consumer.asked.size(), 5u);
    EXPECT_EQ(consumer.asked[0], (Key{EPointDataComponent::Position, 0}));
}

TEST(Cursor, PositionWithoutRequestThrowsInsteadOfReadingNothing)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(2)));
    RecordingConsumer consumer({{EPointDataComponent::Position, 0}});
    auto cursor = provider.GetIterable(consumer)->CreateCursor();
    ASSERT_TRUE(cursor->IsValid());
    EXPECT_THROW(cursor->GetPosition(), std::bad_optional_access);
    EXPECT_EQ(cursor->GetPointIndex(), 0u);
    cursor->MoveNext();
    EXPECT_EQ(cursor->GetPointIndex(), 1u);
}

TEST(Cursor, ColoursReadBackWithAlphaOne)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    cloud.Convert().SetType(2, 0.0f, 0.0f, nullptr, false);
    GPointDouble position{1, 2, 3};
    orv::Data::Primitive::ColorValue color;
    color.SetRGB(1.0f, 0.0f, 0.2f);
    GCloudPointData record(&position);
    record.AddExtraData(CloudIntensityExtraData::TypeId(), &color);
    cloud.AddPoint(record, true);

    PointCloudDataProvider provider(cloud);
    const auto key = provider.MapOptionalComponent(EPointDataComponent::Color,
                                                   CloudIntensityExtraData::TypeId());
    WantAll consumer;
    auto cursor = provider.GetIterable(consumer)->CreateCursor();
    const auto rgba = cursor->GetColor(*key);
    ASSERT_TRUE(rgba.has_value());
    float r = 0, g = 0, b = 0;
    color.GetRGB(r, g, b);
    EXPECT_EQ(rgba->r, r);
    EXPECT_EQ(rgba->g, g);
    EXPECT_EQ(rgba->b, b);
    EXPECT_EQ(rgba->a, 1.0);
}

TEST(Cursor, SeesTheMappingAsItStandsWhenCreated)
{
    using namespace orv::Data::Cloud;
    PointCloudDataProvider provider(BuildCloud(GridPoints(4)));
    WantAll consumer;
    auto iterable = provider.GetIterable(consumer);
    auto before = iterable->CreateCursor();
    const auto key = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                   CloudScanIDExtraData::TypeId());
    auto after = iterable->CreateCursor();
    EXPECT_THROW(before->GetUnsignedInteger(*key), std::out_of_range);
    EXPECT_EQ(after->GetUnsignedInteger(*key), 1000u);
}

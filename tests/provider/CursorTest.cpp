#include "builder/PointCloudDataBuilderFactory.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"
#include "tests/support/Thrown.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;

// Subsets of 4 in a rotated frame far from the origin; hidden: a subset's first point, one in
// the middle, a whole subset and the last point. The cursor visits the visible points in storage
// order, each with its storage index, its world position computed from the stored floats (to
// the bit, in the order clients use), its extra data, and its normal rotated into the world.
TEST(Cursor, VisitsVisiblePoints)
{
    const double angle = 0.7, c = std::cos(angle), s = std::sin(angle);
    const PointCloud cloud =
        BuildCloud(GridPoints(14, 652000),
                   {4, RotationZ(angle, 652000.25, 652000.5, 652001), {0, 5, 8, 9, 10, 11, 13}});
    const PointCloudDataProvider provider = MappedProvider(cloud);
    const double* m = cloud.Convert().GetMatrix().v;
    WantAll consumer;
    std::vector<std::uint64_t> visited;
    for (auto cursor = provider.GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        const std::uint64_t i = cursor->GetPointIndex();
        visited.push_back(i);
        const float* f = cloud.Convert().GetStoredCoordinates(i);
        const double x = f[0], y = f[1], z = f[2];
        const GPointDouble p = cursor->GetPosition();
        EXPECT_TRUE(SameBits(p.x, ((m[1] * y + m[0] * x) + m[2] * z) + m[9])) << i;
        EXPECT_TRUE(SameBits(p.y, ((m[4] * y + m[3] * x) + m[5] * z) + m[10])) << i;
        EXPECT_TRUE(SameBits(p.z, ((m[7] * y + m[6] * x) + m[8] * z) + m[11])) << i;
        const PointValues v(i);
        EXPECT_EQ(cursor->GetUnsignedInteger(0), v.classification);
        EXPECT_EQ(cursor->GetUnsignedInteger(1), v.scanId);
        EXPECT_EQ(cursor->GetReal(0), double(v.intensity));
        const GVector3 n = v.normal, rotated{c * n.x - s * n.y, s * n.x + c * n.y, n.z};
        EXPECT_LT(Distance(cursor->GetVector3(0).value(), rotated),
                  orv::TestSupport::HostChoice::NormalCodecBound())
            << i;
    }
    EXPECT_EQ(visited, (std::vector<std::uint64_t>{1, 2, 3, 4, 6, 7, 12}));
    EXPECT_EQ(provider.Size(), visited.size());
}

// Unrequested and unmapped keys throw; unreadable ones give no value.
TEST(Cursor, UnservedKeys)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(3)));
    const auto cls = provider.MapOptionalComponent(C::UnsignedInteger, Type::Class());
    // No policy converts classifications to signed integers, and the cloud carries no
    // probabilities: readable keys without value.
    const auto signedCls = provider.MapOptionalComponent(C::SignedInteger, Type::Class());
    const auto absent =
        provider.MapOptionalComponent(C::Real, CloudMaxProbabilityExtraData::TypeId());
    const auto declined = provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    TestConsumer consumer({{C::UnsignedInteger, *declined}});
    auto cursor = provider.GetIterable(consumer)->CreateCursor();
    ASSERT_TRUE(cursor->IsValid());
    EXPECT_EQ(consumer.calls, 5); // once about (Position, 0), then once per mapped key
    EXPECT_TRUE(cursor->GetUnsignedInteger(*cls).has_value());
    EXPECT_FALSE(cursor->GetSignedInteger(*signedCls).has_value());
    EXPECT_FALSE(cursor->GetReal(*absent).has_value());
    for (auto call :
         std::initializer_list<std::function<void()>>{
             [&] { cursor->GetUnsignedInteger(*declined); }, [&] { cursor->GetUnsignedInteger(9); },
             [&] { cursor->GetVector3(0); }, [&] { cursor->GetColor(0); },
             [&] { cursor->GetReal(1); }})
        EXPECT_EQ(Thrown<std::out_of_range>(call), "invalid unordered_map<K, T> key");
}

// GetPosition without a position to read throws instead of reading what is not there, and
// changes nothing; a builder handed such a cursor lets the exception through and stays usable.
TEST(Cursor, PositionUnavailable)
{
    // The last point hidden: one past the last stored point is not the visible count.
    PointCloudDataProvider provider(BuildCloud(GridPoints(5), {2, {}, {4}}));
    TestConsumer noPosition({{C::Position, 0}});
    auto blind = provider.GetIterable(noPosition)->CreateCursor();
    EXPECT_THROW(blind->GetPosition(), std::out_of_range);
    blind->MoveNext();
    EXPECT_EQ(blind->GetPointIndex(), 1u);

    WantAll consumer;
    const PointCloudDataProvider empty = PointCloud(); // the constructor is not explicit
    auto walked = provider.GetIterable(consumer)->CreateCursor();
    while (walked->IsValid())
        walked->MoveNext();
    for (const auto& [cursor, pointIndex] :
         {std::pair{empty.GetIterable(consumer)->CreateCursor(), 0u}, std::pair{walked, 5u}})
    {
        EXPECT_EQ(Thrown<std::out_of_range>([&] { cursor->GetPosition(); }),
                  "GetPosition: the cursor is past its end");
        EXPECT_FALSE(cursor->IsValid());
        EXPECT_EQ(cursor->GetPointIndex(), pointIndex); // one past the last stored point
    }
    orv::Data::Cloud::PointCloudDataBuilderFactory factory;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    EXPECT_THROW(builder->AddPointData(*walked), std::out_of_range);
    builder->AddPointData(*provider.GetIterable(consumer)->CreateCursor());
    EXPECT_EQ(SizeOf(*builder), 1u);

    // A cursor sees the mapping as it stands when the cursor is created.
    auto iterable = provider.GetIterable(consumer);
    auto before = iterable->CreateCursor();
    const auto key = provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    EXPECT_THROW(before->GetUnsignedInteger(*key), std::out_of_range);
    EXPECT_EQ(iterable->CreateCursor()->GetUnsignedInteger(*key), 1000u);

    // Past the end of the lower piece the iterators stand on the upper piece's first point:
    // no value of that point leaks out.
    auto lower = provider.GetIterable(consumer);
    const auto upper = lower->Split();
    auto end = lower->CreateCursor();
    while (end->IsValid())
        end->MoveNext();
    EXPECT_EQ(end->GetUnsignedInteger(*key), std::nullopt);
    EXPECT_EQ(upper->CreateCursor()->GetUnsignedInteger(*key), 1002u);
}

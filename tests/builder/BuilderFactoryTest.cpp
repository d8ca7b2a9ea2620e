#include "BuilderTestSupport.h"

#include <utility>

using namespace builder_test;

TEST(BuilderFactory, HandsOutKeysPerComponentAndRecordsTheirWidths)
{
    PointCloudDataBuilderFactory f;
    EXPECT_EQ(f.MapOptionalComponent(C::UnsignedInteger, 11, 2), (Key{C::UnsignedInteger, 0}));
    EXPECT_EQ(f.MapOptionalComponent(C::UnsignedInteger, 22, 8), (Key{C::UnsignedInteger, 1}));
    EXPECT_EQ(f.MapOptionalComponent(C::Vector3, 33, 4), (Key{C::Vector3, 0}));
    EXPECT_EQ(f.MapOptionalComponent(C::Color, 44, 12345), (Key{C::Color, 0}));
    EXPECT_EQ(f.MapOptionalComponent(C::Position, 55, 1), (Key{C::Position, 0}));
    EXPECT_EQ(f.storageWidthByKey,
              (orv::Data::Cloud::StorageWidthTable{{{C::UnsignedInteger, 0}, 2},
                                                   {{C::UnsignedInteger, 1}, 8},
                                                   {{C::Vector3, 0}, 4},
                                                   {{C::Color, 0}, 12345},
                                                   {{C::Position, 0}, 1}}));
    EXPECT_EQ(f.mapping.extraDataTypeByKey.at({C::UnsignedInteger, 1}), 22);

    // Clearing restarts the indices and replaces a reused key's width; stale widths stay.
    f.ClearComponentMapping();
    EXPECT_TRUE(f.mapping.extraDataTypeByKey.empty());
    EXPECT_EQ(f.MapOptionalComponent(C::UnsignedInteger, 66, 4), (Key{C::UnsignedInteger, 0}));
    EXPECT_EQ(f.storageWidthByKey.at({C::UnsignedInteger, 0}), 4u);
    EXPECT_EQ(f.storageWidthByKey.at({C::UnsignedInteger, 1}), 8u);
}

TEST(BuilderFactory, CopiesAreIndependentAndAMovedFromFactoryIsEmpty)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Real, 11, 4);
    PointCloudDataBuilderFactory copy(f);
    copy.MapOptionalComponent(C::Real, 22, 8);
    EXPECT_EQ(f.storageWidthByKey.size(), 1u);
    EXPECT_EQ(copy.storageWidthByKey.size(), 2u);

    auto& alias = copy;
    copy = alias;
    copy = std::move(alias);
    EXPECT_EQ(copy.storageWidthByKey.size(), 2u);
    EXPECT_EQ(copy.mapping.extraDataTypeByKey.size(), 2u);

    PointCloudDataBuilderFactory moved(std::move(copy));
    EXPECT_EQ(moved.storageWidthByKey.size(), 2u);
    EXPECT_TRUE(copy.storageWidthByKey.empty());
    EXPECT_TRUE(copy.mapping.extraDataTypeByKey.empty());
    EXPECT_EQ(copy.MapOptionalComponent(C::Real, 33, 4), (Key{C::Real, 0}));

    f = std::move(moved);
    EXPECT_EQ(f.storageWidthByKey.size(), 2u);
    EXPECT_TRUE(moved.storageWidthByKey.empty() && moved.mapping.nextIndexByComponent.empty());
}

TEST(BuilderFactory, BuildersKeepTheConfigurationTheyWereCreatedWith)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::UnsignedInteger, ClassificationType(), 1);
    TestConsumer consumer;
    const auto before = f.CreatePointDataBuilder(consumer);
    f.ClearComponentMapping();
    f.MapOptionalComponent(C::UnsignedInteger, ScanIdType(), 4);
    const auto after = f.CreatePointDataBuilder(consumer);

    TestAccessor point;
    point.point.Set(0, std::uint64_t{300});
    before->AddPointData(point);
    after->AddPointData(point);
    const PointCloud a = CloudOf(before->GetResult());
    const PointCloud b = CloudOf(after->GetResult());
    EXPECT_EQ(Stored<std::uint8_t>(a, ClassificationType(), 0), 44);
    EXPECT_FALSE(a.Convert().HasExtraData(ScanIdType()));
    EXPECT_EQ(Stored<std::uint32_t>(b, ScanIdType(), 0), 300u);
    EXPECT_FALSE(b.Convert().HasExtraData(ClassificationType()));
}

// AppendBlock against AddPointData: the same random blocks (absent values over random bits,
// every extra-data component, every legal width the host's types allow, colours, a frame far
// from the origin, refused positions) appended point by point, by our builder's native
// AppendBlock and by the fallback for builders without it must give clouds identical element
// by element.
#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/PointDataBlockAppend.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <random>

using namespace orv::TestSupport;
using orv::DataProxy::PointDataBlock;

namespace
{

double Unit(std::mt19937_64& rng)
{
    return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
}

template <class T>
T Random(std::mt19937_64& rng)
{
    if constexpr (std::is_same_v<T, GVector3>)
        return {Unit(rng), Unit(rng), rng() % 9 ? Unit(rng) : 0};
    else if constexpr (std::is_same_v<T, double>)
        return 1e39 * Unit(rng); // beyond a float's range now and then
    else if constexpr (std::is_same_v<T, RgbaColor>)
        return {Unit(rng), 2 * Unit(rng), 0.5 + Unit(rng) / 2, 1};
    else
        return T(rng());
}

// Point i of the block as a record: only its present values.
PointRecord Row(const PointDataBlock& block, std::size_t i)
{
    PointRecord record;
    record.position = {block.X()[i], block.Y()[i], block.Z()[i]};
    for (const Key& key : block.Layout().keys)
        WithComponent(key.component,
                      [&](auto c)
                      {
                          const auto column = block.Column<decltype(c)::value>(key.index);
                          if (column.present[i])
                              Put(record, key.index, column.values[i]);
                      });
    return record;
}

} // namespace

TEST(BlockAppend, StoresExactlyWhatAddPointDataStores)
{
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::SplitColor(), 2);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    factory.MapOptionalComponent(C::SignedInteger, CloudClassificationInstanceExtraData::TypeId(),
                                 2);
    factory.MapOptionalComponent(C::SignedInteger, CloudSegmentationExtraData::TypeId(), 4);
    factory.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    factory.MapOptionalComponent(C::Real, CloudMaxProbabilityExtraData::TypeId(), 4);   // declined
    factory.MapOptionalComponent(C::Real, CloudImprovementStatsExtraData::TypeId(), 4); // no column
    factory.MapOptionalComponent(C::Color, Type::Intensity(), 4);

    // Blocks carry every key but (Real, 2), and the key (Real, 3) the builder does not map.
    orv::DataProxy::PointDataBlockLayout layout{true, false, {{C::Vector3, 0}}};
    for (unsigned char i = 0; i < 3; ++i)
        layout.keys.push_back({C::UnsignedInteger, i});
    for (unsigned char i = 0; i < 2; ++i)
        layout.keys.push_back({C::SignedInteger, i});
    for (unsigned char i : {0, 1, 3})
        layout.keys.push_back({C::Real, i});
    layout.keys.push_back({C::Color, 0});
    PointDataBlock block(layout);

    const TestConsumer consumer({{C::Real, 1}}); // declined keys are staged but not stored
    const auto reference = factory.CreatePointDataBuilder(consumer);
    const auto native = factory.CreatePointDataBuilder(consumer);
    ForeignBuilder fallback(factory.CreatePointDataBuilder(consumer));
    ASSERT_NE(dynamic_cast<orv::DataProxy::IPointDataBlockSink*>(native.get()), nullptr);
    std::mt19937_64 rng(7);
    constexpr std::size_t n = 2 * PointDataBlock::kCapacity + 77;
    std::size_t finite = 0;
    for (std::size_t first = 0; first < n; first += block.kCapacity)
    {
        block.SetSize(std::min(block.kCapacity, n - first));
        for (std::size_t i = 0; i < block.Size(); ++i)
        {
            block.MutableX()[i] = 652000.0 + 500 * Unit(rng);
            block.MutableY()[i] = 5180000.0 + 500 * Unit(rng);
            block.MutableZ()[i] = (first + i) % 97 == 5 ? std::nan("") : 300.0 + Unit(rng);
            finite += std::isfinite(block.Z()[i]) ? 1 : 0;
        }
        for (PointDataBlock::Storage& column : block.MutableColumns())
            WithComponent(
                column.key.component,
                [&](auto c)
                {
                    using T =
                        typename orv::DataProxy::PointDataBlockValue<decltype(c)::value>::Type;
                    for (std::size_t i = 0; i < block.Size(); ++i)
                    {
                        column.present[i] = rng() % 4 != 0;
                        static_cast<T*>(column.values)[i] = Random<T>(rng);
                    }
                });
        for (std::size_t i = 0; i < block.Size(); ++i)
            reference->AddPointData(Row(block, i));
        AppendBlock(*native, block);
        AppendBlock(fallback, block);
    }

    const PointCloud expectedCloud = CloudOf(reference->GetResult());
    const GCloud& expected = expectedCloud.Convert();
    ASSERT_EQ(expected.GetPointCount(), finite); // the others are refused
    ASSERT_EQ(expected.GetExtraDataTypes().size(), 9u);
    for (orv::DataProxy::IPointDataBuilder* builder :
         {static_cast<orv::DataProxy::IPointDataBuilder*>(native.get()),
          static_cast<orv::DataProxy::IPointDataBuilder*>(&fallback)})
        EXPECT_EQ(Image(CloudOf(builder->GetResult()).Convert()), Image(expected));
}

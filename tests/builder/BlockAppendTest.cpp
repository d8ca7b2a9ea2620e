// AppendBlock against AddPointData: the same random points (absent values, every extra-data
// component, every legal width the host's types allow, colours, a frame far from the origin,
// refused positions) appended point by point, by our builder's native AppendBlock and by the
// fallback for builders without it must give clouds identical element by element.
#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/PointDataBlockAppend.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace
{

using namespace orv::Data::Cloud;
using namespace orv::DataProxy;
using Key = PointDataComponents::ComponentKey;

template <class T>
using Column = std::vector<std::optional<T>>;

// The points as plain columns; what a point lacks is an empty optional.
struct Points
{
    std::vector<GPointDouble> positions;
    std::vector<Column<GVector3>> vectors;
    std::vector<Column<std::uint64_t>> unsignedValues;
    std::vector<Column<std::int64_t>> signedValues;
    std::vector<Column<double>> reals;
    std::vector<Column<RgbaColor>> colors;
    std::size_t at = 0;
};

template <class T>
std::optional<T> Get(const std::vector<Column<T>>& columns, unsigned char i, std::size_t at)
{
    return i < columns.size() ? columns[i][at] : std::nullopt;
}

class PointsAccessor final : public IPointDataAccessor
{
public:
    explicit PointsAccessor(const Points& p) : points(p) {}
    GPointDouble GetPosition() const override { return points.positions[points.at]; }
    std::uint64_t GetPointIndex() const override { return points.at; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return Get(points.vectors, i, points.at);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return Get(points.unsignedValues, i, points.at);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return Get(points.signedValues, i, points.at);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return Get(points.reals, i, points.at);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return Get(points.colors, i, points.at);
    }

private:
    const Points& points;
};

// A builder without the block interface: AppendBlock must fall back to AddPointData.
class PlainBuilder final : public IPointDataBuilder
{
public:
    explicit PlainBuilder(std::shared_ptr<IPointDataBuilder> b) : inner(std::move(b)) {}
    void Reserve(std::uint64_t n) override { inner->Reserve(n); }
    void AddPointData(const IPointDataAccessor& point) override { inner->AddPointData(point); }
    std::shared_ptr<IPointDataProvider> GetResult() override { return inner->GetResult(); }

private:
    std::shared_ptr<IPointDataBuilder> inner;
};

// Declines one mapped key, so declined keys are staged but not stored.
class AllButOne final : public IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent c, unsigned char i) const override
    {
        return !(c == EPointDataComponent::Real && i == 1);
    }
};

template <class T, class Make>
Column<T> RandomColumn(std::mt19937_64& rng, std::size_t n, Make make)
{
    Column<T> column(n);
    for (auto& value : column)
        if (rng() % 4 != 0)
            value = make();
    return column;
}

template <class T>
void Fill(PointDataBlock& block, std::size_t k, const std::vector<Column<T>>& columns,
          std::size_t first)
{
    for (std::size_t c = 0; c < columns.size(); ++c, ++k)
    {
        PointDataBlock::Storage& out = block.MutableColumns()[k];
        for (std::size_t i = 0; i < block.Size(); ++i)
        {
            const std::optional<T>& v = columns[c][first + i];
            out.present[i] = v.has_value();
            static_cast<T*>(out.values)[i] = v.value_or(T{});
        }
    }
}

PointCloud CloudOf(IPointDataBuilder& builder)
{
    return dynamic_cast<PointCloudDataProvider&>(*builder.GetResult()).GetPointCloud();
}

TEST(BlockAppend, StoresExactlyWhatAddPointDataStores)
{
    PointCloudDataBuilderFactory factory;
    const auto map = [&factory](EPointDataComponent c, int type, std::uint64_t width)
    { factory.MapOptionalComponent(c, type, width); };
    map(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId(), 4);
    map(EPointDataComponent::UnsignedInteger, CloudClassificationExtraData::TypeId(), 1);
    map(EPointDataComponent::UnsignedInteger, CloudSplitColorExtraData::TypeId(), 2);
    map(EPointDataComponent::UnsignedInteger, CloudScanIDExtraData::TypeId(), 4);
    map(EPointDataComponent::SignedInteger, CloudClassificationInstanceExtraData::TypeId(), 2);
    map(EPointDataComponent::SignedInteger, CloudSegmentationExtraData::TypeId(), 4);
    map(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId(), 4);
    map(EPointDataComponent::Real, CloudMaxProbabilityExtraData::TypeId(), 4);   // declined
    map(EPointDataComponent::Real, CloudImprovementStatsExtraData::TypeId(), 4); // no column
    map(EPointDataComponent::Color, CloudIntensityExtraData::TypeId(), 4);

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    constexpr std::size_t n = 2 * kPointDataBlockCapacity + 77;
    Points points;
    for (std::size_t i = 0; i < n; ++i)
        points.positions.push_back({652000.0 + 500 * unit(rng), 5180000.0 + 500 * unit(rng),
                                    i % 97 == 5 ? std::nan("") : 300.0 + unit(rng)});
    const auto vector = [&] { return GVector3{unit(rng), unit(rng), rng() % 9 ? unit(rng) : 0}; };
    points.vectors = {RandomColumn<GVector3>(rng, n, vector)};
    for (int c = 0; c < 3; ++c)
        points.unsignedValues.push_back(RandomColumn<std::uint64_t>(rng, n, [&] { return rng(); }));
    for (int c = 0; c < 2; ++c) // (Real, 2) never has a value
        points.reals.push_back(RandomColumn<double>(rng, n, [&] { return 1e39 * unit(rng); }));
    for (int c = 0; c < 2; ++c)
        points.signedValues.push_back(
            RandomColumn<std::int64_t>(rng, n, [&] { return std::int64_t(rng()); }));
    points.colors = {RandomColumn<RgbaColor>(
        rng, n,
        [&] {
            return RgbaColor{unit(rng), 2 * unit(rng), 0.5 + unit(rng) / 2, 1};
        })};

    const AllButOne consumer;
    const auto reference = factory.CreatePointDataBuilder(consumer);
    PointsAccessor accessor(points);
    for (points.at = 0; points.at < n; ++points.at)
        reference->AddPointData(accessor);

    // Blocks carry every key but (Real, 2), and one key the builder does not map.
    PointDataBlockLayout layout{true, false, {{EPointDataComponent::Vector3, 0}}};
    for (unsigned char i = 0; i < 3; ++i)
        layout.keys.push_back({EPointDataComponent::UnsignedInteger, i});
    for (unsigned char i = 0; i < 2; ++i)
        layout.keys.push_back({EPointDataComponent::SignedInteger, i});
    for (unsigned char i = 0; i < 3; ++i) // (Real, 2) is replaced by the unmapped (Real, 3)
        layout.keys.push_back({EPointDataComponent::Real, i == 2 ? std::uint8_t(3) : i});
    layout.keys.push_back({EPointDataComponent::Color, 0});
    PointDataBlock block(layout);
    const auto native = factory.CreatePointDataBuilder(consumer);
    PlainBuilder fallback(factory.CreatePointDataBuilder(consumer));
    ASSERT_NE(dynamic_cast<IPointDataBlockSink*>(native.get()), nullptr);
    for (std::size_t first = 0; first < n; first += block.kCapacity)
    {
        block.SetSize(std::min(block.kCapacity, n - first));
        for (std::size_t i = 0; i < block.Size(); ++i)
        {
            block.MutableX()[i] = points.positions[first + i].x;
            block.MutableY()[i] = points.positions[first + i].y;
            block.MutableZ()[i] = points.positions[first + i].z;
        }
        Fill(block, 0, points.vectors, first);
        Fill(block, 1, points.unsignedValues, first);
        Fill(block, 4, points.signedValues, first);
        Fill(block, 6, points.reals, first);
        std::fill_n(block.MutableColumns()[8].present, block.Size(), std::uint8_t{1});
        std::fill_n(static_cast<double*>(block.MutableColumns()[8].values), block.Size(), 0.25);
        Fill(block, 9, points.colors, first);
        AppendBlock(*native, block);
        AppendBlock(fallback, block);
    }

    const PointCloud expectedCloud = CloudOf(*reference);
    const GCloud& expected = expectedCloud.Convert();
    std::size_t finite = 0;
    for (const GPointDouble& p : points.positions)
        finite += std::isfinite(p.z) ? 1 : 0;
    ASSERT_EQ(expected.GetPointCount(), finite); // the others are refused
    ASSERT_EQ(expected.GetExtraDataTypes().size(), 9u);
    for (IPointDataBuilder* builder : {static_cast<IPointDataBuilder*>(native.get()),
                                       static_cast<IPointDataBuilder*>(&fallback)})
    {
        const PointCloud result = CloudOf(*builder);
        const GCloud& actual = result.Convert();
        ASSERT_EQ(actual.GetStoredPointCount(), expected.GetStoredPointCount());
        ASSERT_EQ(actual.GetExtraDataTypes(), expected.GetExtraDataTypes());
        EXPECT_EQ(actual.GetType(), expected.GetType());
        EXPECT_EQ(0, std::memcmp(actual.GetMatrix().v, expected.GetMatrix().v,
                                 sizeof expected.GetMatrix().v));
        for (std::uint64_t i = 0; i < expected.GetStoredPointCount(); ++i)
        {
            ASSERT_EQ(0, std::memcmp(actual.GetStoredCoordinates(i),
                                     expected.GetStoredCoordinates(i), 3 * sizeof(float)))
                << i;
            for (int type : expected.GetExtraDataTypes())
                ASSERT_EQ(0, std::memcmp(actual.GetExtraDataElement(type, i),
                                         expected.GetExtraDataElement(type, i),
                                         GetExtraDataElementSize(type)))
                    << "point " << i << ", type " << type;
        }
    }
}

} // namespace

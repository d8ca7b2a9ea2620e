// The factory's defaults: widths taken from the host type, a factory that writes like a
// provider's mapping, and merging builders through the contract's interface. Self-contained:
// points go in through PointRecord and come back through cursors.
#include "OrvDataProxyImplTzk.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{

using namespace orv::DataProxy;
using namespace orv::Data::Cloud;
using C = EPointDataComponent;

constexpr int kUnknownType = 987'654'321; // no host class, no policy: no known width

TEST(FactoryWidthFromType, ElementSizeOrRefusal)
{
    // The twelve classes' widths: tests/install/client/umbrella.cpp maps each of them.
    PointCloudDataBuilderFactory f;
    EXPECT_EQ(
        f.storageWidthByKey.at(f.MapOptionalComponent(C::Vector3, CloudNormalExtraData::TypeId())),
        4u);
    EXPECT_EQ(f.storageWidthByKey.at(f.MapOptionalComponent(C::Color, kUnknownType)), 4u);
    EXPECT_EQ(f.storageWidthByKey.at(f.MapOptionalComponent(C::Position, kUnknownType)), 0u);
    // Refused before anything changes: the next UnsignedInteger key is still index 0.
    try
    {
        f.MapOptionalComponent(C::UnsignedInteger, kUnknownType);
        FAIL() << "an unknown type was given a width";
    }
    catch (const std::invalid_argument& e)
    {
        EXPECT_NE(std::string(e.what()).find(std::to_string(kUnknownType)), std::string::npos);
    }
    EXPECT_THROW(f.MapOptionalComponent(C::Real, CloudClassificationExtraData::TypeId()),
                 std::invalid_argument);
    EXPECT_EQ(f.MapOptionalComponent(C::UnsignedInteger, CloudScanIDExtraData::TypeId()).index, 0);
}

// A host cloud whose own intensity type holds plain floats (mode 1), with a classification.
PointCloud IntensityCloud(int points)
{
    PointCloud cloud;
    cloud.Convert().SetType(1, 0.0f, 1.0f, nullptr, false);
    GPointDouble position{};
    orv::Data::Primitive::ColorValue intensity;
    std::uint8_t label = 0;
    GCloudPointData record(&position);
    record.AddExtraData(CloudIntensityExtraData::TypeId(), &intensity);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &label);
    for (int i = 0; i < points; ++i)
    {
        position = {100.0 + i, 200.0, 300.0};
        intensity.SetValueFloat(0.125f * static_cast<float>(i) + 0.3f);
        label = static_cast<std::uint8_t>(200 + i);
        cloud.AddPoint(record, true);
    }
    return cloud;
}

// Copies every point of `source` through a factory made from its mapping and compares what
// comes back, key by key. On the alternate host a new cloud has colour mode 3, so this holds
// only because the host's intensity is written as a plain float.
TEST(FactoryLikeMapping, RoundTripOnAnyHost)
{
    PointCloudDataProvider source(IntensityCloud(20));
    const auto real = *source.MapOptionalComponent(C::Real, CloudIntensityExtraData::TypeId());
    const auto label =
        *source.MapOptionalComponent(C::UnsignedInteger, CloudClassificationExtraData::TypeId());
    const PointCloudDataBuilderFactory like(source.GetMapping());
    EXPECT_EQ(like.mapping.extraDataTypeByKey.at({C::Real, real}),
              CloudIntensityNewExtraData::TypeId());
    EXPECT_EQ(like.storageWidthByKey.at({C::UnsignedInteger, label}), 1u);

    const WantAll all;
    const auto builder = like.CreatePointDataBuilder(all);
    for (auto c = source.GetIterable(all)->CreateCursor(); c->IsValid(); c->MoveNext())
        builder->AddPointData(*c);
    const auto copy = builder->GetResult();
    auto in = source.GetIterable(all)->CreateCursor();
    auto out = copy->GetIterable(all)->CreateCursor();
    int compared = 0;
    for (; in->IsValid() && out->IsValid(); in->MoveNext(), out->MoveNext(), ++compared)
    {
        EXPECT_EQ(out->GetReal(real), in->GetReal(real));
        EXPECT_EQ(out->GetUnsignedInteger(label), in->GetUnsignedInteger(label));
    }
    EXPECT_EQ(compared, 20);

    // Later keys go on from the mapping's next index.
    PointCloudDataBuilderFactory more(source.GetMapping());
    EXPECT_EQ(more.MapOptionalComponent(C::Real, CloudIntensityTempExtraData::TypeId()).index, 1);
}

TEST(FactoryLikeMapping, IntensityTypeAndRefusals)
{
    ComponentMapping both;
    both.Map(C::Real, CloudIntensityExtraData::TypeId());
    both.Map(C::Real, CloudIntensityNewExtraData::TypeId());
    both.Map(C::Color, CloudIntensityExtraData::TypeId());
    const PointCloudDataBuilderFactory like(both);
    EXPECT_EQ(like.mapping.extraDataTypeByKey, both.extraDataTypeByKey);
    EXPECT_EQ(like.storageWidthByKey.size(), 3u);

    ComponentMapping unknown = both;
    unknown.Map(C::Vector3, kUnknownType);
    EXPECT_THROW(PointCloudDataBuilderFactory{unknown}, std::invalid_argument);
}

// A builder of some other library: only its interface is known.
class ForeignBuilder final : public IPointDataBuilder
{
public:
    void Reserve(std::uint64_t) override {}
    void AddPointData(const IPointDataAccessor&) override {}
    std::shared_ptr<IPointDataProvider> GetResult() override { return nullptr; }
};

TEST(MergeBuilders, AppendsOrRefusesForeignBuilders)
{
    PointCloudDataBuilderFactory factory;
    const ComponentKey key =
        factory.MapOptionalComponent(C::UnsignedInteger, CloudScanIDExtraData::TypeId());
    const WantAll all;
    const auto a = factory.CreatePointDataBuilder(all), b = factory.CreatePointDataBuilder(all);
    PointRecord point;
    for (int i = 0; i < 5; ++i)
    {
        point.position = {double(i), 0.0, 0.0};
        point.SetUnsignedInteger(key.index, 7u + unsigned(i));
        (i < 2 ? a : b)->AddPointData(point);
    }
    MergeBuilders(*a, *b);
    EXPECT_EQ(PointCount(*a->GetResult()), 5u);
    EXPECT_EQ(PointCount(*b->GetResult()), 3u); // the source is left as it was
    std::uint64_t sum = 0;
    for (auto c = a->GetResult()->GetIterable(all)->CreateCursor(); c->IsValid(); c->MoveNext())
        sum += c->GetUnsignedInteger(key.index).value_or(1000);
    EXPECT_EQ(sum, 7u + 8 + 9 + 10 + 11);

    ForeignBuilder foreign;
    for (const bool foreignTarget : {true, false})
    {
        try
        {
            foreignTarget ? MergeBuilders(foreign, *a) : MergeBuilders(*a, foreign);
            FAIL() << "a foreign builder was merged";
        }
        catch (const std::invalid_argument& e)
        {
            EXPECT_NE(std::string(e.what()).find(foreignTarget ? "target" : "source"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(PointCount(*a->GetResult()), 5u);
}

} // namespace

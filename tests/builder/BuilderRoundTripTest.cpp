#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <random>

using namespace orv::TestSupport;

// Every component at every width the builder writes: random values that the width holds
// exactly go in through a builder, out through a cursor into a second builder, and come back
// through a cursor of the second cloud unchanged (the packed normal within the host's bound).
TEST(BuilderRoundTrip, EveryWidth)
{
    const std::tuple<C, int, std::uint64_t> keys[] = {
        {C::UnsignedInteger, Type::Class(), 1},
        {C::UnsignedInteger, Type::SplitColor(), 2},
        {C::UnsignedInteger, Type::Scan(), 4},
        {C::UnsignedInteger, WideType<std::uint64_t>(), 8},
        {C::SignedInteger, WideType<std::int64_t>(), 8},
        {C::Real, Type::IntensityNew(), 4},
        {C::Real, WideType<double>(), 8},
        {C::Vector3, Type::Normal(), 4},
        {C::Vector3, WideType<GVector3>(), 24},
        {C::Color, WideType<orv::Data::Primitive::ColorValue>(), 4}};
    PointCloudDataBuilderFactory factory;
    for (const auto& [component, type, width] : keys)
        factory.MapOptionalComponent(component, type, width);

    std::mt19937_64 rng(20240607);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<PointRecord> points(70000); // more than one host subset
    for (PointRecord& p : points)
    {
        p.position = {4.0e5 + 100.0 * unit(rng), -3.0e6 + 100.0 * unit(rng), unit(rng)};
        const std::uint64_t bits = rng();
        for (std::uint8_t i = 0; i < 4; ++i)
            Put(p, i, i == 3 ? bits : bits & ((std::uint64_t{1} << (8 << i)) - 1));
        Put(p, 0, -static_cast<std::int64_t>(bits >> 1));
        Put(p, 0, double(static_cast<float>(unit(rng))));
        Put(p, 1, unit(rng) * 1e-200);
        const double a = unit(rng) * 3.0, b = unit(rng) * 1.5;
        Put(p, 0, GVector3{std::cos(a) * std::cos(b), std::sin(a) * std::cos(b), std::sin(b)});
        Put(p, 1, GVector3{unit(rng), unit(rng) * 1e300, unit(rng)});
        Put(p, 0, RgbaColor{(bits & 255) / 255.0, 0.5 + 0.5 / 255.0, 1.0, 1.0});
    }

    TestConsumer consumer;
    const auto first = factory.CreatePointDataBuilder(consumer);
    for (const PointRecord& p : points)
        first->AddPointData(p);
    const auto second = factory.CreatePointDataBuilder(consumer);
    for (auto c = first->GetResult()->GetIterable(consumer)->CreateCursor(); c->IsValid();
         c->MoveNext())
        second->AddPointData(*c);

    const auto result = second->GetResult();
    const PointCloud stored = CloudOf(result);
    auto out = result->GetIterable(consumer)->CreateCursor();
    for (const PointRecord& p : points)
    {
        ASSERT_TRUE(out->IsValid());
        // Two trips through float storage, as precise as the host's frame of the cloud allows.
        EXPECT_LE(Distance(out->GetPosition(), p.position),
                  HostChoice::FloatStorageBound(stored.Convert(), p.position, 2));
        for (std::uint8_t i = 0; i < 4; ++i)
            EXPECT_EQ(out->GetUnsignedInteger(i), p.GetUnsignedInteger(i)) << int(i);
        EXPECT_EQ(out->GetSignedInteger(0), p.GetSignedInteger(0));
        EXPECT_EQ(out->GetReal(0), p.GetReal(0));
        EXPECT_EQ(out->GetReal(1), p.GetReal(1));
        EXPECT_LT(Distance(out->GetVector3(0).value(), p.GetVector3(0).value()),
                  HostChoice::NormalCodecBound());
        EXPECT_EQ(Distance(out->GetVector3(1).value(), p.GetVector3(1).value()), 0.0);
        const RgbaColor c = out->GetColor(0).value();
        EXPECT_TRUE(c.r == float(p.GetColor(0)->r) && c.g == float(p.GetColor(0)->g) &&
                    c.b == 1.0 && c.a == 1.0);
        out->MoveNext();
    }
    EXPECT_FALSE(out->IsValid());
}

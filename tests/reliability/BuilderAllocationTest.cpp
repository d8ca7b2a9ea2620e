// The builder's per-point path: after the first point AddPointData allocates nothing of its
// own (operator new calls made by the adapter library's code, counted by AllocationSwitch.cpp);
// the host's tables grow through orv::Alloc, counted by the host.
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/reliability/AllocationSwitch.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

using namespace orv::TestSupport;

namespace
{

template <class F>
OperatorNewCalls Counted(F&& work)
{
    CountOperatorNew(true);
    work();
    CountOperatorNew(false);
    return CountedOperatorNew();
}

} // namespace

TEST(BuilderAllocation, NoneOfItsOwnAfterTheFirstPoint)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    f.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    f.MapOptionalComponent(C::SignedInteger, Type::SplitColor(), 2);
    f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    const Key declined = f.MapOptionalComponent(C::Real, WideType<double>(), 8);
    f.MapOptionalComponent(C::Color, Type::Intensity(), 0);
    TestConsumer consumer({declined});
    const auto builder = f.CreatePointDataBuilder(consumer);

    PointRecord point; // the first point has no value at all
    EXPECT_GT(Counted([&] { builder->AddPointData(point); }).adapter, 0u)
        << "the attribution sees the staging being created";
    // Values come and go (slots written and cleared), the declined key gets its first value
    // late, and the host's tables grow past a buffer (8192 elements) on the way.
    const std::uint64_t hostBefore = orv::Testing::AllocationCount();
    const OperatorNewCalls loop = Counted(
        [&]
        {
            for (int i = 1; i < 20000; ++i)
            {
                point.Clear();
                if (i % 3 != 0)
                {
                    Put(point, 0, GVector3{1.0, i * 1.0, 2.0});
                    Put(point, 0, std::uint64_t(i));
                    Put(point, 0, std::int64_t{-i});
                    Put(point, 0, i * 0.125);
                    Put(point, declined.index, i * 2.0);
                    Put(point, 0, RgbaColor{0.25, 0.5, 0.75, 1.0});
                }
                point.position = {i * 0.5, -i * 0.25, 3.0};
                builder->AddPointData(point);
            }
        });
    EXPECT_EQ(loop.adapter, 0u);
    EXPECT_GT(orv::Testing::AllocationCount(), hostBefore) << "the host's own growth, apart";
    RecordProperty("host_operator_new_calls", std::to_string(loop.other));
    EXPECT_EQ(SizeOf(*builder), 20000u);
}

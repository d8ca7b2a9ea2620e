#include "contract/ComponentMapping.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

using orv::Data::Cloud::ComponentMapping;
using orv::DataProxy::EPointDataComponent;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;

namespace
{
constexpr int kTypeA = 11;
constexpr int kTypeB = 22;
constexpr int kTypeC = 33;

std::int32_t TypeOf(const ComponentMapping& m, EPointDataComponent c, std::uint8_t i)
{
    return m.extraDataTypeByKey.at(Key{c, i});
}
} // namespace

TEST(ComponentMapping, HandsOutIndicesPerComponent)
{
    ComponentMapping m;
    EXPECT_EQ(m.Map(EPointDataComponent::UnsignedInteger, kTypeA), 0);
    EXPECT_EQ(m.Map(EPointDataComponent::UnsignedInteger, kTypeB), 1);
    EXPECT_EQ(m.Map(EPointDataComponent::Real, kTypeC), 0);

    ASSERT_EQ(m.extraDataTypeByKey.size(), 3u);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::UnsignedInteger, 0), kTypeA);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::UnsignedInteger, 1), kTypeB);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::Real, 0), kTypeC);
    EXPECT_EQ(m.nextIndexByComponent.at(EPointDataComponent::UnsignedInteger), 2);
    EXPECT_EQ(m.nextIndexByComponent.at(EPointDataComponent::Real), 1);

    // The same type twice gives two keys; Position keys are recorded like any other.
    EXPECT_EQ(m.Map(EPointDataComponent::Color, kTypeA), 0);
    EXPECT_EQ(m.Map(EPointDataComponent::Color, kTypeA), 1);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::Color, 1), kTypeA);
    EXPECT_EQ(m.Map(EPointDataComponent::Position, kTypeB), 0);
    EXPECT_EQ(m.extraDataTypeByKey.count(Key{EPointDataComponent::Position, 0}), 1u);
}

TEST(ComponentMapping, ClearRestartsEveryComponent)
{
    ComponentMapping m;
    m.Map(EPointDataComponent::UnsignedInteger, kTypeA);
    m.Map(EPointDataComponent::Vector3, kTypeB);
    m.Clear();
    EXPECT_TRUE(m.extraDataTypeByKey.empty());
    EXPECT_TRUE(m.nextIndexByComponent.empty());
    EXPECT_EQ(m.Map(EPointDataComponent::UnsignedInteger, kTypeC), 0);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::UnsignedInteger, 0), kTypeC);
}

TEST(ComponentMapping, CopiesAreIndependent)
{
    ComponentMapping original;
    original.Map(EPointDataComponent::Real, kTypeA);

    ComponentMapping copy(original);
    EXPECT_EQ(copy.Map(EPointDataComponent::Real, kTypeB), 1);
    EXPECT_EQ(original.extraDataTypeByKey.size(), 1u);
    EXPECT_EQ(original.nextIndexByComponent.at(EPointDataComponent::Real), 1);

    ComponentMapping assigned;
    assigned.Map(EPointDataComponent::Color, kTypeC);
    assigned = original;
    EXPECT_EQ(assigned.extraDataTypeByKey.size(), 1u);
    EXPECT_EQ(TypeOf(assigned, EPointDataComponent::Real, 0), kTypeA);
    assigned.Map(EPointDataComponent::Real, kTypeC);
    EXPECT_EQ(original.extraDataTypeByKey.size(), 1u);
}

TEST(ComponentMapping, MovedFromIsEmptyAndUsable)
{
    ComponentMapping source;
    source.Map(EPointDataComponent::Real, kTypeA);
    source.Map(EPointDataComponent::Real, kTypeB);

    ComponentMapping moved(std::move(source));
    EXPECT_EQ(moved.extraDataTypeByKey.size(), 2u);
    EXPECT_TRUE(source.extraDataTypeByKey.empty());   // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(source.nextIndexByComponent.empty()); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(source.Map(EPointDataComponent::Real, kTypeC), 0);

    ComponentMapping target;
    target.Map(EPointDataComponent::Vector3, kTypeC);
    target = std::move(moved);
    EXPECT_EQ(target.extraDataTypeByKey.size(), 2u);
    EXPECT_EQ(target.extraDataTypeByKey.count(Key{EPointDataComponent::Vector3, 0}), 0u);
    EXPECT_TRUE(moved.extraDataTypeByKey.empty()); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.Map(EPointDataComponent::Real, kTypeC), 0);
}

TEST(ComponentMapping, SelfAssignmentChangesNothing)
{
    ComponentMapping m;
    m.Map(EPointDataComponent::Real, kTypeA);
    m.Map(EPointDataComponent::Color, kTypeB);
    ComponentMapping& alias = m;
    m = std::move(alias);
    EXPECT_EQ(m.extraDataTypeByKey.size(), 2u);
    EXPECT_EQ(m.nextIndexByComponent.at(EPointDataComponent::Real), 1);
    m = alias;
    EXPECT_EQ(TypeOf(m, EPointDataComponent::Color, 0), kTypeB);
}

TEST(ComponentMapping, The257thKeyOfAComponentIsRefusedWithoutDamage)
{
    ComponentMapping m;
    for (int i = 0; i < 256; ++i)
    {
        ASSERT_EQ(m.Map(EPointDataComponent::UnsignedInteger, 1000 + i), i);
    }
    m.Map(EPointDataComponent::Real, kTypeA);
    const ComponentMapping before = m;

    EXPECT_THROW(m.Map(EPointDataComponent::UnsignedInteger, kTypeB), std::length_error);
    EXPECT_EQ(m.extraDataTypeByKey, before.extraDataTypeByKey);
    EXPECT_EQ(m.nextIndexByComponent, before.nextIndexByComponent);
    EXPECT_EQ(TypeOf(m, EPointDataComponent::UnsignedInteger, 0), 1000);

    // Other components are unaffected, and Clear lifts the limit.
    EXPECT_EQ(m.Map(EPointDataComponent::Real, kTypeC), 1);
    m.Clear();
    EXPECT_EQ(m.Map(EPointDataComponent::UnsignedInteger, kTypeB), 0);
}

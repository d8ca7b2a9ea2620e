#include "contract/ComponentMapping.h"
#include "contract/PointDataComponents.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

using orv::Data::Cloud::ComponentMapping;
using C = orv::DataProxy::EPointDataComponent;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;

namespace
{

// Textbook FNV-1a 64 over a byte string, written independently of the library's hash.
std::uint64_t Fnv1a(std::initializer_list<std::uint8_t> bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes)
        h = (h ^ b) * 0x100000001b3ull;
    return h;
}

} // namespace

// The hash is FNV-1a over the component, then the index; identity is both fields.
TEST(ComponentKey, HashAndIdentity)
{
    ASSERT_EQ(Fnv1a({'a'}), 0xaf63dc4c8601ec8cull); // the published vector for "a"
    const orv::DataProxy::PointDataComponents::ComponentKeyHash hash;
    for (int component = 0; component < 9; ++component)
        for (int index : {0, 1, 2, 127, 255})
            EXPECT_EQ(hash({C(component), std::uint8_t(index)}),
                      Fnv1a({std::uint8_t(component), std::uint8_t(index)}))
                << component << "/" << index;
    EXPECT_NE(hash({C::Vector3, 3}), hash({C::UnsignedInteger, 2})); // the order matters
    EXPECT_NE((Key{C::Real, 0}), (Key{C::Real, 1}));
    EXPECT_NE((Key{C::Real, 0}), (Key{C::SignedInteger, 0}));
    for (int c = 0; c < 9; ++c) // Vector3 .. Color
        EXPECT_EQ(orv::DataProxy::IsExtraDataComponent(C(c)), c >= 2 && c <= 6) << c;
}

// Hands out indices per component until cleared.
TEST(ComponentMapping, Indices)
{
    ComponentMapping m;
    EXPECT_EQ(m.Map(C::UnsignedInteger, 11), 0);
    EXPECT_EQ(m.Map(C::UnsignedInteger, 22), 1);
    EXPECT_EQ(m.Map(C::Real, 33), 0);
    EXPECT_EQ(m.Map(C::Real, 33), 1); // the same type twice gives two keys
    EXPECT_EQ(m.Map(C::Position, 22), 0);
    EXPECT_EQ(m.extraDataTypeByKey, (decltype(m.extraDataTypeByKey){{{C::UnsignedInteger, 0}, 11},
                                                                    {{C::UnsignedInteger, 1}, 22},
                                                                    {{C::Real, 0}, 33},
                                                                    {{C::Real, 1}, 33},
                                                                    {{C::Position, 0}, 22}}));
    EXPECT_EQ(m.nextIndexByComponent.at(C::UnsignedInteger), 2);
    m.Clear();
    EXPECT_TRUE(m.extraDataTypeByKey.empty() && m.nextIndexByComponent.empty());
    EXPECT_EQ(m.Map(C::UnsignedInteger, 44), 0);
}

// Copies are independent, a moved-from mapping is empty, a self-move changes nothing.
TEST(ComponentMapping, CopyAndMove)
{
    ComponentMapping original, assigned;
    original.Map(C::Real, 11);
    assigned.Map(C::Color, 33);
    ComponentMapping copy(original);
    assigned = original;
    EXPECT_EQ(copy.Map(C::Real, 22), 1);
    EXPECT_EQ(assigned.Map(C::Real, 22), 1);
    EXPECT_EQ(assigned.extraDataTypeByKey.count({C::Color, 0}), 0u);
    EXPECT_EQ(original.extraDataTypeByKey.size(), 1u);
    EXPECT_EQ(original.nextIndexByComponent.at(C::Real), 1);

    ComponentMapping moved(std::move(copy));
    EXPECT_TRUE(copy.extraDataTypeByKey.empty() && copy.nextIndexByComponent.empty()); // NOLINT
    EXPECT_EQ(copy.Map(C::Real, 33), 0);
    ComponentMapping& alias = moved;
    moved = std::move(alias);
    EXPECT_EQ(moved.extraDataTypeByKey, assigned.extraDataTypeByKey);
    EXPECT_EQ(moved.nextIndexByComponent.at(C::Real), 2);
    original = std::move(moved);
    EXPECT_EQ(original.extraDataTypeByKey.size(), 2u);
    EXPECT_TRUE(moved.extraDataTypeByKey.empty()); // NOLINT(bugprone-use-after-move)
}

// The 257th key of a component is refused without damage.
TEST(ComponentMapping, KeyLimit)
{
    ComponentMapping m;
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(m.Map(C::UnsignedInteger, 1000 + i), i);
    m.Map(C::Real, 11);
    const ComponentMapping before = m;
    EXPECT_THROW(m.Map(C::UnsignedInteger, 22), std::length_error);
    EXPECT_EQ(m.extraDataTypeByKey, before.extraDataTypeByKey);
    EXPECT_EQ(m.nextIndexByComponent, before.nextIndexByComponent);
    // Other components are unaffected, and Clear lifts the limit.
    EXPECT_EQ(m.Map(C::Real, 33), 1);
    m.Clear();
    EXPECT_EQ(m.Map(C::UnsignedInteger, 22), 0);
}

#include "contract/PointDataComponents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <unordered_set>

using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::PointDataComponents::ComponentKey;
using orv::DataProxy::PointDataComponents::ComponentKeyHash;

namespace
{

// Textbook FNV-1a over a byte string, written independently of the library's hash.
std::uint64_t Fnv1a(std::initializer_list<std::uint8_t> bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes)
    {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

} // namespace

TEST(ComponentKey, ReferenceFnvLoopMatchesPublishedVector)
{
    // Published FNV-1a 64 test vector for the one-byte string "a".
    EXPECT_EQ(Fnv1a({'a'}), 0xaf63dc4c8601ec8cull);
}

TEST(ComponentKey, HashIsFnv1aOverComponentThenIndex)
{
    const ComponentKeyHash hash;
    for (int component = 0; component < 9; ++component)
    {
        for (int index : {0, 1, 2, 127, 255})
        {
            const ComponentKey key{static_cast<EPointDataComponent>(component),
                                   static_cast<std::uint8_t>(index)};
            EXPECT_EQ(hash(key), Fnv1a({static_cast<std::uint8_t>(component),
                                        static_cast<std::uint8_t>(index)}))
                << component << "/" << index;
        }
    }
    // Order matters: the swapped pair hashes differently.
    EXPECT_NE(hash({EPointDataComponent::Vector3, 3}),
              hash({EPointDataComponent::UnsignedInteger, 2}));
}

TEST(ComponentKey, IdentityIsBothFields)
{
    const ComponentKey u0{EPointDataComponent::UnsignedInteger, 0};
    EXPECT_EQ(u0, (ComponentKey{EPointDataComponent::UnsignedInteger, 0}));
    EXPECT_NE(u0, (ComponentKey{EPointDataComponent::UnsignedInteger, 1}));
    EXPECT_NE(u0, (ComponentKey{EPointDataComponent::SignedInteger, 0}));

    // All 7 * 256 keys are distinct members of a hashed set.
    std::unordered_set<ComponentKey, ComponentKeyHash> keys;
    for (int c = 0; c < 7; ++c)
    {
        for (int i = 0; i < 256; ++i)
        {
            keys.insert({static_cast<EPointDataComponent>(c), static_cast<std::uint8_t>(i)});
        }
    }
    EXPECT_EQ(keys.size(), 7u * 256u);
}

TEST(ComponentKey, OnlyVector3ToColorAreExtraData)
{
    EXPECT_FALSE(orv::DataProxy::IsExtraDataComponent(EPointDataComponent::Position));
    EXPECT_FALSE(orv::DataProxy::IsExtraDataComponent(EPointDataComponent::PointIndex));
    for (int c = 2; c <= 6; ++c)
    {
        EXPECT_TRUE(orv::DataProxy::IsExtraDataComponent(static_cast<EPointDataComponent>(c)));
    }
    EXPECT_FALSE(orv::DataProxy::IsExtraDataComponent(static_cast<EPointDataComponent>(7)));
    EXPECT_FALSE(orv::DataProxy::IsExtraDataComponent(static_cast<EPointDataComponent>(255)));
}

#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <tuple>
#include <typeindex>

// The extra-data registry: look-ups, and the order of registrations and withdrawals.

namespace
{

using namespace orv::TestSupport;
using namespace orv::Data::ExtraData::Details;

const std::type_index kU64 = typeid(uint64_t), kDouble = typeid(double);
constexpr int kFreeId = 900001; // an id no class of the host has

// Finds the latest registration until its scope ends, and reports each event.
TEST(GeometryRegistry, LatestRegistrationAndEvents)
{
    using Event = std::tuple<RegistryEvent::Kind, const ICloudExtraDataPolicy*, std::type_index>;
    std::vector<Event> events;
    SetRegistryObserver([&events](const RegistryEvent& e)
                        { events.emplace_back(e.kind, e.policy, e.valueType); });
    const size_t before = GetRegisteredPolicyCount();
    auto a = eastl::make_shared<RawPolicy<uint16_t>>();
    auto b = eastl::make_shared<RawPolicy<uint32_t>>();
    {
        ExtraDataRegisterScope first = RegisterCloudExtraDataConversionPolicy(kFreeId, kU64, a);
        ExtraDataRegisterScope second = RegisterCloudExtraDataConversionPolicy(kFreeId, kDouble, b);
        EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), a.get());
        EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kDouble), b.get());
        EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId + 1, kU64), nullptr);
        EXPECT_EQ(FindAnyCloudExtraDataPolicy(kFreeId), b.get()); // the latest
        EXPECT_EQ(GetExtraDataElementSize(kFreeId), 4u);          // width from a policy
        EXPECT_EQ(GetRegisteredPolicyCount(), before + 2);
        EXPECT_EQ(a.use_count(), 2); // the registry holds one reference
    }                                // withdrawn in reverse: second, then first
    SetRegistryObserver(nullptr);
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), nullptr);
    EXPECT_EQ(GetExtraDataElementSize(kFreeId), 0u);
    EXPECT_EQ(a.use_count(), 1);
    const auto reg = RegistryEvent::Kind::Registered, wd = RegistryEvent::Kind::Withdrawn;
    EXPECT_EQ(events, (std::vector<Event>{{reg, a.get(), kU64},
                                          {reg, b.get(), kDouble},
                                          {wd, b.get(), kDouble},
                                          {wd, a.get(), kU64}}));
}

} // namespace

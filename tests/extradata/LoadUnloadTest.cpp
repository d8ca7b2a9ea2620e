// Loading the library registers its twelve policies in a fixed order; unloading withdraws
// them in the reverse order. This executable does not link the library: it loads it.
#include "host/core/Factory.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cstdint>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

using namespace orv::Data::Cloud;
using orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy;
using orv::Data::ExtraData::Details::RegistryEvent;

namespace
{

struct Expected
{
    const std::type_info& extraData;
    const std::type_info& value;
    const eastl::basic_string<char>& name;
};

// The registration order the library promises.
const std::array<Expected, 12>& Table()
{
    static const std::array<Expected, 12> table{{
        {typeid(CloudClassificationExtraData), typeid(std::uint64_t),
         ClassificationExtraData::GetStaticType()},
        {typeid(CloudGridPositionIndexExtraData), typeid(std::uint64_t),
         GridPositionIndexExtraData::GetStaticType()},
        {typeid(CloudSegmentationExtraData), typeid(std::uint64_t),
         SegmentationExtraData::GetStaticType()},
        {typeid(CloudSplitColorExtraData), typeid(std::uint64_t),
         SplitColorExtraData::GetStaticType()},
        {typeid(CloudClassificationInstanceExtraData), typeid(std::uint64_t),
         ClassificationInstanceExtraData::GetStaticType()},
        {typeid(CloudImprovementStatsExtraData), typeid(double),
         ImprovementStatsExtraData::GetStaticType()},
        {typeid(CloudIntensityNewExtraData), typeid(double),
         IntensityNewExtraData::GetStaticType()},
        {typeid(CloudIntensityTempExtraData), typeid(double),
         IntensityTempExtraData::GetStaticType()},
        {typeid(CloudMaxProbabilityExtraData), typeid(double),
         MaxProbabilityExtraData::GetStaticType()},
        {typeid(CloudScanIDExtraData), typeid(std::uint64_t), ScanIDExtraData::GetStaticType()},
        {typeid(CloudNormalExtraData), typeid(orv::Math::Algebra::GVector3),
         NormalExtraData::GetStaticType()},
        {typeid(CloudIntensityExtraData), typeid(double), IntensityExtraData::GetStaticType()},
    }};
    return table;
}

// What the observer saw, copied at once: the type information of a value type may live in
// the library itself and be gone after it is unloaded.
struct Seen
{
    RegistryEvent::Kind kind;
    int typeId;
    std::string valueType;
    const orv::Data::ExtraData::Details::ICloudExtraDataPolicy* policy;
};

} // namespace

TEST(LoadUnload, RegistersInTableOrderAndWithdrawsInReverse)
{
    auto& factory = orv::General::IFactory::GetInstance();
    std::array<std::uint64_t, 12> requestsBefore{};
    for (std::size_t i = 0; i < 12; ++i)
    {
        requestsBefore[i] = factory.GetRequestCount(Table()[i].extraData);
    }

    std::vector<Seen> events;
    orv::Data::ExtraData::Details::SetRegistryObserver(
        [&events](const RegistryEvent& event) {
            events.push_back({event.kind, event.typeId, event.valueType.name(), event.policy});
        });

    void* library = dlopen(ORV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();

    // The factory was asked exactly once per class by the library (read before this test
    // asks for the ids itself).
    for (std::size_t i = 0; i < 12; ++i)
    {
        EXPECT_EQ(factory.GetRequestCount(Table()[i].extraData) - requestsBefore[i], 1u)
            << Table()[i].extraData.name();
    }

    ASSERT_EQ(events.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i)
    {
        const Seen& event = events[i];
        EXPECT_EQ(event.kind, RegistryEvent::Kind::Registered) << i;
        EXPECT_EQ(event.typeId, factory.GetTypeId(Table()[i].extraData)) << i;
        EXPECT_EQ(event.valueType, Table()[i].value.name()) << i;
        ASSERT_NE(event.policy, nullptr) << i;
        EXPECT_EQ(&event.policy->GetTypeName(), &Table()[i].name) << i;
    }

    const int scanId = factory.GetTypeId(typeid(CloudScanIDExtraData));
    const auto* scanPolicy =
        GetCloudExtraDataConversionPolicy(scanId, std::type_index(typeid(std::uint64_t)));
    ASSERT_NE(scanPolicy, nullptr);
    EXPECT_EQ(&scanPolicy->GetTypeName(), &ScanIDExtraData::GetStaticType());
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(scanId, std::type_index(typeid(double))), nullptr);

    events.clear();
    ASSERT_EQ(dlclose(library), 0);
    orv::Data::ExtraData::Details::SetRegistryObserver({});

    ASSERT_EQ(events.size(), 12u) << "the library was not unloaded, or withdrew too little";
    for (std::size_t i = 0; i < 12; ++i)
    {
        const Expected& row = Table()[11 - i];
        EXPECT_EQ(events[i].kind, RegistryEvent::Kind::Withdrawn) << i;
        EXPECT_EQ(events[i].typeId, factory.GetTypeId(row.extraData)) << i;
        EXPECT_EQ(events[i].valueType, row.value.name()) << i;
    }
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(scanId, std::type_index(typeid(std::uint64_t))),
              nullptr);
}

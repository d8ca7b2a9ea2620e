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
#define ORV_ROW(Name, Value)                                                                       \
    Expected                                                                                       \
    {                                                                                              \
        typeid(Cloud##Name##ExtraData), typeid(Value), Name##ExtraData::GetStaticType()            \
    }
const std::array<Expected, 12> kTable{
    {ORV_ROW(Classification, std::uint64_t), ORV_ROW(GridPositionIndex, std::uint64_t),
     ORV_ROW(Segmentation, std::uint64_t), ORV_ROW(SplitColor, std::uint64_t),
     ORV_ROW(ClassificationInstance, std::uint64_t), ORV_ROW(ImprovementStats, double),
     ORV_ROW(IntensityNew, double), ORV_ROW(IntensityTemp, double), ORV_ROW(MaxProbability, double),
     ORV_ROW(ScanID, std::uint64_t), ORV_ROW(Normal, orv::Math::Algebra::GVector3),
     ORV_ROW(Intensity, double)}};
#undef ORV_ROW

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
        requestsBefore[i] = factory.GetRequestCount(kTable[i].extraData);
    std::vector<Seen> events;
    orv::Data::ExtraData::Details::SetRegistryObserver(
        [&events](const RegistryEvent& event) {
            events.push_back({event.kind, event.typeId, event.valueType.name(), event.policy});
        });

    void* library = dlopen(ORV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    ASSERT_EQ(events.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i)
    {
        // The factory was asked exactly once per class by the library (read before this test
        // asks for the ids itself).
        EXPECT_EQ(factory.GetRequestCount(kTable[i].extraData) - requestsBefore[i], 1u) << i;
        EXPECT_EQ(events[i].kind, RegistryEvent::Kind::Registered) << i;
        EXPECT_EQ(events[i].typeId, factory.GetTypeId(kTable[i].extraData)) << i;
        EXPECT_EQ(events[i].valueType, kTable[i].value.name()) << i;
        ASSERT_NE(events[i].policy, nullptr) << i;
        EXPECT_EQ(&events[i].policy->GetTypeName(), &kTable[i].name) << i;
    }

    const int scanId = factory.GetTypeId(typeid(CloudScanIDExtraData));
    const auto* scanPolicy = GetCloudExtraDataConversionPolicy(scanId, typeid(std::uint64_t));
    ASSERT_NE(scanPolicy, nullptr);
    EXPECT_EQ(&scanPolicy->GetTypeName(), &ScanIDExtraData::GetStaticType());
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(scanId, typeid(double)), nullptr);

    events.clear();
    ASSERT_EQ(dlclose(library), 0);
    orv::Data::ExtraData::Details::SetRegistryObserver({});
    ASSERT_EQ(events.size(), 12u) << "the library was not unloaded, or withdrew too little";
    for (std::size_t i = 0; i < 12; ++i)
    {
        EXPECT_EQ(events[i].kind, RegistryEvent::Kind::Withdrawn) << i;
        EXPECT_EQ(events[i].typeId, factory.GetTypeId(kTable[11 - i].extraData)) << i;
        EXPECT_EQ(events[i].valueType, kTable[11 - i].value.name()) << i;
    }
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(scanId, typeid(std::uint64_t)), nullptr);
}

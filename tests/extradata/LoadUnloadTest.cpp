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
    unsigned int elementSize;
    bool flagA;
};

// The registration order the library promises, with the traits each policy answers.
#define ORV_ROW(Name, Value, size, flagA)                                                          \
    Expected                                                                                       \
    {                                                                                              \
        typeid(Cloud##Name##ExtraData), typeid(Value), Name##ExtraData::GetStaticType(), size,     \
            flagA                                                                                  \
    }
const std::array<Expected, 12> kTable{
    {ORV_ROW(Classification, std::uint64_t, 1, true),
     ORV_ROW(GridPositionIndex, std::uint64_t, 4, false),
     ORV_ROW(Segmentation, std::uint64_t, 4, false), ORV_ROW(SplitColor, std::uint64_t, 2, false),
     ORV_ROW(ClassificationInstance, std::uint64_t, 2, false),
     ORV_ROW(ImprovementStats, double, 4, false), ORV_ROW(IntensityNew, double, 4, false),
     ORV_ROW(IntensityTemp, double, 4, false), ORV_ROW(MaxProbability, double, 4, true),
     ORV_ROW(ScanID, std::uint64_t, 4, false),
     ORV_ROW(Normal, orv::Math::Algebra::GVector3, 4, false),
     ORV_ROW(Intensity, double, 4, false)}};
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

// Registers in table order and withdraws in reverse.
TEST(LoadUnload, Order)
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
        const auto* policy = events[i].policy;
        ASSERT_NE(policy, nullptr) << i;
        EXPECT_EQ(&policy->GetTypeName(), &kTable[i].name) << i;
        EXPECT_EQ(policy->GetElementSize(), kTable[i].elementSize) << i;
        EXPECT_EQ(policy->GetTypeFlagA(), kTable[i].flagA) << i;
        EXPECT_FALSE(policy->GetTypeFlagB() || policy->GetTypeFlagC()) << i;
        EXPECT_EQ(policy->GetTypeValueA(), 0) << i;
        EXPECT_EQ(policy->GetTypeValueB(), 0) << i;
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

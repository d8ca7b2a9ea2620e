#include "geometry_test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeindex>

// The extra-data registry (order of registrations and withdrawals, shadowing, the scope), the
// twelve extra-data classes, and the host's own colour policy for intensities.

namespace
{

using namespace geomtest;
using namespace orv::Data::ExtraData::Details;
using orv::Data::Primitive::ColorValue;

// Records the registry's events for the life of the test.
class EventLog
{
public:
    EventLog()
    {
        SetRegistryObserver([this](const RegistryEvent& e) { events.push_back(e); });
    }
    ~EventLog() { SetRegistryObserver(nullptr); }
    std::vector<RegistryEvent> events;
};

const std::type_index kU64 = typeid(uint64_t);
const std::type_index kDouble = typeid(double);
constexpr int kFreeId = 900001; // an id no class of the host has

TEST(GeometryRegistry, FindsWhatIsRegisteredUntilItsScopeEnds)
{
    EventLog log;
    const size_t before = GetRegisteredPolicyCount();
    auto a = eastl::make_shared<StubPolicy>(2);
    auto b = eastl::make_shared<StubPolicy>(4);
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
    }                                // destroyed in reverse: second, then first
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), nullptr);
    EXPECT_EQ(GetExtraDataElementSize(kFreeId), 0u);
    EXPECT_EQ(a.use_count(), 1);
    ASSERT_EQ(log.events.size(), 4u);
    const RegistryEvent::Kind reg = RegistryEvent::Kind::Registered;
    const RegistryEvent::Kind wd = RegistryEvent::Kind::Withdrawn;
    const std::pair<RegistryEvent::Kind, const ICloudExtraDataPolicy*> expected[] = {
        {reg, a.get()}, {reg, b.get()}, {wd, b.get()}, {wd, a.get()}};
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(log.events[i].kind, expected[i].first) << i;
        EXPECT_EQ(log.events[i].policy, expected[i].second) << i;
        EXPECT_EQ(log.events[i].typeId, kFreeId);
    }
    EXPECT_EQ(log.events[1].valueType, kDouble);
}

TEST(GeometryRegistry, ALaterRegistrationShadowsAndWithdrawalsMayComeInAnyOrder)
{
    auto a = eastl::make_shared<StubPolicy>();
    auto b = eastl::make_shared<StubPolicy>();
    ExtraDataRegisterScope first = RegisterCloudExtraDataConversionPolicy(kFreeId, kU64, a);
    ExtraDataRegisterScope second = RegisterCloudExtraDataConversionPolicy(kFreeId, kU64, b);
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), b.get());
    first.Release(); // the older one goes first: the newer one stays in force
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), b.get());
    ExtraDataRegisterScope third = RegisterCloudExtraDataConversionPolicy(kFreeId, kU64, a);
    second = std::move(third); // withdraws b, takes over a's registration
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), a.get());
    EXPECT_FALSE(static_cast<bool>(third.callback)); // NOLINT: moved from
    second.Release();
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), nullptr);
    // An empty pointer registers a pair that looks up as null, and FindAny skips it.
    ExtraDataRegisterScope empty = RegisterCloudExtraDataConversionPolicy(
        kFreeId, kU64, eastl::shared_ptr<ICloudExtraDataPolicy>());
    EXPECT_EQ(GetCloudExtraDataConversionPolicy(kFreeId, kU64), nullptr);
    EXPECT_EQ(FindAnyCloudExtraDataPolicy(kFreeId), nullptr);
}

// Counts destructions of the callback object itself.
struct Tracked
{
    int* destroyed;
    bool throws;
    int* calls;
    Tracked(int* d, bool t, int* c) : destroyed(d), throws(t), calls(c) {}
    Tracked(const Tracked& o) = default;
    ~Tracked() { ++*destroyed; }
    void operator()() const
    {
        ++*calls;
        if (throws)
            throw std::runtime_error("withdrawal failed");
    }
};

TEST(GeometryRegistry, ScopeInvokesItsCallbackOnceAndDestroysItEvenWhenItThrows)
{
    for (bool throws : {false, true})
    {
        int destroyed = 0, calls = 0;
        {
            ExtraDataRegisterScope scope{
                eastl::function<void()>(Tracked(&destroyed, throws, &calls))};
            destroyed = 0; // temporaries made while building the function do not count
            ExtraDataRegisterScope moved(std::move(scope));
        }
        EXPECT_EQ(calls, 1) << throws;
        EXPECT_EQ(destroyed, 1) << throws;
    }
}

TEST(GeometryRegistry, TwelveClassesWithNamesWidthsAndDistinctIds)
{
    struct Row
    {
        int id;
        const eastl::basic_string<char>& name;
        const char* expected;
        uint32_t width;
    };
#define ORV_ROW(Name, Stored)                                                                      \
    Row{Cloud##Name##ExtraData::TypeId(), Name##ExtraData::GetStaticType(), #Name "ExtraData",     \
        uint32_t(sizeof(Stored))},
    const Row rows[] = {ORV_CLOUD_EXTRA_DATA_TYPES(ORV_ROW)};
#undef ORV_ROW
    ASSERT_EQ(sizeof rows / sizeof rows[0], 12u);
    std::vector<int> seen;
    for (const Row& r : rows)
    {
        EXPECT_EQ(std::string(r.name.c_str()), r.expected);
        EXPECT_EQ(&r.name, GetExtraDataTypeName(r.id)) << "the library and the test agree on ids";
        EXPECT_EQ(GetExtraDataElementSize(r.id), r.width) << r.expected;
        for (int other : seen)
            EXPECT_NE(other, r.id);
        seen.push_back(r.id);
    }
    EXPECT_EQ(GetExtraDataElementSize(CloudClassificationExtraData::TypeId()), 1u);
    EXPECT_EQ(GetExtraDataElementSize(CloudSplitColorExtraData::TypeId()), 2u);
}

// A colour cloud built the way a builder does: colours written into intensity extra data.
TEST(GeometryRegistry, HostColourPolicyReadsBackColoursOfAColourCloud)
{
    const ICloudExtraDataPolicy* found =
        GetCloudExtraDataConversionPolicy(CloudIntensityExtraData::TypeId(), typeid(ColorValue));
    ASSERT_NE(found, nullptr);
    auto policy = dynamic_cast<const ICloudExtraDataConversionPolicy<ColorValue>*>(found);
    ASSERT_NE(policy, nullptr) << "the cast must work across library boundaries";
    EXPECT_EQ(std::string(policy->GetTypeName().c_str()), "IntensityExtraData");
    EXPECT_EQ(policy->GetElementSize(), 4u);

    PointCloud cloud;
    cloud.Convert().SetType(2, 0, 0, nullptr, false);
    GPointDouble position{1, 2, 3};
    ColorValue slot;
    GCloudPointData record(&position);
    record.AddExtraData(CloudIntensityExtraData::TypeId(), &slot);
    slot.SetRGB(1.0f, 0.5f, 0.0f);
    cloud.AddPoint(record, true);
    CloudCursorBase<1> cursor(cloud.Convert(), 0);
    auto it = cursor.GetExtraDataIterator(CloudIntensityExtraData::TypeId(), 0);
    ASSERT_FALSE(it.AtBufferEnd());
    float r = 0, g = 0, b = 1;
    policy->GetValue(it.ptr, cursor).GetRGB(r, g, b);
    EXPECT_EQ(r, 1.0f);
    EXPECT_EQ(g, 128 / 255.0f);
    EXPECT_EQ(b, 0.0f);

    // In the intensity modes the value reads as its grey level in the range, and a colour
    // written back stores the intensity at its mean level.
    cloud.Convert().SetType(1, 10, 20, nullptr, false);
    ColorValue stored;
    stored.SetValueFloat(15);
    CloudCursorBase<1> intensityCursor(cloud.Convert(), 0);
    policy->GetValue(&stored, intensityCursor).GetRGB(r, g, b);
    EXPECT_EQ(r, 128 / 255.0f);
    EXPECT_EQ(r, b);
    ColorValue white;
    white.SetRGB(1, 1, 1);
    policy->SetValue(&stored, white, intensityCursor);
    EXPECT_EQ(stored.GetValueFloat(), 20.0f);
}

} // namespace

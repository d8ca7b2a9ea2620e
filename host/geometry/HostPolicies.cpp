#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"
#include "host/geometry/VariantSwitch.h"
#include "host/geometry/internal/CloudSubset.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <typeindex>

// The host's own conversion policy: intensities read and written as colours. A builder that
// writes colours stores them as intensity extra data of a colour cloud (mode 2); this policy
// lets Color keys read them back, and gives the other modes a grey-level reading. Only the
// reference host registers it: the alternate host registers no policy of its own, so Color keys
// over intensities read as absent there.

namespace orv::Data::Cloud
{

namespace
{

using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy;
using orv::Data::ExtraData::Details::ICloudExtraDataPolicy;
using orv::Data::Primitive::ColorValue;

// Position of `value` in the cloud's range, clamped to [0, 1]; 0 for NaN or an unusable range.
float Level(float value, float min, float max)
{
    if (!(max > min) || !std::isfinite(min) || !std::isfinite(max) || std::isnan(value))
        return 0.0f;
    const double t = (double(value) - min) / (double(max) - min);
    return static_cast<float>(t < 0 ? 0 : (t > 1 ? 1 : t));
}

class IntensityColorPolicy final : public ICloudExtraDataConversionPolicy<ColorValue>
{
public:
    bool GetTypeFlagA() const override { return false; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        return IntensityExtraData::GetStaticType();
    }
    unsigned int GetElementSize() const override { return sizeof(ColorValue); }
    void TransformElement(void*, const orv::Math::Algebra::Matrix3x3&) const override {}
    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }

    void* SetElement(TableCluster& table, uint32_t index, const void* value) const override
    {
        void* element = table.GetElm(index);
        if (element != nullptr && value != nullptr)
            std::memcpy(element, value, sizeof(ColorValue));
        return element;
    }
    void* AddElement(TableCluster& table, const void* value) const override
    {
        void* element = table.New(false);
        if (value != nullptr)
            std::memcpy(element, value, sizeof(ColorValue));
        else
            std::memset(element, 0, sizeof(ColorValue));
        return element;
    }
    void* AddDefaultElement(TableCluster& table) const override { return table.New(true); }
    void* ResetElement(TableCluster& table, uint32_t index) const override
    {
        void* element = table.GetElm(index);
        if (element != nullptr)
            std::memset(element, 0, sizeof(ColorValue));
        return element;
    }
    void* InitElement(TableCluster& table, uint32_t index, const void* value) const override
    {
        return SetElement(table, index, value);
    }
    void ResetAllElements(TableCluster& table) const override
    {
        const uint32_t count = table.count;
        for (TableCluster::Iterator it(&table, 0), end(&table, count); it != end; it.Next())
            std::memset(it.ptr, 0, sizeof(ColorValue));
    }
    void VisitAllElements(TableCluster&) const override {}
    const void* GetElement(const TableCluster& table, uint32_t index) const override
    {
        return table.GetElm(index);
    }
    bool AreEqual(const void* a, const void* b) const override
    {
        return std::memcmp(a, b, sizeof(ColorValue)) == 0;
    }

    // Colour cloud (and any mode but 1 and 3): the stored colour. Mode 1 and 3: the grey level
    // of the intensity's place in the cloud's range.
    ColorValue GetValue(const void* element, const CloudCursorInfo& info) const override
    {
        ColorValue stored;
        std::memcpy(&stored, element, sizeof stored);
        const GCloud& cloud = info.GetCloud();
        const float min = cloud.GetValMin();
        const float max = cloud.GetValMax();
        float level = 0;
        switch (cloud.GetType())
        {
        case 1:
            level = Level(stored.GetValueFloat(), min, max);
            break;
        case 3:
            level = Level(stored.GetCompressedValue(min, max), min, max);
            break;
        default:
            return stored;
        }
        ColorValue grey;
        grey.SetRGB(level, level, level);
        return grey;
    }

    // Colour cloud (and any mode but 1 and 3): stores the colour. Mode 1 and 3: stores the
    // intensity at the colour's mean channel level in the cloud's range.
    void SetValue(void* element, const ColorValue& value,
                  const CloudCursorInfo& info) const override
    {
        const GCloud& cloud = info.GetCloud();
        const int mode = cloud.GetType();
        if (mode != 1 && mode != 3)
        {
            std::memcpy(element, &value, sizeof value);
            return;
        }
        float r = 0, g = 0, b = 0;
        value.GetRGB(r, g, b);
        const float min = cloud.GetValMin();
        const float max = cloud.GetValMax();
        const float intensity =
            static_cast<float>(min + (double(r) + g + b) / 3.0 * (double(max) - min));
        ColorValue stored;
        std::memcpy(&stored, element, sizeof stored);
        if (mode == 1)
            stored.SetValueFloat(intensity);
        else
            stored.SetCompressedValue(intensity, min, max);
        std::memcpy(element, &stored, sizeof stored);
    }
};

orv::Data::ExtraData::Details::ExtraDataRegisterScope RegisterHostPolicies()
{
    eastl::shared_ptr<ICloudExtraDataPolicy> policy(
        eastl::allocate_shared<IntensityColorPolicy>(eastl::allocator()));
    return orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
        CloudIntensityExtraData::TypeId(), std::type_index(typeid(ColorValue)), std::move(policy));
}

orv::Data::ExtraData::Details::ExtraDataRegisterScope RegisterHostPoliciesOfVariant()
{
    return orv::IsAlternateHost() ? orv::Data::ExtraData::Details::ExtraDataRegisterScope()
                                  : RegisterHostPolicies();
}

// Registered when the library loads, withdrawn when it unloads.
orv::Data::ExtraData::Details::ExtraDataRegisterScope g_intensityAsColor =
    RegisterHostPoliciesOfVariant();

std::mutex g_switchMutex;

} // namespace

} // namespace orv::Data::Cloud

bool orv::Testing::UseHostVariant(orv::HostVariant variant)
{
    using orv::Data::Cloud::g_intensityAsColor;
    using orv::Data::Cloud::RegisterHostPoliciesOfVariant;
    const std::lock_guard<std::mutex> lock(orv::Data::Cloud::g_switchMutex);
    if (orv::Data::Cloud::Details::LiveCloudCount() != 0)
        return false;
    if (variant == orv::CurrentHostVariant())
        return true;
    orv::Details::SetHostVariant(variant);
    g_intensityAsColor = RegisterHostPoliciesOfVariant();
    return true;
}

// Operation sequences on ComponentMapping, the builder factory and builders, each checked
// against a model after every step.
//
// The model keeps what the objects must hold: per mapping the keys and their host types and
// the per-component counters; per factory also the widths; per builder its configuration
// snapshot, whether it has a staging, which host types its staging registered from which keys,
// and every accepted point with the exact bytes each of its host elements must hold under the
// width rules. Positions are drawn from values whose arithmetic is exact (quarters up to 2^12,
// and +-1e39, which no float frame holds next to small values), so frame moves and merges
// between differently placed clouds give positions back bit for bit.

#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/ComponentMapping.h"
#include "fuzz/FuzzSupport.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Values.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <typeindex>
#include <vector>

namespace orv::Fuzz
{
namespace
{

using orv::Data::Cloud::ComponentMapping;
using orv::Data::Cloud::PointCloud;
using orv::Data::Cloud::PointCloudDataBuilder;
using orv::Data::Cloud::PointCloudDataBuilderFactory;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::GPointDouble;
using orv::DataProxy::GVector3;
using orv::DataProxy::IPointDataBuilder;
using orv::DataProxy::RgbaColor;
using Bytes = std::vector<std::uint8_t>;
using KeyCode = std::uint16_t; // component << 8 | index: an ordered stand-in for a key

constexpr std::uint8_t kVector3 = 2;
constexpr std::uint8_t kColor = 6;
constexpr std::size_t kMaxOperations = 160;
constexpr std::size_t kMaxPointsPerBuilder = 384;
constexpr int kBuilderSlots = 4;

KeyCode Code(std::uint8_t component, std::uint8_t index)
{
    return static_cast<KeyCode>(component << 8 | index);
}
std::uint8_t ComponentOf(KeyCode code)
{
    return static_cast<std::uint8_t>(code >> 8);
}
std::uint8_t IndexOf(KeyCode code)
{
    return static_cast<std::uint8_t>(code & 0xFF);
}
bool CarriesExtraData(std::uint8_t component)
{
    return component >= kVector3 && component <= kColor;
}

// ---- host types -------------------------------------------------------------------------
struct HostTypes
{
    int classification = orv::Data::Cloud::CloudClassificationExtraData::TypeId();
    int scanId = orv::Data::Cloud::CloudScanIDExtraData::TypeId();
    int splitColor = orv::Data::Cloud::CloudSplitColorExtraData::TypeId();
    int grid = orv::Data::Cloud::CloudGridPositionIndexExtraData::TypeId();
    int intensityNew = orv::Data::Cloud::CloudIntensityNewExtraData::TypeId();
    int normal = orv::Data::Cloud::CloudNormalExtraData::TypeId();
    int intensity = orv::Data::Cloud::CloudIntensityExtraData::TypeId();
    int wide8 = orv::TestSupport::WideType<double>();
    int wide24 = orv::TestSupport::WideType<GVector3>();
    int unknown = 1 << 30; // never handed out by the factory: the host knows no width

    int Pick(FuzzInput& in) const
    {
        const int pool[] = {classification, scanId,    splitColor, grid,   intensityNew,
                            normal,         intensity, wide8,      wide24, unknown};
        return in.Pick(pool);
    }
};

const HostTypes& Types()
{
    static const HostTypes types;
    return types;
}

std::size_t HostWidth(int type)
{
    return orv::Data::Cloud::GetExtraDataElementSize(type);
}

// Bytes the staging reserves per key of a component.
std::size_t SlotSize(std::uint8_t component)
{
    return component == kVector3 ? 24 : component == kColor ? 4 : 8;
}

// ---- models -----------------------------------------------------------------------------

struct MappingModel
{
    std::map<KeyCode, int> types;
    std::map<std::uint8_t, unsigned> counts; // keys per component since the last Clear
};

struct FactoryModel
{
    MappingModel mapping;
    std::map<KeyCode, std::uint64_t> widths;
};

struct PointModel
{
    std::array<double, 3> world{};
    // Per host type the element bytes the point may hold: more than one when several
    // registered keys name the type (the last registration wins, in the map's order).
    std::map<int, std::vector<Bytes>> elements;
};

struct BuilderModel
{
    std::shared_ptr<IPointDataBuilder> object;
    FactoryModel config;
    bool staged = false;
    bool colorCloud = false;
    std::map<int, std::vector<KeyCode>> registered; // host type -> keys registered for it
    std::set<int> cloudTypes;
    std::optional<std::array<double, 3>> frame; // set once the cloud holds a point
    std::vector<PointModel> points;

    PointCloudDataBuilder& Concrete() const
    {
        return dynamic_cast<PointCloudDataBuilder&>(*object);
    }
};

void CheckMapping(const ComponentMapping& mapping, const MappingModel& model)
{
    ORV_FUZZ_CHECK(mapping.extraDataTypeByKey.size() == model.types.size())
        << mapping.extraDataTypeByKey.size() << " vs " << model.types.size();
    for (const auto& [code, type] : model.types)
    {
        const auto found = mapping.extraDataTypeByKey.find(
            {static_cast<EPointDataComponent>(ComponentOf(code)), IndexOf(code)});
        ORV_FUZZ_CHECK(found != mapping.extraDataTypeByKey.end()) << "key " << code;
        ORV_FUZZ_CHECK(found->second == type) << "key " << code;
    }
    ORV_FUZZ_CHECK(mapping.nextIndexByComponent.size() == model.counts.size());
    for (const auto& [component, count] : model.counts)
    {
        const auto found =
            mapping.nextIndexByComponent.find(static_cast<EPointDataComponent>(component));
        ORV_FUZZ_CHECK(found != mapping.nextIndexByComponent.end()) << int(component);
        // The 8-bit counter reads 0 once all 256 indices are handed out.
        ORV_FUZZ_CHECK(found->second == static_cast<std::uint8_t>(count)) << int(component);
    }
}

void CheckFactory(const PointCloudDataBuilderFactory& factory, const FactoryModel& model)
{
    CheckMapping(factory.mapping, model.mapping);
    ORV_FUZZ_CHECK(factory.storageWidthByKey.size() == model.widths.size());
    for (const auto& [code, width] : model.widths)
    {
        const auto found = factory.storageWidthByKey.find(
            {static_cast<EPointDataComponent>(ComponentOf(code)), IndexOf(code)});
        ORV_FUZZ_CHECK(found != factory.storageWidthByKey.end()) << "key " << code;
        ORV_FUZZ_CHECK(found->second == width) << "key " << code;
    }
    // Every key the factory itself mapped has a width (only direct Map calls leave none).
}

// Maps on the object and the model alike; the 257th key of a component must be refused
// without a trace.
std::optional<std::uint8_t> MapBoth(ComponentMapping& mapping, MappingModel& model,
                                    std::uint8_t component, int type)
{
    const auto counted = model.counts.find(component);
    const unsigned count = counted == model.counts.end() ? 0 : counted->second;
    if (count == 256)
    {
        bool refused = false;
        try
        {
            mapping.Map(static_cast<EPointDataComponent>(component), type);
        }
        catch (const std::length_error&)
        {
            refused = true;
        }
        ORV_FUZZ_CHECK(refused) << "component " << int(component);
        return std::nullopt;
    }
    const std::uint8_t index = mapping.Map(static_cast<EPointDataComponent>(component), type);
    ORV_FUZZ_CHECK(index == count) << int(index) << " vs " << count;
    model.counts[component] = count + 1;
    model.types[Code(component, index)] = type;
    return index;
}

// ---- the consumer and the accessor ------------------------------------------------------

struct ConsumerFailure
{
};

class FuzzConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    std::set<KeyCode> declined;
    std::optional<KeyCode> failOn;
    mutable std::uint64_t asked = 0;

    bool IsComponentRequested(EPointDataComponent component, unsigned char index) const override
    {
        ++asked;
        const KeyCode code = Code(static_cast<std::uint8_t>(component), index);
        if (failOn && *failOn == code)
            throw ConsumerFailure{};
        return declined.count(code) == 0;
    }
};

class WantAll final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

struct AccessorFailure
{
};

struct PointValues
{
    GPointDouble position{};
    std::map<std::uint8_t, GVector3> vector3;
    std::map<std::uint8_t, std::uint64_t> unsignedInteger;
    std::map<std::uint8_t, std::int64_t> signedInteger;
    std::map<std::uint8_t, double> real;
    std::map<std::uint8_t, RgbaColor> color;
};

class FuzzAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    PointValues values;
    std::uint64_t failAtCall = 0; // 0: never
    mutable std::uint64_t calls[7] = {};

    GPointDouble GetPosition() const override { return Count(0), values.position; }
    std::uint64_t GetPointIndex() const override { return Count(1), 0; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return Count(2), Find(values.vector3, i);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return Count(3), Find(values.unsignedInteger, i);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return Count(4), Find(values.signedInteger, i);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return Count(5), Find(values.real, i);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return Count(6), Find(values.color, i);
    }

    std::uint64_t TotalCalls() const
    {
        std::uint64_t total = 0;
        for (std::uint64_t c : calls)
            total += c;
        return total;
    }

private:
    void Count(int component) const
    {
        ++calls[component];
        if (failAtCall != 0 && TotalCalls() == failAtCall)
            throw AccessorFailure{};
    }
    template <class T>
    static std::optional<T> Find(const std::map<std::uint8_t, T>& table, unsigned char i)
    {
        const auto found = table.find(i);
        return found == table.end() ? std::nullopt : std::optional<T>(found->second);
    }
};

bool HasValue(const PointValues& v, KeyCode code)
{
    const std::uint8_t i = IndexOf(code);
    switch (ComponentOf(code))
    {
    case 2:
        return v.vector3.count(i) != 0;
    case 3:
        return v.unsignedInteger.count(i) != 0;
    case 4:
        return v.signedInteger.count(i) != 0;
    case 5:
        return v.real.count(i) != 0;
    case 6:
        return v.color.count(i) != 0;
    default:
        return false;
    }
}

// ---- the width rules, written out --------------------------------------------------------

template <class T>
void Put(Bytes& slot, const T& value)
{
    std::memcpy(slot.data(), &value, sizeof value);
}

void PutLowOrder(Bytes& slot, std::uint64_t bits, std::uint64_t width)
{
    if (width == 1 || width == 2 || width == 4 || width == 8)
    {
        for (std::uint64_t b = 0; b < width; ++b)
            slot[b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
}

// The slot of a key after a point: zero when the point has no value, otherwise the value
// narrowed to the key's width in the first bytes.
Bytes SlotAfter(KeyCode code, std::uint64_t width, const PointValues& v)
{
    const std::uint8_t component = ComponentOf(code);
    const std::uint8_t i = IndexOf(code);
    Bytes slot(SlotSize(component), 0);
    if (!HasValue(v, code))
        return slot;
    switch (component)
    {
    case 2:
    {
        const GVector3& value = v.vector3.at(i);
        if (width == 24)
        {
            const double xyz[3] = {value.x, value.y, value.z};
            Put(slot, xyz);
        }
        else if (width == 4)
        {
            Put(slot, orv::Math::Algebra::CompressedVector32Bits(value).GetRaw());
        }
        break;
    }
    case 3:
        PutLowOrder(slot, v.unsignedInteger.at(i), width);
        break;
    case 4:
        PutLowOrder(slot, static_cast<std::uint64_t>(v.signedInteger.at(i)), width);
        break;
    case 5:
        if (width == 8)
            Put(slot, v.real.at(i));
        else if (width == 4)
            Put(slot, static_cast<float>(v.real.at(i)));
        break;
    case 6:
    {
        const RgbaColor& c = v.color.at(i);
        orv::Data::Primitive::ColorValue colour;
        colour.SetRGB(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b));
        Put(slot, colour.GetRaw());
        break;
    }
    default:
        break;
    }
    return slot;
}

// The width rule of the factory and of the builder's constructor: a width the component is not
// stored at, or one that disagrees with the element size the host knows for the type (Color:
// a host colour value), is refused.
bool WidthRefused(std::uint8_t component, int type, std::uint64_t width)
{
    switch (component)
    {
    case 2:
        if (width != 24 && width != 4)
            return true;
        break;
    case 3:
    case 4:
        if (width != 8 && width != 4 && width != 2 && width != 1)
            return true;
        break;
    case 5:
        if (width != 8 && width != 4)
            return true;
        break;
    case 6:
        width = 4;
        break;
    default:
        return false;
    }
    return HostWidth(type) != 0 && HostWidth(type) != width;
}

bool ConfigurationRefused(const FactoryModel& config)
{
    for (const auto& [code, type] : config.mapping.types)
    {
        const auto width = config.widths.find(code);
        if ((ComponentOf(code) == kColor || width != config.widths.end()) &&
            WidthRefused(ComponentOf(code), type, width != config.widths.end() ? width->second : 0))
            return true;
    }
    return false;
}

// ---- builder model operations -----------------------------------------------------------

bool MapsColor(const FactoryModel& config)
{
    return config.mapping.counts.count(kColor) != 0;
}

// False when the consumer is to throw (the staging must then stay absent).
bool ModelCreateStaging(BuilderModel& b, bool colorCloud, const FuzzConsumer& consumer)
{
    if (consumer.failOn && b.config.mapping.types.count(*consumer.failOn) != 0)
        return false;
    b.staged = true;
    b.colorCloud = colorCloud;
    b.registered.clear();
    b.cloudTypes.clear();
    b.frame.reset();
    b.points.clear();
    for (const auto& [code, type] : b.config.mapping.types)
    {
        const std::uint8_t component = ComponentOf(code);
        const std::size_t width = HostWidth(type);
        // A host type the host has no width for, or one wider than the key's slot, is not
        // registered: the host would read past the slot.
        if (CarriesExtraData(component) && consumer.declined.count(code) == 0 && width != 0 &&
            width <= SlotSize(component))
        {
            b.registered[type].push_back(code);
        }
    }
    return true;
}

bool Fits(const std::array<double, 3>& world, const std::array<double, 3>& frame)
{
    for (int a = 0; a < 3; ++a)
    {
        if (!(std::fabs(world[a] - frame[a]) <= double(FLT_MAX)))
            return false;
    }
    return true;
}

void ModelAddPoint(BuilderModel& b, const PointValues& v)
{
    const std::array<double, 3> world{v.position.x, v.position.y, v.position.z};
    for (double c : world)
    {
        if (!std::isfinite(c))
            return;
    }
    // The reference host moves a new cloud's frame to its first point; a host that keeps the
    // identity frame stores world coordinates as they are.
    const std::array<double, 3> frame =
        b.frame ? *b.frame : (orv::IsAlternateHost() ? std::array<double, 3>{} : world);
    if (!Fits(world, frame))
        return;
    b.frame = frame;
    PointModel point;
    point.world = world;
    for (const auto& [type, codes] : b.registered)
    {
        b.cloudTypes.insert(type);
        for (KeyCode code : codes)
        {
            const auto width = b.config.widths.find(code); // needed only for a value
            Bytes slot = SlotAfter(code, width == b.config.widths.end() ? 0 : width->second, v);
            slot.resize(HostWidth(type));
            point.elements[type].push_back(std::move(slot));
        }
    }
    b.points.push_back(std::move(point));
}

void ModelAppendCloud(BuilderModel& target, const BuilderModel& source)
{
    if (source.points.empty())
        return;
    const std::vector<PointModel> appended = source.points; // the source may be the target
    if (!target.frame)
        target.frame = source.frame;
    target.cloudTypes.insert(source.cloudTypes.begin(), source.cloudTypes.end());
    for (const PointModel& point : appended)
    {
        if (Fits(point.world, *target.frame))
            target.points.push_back(point);
    }
}

// ---- checking a builder through its result ---------------------------------------------

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::uint64_t LittleEndian(const std::uint8_t* bytes, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < width; ++b)
        value |= std::uint64_t{bytes[b]} << (8 * b);
    return value;
}

template <class T>
const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>* PolicyFor(int type)
{
    return dynamic_cast<const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(type, typeid(T)));
}

// Checks what a cursor delivers for one key against the stored element (`stored` null when
// the cloud has no table of the key's type).
void CheckReadValue(const orv::DataProxy::IPointDataCursor& cursor, KeyCode code, int type,
                    const std::uint8_t* stored, int mode)
{
    const HostTypes& t = Types();
    const std::uint8_t i = IndexOf(code);
    switch (ComponentOf(code))
    {
    case 2:
    {
        const std::optional<GVector3> value = cursor.GetVector3(i);
        ORV_FUZZ_CHECK(value.has_value() == (stored && PolicyFor<GVector3>(type))) << code;
        if (value && type == t.normal)
        {
            orv::Math::Algebra::CompressedVector32Bits packed;
            packed.SetRaw(static_cast<std::uint32_t>(LittleEndian(stored, 4)));
            GVector3 decoded{0.0, 0.0, 0.0};
            (void)packed.VectorGet(decoded); // the builder's frames never rotate
            ORV_FUZZ_CHECK(value->x == decoded.x && value->y == decoded.y && value->z == decoded.z)
                << code;
        }
        else if (value && type == t.wide24)
        {
            double xyz[3];
            std::memcpy(xyz, stored, sizeof xyz);
            ORV_FUZZ_CHECK(SameBits(value->x, xyz[0]) && SameBits(value->y, xyz[1]) &&
                           SameBits(value->z, xyz[2]))
                << code;
        }
        break;
    }
    case 3:
    {
        const std::optional<std::uint64_t> value = cursor.GetUnsignedInteger(i);
        ORV_FUZZ_CHECK(value.has_value() == (stored && PolicyFor<std::uint64_t>(type))) << code;
        if (value)
        {
            // Every unsigned policy widens its stored integer without sign.
            ORV_FUZZ_CHECK(*value == LittleEndian(stored, HostWidth(type)))
                << code << ": " << *value;
        }
        break;
    }
    case 4:
    {
        const std::optional<std::int64_t> value = cursor.GetSignedInteger(i);
        ORV_FUZZ_CHECK(value.has_value() == (stored && PolicyFor<std::int64_t>(type))) << code;
        break;
    }
    case 5:
    {
        const std::optional<double> value = cursor.GetReal(i);
        ORV_FUZZ_CHECK(value.has_value() == (stored && PolicyFor<double>(type))) << code;
        if (value && (type == t.intensityNew || (type == t.intensity && mode == 1)))
        {
            float f;
            std::memcpy(&f, stored, sizeof f);
            ORV_FUZZ_CHECK(SameBits(*value, static_cast<double>(f)) ||
                           (std::isnan(*value) && std::isnan(f)))
                << code;
        }
        else if (value && type == t.intensity && mode == 3)
        {
            orv::Data::Primitive::ColorValue c;
            std::memcpy(&c, stored, sizeof c);
            ORV_FUZZ_CHECK(SameBits(*value, static_cast<double>(c.GetCompressedValue(0.0f, 1.0f))))
                << code << ": compressed";
        }
        else if (value && type == t.intensity)
        {
            ORV_FUZZ_CHECK(*value == 1.9999999360571385e38) << code << ": colour cloud";
        }
        else if (value && type == t.wide8)
        {
            double d;
            std::memcpy(&d, stored, sizeof d);
            ORV_FUZZ_CHECK(SameBits(*value, d)) << code;
        }
        break;
    }
    case 6:
    {
        const std::optional<RgbaColor> value = cursor.GetColor(i);
        ORV_FUZZ_CHECK(value.has_value() ==
                       (stored && PolicyFor<orv::Data::Primitive::ColorValue>(type)))
            << code;
        if (value)
        {
            ORV_FUZZ_CHECK(value->a == 1.0 && value->r >= 0.0 && value->r <= 1.0 &&
                           value->g >= 0.0 && value->g <= 1.0 && value->b >= 0.0 && value->b <= 1.0)
                << code;
        }
        break;
    }
    default:
        break;
    }
}

void CheckBuilder(const BuilderModel& b)
{
    const std::shared_ptr<orv::DataProxy::IPointDataProvider> result = b.object->GetResult();
    const auto* provider = dynamic_cast<const PointCloudDataProvider*>(result.get());
    ORV_FUZZ_CHECK(provider != nullptr);
    const PointCloud cloud = provider->GetPointCloud();
    const orv::Data::Cloud::GCloud& host = cloud.Convert();
    const std::size_t n = b.points.size();
    ORV_FUZZ_CHECK(provider->Size() == n) << provider->Size() << " vs " << n;
    ORV_FUZZ_CHECK(host.GetStoredPointCount() == n);
    // A builder sets the colour mode only; otherwise the cloud has the host's default.
    const int mode = b.staged && b.colorCloud ? 2 : orv::TestSupport::HostChoice::NewCloudMode();
    ORV_FUZZ_CHECK(host.GetType() == mode) << host.GetType();
    const std::vector<int> held = host.GetExtraDataTypes();
    ORV_FUZZ_CHECK(std::set<int>(held.begin(), held.end()) == b.cloudTypes)
        << held.size() << " types vs " << b.cloudTypes.size();

    for (std::size_t j = 0; j < n; ++j)
    {
        const PointModel& point = b.points[j];
        GPointDouble world{};
        ORV_FUZZ_CHECK(host.GetStoredPosition(j, world));
        ORV_FUZZ_CHECK(world.x == point.world[0] && world.y == point.world[1] &&
                       world.z == point.world[2])
            << "point " << j;
        for (int type : b.cloudTypes)
        {
            const auto* element =
                static_cast<const std::uint8_t*>(host.GetExtraDataElement(type, j));
            ORV_FUZZ_CHECK(element != nullptr) << "point " << j << " type " << type;
            const std::size_t width = HostWidth(type);
            const auto expected = point.elements.find(type);
            if (expected == point.elements.end())
            {
                const std::uint8_t lacking = orv::TestSupport::HostChoice::LackingByte();
                ORV_FUZZ_CHECK(std::all_of(element, element + width,
                                           [lacking](std::uint8_t byte)
                                           { return byte == lacking; }))
                    << "point " << j << " type " << type << " should be what a point lacks";
                continue;
            }
            bool matched = false;
            for (const Bytes& candidate : expected->second)
                matched = matched || std::memcmp(candidate.data(), element, width) == 0;
            ORV_FUZZ_CHECK(matched) << "point " << j << " type " << type;
        }
    }

    for (const auto& [code, type] : b.config.mapping.types)
    {
        ORV_FUZZ_CHECK(provider->HasComponent(static_cast<EPointDataComponent>(ComponentOf(code)),
                                              IndexOf(code)))
            << code;
    }

    // The same points and values read back through the contract.
    const WantAll everything;
    std::size_t j = 0;
    for (auto cursor = provider->GetIterable(everything)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext(), ++j)
    {
        ORV_FUZZ_CHECK(j < n);
        const GPointDouble p = cursor->GetPosition();
        ORV_FUZZ_CHECK(p.x == b.points[j].world[0] && p.y == b.points[j].world[1] &&
                       p.z == b.points[j].world[2])
            << "cursor point " << j;
        ORV_FUZZ_CHECK(cursor->GetPointIndex() == j);
        for (const auto& [code, type] : b.config.mapping.types)
        {
            const bool holds = b.cloudTypes.count(type) != 0;
            const auto* stored =
                holds ? static_cast<const std::uint8_t*>(host.GetExtraDataElement(type, j))
                      : nullptr;
            CheckReadValue(*cursor, code, type, stored, mode);
        }
    }
    ORV_FUZZ_CHECK(j == n) << j << " points read of " << n;
}

// ---- drawing values ---------------------------------------------------------------------

double Coordinate(FuzzInput& in)
{
    const std::uint8_t kind = in.U8();
    if (kind < 240)
        return 0.25 * static_cast<double>(static_cast<std::int16_t>(in.U16()) / 2);
    const double specials[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e39, -1e39};
    return in.Pick(specials);
}

double RealValue(FuzzInput& in)
{
    if (in.Bool())
        return in.RawDouble();
    const double nice[] = {0.0,  -0.0,  0.1,     1.0, -2.5, 65504.0, 3.4028235677973366e38,
                           1e39, 1e-45, HUGE_VAL};
    return in.Pick(nice);
}

PointValues DrawPoint(FuzzInput& in, const FactoryModel& config)
{
    PointValues v;
    v.position = {Coordinate(in), Coordinate(in), Coordinate(in)};
    for (const auto& entry : config.mapping.types)
    {
        const KeyCode code = entry.first;
        if (in.Below(4) == 0)
            continue; // no value for this key
        const std::uint8_t i = IndexOf(code);
        switch (ComponentOf(code))
        {
        case 2:
            v.vector3[i] = {RealValue(in), RealValue(in), RealValue(in)};
            break;
        case 3:
            v.unsignedInteger[i] = in.U64();
            break;
        case 4:
            v.signedInteger[i] = static_cast<std::int64_t>(in.U64());
            break;
        case 5:
            v.real[i] = RealValue(in);
            break;
        case 6:
            v.color[i] = {RealValue(in), RealValue(in), RealValue(in), RealValue(in)};
            break;
        default:
            break;
        }
    }
    return v;
}

std::uint64_t DrawWidth(FuzzInput& in)
{
    const std::uint64_t widths[] = {1, 2, 4, 8, 24, 0, 3, 16, ~std::uint64_t{0}};
    return in.Pick(widths);
}

std::uint8_t DrawComponent(FuzzInput& in)
{
    // Mostly the five extra-data components, sometimes Position, PointIndex or beyond Color.
    const std::uint8_t kind = in.U8();
    if (kind < 224)
        return static_cast<std::uint8_t>(2 + kind % 5);
    const std::uint8_t others[] = {0, 1, 7, 200, 255};
    return others[kind % 5];
}

// ---- the run ------------------------------------------------------------------------------

struct Run
{
    FuzzInput& in;
    ComponentMapping mappings[2];
    MappingModel mappingModels[2];
    PointCloudDataBuilderFactory factories[2];
    FactoryModel factoryModels[2];
    FuzzConsumer consumer;
    BuilderModel builders[kBuilderSlots];

    explicit Run(FuzzInput& input) : in(input) {}

    void MappingOperation()
    {
        const int a = static_cast<int>(in.Below(2));
        const int other = 1 - a;
        switch (in.Below(8))
        {
        case 0:
        case 1:
            MapBoth(mappings[a], mappingModels[a], DrawComponent(in), Types().Pick(in));
            break;
        case 2:
            mappings[a].Clear();
            mappingModels[a] = {};
            break;
        case 3:
            mappings[other] = mappings[a];
            mappingModels[other] = mappingModels[a];
            break;
        case 4:
        {
            ComponentMapping moved(std::move(mappings[a]));
            CheckMapping(mappings[a], {}); // moved-from: empty
            mappings[a] = moved;
            break;
        }
        case 5:
            mappings[other] = std::move(mappings[a]);
            mappingModels[other] = mappingModels[a];
            mappingModels[a] = {};
            break;
        case 6:
        {
            ComponentMapping& self = mappings[a];
            mappings[a] = self;
            mappings[a] = std::move(self);
            break;
        }
        default:
        {
            // Run a component's counter to its end: the 257th key must be refused.
            const std::uint8_t component = DrawComponent(in);
            for (int k = 0; k < 257; ++k)
            {
                if (!MapBoth(mappings[a], mappingModels[a], component, k))
                    break;
            }
            break;
        }
        }
        CheckMapping(mappings[0], mappingModels[0]);
        CheckMapping(mappings[1], mappingModels[1]);
    }

    void FactoryOperation()
    {
        const int f = static_cast<int>(in.Below(2));
        const int other = 1 - f;
        switch (in.Below(7))
        {
        case 0:
        case 1:
        case 2:
        {
            const std::uint8_t component = DrawComponent(in);
            const int type = Types().Pick(in);
            const std::uint64_t width = DrawWidth(in);
            MappingModel& model = factoryModels[f].mapping;
            const auto counted = model.counts.find(component);
            // A width the rule refuses is refused first; then the 257th key of a component.
            const bool widthRefused = WidthRefused(component, type, width);
            if (widthRefused || (counted != model.counts.end() && counted->second == 256))
            {
                bool refused = false;
                try
                {
                    factories[f].MapOptionalComponent(static_cast<EPointDataComponent>(component),
                                                      type, width);
                }
                catch (const std::invalid_argument&)
                {
                    refused = widthRefused;
                }
                catch (const std::length_error&)
                {
                    refused = !widthRefused;
                }
                ORV_FUZZ_CHECK(refused) << int(component) << " " << type << " " << width;
                break;
            }
            const auto key = factories[f].MapOptionalComponent(
                static_cast<EPointDataComponent>(component), type, width);
            const unsigned index = counted == model.counts.end() ? 0 : counted->second;
            ORV_FUZZ_CHECK(static_cast<std::uint8_t>(key.component) == component &&
                           key.index == index);
            model.counts[component] = index + 1;
            model.types[Code(component, key.index)] = type;
            factoryModels[f].widths[Code(component, key.index)] = width;
            break;
        }
        case 3:
            // A key mapped behind the factory's back carries no width.
            MapBoth(factories[f].mapping, factoryModels[f].mapping, DrawComponent(in),
                    Types().Pick(in));
            break;
        case 4:
            factories[f].ClearComponentMapping();
            factoryModels[f].mapping = {};
            break;
        case 5:
            factories[other] = factories[f];
            factoryModels[other] = factoryModels[f];
            break;
        default:
        {
            PointCloudDataBuilderFactory moved(std::move(factories[f]));
            CheckFactory(factories[f], {});
            factories[f] = std::move(moved);
            break;
        }
        }
        CheckFactory(factories[0], factoryModels[0]);
        CheckFactory(factories[1], factoryModels[1]);
    }

    void CreateBuilder()
    {
        const int f = static_cast<int>(in.Below(2));
        BuilderModel& b = builders[in.Below(kBuilderSlots)];
        b = BuilderModel{};
        if (ConfigurationRefused(factoryModels[f]))
        {
            bool refused = false;
            try
            {
                factories[f].CreatePointDataBuilder(consumer);
            }
            catch (const std::invalid_argument&)
            {
                refused = true;
            }
            ORV_FUZZ_CHECK(refused);
            return;
        }
        b.object = factories[f].CreatePointDataBuilder(consumer);
        b.config = factoryModels[f];
        CheckBuilder(b);
    }

    void AddPoint(BuilderModel& b)
    {
        if (!b.object || b.points.size() >= kMaxPointsPerBuilder)
            return;
        FuzzAccessor accessor;
        accessor.values = DrawPoint(in, b.config);
        if (in.Below(8) == 0)
            accessor.failAtCall = 1 + in.Below(8);

        const std::uint64_t askedBefore = consumer.asked;
        const bool createsStaging = !b.staged;
        BuilderModel expected = b;
        bool consumerThrows = false;
        if (createsStaging)
            consumerThrows = !ModelCreateStaging(expected, MapsColor(b.config), consumer);

        // Accessor calls: the position, then one per key of the five extra-data components.
        std::uint64_t extraDataKeys = 0;
        bool widthMissing = false;
        for (const auto& entry : b.config.mapping.types)
        {
            if (!CarriesExtraData(ComponentOf(entry.first)))
                continue;
            ++extraDataKeys;
            widthMissing = widthMissing || (ComponentOf(entry.first) != kColor &&
                                            HasValue(accessor.values, entry.first) &&
                                            b.config.widths.count(entry.first) == 0);
        }
        const bool accessorThrows =
            accessor.failAtCall != 0 && accessor.failAtCall <= 1 + extraDataKeys;

        enum class Outcome
        {
            None,
            Consumer,
            Accessor,
            MissingWidth
        } outcome = Outcome::None;
        try
        {
            b.object->AddPointData(accessor);
        }
        catch (const ConsumerFailure&)
        {
            outcome = Outcome::Consumer;
        }
        catch (const AccessorFailure&)
        {
            outcome = Outcome::Accessor;
        }
        catch (const std::out_of_range& e)
        {
            ORV_FUZZ_CHECK(std::string(e.what()) == "invalid unordered_map<K, T> key") << e.what();
            outcome = Outcome::MissingWidth;
        }

        if (consumerThrows)
        {
            ORV_FUZZ_CHECK(outcome == Outcome::Consumer);
            ORV_FUZZ_CHECK(accessor.TotalCalls() == 0);
            CheckBuilder(b); // unchanged: still without a staging
            return;
        }
        ORV_FUZZ_CHECK(outcome != Outcome::Consumer);
        if (createsStaging)
        {
            // Asked once about every mapped key, whatever its component.
            ORV_FUZZ_CHECK(consumer.asked - askedBefore == b.config.mapping.types.size());
        }
        b = expected;
        ORV_FUZZ_CHECK(accessor.calls[1] == 0) << "the point index is never read";
        if (widthMissing && accessorThrows)
        {
            ORV_FUZZ_CHECK(outcome == Outcome::Accessor || outcome == Outcome::MissingWidth);
        }
        else if (widthMissing)
        {
            ORV_FUZZ_CHECK(outcome == Outcome::MissingWidth);
        }
        else if (accessorThrows)
        {
            ORV_FUZZ_CHECK(outcome == Outcome::Accessor);
        }
        else
        {
            ORV_FUZZ_CHECK(outcome == Outcome::None);
            std::uint64_t perComponent[7] = {};
            for (const auto& entry : b.config.mapping.types)
            {
                if (CarriesExtraData(ComponentOf(entry.first)))
                    ++perComponent[ComponentOf(entry.first)];
            }
            ORV_FUZZ_CHECK(accessor.calls[0] == 1);
            for (int c = kVector3; c <= kColor; ++c)
                ORV_FUZZ_CHECK(accessor.calls[c] == perComponent[c]) << "component " << c;
            ModelAddPoint(b, accessor.values);
        }
        CheckBuilder(b);
    }

    void Merge(BuilderModel& target, const BuilderModel& source)
    {
        if (!target.object || !source.object ||
            target.points.size() + source.points.size() > kMaxPointsPerBuilder)
            return;
        BuilderModel expected = target;
        bool consumerThrows = false;
        if (source.staged && &source != &target && !target.staged)
        {
            consumerThrows = !ModelCreateStaging(
                expected, MapsColor(target.config) || source.colorCloud, consumer);
        }
        if (source.staged && !consumerThrows)
            ModelAppendCloud(expected, &source == &target ? target : source);

        bool threw = false;
        try
        {
            target.Concrete().Merge(source.Concrete());
        }
        catch (const ConsumerFailure&)
        {
            threw = true;
        }
        ORV_FUZZ_CHECK(threw == consumerThrows);
        if (!threw)
            target = expected;
        CheckBuilder(target);
        if (&source != &target)
            CheckBuilder(source);
    }

    // What a builder copied from is left with: its configuration, no staging.
    static BuilderModel Afresh(const BuilderModel& b)
    {
        BuilderModel afresh;
        afresh.object = b.object;
        afresh.config = b.config;
        return afresh;
    }

    void BuilderOperation()
    {
        BuilderModel& b = builders[in.Below(kBuilderSlots)];
        BuilderModel& other = builders[in.Below(kBuilderSlots)];
        switch (in.Below(9))
        {
        case 0:
            CreateBuilder();
            break;
        case 1:
        case 2:
        case 3:
            AddPoint(b);
            break;
        case 4:
            Merge(b, other);
            break;
        case 5:
        {
            // Copying takes the points over; the builder copied from starts afresh.
            if (!b.object)
                break;
            BuilderModel copy = b;
            copy.object = std::make_shared<PointCloudDataBuilder>(b.Concrete());
            b = Afresh(b);
            CheckBuilder(b);
            other = copy; // when `other` is `b`, the builder copied from is dropped
            CheckBuilder(other);
            break;
        }
        case 6:
        {
            if (!b.object || !other.object)
                break;
            other.Concrete() = b.Concrete();
            if (&b != &other) // assigning a builder to itself changes nothing
            {
                BuilderModel taken = b;
                taken.object = other.object;
                other = taken;
                b = Afresh(b);
                CheckBuilder(b);
            }
            CheckBuilder(other);
            break;
        }
        case 7:
            if (b.object)
            {
                b.object->Reserve(in.U64());
                CheckBuilder(b);
            }
            break;
        default:
            b = BuilderModel{};
            break;
        }
    }

    void ConsumerOperation()
    {
        const KeyCode code = Code(DrawComponent(in), static_cast<std::uint8_t>(in.Below(4)));
        switch (in.Below(4))
        {
        case 0:
            consumer.declined.insert(code);
            break;
        case 1:
            consumer.declined.erase(code);
            break;
        case 2:
            consumer.failOn = code;
            break;
        default:
            consumer.failOn.reset();
            break;
        }
    }

    void Go()
    {
        for (std::size_t op = 0; op < kMaxOperations && !in.Empty(); ++op)
        {
            switch (in.Below(8))
            {
            case 0:
                MappingOperation();
                break;
            case 1:
            case 2:
                FactoryOperation();
                break;
            case 3:
                ConsumerOperation();
                break;
            default:
                BuilderOperation();
                break;
            }
        }
    }
};

} // namespace

void RunBuilderSequences(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Run run(in);
    run.Go();
}

} // namespace orv::Fuzz

#include "builder/PointCloudDataBuilder.h"

#include "builder/StorageWidth.h"
#include "contract/KeyedLookup.h"
#include "extradata/PolicyRegistration.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/Values.h"
#include "provider/PointCloudDataProvider.h"

#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

namespace orv::Data::Cloud
{

namespace
{

using orv::Data::Primitive::ColorValue;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::IPointDataAccessor;
using orv::DataProxy::IPointDataConsumer;
using orv::DataProxy::PointDataComponents::ComponentKey;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

// Narrowing a double to a float relies on IEEE rounding (nearest, overflow to infinity).
static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "Real and Color values are narrowed with IEEE 754 arithmetic");

// The host's colour type, given to a cloud that carries Color keys.
constexpr int kColorCloudType = 2;

// Raw value slots: the host copies as many bytes as its extra-data type's element holds from
// the slot's start, so a narrowed value always sits in the first bytes.
struct alignas(8) ValueSlot8
{
    unsigned char bytes[8];
};

struct alignas(8) ValueSlot24
{
    unsigned char bytes[24];
};

template <class T, class Slot>
void StoreFirst(Slot& slot, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>, "values are copied as whole objects");
    static_assert(sizeof(T) <= sizeof(Slot::bytes), "value wider than its slot");
    std::memcpy(slot.bytes, &value, sizeof value);
}

// The value's low-order `width` bytes, converted first so that the host reads the same
// number on any byte order.
void StoreLowOrderBytes(ValueSlot8& slot, std::uint64_t bits, std::uint64_t width)
{
    switch (width)
    {
    case 8:
        StoreFirst(slot, bits);
        break;
    case 4:
        StoreFirst(slot, static_cast<std::uint32_t>(bits));
        break;
    case 2:
        StoreFirst(slot, static_cast<std::uint16_t>(bits));
        break;
    case 1:
        StoreFirst(slot, static_cast<std::uint8_t>(bits));
        break;
    default:
        break; // no other width passes the configuration check
    }
}

void StoreVector(ValueSlot24& slot, const GVector3& value, std::uint64_t width)
{
    if (width == 24)
    {
        const double xyz[3] = {value.x, value.y, value.z};
        StoreFirst(slot, xyz);
    }
    else if (width == 4)
    {
        CompressedVector32Bits packed;
        packed.VectorSet(value);
        StoreFirst(slot, packed);
    }
}

void StoreReal(ValueSlot8& slot, double value, std::uint64_t width)
{
    if (width == 8)
    {
        StoreFirst(slot, value);
    }
    else if (width == 4)
    {
        StoreFirst(slot, static_cast<float>(value));
    }
}

} // namespace

// The cloud under construction and the buffers of the point being added.
//
// pointData holds the addresses of stagedPosition and of every registered slot, so a staging
// is never copied or moved: it lives on the heap and only its owning pointer passes from one
// builder to another. The tables are node-based, so a slot keeps its address while its table
// grows. Members are destroyed in reverse order: the cloud, the point record, the tables.
struct PointStaging
{
    GPointDouble stagedPosition{0.0, 0.0, 0.0};
    // Per key index, one table per component: keys of different components never share a slot.
    std::unordered_map<std::uint8_t, ValueSlot24> vector3Values;
    std::unordered_map<std::uint8_t, ValueSlot8> unsignedValues;
    std::unordered_map<std::uint8_t, ValueSlot8> signedValues;
    std::unordered_map<std::uint8_t, ValueSlot8> realValues;
    std::unordered_map<std::uint8_t, ColorValue> colorValues;
    GCloudPointData pointData{&stagedPosition};
    PointCloud cloud;

    PointStaging() = default;
    PointStaging(const PointStaging&) = delete;
    PointStaging& operator=(const PointStaging&) = delete;
};

struct BuilderState
{
    std::unique_ptr<PointStaging> staging;
    const IPointDataConsumer* consumer;
    ComponentMapping mapping;
    StorageWidthTable storageWidthByKey;

    BuilderState(const IPointDataConsumer* consumerOfBuilder, const ComponentMapping& mappingToCopy,
                 const StorageWidthTable& widthsToCopy)
        : consumer(consumerOfBuilder), mapping(mappingToCopy), storageWidthByKey(widthsToCopy)
    {
    }
};

namespace
{

bool MapsColor(const BuilderState& state)
{
    return state.mapping.nextIndexByComponent.count(EPointDataComponent::Color) != 0;
}

// A complete staging: a new cloud (of the colour type when asked) and a zero slot for every
// mapped extra-data key, the wanted ones registered with the point record. Creating every
// slot here, declined keys included, means the per-point path only ever finds slots and so
// never allocates. Nothing is installed: if the consumer or an allocation throws, the
// half-built staging is discarded with the exception.
std::unique_ptr<PointStaging> CreateStaging(const BuilderState& state, bool colorCloud)
{
    auto staging = std::make_unique<PointStaging>();
    if (colorCloud)
    {
        staging->cloud.Convert().SetType(kColorCloudType, 0.0f, 0.0f, nullptr, false);
    }
    for (const auto& [key, extraDataType] : state.mapping.extraDataTypeByKey)
    {
        const void* slot = nullptr;
        std::size_t slotSize = 0;
        switch (key.component)
        {
        case EPointDataComponent::Vector3:
            slot = &staging->vector3Values.try_emplace(key.index).first->second;
            slotSize = sizeof(ValueSlot24);
            break;
        case EPointDataComponent::UnsignedInteger:
            slot = &staging->unsignedValues.try_emplace(key.index).first->second;
            slotSize = sizeof(ValueSlot8);
            break;
        case EPointDataComponent::SignedInteger:
            slot = &staging->signedValues.try_emplace(key.index).first->second;
            slotSize = sizeof(ValueSlot8);
            break;
        case EPointDataComponent::Real:
            slot = &staging->realValues.try_emplace(key.index).first->second;
            slotSize = sizeof(ValueSlot8);
            break;
        case EPointDataComponent::Color:
            slot = &staging->colorValues.try_emplace(key.index).first->second;
            slotSize = sizeof(ColorValue);
            break;
        default:
            break; // Position, PointIndex and unknown components carry no extra data
        }
        // Every mapped key is asked about, also those without a slot.
        if (!state.consumer->IsComponentRequested(key.component, key.index) || slot == nullptr)
        {
            continue;
        }
        // The host copies its type's whole element from the slot at every point. The
        // configuration was checked against the element sizes known then; a type whose size
        // became known since and disagrees with the value written, or one wider than the slot
        // of a key without width, would make the host store bytes that were never a value or
        // read past the slot: such a key stays out of the cloud, like a type the host does
        // not know.
        const unsigned int elementSize = orv::DataProxy::ExtraData::KnownElementSize(extraDataType);
        const std::optional<std::uint64_t> written = StoredWidth(key, state.storageWidthByKey);
        if (elementSize == 0 || (written ? elementSize == *written : elementSize <= slotSize))
        {
            // The host's status is not needed: a type it refuses simply stays out of the cloud.
            (void)staging->pointData.AddExtraData(extraDataType, slot);
        }
    }
    return staging;
}

PointStaging& EnsureStaging(BuilderState& state)
{
    if (!state.staging)
    {
        state.staging = CreateStaging(state, MapsColor(state));
    }
    return *state.staging;
}

// Writes a present value into the key's slot, or clears the slot when the point has no value,
// so that no point inherits what an earlier one delivered. `store(slot, value, width)`.
template <class Table, class Value, class Store>
void StageValue(const BuilderState& state, ComponentKey key, Table& table,
                const std::optional<Value>& value, Store store)
{
    if (value)
    {
        const std::uint64_t width = orv::DataProxy::AtOrThrow(state.storageWidthByKey, key);
        store(table.try_emplace(key.index).first->second, *value, width);
    }
    else
    {
        const auto found = table.find(key.index);
        if (found != table.end())
        {
            found->second = {};
        }
    }
}

} // namespace

PointCloudDataBuilder::PointCloudDataBuilder(const IPointDataConsumer& consumer,
                                             const ComponentMapping& mapping,
                                             const StorageWidthTable& storageWidthByKey)
    : state(std::make_unique<BuilderState>(&consumer, mapping, storageWidthByKey))
{
    CheckStorageWidths(mapping, storageWidthByKey);
}

PointCloudDataBuilder::PointCloudDataBuilder(const PointCloudDataBuilder& other)
    : IPointDataBuilder(other),
      state(std::make_unique<BuilderState>(other.state->consumer, other.state->mapping,
                                           other.state->storageWidthByKey))
{
    state->staging = std::move(other.state->staging);
}

PointCloudDataBuilder& PointCloudDataBuilder::operator=(const PointCloudDataBuilder& other)
{
    if (this != &other)
    {
        // Built before anything is discarded: a failed allocation leaves this builder as it was.
        auto fresh = std::make_unique<BuilderState>(other.state->consumer, other.state->mapping,
                                                    other.state->storageWidthByKey);
        state = std::move(fresh);
        state->staging = std::move(other.state->staging);
    }
    return *this;
}

PointCloudDataBuilder::~PointCloudDataBuilder() = default;

void PointCloudDataBuilder::Reserve(std::uint64_t /*count*/) {}

void PointCloudDataBuilder::AddPointData(const IPointDataAccessor& point)
{
    PointStaging& staging = EnsureStaging(*state);
    staging.stagedPosition = point.GetPosition();

    // At most two hash probes per key: the width (only for a present value) and the slot.
    for (const auto& entry : state->mapping.extraDataTypeByKey)
    {
        const ComponentKey key = entry.first;
        switch (key.component)
        {
        case EPointDataComponent::Vector3:
            StageValue(*state, key, staging.vector3Values, point.GetVector3(key.index),
                       StoreVector);
            break;
        case EPointDataComponent::UnsignedInteger:
            StageValue(*state, key, staging.unsignedValues, point.GetUnsignedInteger(key.index),
                       StoreLowOrderBytes);
            break;
        case EPointDataComponent::SignedInteger:
            // Two's-complement bits: the conversion to unsigned is modulo 2^64.
            StageValue(*state, key, staging.signedValues, point.GetSignedInteger(key.index),
                       [](ValueSlot8& slot, std::int64_t value, std::uint64_t width)
                       { StoreLowOrderBytes(slot, static_cast<std::uint64_t>(value), width); });
            break;
        case EPointDataComponent::Real:
            StageValue(*state, key, staging.realValues, point.GetReal(key.index), StoreReal);
            break;
        case EPointDataComponent::Color:
        {
            // Colours have one stored form, so no width is looked up.
            const std::optional<orv::DataProxy::RgbaColor> color = point.GetColor(key.index);
            ColorValue& slot = staging.colorValues.try_emplace(key.index).first->second;
            if (color)
            {
                slot.SetRGB(static_cast<float>(color->r), static_cast<float>(color->g),
                            static_cast<float>(color->b));
            }
            else
            {
                slot = ColorValue{};
            }
            break;
        }
        default:
            break; // Position, PointIndex and unknown components: no accessor call
        }
    }

    // A point the host refuses is dropped; the builder reports nothing.
    (void)staging.cloud.AddPoint(staging.pointData, true);
}

std::shared_ptr<orv::DataProxy::IPointDataProvider> PointCloudDataBuilder::GetResult()
{
    // The provider takes its own host copy of the cloud as it stands now (before the first
    // point: a new, empty cloud, not of the colour type). One allocation with its count.
    if (state->staging)
    {
        return std::make_shared<PointCloudDataProvider>(state->staging->cloud, state->mapping);
    }
    return std::make_shared<PointCloudDataProvider>(PointCloud(), state->mapping);
}

void PointCloudDataBuilder::Merge(const PointCloudDataBuilder& other) const
{
    if (!other.state->staging)
    {
        return;
    }
    if (&other == this)
    {
        // Source and target are one cloud: append a snapshot of it instead (a cheap host copy).
        const PointCloud snapshot(state->staging->cloud);
        (void)state->staging->cloud.AddCloud(snapshot, nullptr);
        return;
    }
    if (!state->staging)
    {
        const PointCloud& source = other.state->staging->cloud;
        const bool colorCloud = MapsColor(*state) || source.Convert().GetType() == kColorCloudType;
        state->staging = CreateStaging(*state, colorCloud);
    }
    (void)state->staging->cloud.AddCloud(other.state->staging->cloud, nullptr);
}

} // namespace orv::Data::Cloud

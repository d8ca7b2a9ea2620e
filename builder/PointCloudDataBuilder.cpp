#include "builder/PointCloudDataBuilder.h"

#include "builder/internal/StorageWidth.h"
#include "extradata/internal/ComponentTable.h"
#include "extradata/internal/PolicyRegistration.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/Values.h"
#include "provider/PointCloudDataProvider.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <new>
#include <optional>
#include <sstream>
#include <type_traits>
#include <utility>
#include <vector>

namespace orv::Data::Cloud
{

namespace
{

using orv::DataProxy::IPointDataAccessor;
using orv::DataProxy::IPointDataConsumer;
using orv::DataProxy::PointDataComponents::ComponentKey;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::Matrix3x4;

// Narrowing a double to a float relies on IEEE rounding (nearest, overflow to infinity).
static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "Real and Color values are narrowed with IEEE 754 arithmetic");

// The host's colour type, given to a cloud that carries Color keys.
constexpr int kColorCloudType = 2;

// A key's raw value slot: the host copies as many bytes as its extra-data type's element holds
// from the slot's start, so a narrowed value always sits in the first bytes. Wide enough for
// every component's stored form (ComponentRow::kSlotSize).
struct alignas(8) ValueSlot
{
    unsigned char bytes[24];
};

template <class T>
void StoreFirst(unsigned char* slot, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>, "values are copied as whole objects");
    static_assert(sizeof(T) <= sizeof(ValueSlot::bytes), "value wider than its slot");
    std::memcpy(slot, &value, sizeof value);
}

// The value's low-order `width` bytes, converted first so that the host reads the same
// number on any byte order.
void StoreLowOrderBytes(unsigned char* slot, std::uint64_t bits, std::uint64_t width)
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

// Writes a present value, narrowed to `width`, at the start of its slot. One function per
// component: AddPointData and AppendBlock both store through it, so they store the same bits.
void Store(unsigned char* slot, const orv::Math::Algebra::GVector3& value, std::uint64_t width)
{
    if (width == 24)
    {
        const double xyz[3] = {value.x, value.y, value.z};
        StoreFirst(slot, xyz);
    }
    else if (width == 4)
    {
        StoreFirst(slot, orv::Math::Algebra::CompressedVector32Bits(value));
    }
}

void Store(unsigned char* slot, std::uint64_t value, std::uint64_t width)
{
    StoreLowOrderBytes(slot, value, width);
}

void Store(unsigned char* slot, std::int64_t value, std::uint64_t width)
{
    // Two's-complement bits: the conversion to unsigned is modulo 2^64.
    StoreLowOrderBytes(slot, static_cast<std::uint64_t>(value), width);
}

void Store(unsigned char* slot, double value, std::uint64_t width)
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

// Colours have one stored form: no width is consulted. The host's value is made in the slot
// itself: made aside and copied in, its bytes (written one by one) would be read back as one
// word at once, a stall of several nanoseconds per point.
void Store(unsigned char* slot, const orv::DataProxy::RgbaColor& color, std::uint64_t)
{
    static_assert(sizeof(orv::Data::Primitive::ColorValue) <= sizeof(ValueSlot::bytes) &&
                      std::is_trivially_copyable_v<orv::Data::Primitive::ColorValue>,
                  "a colour value is a plain value that fits its slot");
    (new (slot) orv::Data::Primitive::ColorValue)
        ->SetRGB(static_cast<float>(color.r), static_cast<float>(color.g),
                 static_cast<float>(color.b));
}

struct StagedKey;
using StageFunction = void (*)(const IPointDataAccessor&, const StagedKey&);

// One mapped extra-data key, resolved when the staging is created: its slot, its width and the
// component's staging step, so a point costs one getter call and one store per key.
struct StagedKey
{
    ComponentKey key;
    unsigned char* slot;
    std::uint64_t width;
    bool hasWidth;        // Color keys and keys of the width table
    std::size_t slotSize; // ComponentRow::kSlotSize: what a point without a value clears
    StageFunction stage;
};

[[noreturn]] void ThrowNoWidth()
{
    // What a look-up of the key in the width table reports.
    throw std::out_of_range("invalid unordered_map<K, T> key");
}

// Writes a present value into the key's slot, or clears the slot when the point has no value,
// so that no point inherits what an earlier one delivered.
template <class Row>
void Stage(const IPointDataAccessor& point, const StagedKey& staged)
{
    const auto value = (point.*Row::kGetter)(staged.key.index);
    if (!value)
    {
        std::memset(staged.slot, 0, Row::kSlotSize);
        return;
    }
    if (!staged.hasWidth)
    {
        ThrowNoWidth();
    }
    Store(staged.slot, *value, staged.width);
}

// What the builder knows of its cloud's frame, to check that the host stores each position within
// the tolerance. The frame comes from the host's cursor information once the cloud holds a point
// (a host may place a new cloud's frame with its first point). Per point the check is one box
// test: every position within `reach` of the frame's origin in each world coordinate is stored
// within the tolerance; any other position (and every one while the frame is unknown) takes the
// full computation, out of the per-point path.
struct PositionCheck
{
    double tolerance = 0.0;
    bool frameKnown = false;
    double reach = -1.0; // below zero: no position passes the box test
    GPointDouble origin{0.0, 0.0, 0.0};
    Matrix3x4 toWorld{};
    Matrix3x4 toLocal{};

    // Before the frame is known; with an infinite tolerance every position passes for good.
    explicit PositionCheck(double positionTolerance) : tolerance(positionTolerance)
    {
        if (std::isinf(tolerance))
        {
            frameKnown = true;
            reach = tolerance;
        }
    }

    bool WithinReach(const GPointDouble& p) const
    {
        return std::fabs(p.x - origin.x) <= reach && std::fabs(p.y - origin.y) <= reach &&
               std::fabs(p.z - origin.z) <= reach;
    }
};

// m's linear part times v, plus its translation when `translate`: row by row, in the order the
// cursor computes world positions.
GPointDouble Apply(const Matrix3x4& matrix, double x, double y, double z, bool translate)
{
    const double* m = matrix.v;
    const double t = translate ? 1.0 : 0.0;
    return {((m[1] * y + m[0] * x) + m[2] * z) + t * m[9],
            ((m[4] * y + m[3] * x) + m[5] * z) + t * m[10],
            ((m[7] * y + m[6] * x) + m[8] * z) + t * m[11]};
}

// The largest row sum of absolute values of a frame's linear part: how far one unit in any
// coordinate moves a point at most.
double RowNorm(const Matrix3x4& matrix)
{
    const double* m = matrix.v;
    double norm = 0.0;
    for (int row = 0; row < 3; ++row)
    {
        norm = std::max(norm, std::fabs(m[3 * row]) + std::fabs(m[3 * row + 1]) +
                                  std::fabs(m[3 * row + 2]));
    }
    return norm;
}

// The frame of `cloud` as the host's cursor information gives it (local to world and back), and
// the reach of the box test: a local coordinate below 2^k in magnitude is stored within half a
// float step, 2^(k - 25); half the tolerance (after the frame's scale) is allowed for that, the
// rest covers the rounding of the test itself.
PositionCheck ReadFrame(const PointCloud& cloud, double tolerance)
{
    const orv::Data::Cloud::CloudCursorBase<1> cursor(cloud.Convert(), 0);
    PositionCheck check(tolerance);
    check.frameKnown = true;
    check.toWorld = cursor.GetMatrix();
    check.toLocal = cursor.GetInverseMatrix();
    check.origin = {check.toWorld.v[9], check.toWorld.v[10], check.toWorld.v[11]};
    const double allowed = tolerance / (2.0 * RowNorm(check.toWorld));
    const double inverseNorm = RowNorm(check.toLocal);
    check.reach = -1.0;
    if (allowed > 0.0 && std::isfinite(allowed) && inverseNorm > 0.0 && std::isfinite(inverseNorm))
    {
        int exponent = 0;
        (void)std::frexp(allowed, &exponent); // 2^(exponent - 1) <= allowed
        check.reach = std::ldexp(1.0, std::min(exponent + 24, 127)) / inverseNorm;
    }
    return check;
}

// Throws std::range_error when the host would store `p` (finite) further than the tolerance from
// where it is, in some world coordinate: the local coordinates rounded to floats, the difference
// taken back through the frame.
void CheckStored(const PositionCheck& check, const GPointDouble& p)
{
    const GPointDouble local = Apply(check.toLocal, p.x, p.y, p.z, true);
    const float stored[3] = {static_cast<float>(local.x), static_cast<float>(local.y),
                             static_cast<float>(local.z)};
    const GPointDouble off =
        Apply(check.toWorld, stored[0] - local.x, stored[1] - local.y, stored[2] - local.z, false);
    if (std::fabs(off.x) <= check.tolerance && std::fabs(off.y) <= check.tolerance &&
        std::fabs(off.z) <= check.tolerance)
    {
        return;
    }
    // The step: one float step of a local coordinate, as long in the world as the frame makes
    // it (the length of that axis in world units), the largest of the three.
    double step = 0.0;
    for (int axis = 0; axis < 3; ++axis)
    {
        const float magnitude = std::fabs(stored[axis]);
        const double* m = check.toWorld.v;
        step =
            std::max(step, std::hypot(m[axis], m[3 + axis], m[6 + axis]) *
                               (std::nextafter(magnitude, std::numeric_limits<float>::infinity()) -
                                magnitude));
    }
    std::ostringstream message;
    message << std::fixed << std::setprecision(4) << "position (" << p.x << ", " << p.y << ", "
            << p.z << ") would be stored in steps of " << std::defaultfloat << step
            << " in the new cloud's frame, "
            << std::max({std::fabs(off.x), std::fabs(off.y), std::fabs(off.z)})
            << " away, beyond the position tolerance of " << check.tolerance
            << ": give the builder factory a prototype cloud whose frame sits near the data "
               "(PrototypedBuilderFactory::SetPrototype), or a larger position tolerance "
               "(PrototypedBuilderFactory::SetPositionTolerance)";
    throw std::range_error(message.str());
}

} // namespace

// One key's staged values of a block (`width` bytes per point) and its slot.
struct BlockCopy
{
    unsigned char* slot;
    const unsigned char* values;
    std::uint64_t width;
};

// The cloud under construction and the buffers of the point being added.
//
// pointData holds the addresses of stagedPosition and of every registered slot, so a staging
// is never copied or moved: it lives on the heap and only its owning pointer passes from one
// builder to another. The slots and the staged keys are sized once, when the staging is
// created, and never move. Members are destroyed in reverse order: the cloud, the point
// record, the tables.
struct PointStaging
{
    GPointDouble stagedPosition{0.0, 0.0, 0.0};
    // One slot per mapped extra-data key: keys never share a slot.
    std::vector<ValueSlot> slots;
    // Every mapped extra-data key, registered or not, in the mapping's order.
    std::vector<StagedKey> keys;
    // AppendBlock's staged values of one block: per key with a width, kPointDataBlockCapacity
    // values of that width.
    std::vector<unsigned char> blockValues;
    std::vector<BlockCopy> blockCopies; // where each of them goes
    GCloudPointData pointData{&stagedPosition};
    PointCloud cloud;
    PositionCheck check;

    PointStaging(const PointCloud& prototype, double positionTolerance)
        : cloud(prototype), check(positionTolerance)
    {
    }
    PointStaging(const PointStaging&) = delete;
    PointStaging& operator=(const PointStaging&) = delete;
};

struct BuilderState
{
    std::unique_ptr<PointStaging> staging;
    const IPointDataConsumer* consumer;
    ComponentMapping mapping; // as written: intensity keys on their plain float type
    StorageWidthTable storageWidthByKey;
    NewCloudSettings settings;

    BuilderState(const IPointDataConsumer* consumerOfBuilder, const ComponentMapping& mappingToCopy,
                 const StorageWidthTable& widthsToCopy, const NewCloudSettings& settingsToCopy)
        : consumer(consumerOfBuilder), mapping(WrittenMapping(mappingToCopy)),
          storageWidthByKey(widthsToCopy), settings(settingsToCopy)
    {
    }
};

namespace
{

bool MapsColor(const BuilderState& state)
{
    return state.mapping.nextIndexByComponent.count(orv::DataProxy::EPointDataComponent::Color) !=
           0;
}

// A complete staging: a new cloud (of the colour type when asked) and a zero slot for every
// mapped extra-data key, the wanted ones registered with the point record. Creating every
// slot here, declined keys included, means the per-point path only ever finds slots and so
// never allocates. Nothing is installed: if the consumer or an allocation throws, the
// half-built staging is discarded with the exception.
std::unique_ptr<PointStaging> CreateStaging(const BuilderState& state, bool colorCloud)
{
    auto staging =
        std::make_unique<PointStaging>(state.settings.prototype, state.settings.positionTolerance);
    if (colorCloud)
    {
        staging->cloud.Convert().SetType(kColorCloudType, 0.0f, 0.0f, nullptr, false);
    }
    staging->slots.resize(state.mapping.extraDataTypeByKey.size());
    staging->keys.reserve(state.mapping.extraDataTypeByKey.size());
    for (const auto& entry : state.mapping.extraDataTypeByKey)
    {
        // Named copies, not structured bindings: the lambda below captures the key, which
        // C++17 does not allow for a binding.
        const ComponentKey key = entry.first;
        const int extraDataType = entry.second;
        unsigned char* slot = staging->slots[staging->keys.size()].bytes;
        std::size_t slotSize = 0;
        const std::optional<std::uint64_t> written = StoredWidth(key, state.storageWidthByKey);
        orv::DataProxy::ExtraData::VisitComponentRow(
            key.component,
            [&](auto row)
            {
                using Row = decltype(row);
                slotSize = Row::kSlotSize;
                staging->keys.push_back(StagedKey{key, slot, written.value_or(0),
                                                  written.has_value(), slotSize, &Stage<Row>});
            });
        // Every mapped key is asked about, also those without a slot (Position, PointIndex
        // and unknown components carry no extra data).
        if (!state.consumer->IsComponentRequested(key.component, key.index) || slotSize == 0)
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
        if (elementSize == 0 || (written ? elementSize == *written : elementSize <= slotSize))
        {
            // The host's status is not needed: a type it refuses simply stays out of the cloud.
            (void)staging->pointData.AddExtraData(extraDataType, slot);
        }
    }
    return staging;
}

// Appends the staged point unless the host would store its position coarser than the
// tolerance (std::range_error, nothing appended). The first point, or the first after a merge,
// learns the frame; a position the host refuses (not finite) is left to it.
void AppendChecked(PointStaging& staging)
{
    const GPointDouble p = staging.stagedPosition;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
    {
        (void)staging.cloud.AddPoint(staging.pointData, true);
        return;
    }
    if (!staging.check.frameKnown)
    {
        if (staging.cloud.GetPointCount() == 0)
        {
            // The host may place the frame of an empty cloud with its first point: try the
            // point on a copy of the cloud, and check it against the frame the copy got.
            PointCloud trial(staging.cloud);
            (void)trial.AddPoint(staging.pointData, true);
            CheckStored(ReadFrame(trial, staging.check.tolerance), p);
            if (trial.GetPointCount() != 0)
            {
                (void)staging.cloud.AddPoint(staging.pointData, true);
                staging.check = ReadFrame(staging.cloud, staging.check.tolerance);
            }
            return;
        }
        staging.check = ReadFrame(staging.cloud, staging.check.tolerance);
    }
    CheckStored(staging.check, p);
    (void)staging.cloud.AddPoint(staging.pointData, true);
}

// The per-point path: one box test, then the host's append.
inline void Append(PointStaging& staging)
{
    if (staging.check.WithinReach(staging.stagedPosition))
    {
        (void)staging.cloud.AddPoint(staging.pointData, true);
        return;
    }
    AppendChecked(staging);
}

PointStaging& EnsureStaging(BuilderState& state)
{
    if (!state.staging)
    {
        state.staging = CreateStaging(state, MapsColor(state));
    }
    return *state.staging;
}

// One key's column of a block as the bytes the host reads from its slot: per point the value
// narrowed to the key's width where present, zeros where absent or where the block has no
// column for the key. Returns the first point whose value cannot be stored (a present value of
// a key without width), or n.
template <class Row>
std::size_t StageColumn(const orv::DataProxy::PointDataBlock& block, const StagedKey& staged,
                        unsigned char* out, std::size_t n)
{
    const auto column = block.template Column<Row::kComponent>(staged.key.index);
    if (!staged.hasWidth)
    {
        // Nothing but absences can be staged: the slot stays zero for the whole block.
        std::memset(staged.slot, 0, Row::kSlotSize);
        for (std::size_t i = 0; column && i < n; ++i)
        {
            if (column.present[i] != 0)
            {
                return i;
            }
        }
        return n;
    }
    const std::size_t width = staged.width;
    if (!column)
    {
        std::memset(out, 0, n * width);
        return n;
    }
    // One loop per width, so that each narrowing is a fixed store; without a branch per point
    // when every point has a value (the usual block).
    const bool allPresent = std::memchr(column.present, 0, n) == nullptr;
    const auto stage = [&](auto fixedWidth)
    {
        constexpr std::size_t kWidth = decltype(fixedWidth)::value;
        if (allPresent)
        {
            for (std::size_t i = 0; i < n; ++i)
            {
                Store(out + i * kWidth, column.values[i], kWidth);
            }
            return;
        }
        for (std::size_t i = 0; i < n; ++i)
        {
            unsigned char* image = out + i * kWidth;
            if (column.present[i] != 0)
            {
                Store(image, column.values[i], kWidth);
            }
            else
            {
                std::memset(image, 0, kWidth);
            }
        }
    };
    switch (width)
    {
    case 1:
        stage(std::integral_constant<std::size_t, 1>{});
        break;
    case 2:
        stage(std::integral_constant<std::size_t, 2>{});
        break;
    case 4:
        stage(std::integral_constant<std::size_t, 4>{});
        break;
    case 8:
        stage(std::integral_constant<std::size_t, 8>{});
        break;
    default:
        stage(std::integral_constant<std::size_t, 24>{});
        break;
    }
    return n;
}

// Copies one staged value into its slot: a fixed-size copy (a call to memcpy costs more than
// the copy) for each of the narrow widths a key can have, a whole 24-byte vector otherwise.
template <std::size_t... Narrow>
void CopyFixed(unsigned char* slot, const unsigned char* image, std::uint64_t width)
{
    if (!((width == Narrow && (std::memcpy(slot, image, Narrow), true)) || ...))
        std::memcpy(slot, image, 24);
}

} // namespace

PointCloudDataBuilder::PointCloudDataBuilder(const IPointDataConsumer& consumer,
                                             const ComponentMapping& mapping,
                                             const StorageWidthTable& storageWidthByKey)
    : PointCloudDataBuilder(consumer, mapping, storageWidthByKey, NewCloudSettings())
{
}

PointCloudDataBuilder::PointCloudDataBuilder(const IPointDataConsumer& consumer,
                                             const ComponentMapping& mapping,
                                             const StorageWidthTable& storageWidthByKey,
                                             const NewCloudSettings& settings)
    : state(std::make_unique<BuilderState>(&consumer, mapping, storageWidthByKey, settings))
{
    CheckStorageWidths(mapping, storageWidthByKey);
    CheckSettings(settings);
}

void PointCloudDataBuilder::CheckSettings(const NewCloudSettings& settings)
{
    if (const std::uint64_t points = settings.prototype.GetPointCount(); points != 0)
    {
        throw std::invalid_argument("the prototype of new clouds holds " + std::to_string(points) +
                                    " points; it must be empty (it gives its frame, colour "
                                    "mode and the like, never points)");
    }
    // Vectors (normals) are stored in the cloud's axes as given, while readers turn them by the
    // cloud's frame: a frame that turns or scales would hand them back changed.
    const orv::Data::Cloud::CloudCursorBase<1> frame(settings.prototype.Convert(), 0);
    const double* m = frame.GetMatrix().v;
    for (int i = 0; i < 9; ++i)
    {
        if (m[i] != (i % 4 == 0 ? 1.0 : 0.0))
        {
            throw std::invalid_argument("the prototype of new clouds has a frame that turns or "
                                        "scales; only a translation is taken (a builder stores "
                                        "vectors, such as normals, in its cloud's axes as given)");
        }
    }
    if (!(settings.positionTolerance >= 0.0))
    {
        throw std::invalid_argument("position tolerance " +
                                    std::to_string(settings.positionTolerance) +
                                    " refused: zero or more (+infinity turns the check off)");
    }
}

PointCloudDataBuilder::PointCloudDataBuilder(const PointCloudDataBuilder& other)
    : IPointDataBuilder(other),
      state(std::make_unique<BuilderState>(other.state->consumer, other.state->mapping,
                                           other.state->storageWidthByKey, other.state->settings))
{
    state->staging = std::move(other.state->staging);
}

PointCloudDataBuilder& PointCloudDataBuilder::operator=(const PointCloudDataBuilder& other)
{
    if (this != &other)
    {
        // Built before anything is discarded: a failed allocation leaves this builder as it was.
        auto fresh =
            std::make_unique<BuilderState>(other.state->consumer, other.state->mapping,
                                           other.state->storageWidthByKey, other.state->settings);
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
    for (const StagedKey& key : staging.keys)
    {
        key.stage(point, key);
    }
    Append(staging);
}

void PointCloudDataBuilder::AppendBlock(const orv::DataProxy::PointDataBlock& block)
{
    const std::size_t n = block.Size();
    if (n == 0)
    {
        return;
    }
    PointStaging& staging = EnsureStaging(*state);
    if (!block.HasPositions())
    {
        throw std::out_of_range("GetPosition: the block carries no positions");
    }
    // One pass per column into the values the host reads; then per point only copies and the
    // host's append.
    constexpr std::size_t kCapacity = orv::DataProxy::kPointDataBlockCapacity;
    std::size_t bytes = 0;
    for (const StagedKey& key : staging.keys)
    {
        bytes += key.hasWidth ? key.width * kCapacity : 0;
    }
    staging.blockValues.resize(bytes);
    std::size_t storable = n;
    unsigned char* out = staging.blockValues.data();
    for (const StagedKey& key : staging.keys)
    {
        orv::DataProxy::ExtraData::VisitComponentRow(
            key.key.component, [&](auto row)
            { storable = std::min(storable, StageColumn<decltype(row)>(block, key, out, n)); });
        out += key.hasWidth ? key.width * kCapacity : 0;
    }
    // Per point: the position, one fixed-size copy per key with a width (the 4-byte ones, the
    // most common, first and without a test of the width), the host's append. The box test of
    // the positions is done for the whole block at once when the frame is known.
    std::vector<BlockCopy>& copies = staging.blockCopies;
    copies.clear();
    const unsigned char* values = staging.blockValues.data();
    for (const StagedKey& key : staging.keys)
    {
        if (key.hasWidth)
        {
            copies.push_back({key.slot, values, key.width});
            values += key.width * kCapacity;
        }
    }
    const auto wordsEnd = std::stable_partition(copies.begin(), copies.end(),
                                                [](const BlockCopy& c) { return c.width == 4; });
    const auto words = static_cast<std::size_t>(wordsEnd - copies.begin());
    const double* x = block.X();
    const double* y = block.Y();
    const double* z = block.Z();
    const PositionCheck& check = staging.check;
    const double reach = check.reach;
    const GPointDouble origin = check.origin;
    int within = check.frameKnown ? 1 : 0;
    for (std::size_t i = 0; i < storable; ++i) // no exit in the loop: it vectorises
    {
        within &= static_cast<int>(std::fabs(x[i] - origin.x) <= reach) &
                  static_cast<int>(std::fabs(y[i] - origin.y) <= reach) &
                  static_cast<int>(std::fabs(z[i] - origin.z) <= reach);
    }
    const bool withinReach = within != 0;
    for (std::size_t i = 0; i < storable; ++i)
    {
        staging.stagedPosition = GPointDouble{x[i], y[i], z[i]};
        const BlockCopy* word = copies.data();
        switch (words) // the usual few 4-byte values without a loop
        {
        case 3:
            std::memcpy(word[2].slot, word[2].values + i * 4, 4);
            [[fallthrough]];
        case 2:
            std::memcpy(word[1].slot, word[1].values + i * 4, 4);
            [[fallthrough]];
        case 1:
            std::memcpy(word[0].slot, word[0].values + i * 4, 4);
            [[fallthrough]];
        case 0:
            break;
        default:
            for (std::size_t w = 0; w < words; ++w)
            {
                std::memcpy(word[w].slot, word[w].values + i * 4, 4);
            }
        }
        for (auto copy = wordsEnd; copy != copies.end(); ++copy)
        {
            CopyFixed<1, 2, 8>(copy->slot, copy->values + i * copy->width, copy->width);
        }
        if (withinReach)
        {
            (void)staging.cloud.AddPoint(staging.pointData, true);
        }
        else
        {
            Append(staging);
        }
    }
    if (storable < n)
    {
        ThrowNoWidth();
    }
}

std::shared_ptr<orv::DataProxy::IPointDataProvider> PointCloudDataBuilder::GetResult()
{
    // The provider takes its own host copy of the cloud as it stands now (before the first
    // point: the prototype, not made a colour cloud). One allocation with its count.
    if (state->staging)
    {
        return std::make_shared<PointCloudDataProvider>(state->staging->cloud, state->mapping);
    }
    return std::make_shared<PointCloudDataProvider>(state->settings.prototype, state->mapping);
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
        // Filled before it is installed: a merge that fails (the host's append rolls itself
        // back) leaves a builder without points as it was, with no staging of the wrong type.
        const PointCloud& source = other.state->staging->cloud;
        const bool colorCloud = MapsColor(*state) || source.Convert().GetType() == kColorCloudType;
        std::unique_ptr<PointStaging> staging = CreateStaging(*state, colorCloud);
        (void)staging->cloud.AddCloud(source, nullptr);
        state->staging = std::move(staging);
        return;
    }
    (void)state->staging->cloud.AddCloud(other.state->staging->cloud, nullptr);
}

} // namespace orv::Data::Cloud

// The conversion policies' value conversions and element operations on arbitrary bytes.
//
// Per input one of the twelve policies is exercised in one cloud context (frame, colour mode
// and value range drawn from the input). Value conversions are checked against the rules
// written out independently here: unsigned integers widen without sign and narrow to their
// low-order bytes, floats widen exactly and narrow to nearest (overflowing to infinity),
// normals decode to unit vectors in the cursor's frame and round-trip within the host's error
// bound, intensities follow the colour mode. SetValue writes exactly the element's bytes.
// Element operations run on a host table with few elements per buffer and are compared with a
// model of the table after every step. The policy the library registered for the pair must
// answer as the policy object itself does.

#include "extradata/ExtraDataPolicy.h"
#include "extradata/NormalIntensityPolicies.h"
#include "fuzz/FuzzSupport.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "tests/support/HostChoices.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <optional>
#include <type_traits>
#include <vector>

namespace orv::Fuzz
{
namespace
{

using namespace orv::Data::Cloud;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::CloudExtraDataPolicy;
using orv::Data::Primitive::ColorValue;
using orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy;
using orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x3;
using orv::Math::Algebra::Matrix3x4;

constexpr int kMaxOperations = 96;
constexpr std::uint8_t kGuard = 0x5A;
// Angle between a unit vector and its compressed form, as the host documents it for its codec,
// with room for the rounding of the frame's rotation.
double NormalErrorBound()
{
    return orv::TestSupport::HostChoice::NormalCodecBound() + 1e-9;
}
// Intensity sentinel of colour modes other than 1 and 3.
constexpr double kUnsupportedModeValue = 1.9999999360571385e38;

// Orthonormal frames (a reflection among them): rotating there and back stays within rounding.
Matrix3x4 Frame(std::size_t which, double tx, double ty, double tz)
{
    const double c = std::cos(0.5236);
    const double s = std::sin(0.5236);
    const double a = std::cos(1.1);
    const double b = std::sin(1.1);
    const Matrix3x4 frames[] = {
        {{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
        {{c, -s, 0, s, c, 0, 0, 0, 1, 0, 0, 0}},
        {{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}},
        {{1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, 0}},
        {{c * a, -s, c * b, s * a, c, s * b, -b, 0, a, 0, 0, 0}},
    };
    Matrix3x4 m = frames[which % 5];
    m.v[9] = tx;
    m.v[10] = ty;
    m.v[11] = tz;
    return m;
}

struct Context
{
    PointCloud cloud;
    std::optional<CloudCursorInfo> info;
    Matrix3x3 rotation{};
    int mode = 1;
    float lo = 0.0f;
    float hi = 1.0f;

    explicit Context(FuzzInput& in)
    {
        const double translation[] = {0.0, 652000.0, -5180000.0, 1e300};
        const Matrix3x4 frame =
            Frame(in.Below(5), in.Pick(translation), in.Pick(translation), in.Pick(translation));
        cloud.Convert().SetMatrix(frame);
        const int modes[] = {1, 3, 3, 2, 0, -7};
        mode = in.Pick(modes);
        if (in.Bool())
        {
            lo = in.RawFloat();
            hi = in.RawFloat();
        }
        else
        {
            const float ranges[][2] = {
                {0.0f, 1.0f}, {-10.0f, 250.0f}, {0.0f, 65535.0f}, {5.0f, 5.0f}, {-3e38f, 3e38f}};
            const auto& range = in.Pick(ranges);
            lo = range[0];
            hi = range[1];
        }
        cloud.Convert().SetType(mode, lo, hi, nullptr, false);
        info.emplace(cloud.Convert());
        const Matrix3x4 rotate = Frame(in.Below(5), 0, 0, 0);
        std::copy(rotate.v, rotate.v + 9, rotation.v);
    }
};

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

double Length(const GVector3& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

double Angle(const GVector3& a, const GVector3& b)
{
    // atan2 of |a x b| and a . b: accurate for the tiny angles checked here.
    const GVector3 c{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    return std::atan2(Length(c), a.x * b.x + a.y * b.y + a.z * b.z);
}

GVector3 Rotate(const Matrix3x3& m, const GVector3& v)
{
    return {m.v[0] * v.x + m.v[1] * v.y + m.v[2] * v.z, m.v[3] * v.x + m.v[4] * v.y + m.v[5] * v.z,
            m.v[6] * v.x + m.v[7] * v.y + m.v[8] * v.z};
}

Matrix3x3 Transposed(const Matrix3x3& m)
{
    return {{m.v[0], m.v[3], m.v[6], m.v[1], m.v[4], m.v[7], m.v[2], m.v[5], m.v[8]}};
}

// A double narrowed to float must be the nearest float (ties aside), infinity past the
// largest float's rounding boundary, NaN for NaN, and keep its sign.
void CheckNarrowed(double d, float f)
{
    if (std::isnan(d))
    {
        ORV_FUZZ_CHECK(std::isnan(f));
        return;
    }
    ORV_FUZZ_CHECK(std::signbit(f) == std::signbit(d)) << d;
    const double boundary = 0x1.ffffffp127; // FLT_MAX plus half its unit in the last place
    if (std::fabs(d) >= boundary)
    {
        ORV_FUZZ_CHECK(std::isinf(f)) << d;
        return;
    }
    ORV_FUZZ_CHECK(std::isfinite(f)) << d;
    const double error = std::fabs(d - static_cast<double>(f));
    ORV_FUZZ_CHECK(error <= std::fabs(d - static_cast<double>(std::nextafter(f, HUGE_VALF))) &&
                   error <= std::fabs(d - static_cast<double>(std::nextafter(f, -HUGE_VALF))))
        << d << " narrowed to " << f;
}

// A float widened to double: the same number (NaN stays NaN).
void CheckWidened(float f, double d)
{
    if (std::isnan(f))
        ORV_FUZZ_CHECK(std::isnan(d));
    else
        ORV_FUZZ_CHECK(d == static_cast<double>(f) && std::signbit(d) == std::signbit(f)) << f;
}

template <class T>
T DrawValue(FuzzInput& in)
{
    if constexpr (std::is_same_v<T, std::uint64_t>)
    {
        return in.U64();
    }
    else if constexpr (std::is_same_v<T, double>)
    {
        if (in.Bool())
            return in.RawDouble();
        const double nice[] = {
            0.0,    -0.0,  0.1,   1.0,    -2.5,     65535.0, 3.0e38, 0x1.ffffffp127, 0x1.fffffep127,
            1e39,   -1e39, 1e-46, -1e-46, HUGE_VAL, NAN,     250.0,  -10.0,          5.0,
            1.5e-45};
        return in.Pick(nice);
    }
    else
    {
        if (in.Bool())
            return GVector3{in.RawDouble(), in.RawDouble(), in.RawDouble()};
        const GVector3 nice[] = {{0, 0, 1},   {0, 0, -1},   {1, 0, 0},        {0.6, 0.8, 0},
                                 {0, 0, 0},   {-0.0, 0, 0}, {1e-310, 0, 0},   {1e300, 1e300, 0},
                                 {3, -4, 12}, {NAN, 0, 1},  {HUGE_VAL, 0, 0}, {1e-200, 2e-200, 0}};
        return in.Pick(nice);
    }
}

// ---- value rules per policy ---------------------------------------------------------------

template <class Policy>
struct ValueRules;

// Unsigned scalars: widen without sign, narrow to the low-order bytes.
template <class X>
struct ValueRules<CloudExtraDataPolicy<X, std::uint64_t>>
{
    using Stored = typename X::StoredType;

    static void Get(const std::uint8_t* element, std::uint64_t value, const Context&)
    {
        std::uint64_t expected = 0;
        for (std::size_t b = 0; b < sizeof(Stored); ++b)
            expected |= std::uint64_t{element[b]} << (8 * b);
        ORV_FUZZ_CHECK(value == expected) << value << " vs " << expected;
    }
    static void Set(std::uint64_t value, const std::uint8_t* element, const Context&)
    {
        for (std::size_t b = 0; b < sizeof(Stored); ++b)
            ORV_FUZZ_CHECK(element[b] == static_cast<std::uint8_t>(value >> (8 * b))) << value;
    }
};

// Float scalars: widen exactly, narrow to nearest.
template <class X>
struct ValueRules<CloudExtraDataPolicy<X, double>>
{
    static void Get(const std::uint8_t* element, double value, const Context&)
    {
        float f;
        std::memcpy(&f, element, sizeof f);
        CheckWidened(f, value);
    }
    static void Set(double value, const std::uint8_t* element, const Context&)
    {
        float f;
        std::memcpy(&f, element, sizeof f);
        CheckNarrowed(value, f);
    }
};

template <>
struct ValueRules<CloudNormalExtraDataConversionPolicy>
{
    static void Get(const std::uint8_t* element, const GVector3& value, const Context&)
    {
        std::uint32_t raw;
        std::memcpy(&raw, element, sizeof raw);
        if (raw == 0)
        {
            ORV_FUZZ_CHECK(value.x == 0.0 && value.y == 0.0 && value.z == 0.0);
            return;
        }
        ORV_FUZZ_CHECK(std::fabs(Length(value) - 1.0) < 1e-9)
            << raw << " decodes to length " << Length(value);
    }
    static void Set(const GVector3& value, const std::uint8_t* element, const Context& context)
    {
        std::uint32_t raw;
        std::memcpy(&raw, element, sizeof raw);
        const bool finite =
            std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z);
        const double largest =
            std::max({std::fabs(value.x), std::fabs(value.y), std::fabs(value.z)});
        if (!finite || largest == 0.0)
        {
            ORV_FUZZ_CHECK(raw == 0) << "no direction stored as " << raw;
            return;
        }
        if (largest < 1e-150 || largest > 1e150)
            return; // the frame's rotation may underflow or overflow: any outcome is fair
        ORV_FUZZ_CHECK(raw != 0);
        const GVector3 unit{value.x / largest, value.y / largest, value.z / largest};
        const GVector3 back =
            CloudNormalExtraDataConversionPolicy().GetValue(element, *context.info);
        ORV_FUZZ_CHECK(Angle(unit, back) <= NormalErrorBound()) << Angle(unit, back) << " rad";
    }
};

template <>
struct ValueRules<CloudIntensityExtraDataConversionPolicy>
{
    static bool Usable(const Context& c)
    {
        return std::isfinite(c.lo) && std::isfinite(c.hi) && c.hi > c.lo;
    }

    static void Get(const std::uint8_t* element, double value, const Context& c)
    {
        float f;
        std::memcpy(&f, element, sizeof f);
        if (c.mode == 1)
        {
            CheckWidened(f, value);
        }
        else if (c.mode == 3 && Usable(c))
        {
            ORV_FUZZ_CHECK(value >= c.lo && value <= c.hi) << value;
        }
        else if (c.mode == 3)
        {
            ORV_FUZZ_CHECK(SameBits(value, static_cast<double>(c.lo)) ||
                           (std::isnan(value) && std::isnan(c.lo)))
                << "an unusable range reads back its minimum";
        }
        else
        {
            ORV_FUZZ_CHECK(value == kUnsupportedModeValue) << value;
        }
    }

    static void Set(double value, const std::uint8_t* element, const Context& c)
    {
        float f;
        std::memcpy(&f, element, sizeof f);
        if (c.mode == 1)
        {
            CheckNarrowed(value, f);
            return;
        }
        if (c.mode != 3 || !Usable(c))
            return; // other modes: checked by the caller (element unchanged)
        const double back = CloudIntensityExtraDataConversionPolicy().GetValue(element, *c.info);
        const float narrowed = static_cast<float>(value);
        const double clamped = std::isnan(narrowed) ? c.lo
                               : narrowed < c.lo    ? c.lo
                               : narrowed > c.hi    ? c.hi
                                                    : static_cast<double>(narrowed);
        // Half a step of the 16-bit code, with room for the float arithmetic of a range
        // whose ends are far from zero.
        const double step = (static_cast<double>(c.hi) - static_cast<double>(c.lo)) /
                            orv::TestSupport::HostChoice::CompressedValueSteps();
        const double slack = 4.0 * std::max(std::fabs(c.lo), std::fabs(c.hi)) * FLT_EPSILON;
        ORV_FUZZ_CHECK(std::fabs(back - clamped) <= 0.5 * step + slack)
            << value << " read back as " << back << " in [" << c.lo << ", " << c.hi << "]";
        if (clamped == c.lo || clamped == c.hi)
            ORV_FUZZ_CHECK(back == clamped) << "the ends of the range read back exactly";
    }
};

// ---- the element table model ------------------------------------------------------------

template <class Policy>
struct TableRun
{
    using Stored = typename Policy::ExtraData::StoredType;
    using Element = std::array<std::uint8_t, sizeof(Stored)>;
    static constexpr bool kZeroesDefaults = Policy::Traits::kZeroesDefaults;

    FuzzInput& in;
    const Policy policy{};
    TableCluster table;
    std::uint8_t fresh;
    std::vector<Element> model;

    explicit TableRun(FuzzInput& input)
        : in(input), table(sizeof(Stored), 1 + static_cast<std::uint32_t>(input.Below(6))),
          fresh(input.U8())
    {
        table.SetFreshFill(fresh);
    }

    Element Draw()
    {
        Element e;
        in.Bytes(e.data(), e.size());
        return e;
    }

    void CheckTable()
    {
        ORV_FUZZ_CHECK(table.count == model.size()) << table.count << " vs " << model.size();
        for (std::uint32_t i = 0; i < table.count; ++i)
        {
            const void* element = policy.GetElement(table, i);
            ORV_FUZZ_CHECK(element == table.GetElm(i));
            ORV_FUZZ_CHECK(std::memcmp(element, model[i].data(), sizeof(Stored)) == 0)
                << "element " << i << " of " << table.count;
        }
    }

    bool ExpectEqual(const Element& a, const Element& b) const
    {
        if constexpr (std::is_floating_point_v<Stored>)
        {
            Stored x;
            Stored y;
            std::memcpy(&x, a.data(), sizeof x);
            std::memcpy(&y, b.data(), sizeof y);
            return x == y;
        }
        else
        {
            return a == b;
        }
    }

    void Step(const Context& context)
    {
        const std::uint32_t count = table.count;
        const std::uint32_t i = count == 0 ? 0 : static_cast<std::uint32_t>(in.Below(count));
        switch (in.Below(10))
        {
        case 0:
        case 1:
        {
            const Element e = Draw();
            ORV_FUZZ_CHECK(policy.AddElement(table, e.data()) == table.GetElm(count));
            model.push_back(e);
            break;
        }
        case 2:
        {
            ORV_FUZZ_CHECK(policy.AddDefaultElement(table) == table.GetElm(count));
            Element e;
            e.fill(kZeroesDefaults ? 0 : fresh);
            model.push_back(e);
            break;
        }
        case 3:
        case 4:
            if (count != 0)
            {
                const Element e = Draw();
                const bool init = in.Bool();
                void* at = init ? policy.InitElement(table, i, e.data())
                                : policy.SetElement(table, i, e.data());
                ORV_FUZZ_CHECK(at == table.GetElm(i));
                model[i] = e;
            }
            break;
        case 5:
            if (count != 0)
            {
                ORV_FUZZ_CHECK(policy.ResetElement(table, i) == table.GetElm(i));
                model[i].fill(0);
            }
            break;
        case 6:
            policy.ResetAllElements(table);
            for (Element& e : model)
                e.fill(0);
            break;
        case 7:
            policy.VisitAllElements(table);
            break;
        case 8:
            if (count != 0)
            {
                const std::uint32_t j = static_cast<std::uint32_t>(in.Below(count));
                ORV_FUZZ_CHECK(policy.AreEqual(table.GetElm(i), table.GetElm(j)) ==
                               ExpectEqual(model[i], model[j]))
                    << i << ", " << j;
            }
            break;
        default:
            if (count != 0)
                Transform(context, i);
            break;
        }
        CheckTable();
    }

    void Transform(const Context& context, std::uint32_t i)
    {
        void* element = table.GetElm(i);
        const Element before = model[i];
        policy.TransformElement(element, context.rotation);
        Element after;
        std::memcpy(after.data(), element, after.size());
        if constexpr (!Policy::Traits::kRotates)
        {
            ORV_FUZZ_CHECK(after == before) << "a scalar does not rotate";
        }
        else
        {
            CompressedVector32Bits was;
            CompressedVector32Bits now;
            std::memcpy(&was, before.data(), sizeof was);
            std::memcpy(&now, after.data(), sizeof now);
            GVector3 a{};
            GVector3 b{};
            if (was.VectorGet(a) == 0)
            {
                ORV_FUZZ_CHECK(now.GetRaw() == 0) << "no direction stays none";
            }
            else
            {
                ORV_FUZZ_CHECK(now.VectorGet(b) != 0);
                // Decoded, rotated and encoded again: one more rounding to the code grid.
                const double angle = Angle(Rotate(context.rotation, a), b);
                ORV_FUZZ_CHECK(angle <= NormalErrorBound()) << angle << " rad";
            }
            // Back again with the transpose: close to where it started.
            policy.TransformElement(element, Transposed(context.rotation));
            CompressedVector32Bits round;
            std::memcpy(&round, element, sizeof round);
            GVector3 c{};
            if (was.GetRaw() != 0)
            {
                ORV_FUZZ_CHECK(round.VectorGet(c) != 0);
                ORV_FUZZ_CHECK(Angle(a, c) <= 2 * NormalErrorBound()) << Angle(a, c) << " rad";
            }
            std::memcpy(after.data(), element, after.size());
        }
        model[i] = after;
    }
};

template <class Policy>
void Exercise(FuzzInput& in)
{
    using Value = typename Policy::Value;
    using Stored = typename Policy::ExtraData::StoredType;
    using Rules = ValueRules<Policy>;
    const Context context(in);
    const Policy policy;

    // The library registered this very behaviour with the host at load.
    const auto* registered =
        dynamic_cast<const orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<Value>*>(
            orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
                Policy::ExtraData::TypeId(), typeid(Value)));
    ORV_FUZZ_CHECK(registered != nullptr);
    ORV_FUZZ_CHECK(policy.GetElementSize() == sizeof(Stored));

    TableRun<Policy> table(in);
    for (int op = 0; op < kMaxOperations && !in.Empty(); ++op)
    {
        switch (in.Below(3))
        {
        case 0:
        {
            std::uint8_t element[sizeof(Stored)];
            in.Bytes(element, sizeof element);
            const Value value = policy.GetValue(element, *context.info);
            Rules::Get(element, value, context);
            const Value again = registered->GetValue(element, *context.info);
            ORV_FUZZ_CHECK(std::memcmp(&value, &again, sizeof value) == 0);
            // Writing back what was read gives a value that reads the same.
            std::uint8_t rewritten[sizeof(Stored)];
            std::memcpy(rewritten, element, sizeof element);
            policy.SetValue(rewritten, value, *context.info);
            Rules::Get(rewritten, policy.GetValue(rewritten, *context.info), context);
            break;
        }
        case 1:
        {
            const Value value = DrawValue<Value>(in);
            std::uint8_t element[sizeof(Stored) + 8];
            std::memset(element, kGuard, sizeof element);
            in.Bytes(element, sizeof(Stored));
            std::uint8_t before[sizeof element];
            std::memcpy(before, element, sizeof element);
            policy.SetValue(element, value, *context.info);
            for (std::size_t b = sizeof(Stored); b < sizeof element; ++b)
                ORV_FUZZ_CHECK(element[b] == kGuard) << "SetValue wrote past its element";
            const bool writes = !std::is_same_v<Policy, CloudIntensityExtraDataConversionPolicy> ||
                                context.mode == 1 || context.mode == 3;
            if (!writes)
                ORV_FUZZ_CHECK(std::memcmp(element, before, sizeof element) == 0)
                    << "mode " << context.mode << " leaves the element as it was";
            else
                Rules::Set(value, element, context);
            std::uint8_t viaRegistry[sizeof element];
            std::memcpy(viaRegistry, before, sizeof before);
            registered->SetValue(viaRegistry, value, *context.info);
            ORV_FUZZ_CHECK(std::memcmp(viaRegistry, element, sizeof element) == 0);
            break;
        }
        default:
            table.Step(context);
            break;
        }
    }
}

} // namespace

void RunPolicyBytes(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    switch (in.Below(12))
    {
    case 0:
        return Exercise<CloudExtraDataPolicy<CloudClassificationExtraData, std::uint64_t>>(in);
    case 1:
        return Exercise<CloudExtraDataPolicy<CloudGridPositionIndexExtraData, std::uint64_t>>(in);
    case 2:
        return Exercise<CloudExtraDataPolicy<CloudSegmentationExtraData, std::uint64_t>>(in);
    case 3:
        return Exercise<CloudExtraDataPolicy<CloudSplitColorExtraData, std::uint64_t>>(in);
    case 4:
        return Exercise<CloudExtraDataPolicy<CloudClassificationInstanceExtraData, std::uint64_t>>(
            in);
    case 5:
        return Exercise<CloudExtraDataPolicy<CloudScanIDExtraData, std::uint64_t>>(in);
    case 6:
        return Exercise<CloudExtraDataPolicy<CloudImprovementStatsExtraData, double>>(in);
    case 7:
        return Exercise<CloudExtraDataPolicy<CloudIntensityNewExtraData, double>>(in);
    case 8:
        return Exercise<CloudExtraDataPolicy<CloudIntensityTempExtraData, double>>(in);
    case 9:
        return Exercise<CloudExtraDataPolicy<CloudMaxProbabilityExtraData, double>>(in);
    case 10:
        return Exercise<CloudNormalExtraDataConversionPolicy>(in);
    default:
        return Exercise<CloudIntensityExtraDataConversionPolicy>(in);
    }
}

} // namespace orv::Fuzz

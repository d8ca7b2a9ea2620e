// The twelve registered conversion policies on arbitrary bytes and values.
//
// Per input one policy, as the host finds it in its registry, in one cloud context (frame,
// colour mode and value range drawn from the input). Values are checked against the rules
// written out here: unsigned integers widen without sign and narrow to their low-order bytes,
// floats widen exactly and narrow to nearest (overflowing to infinity), normals decode to unit
// vectors and round-trip within the host's codec bound, intensities follow the colour mode
// (other modes read a sentinel and write nothing). SetValue writes exactly its element, and
// writing back what was read reads the same. Element operations run on a host table with few
// elements per buffer and are compared with a model of the table after every step (rotating a
// stored normal is the policy tests' and the cloud tests').

#include "fuzz/FuzzSupport.h"
#include "host/geometry/CloudCursor.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <type_traits>
#include <vector>

namespace orv::Fuzz
{
namespace
{

using namespace orv::TestSupport;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy;
using Bytes = std::vector<std::uint8_t>;

constexpr int kMaxOperations = 96;
constexpr std::uint8_t kGuard = 0x5A;
constexpr double kSentinel = 1.9999999360571385e38; // intensity in colour modes other than 1, 3

enum class Kind
{
    Unsigned,
    Float,
    Normal,
    Intensity
};

struct Entry
{
    int (*typeId)();
    Kind kind;
    std::size_t size; // of a stored element
};

const Entry kEntries[] = {{&CloudClassificationExtraData::TypeId, Kind::Unsigned, 1},
                          {&CloudGridPositionIndexExtraData::TypeId, Kind::Unsigned, 4},
                          {&CloudSegmentationExtraData::TypeId, Kind::Unsigned, 4},
                          {&CloudSplitColorExtraData::TypeId, Kind::Unsigned, 2},
                          {&CloudClassificationInstanceExtraData::TypeId, Kind::Unsigned, 2},
                          {&CloudScanIDExtraData::TypeId, Kind::Unsigned, 4},
                          {&CloudImprovementStatsExtraData::TypeId, Kind::Float, 4},
                          {&CloudIntensityNewExtraData::TypeId, Kind::Float, 4},
                          {&CloudIntensityTempExtraData::TypeId, Kind::Float, 4},
                          {&CloudMaxProbabilityExtraData::TypeId, Kind::Float, 4},
                          {&CloudNormalExtraData::TypeId, Kind::Normal, 4},
                          {&CloudIntensityExtraData::TypeId, Kind::Intensity, 4}};

struct Context
{
    PointCloud cloud;
    std::optional<CloudCursorInfo> info;
    // Angle between a unit vector and its packed form, with room for the rounding of a rotation.
    const double bound = HostChoice::NormalCodecBound() + 1e-9;
    int mode = 1;
    float lo = 0.0f, hi = 1.0f;

    explicit Context(FuzzInput& in)
    {
        // Orthonormal frames, a reflection among them, at a drawn translation.
        const Matrix3x4 aboutX{
            {1, 0, 0, 0, std::cos(1.1), -std::sin(1.1), 0, std::sin(1.1), std::cos(1.1), 0, 0, 0}};
        const Matrix3x4 frames[] = {
            RotationZ(0, 0, 0, 0),
            RotationZ(0.5236, 0, 0, 0),
            {{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}},
            aboutX,
            orv::Math::Algebra::Multiply(RotationZ(0.5236, 0, 0, 0), aboutX)};
        Matrix3x4 frame = in.Pick(frames);
        const double translation[] = {0.0, 652000.0, -5180000.0, 1e300};
        for (int i = 9; i < 12; ++i)
            frame.v[i] = in.Pick(translation);
        cloud.Convert().SetMatrix(frame);
        const int modes[] = {1, 3, 3, 2, 0, -7};
        mode = in.Pick(modes);
        const float ranges[][2] = {
            {0.0f, 1.0f}, {-10.0f, 250.0f}, {0.0f, 65535.0f}, {5.0f, 5.0f}, {-3e38f, 3e38f}};
        const auto& range = in.Pick(ranges);
        lo = in.Bool() ? in.RawFloat() : range[0];
        hi = in.Bool() ? in.RawFloat() : range[1];
        cloud.Convert().SetType(mode, lo, hi, nullptr, false);
        info.emplace(cloud.Convert());
    }
    bool UsableRange() const { return std::isfinite(lo) && std::isfinite(hi) && hi > lo; }
};

// A double narrowed to float: the nearest float (ties aside), infinity past the largest
// float's rounding boundary, NaN for NaN, the sign kept.
void CheckNarrowed(double d, float f)
{
    const double error = std::fabs(d - double(f));
    const bool nearest = std::fabs(d) >= 0x1.ffffffp127 // FLT_MAX plus half its last unit
                             ? std::isinf(f)
                             : std::isfinite(f) &&
                                   error <= std::fabs(d - double(std::nextafter(f, HUGE_VALF))) &&
                                   error <= std::fabs(d - double(std::nextafter(f, -HUGE_VALF)));
    ORV_FUZZ_CHECK(std::isnan(d) ? std::isnan(f) : nearest && std::signbit(f) == std::signbit(d))
        << d << " narrowed to " << f;
}

template <class T>
T DrawValue(FuzzInput& in)
{
    if constexpr (std::is_same_v<T, std::uint64_t>)
        return in.U64();
    else if constexpr (std::is_same_v<T, double>)
    {
        const double nice[] = {0.0,  -0.0,           0.1,   65535.0, 3.0e38,  0x1.ffffffp127,
                               1e39, 0x1.fffffep127, -1e39, 1e-46,   1.5e-45, HUGE_VAL,
                               NAN,  250.0,          -10.0, 5.0};
        return in.Bool() ? in.RawDouble() : in.Pick(nice);
    }
    else
    {
        const GVector3 nice[] = {{0, 0, 1},    {0, 0, -1},      {0.6, 0.8, 0},     {0, 0, 0},
                                 {-0.0, 0, 0}, {1e-310, 0, 0},  {1e300, 1e300, 0}, {3, -4, 12},
                                 {NAN, 0, 1},  {HUGE_VAL, 0, 0}};
        return in.Bool() ? GVector3{in.RawDouble(), in.RawDouble(), in.RawDouble()} : in.Pick(nice);
    }
}

// What GetValue must give for the stored bytes `e`.
template <class T>
void CheckGet(Kind kind, const std::uint8_t* e, std::size_t size, const T& value, const Context& c)
{
    if constexpr (std::is_same_v<T, std::uint64_t>)
    {
        std::uint64_t expected = 0;
        for (std::size_t b = 0; b < size; ++b)
            expected |= std::uint64_t{e[b]} << (8 * b);
        ORV_FUZZ_CHECK(value == expected) << value << " vs " << expected;
    }
    else if constexpr (std::is_same_v<T, double>)
    {
        // Floats widen exactly; an unusable range reads back its minimum; modes other than 1
        // and 3 read a sentinel.
        if (kind == Kind::Float || c.mode == 1)
            ORV_FUZZ_CHECK(SameReal(value, Read<float>(e))) << value;
        else if (c.mode != 3)
            ORV_FUZZ_CHECK(value == kSentinel) << value;
        else if (c.UsableRange())
            ORV_FUZZ_CHECK(value >= c.lo && value <= c.hi) << value;
        else
            ORV_FUZZ_CHECK(SameReal(value, c.lo)) << value;
    }
    else
    {
        const double length = std::sqrt(value.x * value.x + value.y * value.y + value.z * value.z);
        ORV_FUZZ_CHECK(Read<std::uint32_t>(e) == 0 ? length == 0.0 : std::fabs(length - 1) < 1e-9)
            << Read<std::uint32_t>(e) << " decodes to length " << length;
    }
}

// What SetValue must have written for `value` (the element already known to be its only write).
template <class T>
void CheckSet(const ICloudExtraDataConversionPolicy<T>& policy, Kind kind, const T& value,
              const std::uint8_t* e, std::size_t size, const Context& c)
{
    if constexpr (std::is_same_v<T, std::uint64_t>)
    {
        for (std::size_t b = 0; b < size; ++b)
            ORV_FUZZ_CHECK(e[b] == std::uint8_t(value >> (8 * b))) << value;
    }
    else if constexpr (std::is_same_v<T, double>)
    {
        if (kind == Kind::Float || c.mode == 1)
            return CheckNarrowed(value, Read<float>(e));
        if (c.mode != 3 || !c.UsableRange())
            return;
        const double back = policy.GetValue(e, *c.info);
        const float narrowed = float(value);
        const double clamped = std::isnan(narrowed) || narrowed < c.lo ? c.lo
                               : narrowed > c.hi                       ? c.hi
                                                                       : double(narrowed);
        // Half a step of the compressed code, with room for ranges far from zero.
        const double step = (double(c.hi) - c.lo) / HostChoice::CompressedValueSteps();
        const double slack = 4.0 * std::max(std::fabs(c.lo), std::fabs(c.hi)) * FLT_EPSILON;
        ORV_FUZZ_CHECK(std::fabs(back - clamped) <= 0.5 * step + slack) << value << " as " << back;
        if (clamped == c.lo || clamped == c.hi)
            ORV_FUZZ_CHECK(back == clamped) << "the ends of the range read back exactly";
    }
    else
    {
        const bool finite =
            std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z);
        const double largest =
            std::max({std::fabs(value.x), std::fabs(value.y), std::fabs(value.z)});
        const std::uint32_t raw = Read<std::uint32_t>(e);
        if (!finite || largest == 0.0)
        {
            ORV_FUZZ_CHECK(raw == 0) << "no direction stored as " << raw;
        }
        else if (largest >= 1e-150 && largest <= 1e150) // else the rotation may under/overflow
        {
            const GVector3 unit{value.x / largest, value.y / largest, value.z / largest};
            ORV_FUZZ_CHECK(raw != 0 && Angle(unit, policy.GetValue(e, *c.info)) <= c.bound);
        }
    }
}

template <class T>
void Exercise(FuzzInput& in, const Entry& entry)
{
    const Context c(in);
    const auto* policy = dynamic_cast<const ICloudExtraDataConversionPolicy<T>*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(entry.typeId(),
                                                                         typeid(T)));
    ORV_FUZZ_CHECK(policy != nullptr && policy->GetElementSize() == entry.size);
    const std::size_t size = entry.size;
    TableCluster table(std::uint32_t(size), 1 + std::uint32_t(in.Below(6)));
    const std::uint8_t fresh = in.U8();
    table.SetFreshFill(fresh);
    std::vector<Bytes> model; // the table's elements
    const auto draw = [&in, size]
    {
        Bytes e(size);
        std::generate(e.begin(), e.end(), [&in] { return in.U8(); });
        return e;
    };
    for (int op = 0; op < kMaxOperations && !in.Empty(); ++op)
    {
        const std::uint32_t count = table.count;
        const std::uint32_t i = count == 0 ? 0 : std::uint32_t(in.Below(count));
        switch (in.Below(9))
        {
        case 0: // GetValue, then writing back what was read reads the same
        {
            Bytes e = draw();
            const T value = policy->GetValue(e.data(), *c.info);
            CheckGet(entry.kind, e.data(), size, value, c);
            policy->SetValue(e.data(), value, *c.info);
            CheckGet(entry.kind, e.data(), size, policy->GetValue(e.data(), *c.info), c);
            break;
        }
        case 1: // SetValue writes its element and nothing beyond
        {
            const T value = DrawValue<T>(in);
            Bytes e = draw(), before;
            e.resize(size + 8, kGuard);
            before = e;
            policy->SetValue(e.data(), value, *c.info);
            ORV_FUZZ_CHECK(std::all_of(e.begin() + std::ptrdiff_t(size), e.end(),
                                       [](std::uint8_t b) { return b == kGuard; }))
                << "SetValue wrote past its element";
            if (entry.kind != Kind::Intensity || c.mode == 1 || c.mode == 3)
                CheckSet(*policy, entry.kind, value, e.data(), size, c);
            else
                ORV_FUZZ_CHECK(e == before) << "mode " << c.mode << " writes nothing";
            break;
        }
        case 2:
            model.push_back(draw());
            ORV_FUZZ_CHECK(policy->AddElement(table, model.back().data()) == table.GetElm(count));
            break;
        case 3:
        {
            const bool zeroes = entry.kind == Kind::Normal || entry.kind == Kind::Intensity;
            model.push_back(Bytes(size, zeroes ? 0 : fresh));
            ORV_FUZZ_CHECK(policy->AddDefaultElement(table) == table.GetElm(count));
            break;
        }
        case 4:
            if (count != 0)
            {
                model[i] = draw();
                void* at = in.Bool() ? policy->InitElement(table, i, model[i].data())
                                     : policy->SetElement(table, i, model[i].data());
                ORV_FUZZ_CHECK(at == table.GetElm(i));
            }
            break;
        case 5:
            if (count != 0)
            {
                model[i].assign(size, 0);
                ORV_FUZZ_CHECK(policy->ResetElement(table, i) == table.GetElm(i));
            }
            break;
        case 6:
            policy->ResetAllElements(table);
            for (Bytes& e : model)
                e.assign(size, 0);
            break;
        case 7:
            policy->VisitAllElements(table);
            break;
        case 8:
            if (count != 0)
            {
                const std::uint32_t j = std::uint32_t(in.Below(count));
                const bool equal = entry.kind == Kind::Float ? Read<float>(model[i].data()) ==
                                                                   Read<float>(model[j].data())
                                                             : model[i] == model[j];
                ORV_FUZZ_CHECK(policy->AreEqual(table.GetElm(i), table.GetElm(j)) == equal);
            }
            break;
        }
        ORV_FUZZ_CHECK(table.count == model.size());
        for (std::uint32_t k = 0; k < table.count; ++k)
            ORV_FUZZ_CHECK(policy->GetElement(table, k) == table.GetElm(k) &&
                           std::equal(model[k].begin(), model[k].end(),
                                      static_cast<const std::uint8_t*>(table.GetElm(k))))
                << "element " << k << " of " << table.count;
    }
}

} // namespace

void RunPolicyBytes(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const Entry& entry = kEntries[in.Below(12)];
    if (entry.kind == Kind::Unsigned)
        Exercise<std::uint64_t>(in, entry);
    else if (entry.kind == Kind::Normal)
        Exercise<GVector3>(in, entry);
    else
        Exercise<double>(in, entry);
}

} // namespace orv::Fuzz

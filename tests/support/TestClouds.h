#pragma once

// Fixtures shared by the tests and the fuzz targets: host clouds whose stored point i carries
// extra data that is a function of i (so a point is recognised wherever it ends up), and on the
// contract side consumers, builders and checksums. The contract's own helpers come from
// helpers/PointDataHelpers.h.

#include "helpers/PointDataHelpers.h"
#include "host/core/Factory.h"
#include "host/eastl/allocator.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

namespace orv::TestSupport
{

using namespace orv::Data::Cloud;
using orv::DataProxy::IPointDataIterable;
using orv::DataProxy::MinimumPieceHint;
using orv::DataProxy::PointRecord;
using orv::DataProxy::RgbaColor;
using orv::DataProxy::SplitIntoPieces;
using orv::DataProxy::WantAll;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;
using C = orv::DataProxy::EPointDataComponent;
using Key = orv::DataProxy::PointDataComponents::ComponentKey;

// Host type ids; test clouds carry the first four.
struct Type
{
    static int Class() { return CloudClassificationExtraData::TypeId(); }
    static int Scan() { return CloudScanIDExtraData::TypeId(); }
    static int IntensityNew() { return CloudIntensityNewExtraData::TypeId(); }
    static int Normal() { return CloudNormalExtraData::TypeId(); }
    static int SplitColor() { return CloudSplitColorExtraData::TypeId(); }
    static int Intensity() { return CloudIntensityExtraData::TypeId(); } // colours in colour clouds
};

// The extra data of stored point i (the normal in the cloud's frame).
struct PointValues
{
    explicit PointValues(std::uint64_t i)
        : classification(std::uint8_t(i)), scanId(std::uint32_t(1000 + i)),
          intensity(0.5f + float(i)), normal(i % 2 ? GVector3{1, 0, 0} : GVector3{0, 0.6, 0.8})
    {
    }
    std::uint8_t classification;
    std::uint32_t scanId;
    float intensity;
    GVector3 normal;
};

struct CloudSetup
{
    std::uint32_t subsetCapacity = GCloud::DefaultSubsetCapacity();
    std::optional<Matrix3x4> frame{}; // unset: the host moves the frame to the first point
    std::set<std::uint64_t> hidden{}; // stored point indices
    bool withExtraData = true;
};

// The stored point indices first, first + step, ... below end: points to hide.
inline std::set<std::uint64_t> Every(std::uint64_t first, std::uint64_t end, std::uint64_t step = 1)
{
    std::set<std::uint64_t> indices;
    for (std::uint64_t i = first; i < end; i += step)
        indices.insert(i);
    return indices;
}

inline Matrix3x4 RotationZ(double radians, double tx, double ty, double tz)
{
    const double c = std::cos(radians), s = std::sin(radians);
    return {{c, -s, 0, s, c, 0, 0, 0, 1, tx, ty, tz}};
}

// Point i at (i % 10, (i / 10) / 2, (i % 7) / 4) + origin: exact in floats near 0.
inline std::vector<GPointDouble> GridPoints(std::size_t n, double origin = 0.0)
{
    std::vector<GPointDouble> points;
    for (std::size_t i = 0; i < n; ++i)
        points.push_back({origin + double(i % 10), origin + double(i / 10) * 0.5,
                          origin + 0.25 * double(i % 7)});
    return points;
}

// Points given in world coordinates; point i carries PointValues(i) unless told otherwise.
inline PointCloud BuildCloud(const std::vector<GPointDouble>& world, const CloudSetup& setup = {})
{
    PointCloud cloud;
    GCloud& host = cloud.Convert();
    host.SetSubsetCapacity(setup.subsetCapacity);
    if (setup.frame)
        host.SetMatrix(*setup.frame);
    GPointDouble position{};
    PointValues v(0);
    orv::Math::Algebra::CompressedVector32Bits normal;
    GCloudPointData record(&position);
    if (setup.withExtraData)
    {
        record.AddExtraData(Type::Class(), &v.classification);
        record.AddExtraData(Type::Scan(), &v.scanId);
        record.AddExtraData(Type::IntensityNew(), &v.intensity);
        record.AddExtraData(Type::Normal(), &normal);
    }
    for (std::size_t i = 0; i < world.size(); ++i)
    {
        position = world[i];
        v = PointValues(i);
        normal.VectorSet(v.normal);
        cloud.AddPoint(record, true);
    }
    for (std::uint64_t i : setup.hidden)
        host.SetPointVisible(i, false);
    return cloud;
}

template <class P, class Q>
double Distance(const P& a, const Q& b)
{
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

// The angle between two vectors: atan2 of |a x b| and a . b, accurate for tiny angles too.
inline double Angle(const GVector3& a, const GVector3& b)
{
    const double cx = a.y * b.z - a.z * b.y, cy = a.z * b.x - a.x * b.z, cz = a.x * b.y - a.y * b.x;
    return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), a.x * b.x + a.y * b.y + a.z * b.z);
}

inline bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The same bits, or both NaN (a conversion may change a NaN's payload).
inline bool SameReal(double a, double b)
{
    return SameBits(a, b) || (std::isnan(a) && std::isnan(b));
}

template <class T>
T Read(const void* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The stored element of `type` for point i, as T (T no wider than the element).
template <class T>
T Stored(const GCloud& cloud, int type, std::uint64_t i)
{
    const void* element = cloud.GetExtraDataElement(type, i);
    if (element == nullptr)
        throw std::out_of_range("no stored element");
    return Read<T>(element);
}

struct Visit
{
    std::uint64_t ordinal, pointIndex;
    GPointDouble world;
    std::optional<std::uint32_t> scan;
};

// Visits every point from `start` the way a cursor client does: step, then move the position
// and element iterators by the step, or fetch them again after a subset change. Reads a 4-byte
// element of `type` (the scan id unless told otherwise).
inline std::vector<Visit> Walk(const GCloud& cloud, std::uint64_t start = 0,
                               int type = Type::Scan())
{
    std::vector<Visit> visits;
    CloudCursorBase<1> cursor(cloud, start);
    Component::CloudPointCoordinate<1> position(cursor);
    auto element = cursor.GetExtraDataIterator(type, cursor.GetLocalIndex());
    // The size guard stops a cursor that does not advance.
    while (cursor.GetOrdinal() < cloud.GetPointCount() &&
           visits.size() <= cloud.GetStoredPointCount())
    {
        const float* q = position.Get();
        Visit v{cursor.GetOrdinal(), cursor.GetPointIndex(),
                TransformPoint(cursor.GetMatrix(), GPointDouble{q[0], q[1], q[2]}), std::nullopt};
        if (!element.AtBufferEnd())
            v.scan = Read<std::uint32_t>(element.ptr);
        visits.push_back(v);
        const auto step = cursor.Step();
        if (step.subsetChanged)
        {
            position.Reset(cursor.GetLocalIndex());
            element = cursor.GetExtraDataIterator(type, cursor.GetLocalIndex());
            continue;
        }
        position.iterator += std::int64_t(step.step);
        if (!element.AtBufferEnd())
            element += std::int64_t(step.step);
    }
    return visits;
}

// Colour mode, frame, counts, subsets, types, and per stored point its visibility, coordinates
// and every element.
inline std::vector<std::uint64_t> Image(const GCloud& cloud)
{
    const std::vector<int> types = cloud.GetExtraDataTypes();
    std::vector<std::uint64_t> image{std::uint64_t(cloud.GetType()), cloud.GetStoredPointCount(),
                                     cloud.GetPointCount(), cloud.GetSubsetCount()};
    for (double m : cloud.GetMatrix().v)
        image.push_back(Read<std::uint64_t>(&m));
    image.insert(image.end(), types.begin(), types.end());
    for (std::uint32_t s = 0; s <= cloud.GetSubsetCount(); ++s)
        image.push_back(cloud.GetSubsetFirstOrdinal(s));
    for (std::uint64_t i = 0; i < cloud.GetStoredPointCount(); ++i)
    {
        image.push_back(cloud.IsPointVisible(i));
        const auto* q = reinterpret_cast<const std::uint8_t*>(cloud.GetStoredCoordinates(i));
        image.insert(image.end(), q, q + 12);
        for (int type : types)
        {
            const auto* e = static_cast<const std::uint8_t*>(cloud.GetExtraDataElement(type, i));
            image.insert(image.end(), e, e + GetExtraDataElementSize(type));
        }
    }
    return image;
}

// A policy for a test-only extra-data type stored as the bytes of T: host types wider than any
// of the host's own twelve. Not final: tests derive from it to watch an operation.
template <class T>
class RawPolicy : public orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>
{
    using Table = orv::Collection::TableCluster;

public:
    bool GetTypeFlagA() const override { return false; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        return NormalExtraData::GetStaticType();
    }
    unsigned int GetElementSize() const override { return sizeof(T); }
    void TransformElement(void*, const orv::Math::Algebra::Matrix3x3&) const override {}
    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }
    void* SetElement(Table& t, std::uint32_t i, const void* v) const override
    {
        return std::memcpy(t.GetElm(i), v, sizeof(T));
    }
    void* AddElement(Table& t, const void* v) const override
    {
        return std::memcpy(t.New(false), v, sizeof(T));
    }
    void* AddDefaultElement(Table& t) const override { return t.New(true); }
    void* ResetElement(Table& t, std::uint32_t i) const override
    {
        return std::memset(t.GetElm(i), 0, sizeof(T));
    }
    void* InitElement(Table& t, std::uint32_t i, const void* v) const override
    {
        return SetElement(t, i, v);
    }
    void ResetAllElements(Table& t) const override
    {
        for (std::uint32_t i = 0; i < t.count; ++i)
            ResetElement(t, i);
    }
    void VisitAllElements(Table&) const override {}
    const void* GetElement(const Table& t, std::uint32_t i) const override { return t.GetElm(i); }
    bool AreEqual(const void* a, const void* b) const override
    {
        return std::memcmp(a, b, sizeof(T)) == 0;
    }
    T GetValue(const void* e, const CloudCursorInfo&) const override { return Read<T>(e); }
    void SetValue(void* e, const T& v, const CloudCursorInfo&) const override
    {
        std::memcpy(e, &v, sizeof v);
    }
};

// Type id of a test-only host type stored as the bytes of T, registered once per process with
// a Policy (one type per pair).
template <class T, class Policy = RawPolicy<T>>
int WideType()
{
    struct Tag
    {
    };
    static const int id = orv::General::IFactory::GetInstance().GetTypeId(typeid(Tag));
    static const orv::Data::ExtraData::Details::ExtraDataRegisterScope scope =
        orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
            id, typeid(T), eastl::allocate_shared<Policy>(eastl::allocator()));
    return id;
}

// Wants every key except `declined`; throws when asked about `failOn`; counts the questions.
// Safe to share between threads while nobody changes it.
class TestConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    explicit TestConsumer(std::vector<Key> declinedKeys = {}) : declined(std::move(declinedKeys)) {}
    bool IsComponentRequested(C c, unsigned char i) const override
    {
        ++calls;
        if (failOn && *failOn == Key{c, i})
            throw std::runtime_error("consumer failure");
        return std::find(declined.begin(), declined.end(), Key{c, i}) == declined.end();
    }
    std::vector<Key> declined;
    std::optional<Key> failOn;
    mutable std::atomic<int> calls{0};
};

// Sets value i of the component of v's type on `point`; gives that component.
inline C Put(PointRecord& point, unsigned char i, const GVector3& v)
{
    return point.SetVector3(i, v), C::Vector3;
}
inline C Put(PointRecord& point, unsigned char i, std::uint64_t v)
{
    return point.SetUnsignedInteger(i, v), C::UnsignedInteger;
}
inline C Put(PointRecord& point, unsigned char i, std::int64_t v)
{
    return point.SetSignedInteger(i, v), C::SignedInteger;
}
inline C Put(PointRecord& point, unsigned char i, double v)
{
    return point.SetReal(i, v), C::Real;
}
inline C Put(PointRecord& point, unsigned char i, const RgbaColor& v)
{
    return point.SetColor(i, v), C::Color;
}

// Runs work(0) .. work(count - 1) on threads of their own and waits for them.
template <class F>
void OnThreads(int count, F&& work)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&work, t] { work(t); });
    for (std::thread& thread : threads)
        thread.join();
}

// The cloud a provider of this library holds (a builder's result, for one).
inline PointCloud CloudOf(const std::shared_ptr<orv::DataProxy::IPointDataProvider>& provider)
{
    return dynamic_cast<const PointCloudDataProvider&>(*provider).GetPointCloud();
}

// A builder of another library: the contract's interface only, over one of ours. AppendBlock
// falls back to AddPointData for it; MergeBuilders refuses it.
class ForeignBuilder final : public orv::DataProxy::IPointDataBuilder
{
public:
    explicit ForeignBuilder(std::shared_ptr<IPointDataBuilder> b) : inner(std::move(b)) {}
    void Reserve(std::uint64_t n) override { inner->Reserve(n); }
    void AddPointData(const orv::DataProxy::IPointDataAccessor& point) override
    {
        inner->AddPointData(point);
    }
    std::shared_ptr<orv::DataProxy::IPointDataProvider> GetResult() override
    {
        return inner->GetResult();
    }

private:
    std::shared_ptr<IPointDataBuilder> inner;
};

inline std::uint64_t SizeOf(orv::DataProxy::IPointDataBuilder& builder)
{
    return CloudOf(builder.GetResult()).GetPointCount();
}

// Maps UnsignedInteger 0 classification, UnsignedInteger 1 scan id, Real 0 intensity and
// Vector3 0 normal.
inline PointCloudDataProvider MappedProvider(const PointCloud& cloud)
{
    PointCloudDataProvider provider(cloud);
    provider.MapOptionalComponent(C::UnsignedInteger, Type::Class());
    provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    provider.MapOptionalComponent(C::Real, Type::IntensityNew());
    provider.MapOptionalComponent(C::Vector3, Type::Normal());
    return provider;
}

// Everything a cursor of MappedProvider delivers for its point: summed over points, a checksum
// that does not depend on the order of reading.
inline std::uint64_t PointHash(const orv::DataProxy::IPointDataAccessor& point)
{
    const auto mix = [](std::uint64_t h, std::uint64_t v)
    { return (h ^ (v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2))) * 0xFF51AFD7ED558CCDull; };
    const GPointDouble p = point.GetPosition();
    const GVector3 n = point.GetVector3(0).value();
    std::uint64_t h = mix(point.GetUnsignedInteger(0).value(), point.GetPointIndex());
    for (double d : {p.x, p.y, p.z, n.x, n.y, n.z, point.GetReal(0).value()})
        h = mix(h, Read<std::uint64_t>(&d));
    return mix(h, point.GetUnsignedInteger(1).value());
}

struct Totals
{
    std::uint64_t points = 0;
    std::uint64_t checksum = 0;
};

inline Totals ReadAll(const IPointDataIterable& piece)
{
    Totals totals;
    for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext(), ++totals.points)
        totals.checksum += PointHash(*cursor);
    return totals;
}

} // namespace orv::TestSupport

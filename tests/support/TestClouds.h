#pragma once

// Fixtures shared by the tests: small host clouds built through the host's point record (the
// extra data of stored point i is a function of i, so a point is recognised wherever it ends
// up), a walk that drives a host cursor as a cursor client does, a plain policy for test-only
// extra-data types, and the contract's consumer and split hint.

#include "contract/Interfaces.h"
#include "host/core/Factory.h"
#include "host/eastl/allocator.h"
#include "host/eastl/shared_ptr.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace orv::TestSupport
{

using namespace orv::Data::Cloud;
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
    CloudSetup(std::uint32_t capacity = GCloud::DefaultSubsetCapacity(),
               std::optional<Matrix3x4> matrix = std::nullopt, std::set<std::uint64_t> hide = {},
               bool extraData = true)
        : subsetCapacity(capacity), frame(matrix), hidden(std::move(hide)), withExtraData(extraData)
    {
    }
    std::uint32_t subsetCapacity;
    std::optional<Matrix3x4> frame; // unset: the host moves the frame to the first point
    std::set<std::uint64_t> hidden; // stored point indices
    bool withExtraData;
};

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

// Type id of a test-only host type stored as the bytes of T, registered once per process.
template <class T>
int WideType()
{
    struct Tag
    {
    };
    static const int id = orv::General::IFactory::GetInstance().GetTypeId(typeid(Tag));
    static const orv::Data::ExtraData::Details::ExtraDataRegisterScope scope =
        orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy(
            id, typeid(T), eastl::allocate_shared<RawPolicy<T>>(eastl::allocator()));
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
using WantAll = TestConsumer;

class MinimumPiece final : public orv::DataProxy::IPointDataSplitHint
{
public:
    explicit MinimumPiece(std::uint64_t n) : n_(n) {}
    std::uint64_t GetConcurrency() const override { return 2; }
    std::uint64_t GetMinimumPieceSize() const override { return n_; }

private:
    std::uint64_t n_;
};

// Splits until no piece is divisible; gives every piece, the root (which keeps the lowest) first.
inline std::vector<std::shared_ptr<orv::DataProxy::IPointDataIterable>>
SplitToBottom(std::shared_ptr<orv::DataProxy::IPointDataIterable> root, std::uint64_t minimum)
{
    const MinimumPiece hint(minimum);
    std::vector<std::shared_ptr<orv::DataProxy::IPointDataIterable>> pieces{std::move(root)};
    for (std::size_t i = 0; i < pieces.size(); ++i)
        while (pieces[i]->IsDivisible(hint))
            pieces.push_back(pieces[i]->Split());
    return pieces;
}

} // namespace orv::TestSupport

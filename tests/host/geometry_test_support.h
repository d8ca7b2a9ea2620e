#pragma once

#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

// Fixtures shared by the geometry tests: clouds built through the host's point record, and a
// walk that drives a host cursor exactly as a cursor client does (step, then move the position
// and element iterators by the step, or re-fetch them after a subset change).

namespace geomtest
{

using namespace orv::Data::Cloud;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;

inline int ScanId()
{
    return CloudScanIDExtraData::TypeId();
}
inline int ClassId()
{
    return CloudClassificationExtraData::TypeId();
}

// Point i gets scan id i + 1000 (so a point can be recognised wherever it ends up) and
// classification i % 200.
inline PointCloud BuildCloud(const std::vector<GPointDouble>& points,
                             uint32_t capacity = GCloud::kDefaultSubsetCapacity,
                             const Matrix3x4* frame = nullptr)
{
    PointCloud cloud;
    cloud.Convert().SetSubsetCapacity(capacity);
    if (frame != nullptr)
        cloud.Convert().SetMatrix(*frame);
    GPointDouble position{0, 0, 0};
    uint32_t scan = 0;
    uint8_t cls = 0;
    GCloudPointData record(&position);
    record.AddExtraData(ScanId(), &scan);
    record.AddExtraData(ClassId(), &cls);
    for (size_t i = 0; i < points.size(); ++i)
    {
        position = points[i];
        scan = uint32_t(i + 1000);
        cls = uint8_t(i % 200);
        cloud.AddPoint(record, true);
    }
    return cloud;
}

inline std::vector<GPointDouble> Line(size_t n)
{
    std::vector<GPointDouble> points;
    for (size_t i = 0; i < n; ++i)
        points.push_back(GPointDouble{double(i), 2.0 * double(i), -double(i)});
    return points;
}

template <class T>
T ReadElement(const void* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Visit
{
    uint64_t ordinal;
    uint64_t pointIndex;
    GPointDouble world;
    std::optional<uint32_t> scan;
};

// Visits every point from `start` with the client protocol; reads the scan id through an
// element iterator of `typeId` (a 4-byte type).
inline std::vector<Visit> Walk(const GCloud& cloud, uint64_t start = 0, int typeId = ScanId())
{
    std::vector<Visit> visits;
    CloudCursorBase<1> cursor(cloud, start);
    Component::CloudPointCoordinate<1> position(cursor);
    position.Reset(cursor.GetLocalIndex());
    auto element = cursor.GetExtraDataIterator(typeId, cursor.GetLocalIndex());
    for (uint64_t guard = 0; cursor.GetOrdinal() < cloud.GetPointCount(); ++guard)
    {
        if (guard > cloud.GetStoredPointCount())
            break; // a cursor that does not advance would loop forever
        const float* q = position.Get();
        Visit v{
            cursor.GetOrdinal(), cursor.GetPointIndex(),
            orv::Math::Algebra::TransformPoint(cursor.GetMatrix(), GPointDouble{q[0], q[1], q[2]}),
            std::nullopt};
        if (!element.AtBufferEnd())
            v.scan = ReadElement<uint32_t>(element.ptr);
        visits.push_back(v);
        const auto step = cursor.Step();
        const uint64_t k = step.subsetChanged ? cursor.GetLocalIndex() : step.step;
        if (step.subsetChanged)
        {
            position.Reset(k);
            element = cursor.GetExtraDataIterator(typeId, k);
        }
        else if (k == 1)
        {
            position.iterator.Next();
            if (!element.AtBufferEnd())
                element.Next();
        }
        else
        {
            position.iterator += int64_t(k);
            if (!element.AtBufferEnd())
                element += int64_t(k);
        }
    }
    return visits;
}

// A policy that does nothing but report an element size; tests override what they watch.
class StubPolicy : public orv::Data::ExtraData::Details::ICloudExtraDataPolicy
{
public:
    explicit StubPolicy(unsigned int size = 4) : m_size(size) {}
    bool GetTypeFlagA() const override { return false; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        return NormalExtraData::GetStaticType();
    }
    unsigned int GetElementSize() const override { return m_size; }
    void TransformElement(void*, const orv::Math::Algebra::Matrix3x3&) const override {}
    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }
    void* SetElement(orv::Collection::TableCluster&, uint32_t, const void*) const override
    {
        return nullptr;
    }
    void* AddElement(orv::Collection::TableCluster&, const void*) const override { return nullptr; }
    void* AddDefaultElement(orv::Collection::TableCluster&) const override { return nullptr; }
    void* ResetElement(orv::Collection::TableCluster&, uint32_t) const override { return nullptr; }
    void* InitElement(orv::Collection::TableCluster&, uint32_t, const void*) const override
    {
        return nullptr;
    }
    void ResetAllElements(orv::Collection::TableCluster&) const override {}
    void VisitAllElements(orv::Collection::TableCluster&) const override {}
    const void* GetElement(const orv::Collection::TableCluster&, uint32_t) const override
    {
        return nullptr;
    }
    bool AreEqual(const void*, const void*) const override { return false; }

private:
    unsigned int m_size;
};

} // namespace geomtest

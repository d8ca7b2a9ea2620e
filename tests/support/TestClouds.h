#pragma once

// Small host clouds for tests: points given in world coordinates with optional extra data,
// in a chosen frame, subset capacity and colour mode, with chosen points hidden.

#include "contract/Interfaces.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace orv::TestSupport
{

using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;

struct TestPoint
{
    GPointDouble world{};
    std::uint8_t classification = 0;
    std::uint32_t scanId = 0;
    float intensityNew = 0.0f;
    GVector3 normal{0, 0, 1}; // in the cloud's frame
};

struct CloudSetup
{
    std::optional<Matrix3x4> frame;
    std::uint32_t subsetCapacity = 65536;
    std::set<std::uint64_t> hidden; // stored point indices
    bool withExtraData = true;
};

inline Matrix3x4 RotationZ(double radians, double tx, double ty, double tz)
{
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    return {{c, -s, 0, s, c, 0, 0, 0, 1, tx, ty, tz}};
}

inline orv::Data::Cloud::PointCloud BuildCloud(const std::vector<TestPoint>& points,
                                               const CloudSetup& setup = {})
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    GCloud& host = cloud.Convert();
    host.SetSubsetCapacity(setup.subsetCapacity);
    if (setup.frame)
    {
        host.SetMatrix(*setup.frame);
    }
    GPointDouble position{};
    TestPoint staged;
    orv::Math::Algebra::CompressedVector32Bits normal;
    GCloudPointData record(&position);
    if (setup.withExtraData)
    {
        record.AddExtraData(CloudClassificationExtraData::TypeId(), &staged.classification);
        record.AddExtraData(CloudScanIDExtraData::TypeId(), &staged.scanId);
        record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &staged.intensityNew);
        record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    }
    for (const TestPoint& point : points)
    {
        staged = point;
        position = point.world;
        normal.VectorSet(point.normal);
        cloud.AddPoint(record, true);
    }
    for (std::uint64_t index : setup.hidden)
    {
        host.SetPointVisible(index, false);
    }
    return cloud;
}

// A grid of n points with distinct, easily recognised values.
inline std::vector<TestPoint> GridPoints(std::size_t n, double origin = 0.0)
{
    std::vector<TestPoint> points;
    for (std::size_t i = 0; i < n; ++i)
    {
        TestPoint p;
        p.world = {origin + static_cast<double>(i % 10), origin + static_cast<double>(i / 10) * 0.5,
                   origin + 0.25 * static_cast<double>(i % 7)};
        p.classification = static_cast<std::uint8_t>(i % 256);
        p.scanId = static_cast<std::uint32_t>(1000 + i);
        p.intensityNew = 0.5f + static_cast<float>(i);
        p.normal = (i % 2) ? GVector3{1, 0, 0} : GVector3{0, 0.6, 0.8};
        points.push_back(p);
    }
    return points;
}

// A consumer that wants every key, or every key but those it declines; it counts questions.
class RecordingConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    using Key = orv::DataProxy::PointDataComponents::ComponentKey;
    explicit RecordingConsumer(std::vector<Key> declined = {}) : declined_(std::move(declined)) {}

    bool IsComponentRequested(orv::DataProxy::EPointDataComponent component,
                              unsigned char index) const override
    {
        asked.push_back({component, index});
        for (const Key& key : declined_)
        {
            if (key.component == component && key.index == index)
            {
                return false;
            }
        }
        return true;
    }

    mutable std::vector<Key> asked;

private:
    std::vector<Key> declined_;
};

// Wants everything; answers without state, so it may be shared by threads.
class WantAll final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(orv::DataProxy::EPointDataComponent, unsigned char) const override
    {
        return true;
    }
};

class MinimumPiece final : public orv::DataProxy::IPointDataSplitHint
{
public:
    explicit MinimumPiece(std::uint64_t n) : n_(n) {}
    std::uint64_t GetConcurrency() const override { return 2; }
    std::uint64_t GetMinimumPieceSize() const override { return n_; }

private:
    std::uint64_t n_;
};

} // namespace orv::TestSupport

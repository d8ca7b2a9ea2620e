#pragma once

// The benchmark data, built once per process: 10,000,000 points with three extras in a rotated,
// translated frame (a host cloud, the same as plain arrays, a provider); the loops' arithmetic.

#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace orv::Bench
{

constexpr std::uint64_t kPoints = 10'000'000;

inline orv::Data::Cloud::PointCloud MakeCloud(std::uint64_t points)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    const double c = std::cos(0.5), s = std::sin(0.5);
    cloud.Convert().SetMatrix({{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0, 652000.0, 5180000.0, 300.0}});
    std::mt19937_64 random(1234);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    orv::Math::Algebra::GPointDouble position{};
    float intensity = 0.0f;
    std::uint8_t classification = 0;
    orv::Math::Algebra::CompressedVector32Bits normal;
    GCloudPointData record(&position);
    record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &intensity);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    for (std::uint64_t i = 0; i < points; ++i)
    {
        position = {652000.0 + unit(random) * 1000.0, 5180000.0 + unit(random) * 1000.0,
                    300.0 + unit(random) * 50.0};
        intensity = static_cast<float>(unit(random));
        classification = static_cast<std::uint8_t>(i % 7);
        normal.VectorSet({unit(random) - 0.5, unit(random) - 0.5, 1.0});
        cloud.AddPoint(record, true);
    }
    return cloud;
}

inline const orv::Data::Cloud::PointCloud& SharedCloud()
{
    static const orv::Data::Cloud::PointCloud cloud = MakeCloud(kPoints);
    return cloud;
}

// The shared cloud's points as plain arrays: the stored floats, the three elements, the frame.
struct Arrays
{
    std::vector<float> xyz;
    std::vector<float> intensity;
    std::vector<std::uint8_t> classification;
    std::vector<orv::Math::Algebra::CompressedVector32Bits> normal;
    orv::Math::Algebra::Matrix3x4 frame{};
};

inline const Arrays& SharedArrays()
{
    static const Arrays arrays = []
    {
        using namespace orv::Data::Cloud;
        const GCloud& cloud = SharedCloud().Convert();
        Arrays a;
        a.frame = cloud.GetMatrix();
        a.xyz.resize(3 * kPoints);
        a.intensity.resize(kPoints);
        a.classification.resize(kPoints);
        a.normal.resize(kPoints);
        for (std::uint64_t i = 0; i < kPoints; ++i)
        {
            std::memcpy(&a.xyz[3 * i], cloud.GetStoredCoordinates(i), 12);
            std::memcpy(&a.intensity[i],
                        cloud.GetExtraDataElement(CloudIntensityNewExtraData::TypeId(), i), 4);
            std::memcpy(&a.classification[i],
                        cloud.GetExtraDataElement(CloudClassificationExtraData::TypeId(), i), 1);
            std::memcpy(&a.normal[i], cloud.GetExtraDataElement(CloudNormalExtraData::TypeId(), i),
                        4);
        }
        return a;
    }();
    return arrays;
}

// The shared cloud through the contract, its extras mapped to index 0 of Real (intensity),
// UnsignedInteger (classification) and Vector3 (normal). Built in place and mapped once: a copy
// of a provider read a few per cent slower through its cursors in alternated runs.
inline const orv::Data::Cloud::PointCloudDataProvider& SharedProvider()
{
    using namespace orv::Data::Cloud;
    using orv::DataProxy::EPointDataComponent;
    static PointCloudDataProvider provider(SharedCloud());
    static const bool mapped = []
    {
        provider.MapOptionalComponent(EPointDataComponent::Real,
                                      CloudIntensityNewExtraData::TypeId());
        provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                      CloudClassificationExtraData::TypeId());
        provider.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
        return true;
    }();
    (void)mapped;
    return provider;
}

// A stored point in world coordinates, in the order of operations the cursor uses.
inline orv::Math::Algebra::GPointDouble World(const double* m, const float* p)
{
    const double x = p[0], y = p[1], z = p[2];
    return {((m[1] * y + m[0] * x) + m[2] * z) + m[9], ((m[4] * y + m[3] * x) + m[5] * z) + m[10],
            ((m[7] * y + m[6] * x) + m[8] * z) + m[11]};
}

// A stored normal decoded and rotated into the world.
inline orv::Math::Algebra::GVector3 WorldNormal(const double* m,
                                                const orv::Math::Algebra::CompressedVector32Bits& c)
{
    orv::Math::Algebra::GVector3 v{0.0, 0.0, 0.0};
    (void)c.VectorGet(v);
    return {(m[0] * v.x + m[1] * v.y) + m[2] * v.z, (m[3] * v.x + m[4] * v.y) + m[5] * v.z,
            (m[6] * v.x + m[7] * v.y) + m[8] * v.z};
}

// The points (or elements) a case walks per iteration: ns per point is 1e9 / items_per_second.
inline void PerPoint(benchmark::State& state, std::uint64_t points = kPoints)
{
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points));
}

// What a read loop adds up: the positions, and the extras when it reads them.
struct Sums
{
    double position = 0.0;
    double extras = 0.0;
};

// Both sums reach the optimiser's barrier: a loop whose position sum went unused would lose
// its position arithmetic and make an unfair baseline.
inline void Consume(const Sums& sums)
{
    benchmark::DoNotOptimize(sums.position);
    benchmark::DoNotOptimize(sums.extras);
}

// A cursor client's loop: the world position of every point, and with `extras` index 0 of
// Real, UnsignedInteger and Vector3 (the normal's x), as SharedProvider maps them.
template <bool extras>
Sums CursorSums(orv::DataProxy::IPointDataCursor& cursor)
{
    Sums sums;
    for (; cursor.IsValid(); cursor.MoveNext())
    {
        const auto p = cursor.GetPosition();
        sums.position += p.x + p.y + p.z;
        if constexpr (extras)
            sums.extras += *cursor.GetReal(0) + static_cast<double>(*cursor.GetUnsignedInteger(0)) +
                           cursor.GetVector3(0)->x;
    }
    return sums;
}

// CPU time of the calling thread, in seconds.
inline double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

} // namespace orv::Bench

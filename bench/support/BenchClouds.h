#pragma once

// The benchmark data: clouds of many points in the reference host with three extra-data
// types (a float intensity, an 8-bit classification and a compressed normal) in a rotated,
// translated frame, built once per process and shared by the cases.

#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"

#include <cmath>
#include <cstdint>
#include <random>

namespace orv::Bench
{

constexpr std::uint64_t kPoints = 10'000'000;

inline orv::Math::Algebra::Matrix3x4 BenchFrame()
{
    const double c = std::cos(0.5);
    const double s = std::sin(0.5);
    return {{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0, 652000.0, 5180000.0, 300.0}};
}

inline orv::Data::Cloud::PointCloud MakeCloud(std::uint64_t points)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    cloud.Convert().SetMatrix(BenchFrame());
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

} // namespace orv::Bench

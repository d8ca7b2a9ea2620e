#include "examples/scan/SyntheticScan.h"

#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace orv::Demo
{
namespace
{

using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

struct Building
{
    double x0, y0, x1, y1, height;
};

// Ground height above kBaseZ at tile coordinates (u, v) in metres: a gentle rolling
// terrain, with its gradient for the normals.
double Terrain(double u, double v, double* du, double* dv)
{
    constexpr double k1 = 2.0 * M_PI / 700.0;
    constexpr double k2 = 2.0 * M_PI / 260.0;
    *du = 8.0 * k1 * std::cos(k1 * u) * std::cos(k1 * 0.7 * v) + 2.0 * k2 * std::cos(k2 * (u + v));
    *dv = -8.0 * k1 * 0.7 * std::sin(k1 * u) * std::sin(k1 * 0.7 * v) +
          2.0 * k2 * std::cos(k2 * (u + v));
    return 8.0 * std::sin(k1 * u) * std::cos(k1 * 0.7 * v) + 2.0 * std::sin(k2 * (u + v));
}

GVector3 Normalised(GVector3 v)
{
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / n, v.y / n, v.z / n};
}

} // namespace

orv::Math::Algebra::Matrix3x4 ScanFrame()
{
    const double c = std::cos(M_PI / 6.0);
    const double s = std::sin(M_PI / 6.0);
    return {{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0, kOriginX, kOriginY, kBaseZ}};
}

orv::Data::Cloud::PointCloud GenerateScan(const ScanOptions& options)
{
    using namespace orv::Data::Cloud;

    PointCloud cloud;
    GCloud& host = cloud.Convert();
    host.SetSubsetCapacity(options.subsetCapacity);
    host.SetMatrix(ScanFrame());
    host.SetType(1, 0.0f, 1.0f, nullptr, false); // intensities as plain floats

    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    std::vector<Building> buildings;
    for (int i = 0; i < 12; ++i)
    {
        const double x0 = 50.0 + unit(random) * 850.0;
        const double y0 = 50.0 + unit(random) * 850.0;
        buildings.push_back({x0, y0, x0 + 20.0 + unit(random) * 60.0,
                             y0 + 20.0 + unit(random) * 60.0, 8.0 + unit(random) * 25.0});
    }

    // The staged point: the host record reads these slots at every AddPoint.
    GPointDouble position{};
    std::uint8_t classification = 0;
    std::uint32_t scanId = 0;
    orv::Math::Algebra::CompressedVector32Bits normal;
    orv::Data::Primitive::ColorValue intensity;
    GCloudPointData record(&position);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    record.AddExtraData(CloudScanIDExtraData::TypeId(), &scanId);
    record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    record.AddExtraData(CloudIntensityExtraData::TypeId(), &intensity);

    const orv::Math::Algebra::Matrix3x4 frame = ScanFrame();
    for (std::uint64_t i = 0; i < options.points; ++i)
    {
        const double u = unit(random) * kTileSize;
        const double v = unit(random) * kTileSize;
        double du = 0.0;
        double dv = 0.0;
        const double ground = Terrain(u, v, &du, &dv);
        GVector3 n = Normalised({-du, -dv, 1.0});
        double z = ground + (unit(random) - 0.5) * 0.05;
        classification = kGround;
        float reflectance = 0.35f;

        const auto roof = std::find_if(
            buildings.begin(), buildings.end(),
            [&](const Building& b) { return u >= b.x0 && u <= b.x1 && v >= b.y0 && v <= b.y1; });
        if (roof != buildings.end())
        {
            z = Terrain(roof->x0, roof->y0, &du, &dv) + roof->height;
            n = {0.0, 0.0, 1.0};
            classification = kBuilding;
            reflectance = 0.6f;
        }
        else if (unit(random) < 0.15)
        {
            z = ground + 2.0 + unit(random) * 12.0;
            n = Normalised({unit(random) - 0.5, unit(random) - 0.5, unit(random) + 0.2});
            classification = kVegetation;
            reflectance = 0.2f;
        }

        // Tile coordinates are the cloud's local frame: world = frame * local.
        const double* m = frame.v;
        position = {m[0] * u + m[1] * v + m[2] * z + m[9], m[3] * u + m[4] * v + m[5] * z + m[10],
                    m[6] * u + m[7] * v + m[8] * z + m[11]};
        // Normals are stored in the cloud's own frame; readers rotate them into theirs.
        normal.VectorSet(n);
        scanId = static_cast<std::uint32_t>(1 + std::min(4.0, std::floor(u / (kTileSize / 5.0))));
        intensity.SetValueFloat(
            std::clamp(reflectance + static_cast<float>((unit(random) - 0.5) * 0.1), 0.0f, 1.0f));
        cloud.AddPoint(record, true);
    }

    if (options.hideEvery != 0)
    {
        const std::uint64_t stored = host.GetStoredPointCount();
        for (std::uint64_t p = options.hideEvery / 2; p < stored; p += options.hideEvery)
        {
            host.SetPointVisible(p, false);
        }
    }
    return cloud;
}

} // namespace orv::Demo

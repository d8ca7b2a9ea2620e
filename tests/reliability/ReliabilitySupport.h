#pragma once

// Fixtures of the stress and fault-injection suites, on top of the shared test clouds and the
// builder test doubles: a provider with the test clouds' four types mapped, an
// order-independent point checksum, and a bit-for-bit image of a host cloud.

#include "provider/PointCloudDataProvider.h"
#include "tests/builder/BuilderTestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace reliability
{

using namespace builder_test;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::IPointDataIterable;

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

inline std::uint64_t Mix(std::uint64_t h, std::uint64_t v)
{
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h * 0xFF51AFD7ED558CCDull;
}

// Everything a cursor of MappedProvider delivers for its point: summed over points, a checksum
// that does not depend on the order of reading.
inline std::uint64_t PointHash(const orv::DataProxy::IPointDataAccessor& point)
{
    const GPointDouble p = point.GetPosition();
    const GVector3 n = point.GetVector3(0).value();
    std::uint64_t h = Mix(point.GetUnsignedInteger(0).value(), point.GetPointIndex());
    for (double d : {p.x, p.y, p.z, n.x, n.y, n.z, point.GetReal(0).value()})
        h = Mix(h, Read<std::uint64_t>(&d));
    return Mix(h, point.GetUnsignedInteger(1).value());
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

// Counts, subsets, types, and per stored point its visibility, coordinates and every element.
inline std::vector<std::uint64_t> Image(const GCloud& cloud)
{
    const std::vector<int> types = cloud.GetExtraDataTypes();
    std::vector<std::uint64_t> image{cloud.GetStoredPointCount(), cloud.GetPointCount(),
                                     cloud.GetSubsetCount()};
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

// Stress sizes: smaller in sanitized builds, overridable for a manual run.
inline std::uint64_t StressSize(std::uint64_t plain, std::uint64_t sanitized)
{
    if (const char* forced = std::getenv("ORV_STRESS_POINTS"))
        return std::strtoull(forced, nullptr, 10);
#ifdef ORV_STRESS_SANITIZED
    return (void)plain, sanitized;
#else
    return (void)sanitized, plain;
#endif
}

} // namespace reliability

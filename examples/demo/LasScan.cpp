#include "examples/demo/LasScan.h"

#include "examples/las/LasReader.h"
#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>

namespace orv::Demo
{

orv::Data::Cloud::PointCloud LoadLasScan(const std::string& path)
{
    using namespace orv::Data::Cloud;
    const Las::LasPoints las = Las::ReadLasFile(path);

    PointCloud cloud;
    GCloud& host = cloud.Convert();
    const std::array<double, 3> origin = las.Size() != 0 ? las.dataMin : std::array<double, 3>{};
    host.SetMatrix({{1, 0, 0, 0, 1, 0, 0, 0, 1, origin[0], origin[1], origin[2]}});

    // Many files store 8-bit colours in the 16-bit fields: scale by what the data uses.
    std::uint16_t brightest = 0;
    for (std::size_t i = 0; las.hasRgb && i < las.Size(); ++i)
    {
        brightest = std::max({brightest, las.r[i], las.g[i], las.b[i]});
    }
    const float scale = brightest <= 255 ? 255.0f : 65535.0f;
    if (las.hasRgb)
    {
        host.SetType(2, 0.0f, 0.0f, nullptr, false);
    }

    orv::Math::Algebra::GPointDouble position{};
    float intensity = 0.0f;
    std::uint8_t classification = 0;
    std::uint32_t source = 0;
    orv::Data::Primitive::ColorValue color;
    GCloudPointData record(&position);
    record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &intensity);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    record.AddExtraData(CloudScanIDExtraData::TypeId(), &source);
    if (las.hasRgb)
    {
        record.AddExtraData(CloudIntensityExtraData::TypeId(), &color);
    }
    for (std::size_t i = 0; i < las.Size(); ++i)
    {
        position = {las.x[i], las.y[i], las.z[i]};
        intensity = las.intensity[i];
        classification = las.classification[i];
        source = las.pointSourceId[i];
        if (las.hasRgb)
        {
            color.SetRGB(las.r[i] / scale, las.g[i] / scale, las.b[i] / scale);
        }
        cloud.AddPoint(record, true);
    }
    return cloud;
}

} // namespace orv::Demo

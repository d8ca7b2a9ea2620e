#include "examples/demo/LasScan.h"

#include "builder/PointCloudDataBuilderFactory.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasDefaultMapping.h"
#include "las/LasPrototype.h"
#include "las/LasReader.h"
#include "provider/PointCloudDataProvider.h"

#include <tuple>

namespace orv::Demo
{

orv::Data::Cloud::PointCloud LoadLasScan(const std::string& path)
{
    using namespace orv::DataProxy::Las;
    using orv::Data::Cloud::PointCloudDataProvider;
    const LasReader reader(path);
    orv::Data::Cloud::PrototypedBuilderFactory factory = LasBuilderFactory(reader.Header());
    LasFieldMap fields = MapDefaultLasFields(factory, reader.Header().HasRgb());
    fields.push_back(
        {ELasField::PointSourceId,
         factory.MapOptionalComponent(orv::DataProxy::EPointDataComponent::UnsignedInteger,
                                      orv::Data::Cloud::CloudScanIDExtraData::TypeId(), 4)});
    const auto built = reader.ReadAll(factory, fields);
    return dynamic_cast<const PointCloudDataProvider&>(*built).GetPointCloud();
}

orv::DataProxy::Las::LasFieldMap LasFieldsOf(const ScanKeys& keys)
{
    using namespace orv::DataProxy::Las;
    using C = orv::DataProxy::EPointDataComponent;
    LasFieldMap fields;
    for (const auto& [field, component, index] :
         {std::tuple{ELasField::Intensity, C::Real, keys.intensity},
          {ELasField::Classification, C::UnsignedInteger, keys.classification},
          {ELasField::PointSourceId, C::UnsignedInteger, keys.scanId},
          {ELasField::Rgb, C::Color, keys.color}})
        if (index)
            fields.push_back({field, {component, *index}});
    return fields;
}

} // namespace orv::Demo

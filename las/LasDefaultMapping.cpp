#include "las/LasDefaultMapping.h"

#include "host/geometry/ExtraDataTypes.h"

namespace orv::DataProxy::Las
{

LasFieldMap MapDefaultLasFields(orv::Data::Cloud::PointCloudDataBuilderFactory& factory, bool color,
                                bool recordNumbers)
{
    using namespace orv::Data::Cloud;
    using C = orv::DataProxy::EPointDataComponent;
    LasFieldMap fields{
        {ELasField::Intensity,
         factory.MapOptionalComponent(C::Real, CloudIntensityNewExtraData::TypeId(), 4)},
        {ELasField::Classification,
         factory.MapOptionalComponent(C::UnsignedInteger, CloudClassificationExtraData::TypeId(),
                                      1)},
    };
    if (color)
        fields.push_back({ELasField::Rgb, factory.MapOptionalComponent(
                                              C::Color, CloudIntensityExtraData::TypeId(), 4)});
    if (recordNumbers)
        fields.push_back({ELasField::RecordNumber,
                          factory.MapOptionalComponent(
                              C::UnsignedInteger, CloudGridPositionIndexExtraData::TypeId(), 4)});
    return fields;
}

} // namespace orv::DataProxy::Las

#include "las/LasDefaultMapping.h"

#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>

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

std::size_t MapLasExtraBytes(orv::Data::Cloud::PointCloudDataBuilderFactory& factory,
                             const LasHeader& header, LasFieldMap& fields)
{
    using namespace orv::Data::Cloud;
    using C = orv::DataProxy::EPointDataComponent;
    struct Type
    {
        int id;
        std::uint64_t width;
    };
    const Type classification{CloudClassificationExtraData::TypeId(), 1};
    const Type instance{CloudClassificationInstanceExtraData::TypeId(), 2};
    const Type segment{CloudSegmentationExtraData::TypeId(), 4};
    const Type statistic{CloudImprovementStatsExtraData::TypeId(), 4};
    const auto taken = [&](int id)
    {
        const auto& types = factory.mapping.extraDataTypeByKey;
        return std::any_of(types.begin(), types.end(),
                           [&](const auto& entry) { return entry.second == id; });
    };
    std::size_t mapped = 0;
    for (std::size_t d = 0; d < header.extraBytes.size() && d < 256; ++d)
    {
        const LasExtraBytesDimension& dimension = header.extraBytes[d];
        if (dimension.scale != 1.0 || dimension.offset != 0.0)
        {
            continue;
        }
        // The host types that may take the dimension, in order of preference.
        Type row[3]{};
        std::size_t types = 0;
        C component = C::UnsignedInteger;
        switch (static_cast<ELasExtraBytesType>(dimension.dataType))
        {
        case ELasExtraBytesType::U8:
            row[types++] = classification;
            [[fallthrough]];
        case ELasExtraBytesType::U16:
            row[types++] = instance;
            [[fallthrough]];
        case ELasExtraBytesType::U32:
            row[types++] = segment;
            break;
        case ELasExtraBytesType::I8:
        case ELasExtraBytesType::I16:
        case ELasExtraBytesType::F32:
            row[types++] = statistic;
            component = C::Real;
            break;
        default:
            continue;
        }
        const Type* const free =
            std::find_if(row, row + types, [&](const Type& type) { return !taken(type.id); });
        if (free == row + types)
        {
            continue;
        }
        fields.push_back({ELasField::ExtraBytes,
                          factory.MapOptionalComponent(component, free->id, free->width),
                          static_cast<std::uint8_t>(d)});
        ++mapped;
    }
    return mapped;
}

} // namespace orv::DataProxy::Las

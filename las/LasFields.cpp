#include "las/LasFields.h"

#include "las/internal/LasRecordLayout.h"

#include <string>

namespace orv::DataProxy::Las
{

LasError::~LasError() = default;

bool CanCarry(ELasField field, orv::DataProxy::EPointDataComponent component) noexcept
{
    using C = orv::DataProxy::EPointDataComponent;
    switch (field)
    {
    case ELasField::ScanAngle:
    case ELasField::GpsTime:
        return component == C::Real;
    case ELasField::Rgb:
        return component == C::Color;
    case ELasField::Intensity:
    case ELasField::ReturnNumber:
    case ELasField::NumberOfReturns:
    case ELasField::Classification:
    case ELasField::UserData:
    case ELasField::PointSourceId:
    case ELasField::Nir:
    case ELasField::ClassificationFlags:
    case ELasField::ScannerChannel:
    case ELasField::ScanDirection:
    case ELasField::EdgeOfFlightLine:
    case ELasField::RecordNumber:
    case ELasField::ExtraBytes:
        return component == C::UnsignedInteger || component == C::SignedInteger ||
               component == C::Real;
    }
    return false;
}

const char* FieldName(ELasField field) noexcept
{
    switch (field)
    {
    case ELasField::Intensity:
        return "intensity";
    case ELasField::ReturnNumber:
        return "return number";
    case ELasField::NumberOfReturns:
        return "number of returns";
    case ELasField::Classification:
        return "classification";
    case ELasField::ScanAngle:
        return "scan angle";
    case ELasField::UserData:
        return "user data";
    case ELasField::PointSourceId:
        return "point source id";
    case ELasField::GpsTime:
        return "GPS time";
    case ELasField::Rgb:
        return "RGB";
    case ELasField::Nir:
        return "NIR";
    case ELasField::ClassificationFlags:
        return "classification flags";
    case ELasField::ScannerChannel:
        return "scanner channel";
    case ELasField::ScanDirection:
        return "scan direction";
    case ELasField::EdgeOfFlightLine:
        return "edge of flight line";
    case ELasField::RecordNumber:
        return "record number";
    case ELasField::ExtraBytes:
        return "extra bytes";
    }
    return "unknown field";
}

namespace Detail
{

void CheckFieldMap(const LasFieldMap& fields, bool uniqueKeys)
{
    for (auto a = fields.begin(); a != fields.end(); ++a)
    {
        const unsigned component = static_cast<unsigned>(a->key.component);
        if (!CanCarry(a->field, a->key.component))
            throw std::invalid_argument(std::string("LAS field \"") + FieldName(a->field) +
                                        "\" cannot be carried by a key of component " +
                                        std::to_string(component));
        for (auto b = fields.begin(); b != a; ++b)
        {
            if (uniqueKeys && b->key == a->key)
                throw std::invalid_argument("key (" + std::to_string(component) + ", " +
                                            std::to_string(unsigned{a->key.index}) +
                                            ") would carry two LAS fields");
            if (!uniqueKeys && b->field == a->field && a->field != ELasField::ExtraBytes)
                throw std::invalid_argument(std::string("LAS field \"") + FieldName(a->field) +
                                            "\" is mapped twice");
        }
    }
}

} // namespace Detail

} // namespace orv::DataProxy::Las

#include "tests/host/FactoryProbe.h"

namespace probe
{

int TypeIdOfSharedProduct()
{
    return orv::General::IFactory::GetInstance().GetTypeId(typeid(SharedProduct));
}

const std::type_info& TypeInfoOfSharedProduct()
{
    return typeid(SharedProduct);
}

const orv::General::IFactory* FactorySeenByProbe()
{
    return &orv::General::IFactory::GetInstance();
}

} // namespace probe

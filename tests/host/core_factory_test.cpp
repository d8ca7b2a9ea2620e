#include "host/core/Factory.h"
#include "tests/host/core_factory_probe.h"

#include <gtest/gtest.h>

#include <iostream>

using orv::General::IFactory;

namespace
{

struct First
{
};
struct Second
{
};

TEST(HostFactory, IdsArePositiveStableAndDistinctAndRequestsAreCounted)
{
    IFactory& factory = IFactory::GetInstance();
    EXPECT_EQ(&factory, &IFactory::GetInstance());
    EXPECT_EQ(factory.GetRequestCount(typeid(First)), 0u);

    const int first = factory.GetTypeId(typeid(First));
    const int second = factory.GetTypeId(typeid(Second));
    EXPECT_GE(first, 1);
    EXPECT_GE(second, 1);
    EXPECT_NE(first, second);
    EXPECT_EQ(factory.GetTypeId(typeid(First)), first);
    EXPECT_EQ(factory.GetRequestCount(typeid(First)), 2u);
    EXPECT_EQ(factory.GetRequestCount(typeid(Second)), 1u);
}

TEST(HostFactory, TwoSharedLibrariesGetOneIdForOneClass)
{
    const std::type_info& ours = typeid(probe::SharedProduct);
    if (&ours == &probe::TypeInfoOfSharedProduct())
        std::cout << "note: both libraries share one type_info object here\n";

    EXPECT_EQ(probe::FactorySeenByProbe(), &IFactory::GetInstance());
    IFactory& factory = IFactory::GetInstance();
    const uint64_t asked = factory.GetRequestCount(ours);
    const int fromProbe = probe::TypeIdOfSharedProduct();
    EXPECT_EQ(factory.GetTypeId(ours), fromProbe);
    EXPECT_EQ(factory.GetRequestCount(ours), asked + 2);
}

} // namespace

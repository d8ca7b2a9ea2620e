#include "host/core/Factory.h"
#include "tests/host/FactoryProbe.h"

#include <gtest/gtest.h>

#include <iostream>

using orv::General::IFactory;

namespace
{

struct First
{
};

// Ids are stable and counted; two shared libraries get one id for one class.
TEST(HostFactory, TypeIds)
{
    IFactory& factory = IFactory::GetInstance();
    EXPECT_EQ(factory.GetRequestCount(typeid(First)), 0u);
    const int first = factory.GetTypeId(typeid(First));
    EXPECT_TRUE(first >= 1 && factory.GetTypeId(typeid(First)) == first);
    EXPECT_EQ(factory.GetRequestCount(typeid(First)), 2u);

    const std::type_info& ours = typeid(probe::SharedProduct);
    if (&ours == &probe::TypeInfoOfSharedProduct())
        std::cout << "note: both libraries share one type_info object here\n";
    EXPECT_EQ(probe::FactorySeenByProbe(), &factory);
    const int fromProbe = probe::TypeIdOfSharedProduct();
    EXPECT_NE(fromProbe, first);
    EXPECT_EQ(factory.GetTypeId(ours), fromProbe);
    EXPECT_EQ(factory.GetRequestCount(ours), 2u);
}

} // namespace

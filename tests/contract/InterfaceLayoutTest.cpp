// Clients call the contract's operations by their virtual-table slot, so the declaration
// order of every interface is part of the binary interface. This test reads the slot of
// each operation from its pointer-to-member (Itanium C++ ABI: a virtual member pointer
// holds 1 + the slot's byte offset) and fails when an operation is moved, added or
// removed.

#include "contract/Interfaces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace dp = orv::DataProxy;

#if defined(__GNUC__) && !defined(_WIN32)

namespace
{

template <class Pmf>
std::ptrdiff_t SlotOf(Pmf pmf)
{
    struct Raw
    {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } raw{};
    static_assert(sizeof(Pmf) == sizeof(Raw), "Itanium member pointer layout expected");
    std::memcpy(&raw, &pmf, sizeof raw);
    if ((raw.ptr & 1u) == 0)
    {
        return -1; // not virtual
    }
    return static_cast<std::ptrdiff_t>((raw.ptr - 1) / sizeof(void*));
}

// The virtual destructor takes the first two slots (complete and deleting destructor);
// the operations follow in declaration order.
template <class... Pmfs>
std::vector<std::ptrdiff_t> Slots(Pmfs... pmfs)
{
    return {SlotOf(pmfs)...};
}

std::vector<std::ptrdiff_t> Expected(std::ptrdiff_t first, std::ptrdiff_t count)
{
    std::vector<std::ptrdiff_t> slots;
    for (std::ptrdiff_t i = 0; i < count; ++i)
    {
        slots.push_back(first + i);
    }
    return slots;
}

} // namespace

TEST(InterfaceLayout, AccessorAndCursorFollowTheComponentOrder)
{
    EXPECT_EQ(Slots(&dp::IPointDataAccessor::GetPosition, &dp::IPointDataAccessor::GetPointIndex,
                    &dp::IPointDataAccessor::GetVector3,
                    &dp::IPointDataAccessor::GetUnsignedInteger,
                    &dp::IPointDataAccessor::GetSignedInteger, &dp::IPointDataAccessor::GetReal,
                    &dp::IPointDataAccessor::GetColor),
              Expected(2, 7));
    EXPECT_EQ(Slots(&dp::IPointDataCursor::MoveNext, &dp::IPointDataCursor::IsValid),
              Expected(9, 2));
}

TEST(InterfaceLayout, ProvidersIterablesBuildersAndFactories)
{
    EXPECT_EQ(Slots(&dp::IPointDataProvider::GetIterable, &dp::IPointDataProvider::HasComponent),
              Expected(2, 2));
    EXPECT_EQ(Slots(&dp::IBoundingBoxProvider::GetBoundingBox), Expected(2, 1));
    EXPECT_EQ(Slots(&dp::ISizedCollection::Size), Expected(2, 1));
    EXPECT_EQ(Slots(&dp::IPointDataIterable::CreateCursor, &dp::IPointDataIterable::IsEmpty,
                    &dp::IPointDataIterable::IsDivisible, &dp::IPointDataIterable::Split),
              Expected(2, 4));
    EXPECT_EQ(Slots(&dp::IPointDataBuilder::Reserve, &dp::IPointDataBuilder::AddPointData,
                    &dp::IPointDataBuilder::GetResult),
              Expected(2, 3));
    EXPECT_EQ(Slots(&dp::IPointDataBuilderFactory::CreatePointDataBuilder), Expected(2, 1));
}

TEST(InterfaceLayout, ConsumerHintAndQueries)
{
    // The library calls the consumer's second operation and the hint's third.
    EXPECT_EQ(Slots(&dp::IPointDataConsumer::IsComponentRequested), Expected(2, 1));
    EXPECT_EQ(Slots(&dp::IPointDataSplitHint::GetConcurrency,
                    &dp::IPointDataSplitHint::GetMinimumPieceSize),
              Expected(2, 2));
    EXPECT_EQ(Slots(&dp::IQueryablePointData<dp::InsideAxisAlignedBoxQuery>::GetPoints),
              Expected(2, 1));
    EXPECT_EQ(Slots(&dp::IQueryablePointData<dp::InsideCylinderQuery>::GetPoints), Expected(2, 1));
    EXPECT_EQ(Slots(&dp::IQueryablePointData<dp::InsideSphereQuery>::GetPoints), Expected(2, 1));
    EXPECT_EQ(Slots(&dp::IQueryablePointData<dp::ClippingPlanesQuery>::GetPoints), Expected(2, 1));
}

#endif

TEST(InterfaceLayout, RecordsArePlainDoubles)
{
    EXPECT_EQ(sizeof(dp::IBoundingBoxProvider::AxisAlignedBoundingBox), 6 * sizeof(double));
    EXPECT_EQ(sizeof(dp::RgbaColor), 4 * sizeof(double));
    EXPECT_EQ(sizeof(dp::InsideAxisAlignedBoxQuery), 6 * sizeof(double));
    EXPECT_EQ(sizeof(dp::InsideSphereQuery), 4 * sizeof(double));
    EXPECT_EQ(sizeof(dp::InsideCylinderQuery), 8 * sizeof(double));
    EXPECT_EQ(sizeof(dp::ClippingPlane), 4 * sizeof(double));
    EXPECT_EQ(sizeof(orv::DataProxy::PointDataComponents::ComponentKey), 2u);
}

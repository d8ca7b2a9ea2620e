// Clients call the contract's operations by their virtual-table slot, so the declaration
// order of every interface is part of the binary interface. This test reads the slot of
// each operation from its pointer-to-member (Itanium C++ ABI: a virtual member pointer
// holds 1 + the slot's byte offset) and fails when an operation is moved, added or
// removed. The same holds for the host's policy interface, which the library implements, and
// for the order of the provider's bases.

#include "contract/Interfaces.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "provider/PointCloudDataProvider.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace dp = orv::DataProxy;
namespace ed = orv::Data::ExtraData::Details;

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
    return (raw.ptr & 1u) == 0 ? -1
                               : std::ptrdiff_t((raw.ptr - 1) / sizeof(void*)); // -1: not virtual
}

// The slots of the given operations must be consecutive from 2: the virtual destructor takes
// the first two (complete and deleting destructor), the operations follow in declaration order.
template <class... Pmfs>
void ExpectInOrder(Pmfs... pmfs)
{
    const std::vector<std::ptrdiff_t> slots{SlotOf(pmfs)...};
    for (std::size_t i = 0; i < slots.size(); ++i)
        EXPECT_EQ(slots[i], std::ptrdiff_t(2 + i)) << "operation " << i;
}

} // namespace

TEST(InterfaceLayout, OperationOrder)
{
    ExpectInOrder(&dp::IPointDataAccessor::GetPosition, &dp::IPointDataAccessor::GetPointIndex,
                  &dp::IPointDataAccessor::GetVector3, &dp::IPointDataAccessor::GetUnsignedInteger,
                  &dp::IPointDataAccessor::GetSignedInteger, &dp::IPointDataAccessor::GetReal,
                  &dp::IPointDataAccessor::GetColor, &dp::IPointDataCursor::MoveNext,
                  &dp::IPointDataCursor::IsValid);
    ExpectInOrder(&dp::IPointDataProvider::GetIterable, &dp::IPointDataProvider::HasComponent);
    ExpectInOrder(&dp::IBoundingBoxProvider::GetBoundingBox);
    ExpectInOrder(&dp::ISizedCollection::Size);
    ExpectInOrder(&dp::IPointDataIterable::CreateCursor, &dp::IPointDataIterable::IsEmpty,
                  &dp::IPointDataIterable::IsDivisible, &dp::IPointDataIterable::Split);
    ExpectInOrder(&dp::IPointDataBuilder::Reserve, &dp::IPointDataBuilder::AddPointData,
                  &dp::IPointDataBuilder::GetResult);
    ExpectInOrder(&dp::IPointDataBuilderFactory::CreatePointDataBuilder);
    // The library calls the consumer's second slot and the hint's third.
    ExpectInOrder(&dp::IPointDataConsumer::IsComponentRequested);
    ExpectInOrder(&dp::IPointDataSplitHint::GetConcurrency,
                  &dp::IPointDataSplitHint::GetMinimumPieceSize);
    ExpectInOrder(&dp::IQueryablePointData<dp::InsideAxisAlignedBoxQuery>::GetPoints);
    ExpectInOrder(&dp::IQueryablePointData<dp::InsideCylinderQuery>::GetPoints);
    ExpectInOrder(&dp::IQueryablePointData<dp::InsideSphereQuery>::GetPoints);
    ExpectInOrder(&dp::IQueryablePointData<dp::ClippingPlanesQuery>::GetPoints);
}

// The host calls the library's policies by slot too: the seventeen element operations of the
// root, then the two conversions of each value type.
TEST(InterfaceLayout, PolicyOperationOrder)
{
    using Root = ed::ICloudExtraDataPolicy;
    using Conversion = ed::ICloudExtraDataConversionPolicy<double>;
    ExpectInOrder(&Root::GetTypeFlagA, &Root::GetTypeValueA, &Root::GetTypeValueB,
                  &Root::GetTypeName, &Root::GetElementSize, &Root::TransformElement,
                  &Root::GetTypeFlagB, &Root::GetTypeFlagC, &Root::SetElement, &Root::AddElement,
                  &Root::AddDefaultElement, &Root::ResetElement, &Root::InitElement,
                  &Root::ResetAllElements, &Root::VisitAllElements, &Root::GetElement,
                  &Root::AreEqual, &Conversion::GetValue, &Conversion::SetValue);
}

#endif

// Clients reach the provider through each of its interfaces: the bases keep their declaration
// order, the first one primary, each of them one virtual-table pointer.
TEST(InterfaceLayout, ProviderBaseOrder)
{
    const orv::Data::Cloud::PointCloudDataProvider provider(orv::Data::Cloud::PointCloud{});
    const auto offset = [&provider](const void* base)
    { return static_cast<const char*>(base) - reinterpret_cast<const char*>(&provider); };
    const std::ptrdiff_t offsets[] = {
        offset(static_cast<const dp::IPointDataProvider*>(&provider)),
        offset(static_cast<const dp::IBoundingBoxProvider*>(&provider)),
        offset(static_cast<const dp::ISizedCollection*>(&provider)),
        offset(
            static_cast<const dp::IQueryablePointData<dp::InsideAxisAlignedBoxQuery>*>(&provider)),
        offset(static_cast<const dp::IQueryablePointData<dp::InsideCylinderQuery>*>(&provider)),
        offset(static_cast<const dp::IQueryablePointData<dp::InsideSphereQuery>*>(&provider)),
        offset(static_cast<const dp::IQueryablePointData<dp::ClippingPlanesQuery>*>(&provider))};
    for (std::size_t i = 0; i < std::size(offsets); ++i)
        EXPECT_EQ(offsets[i], std::ptrdiff_t(i * sizeof(void*))) << "base " << i;
}

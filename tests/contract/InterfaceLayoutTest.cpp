// Clients call the contract's operations by their virtual-table slot, so the declaration
// order of every interface is part of the binary interface. This test reads the slot of
// each operation from its pointer-to-member (Itanium C++ ABI: a virtual member pointer
// holds 1 + the slot's byte offset) and fails when an operation is moved, added or
// removed. The same holds for the host's policy interface, which the library implements, for
// the order of the provider's bases, and for the size and member offsets of the exported
// classes that clients construct in their own storage.

#include "builder/PointCloudDataBuilderFactory.h"
#include "contract/Interfaces.h"
#include "helpers/PointDataHelpers.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "provider/PointCloudDataProvider.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <unordered_map>
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

namespace
{

namespace oc = orv::Data::Cloud;
using Key = dp::PointDataComponents::ComponentKey;
using KeyHash = dp::PointDataComponents::ComponentKeyHash;

// The state of a builder is reached through a private member: its pointer-to-member is taken in
// an explicit instantiation, where access is not checked.
struct BuilderStateMember
{
    using Type = std::unique_ptr<oc::BuilderState> oc::PointCloudDataBuilder::*;
    friend Type Get(BuilderStateMember);
};
template <class Tag, typename Tag::Type Member>
struct Expose
{
    friend typename Tag::Type Get(Tag) { return Member; }
};
template struct Expose<BuilderStateMember, &oc::PointCloudDataBuilder::state>;

// A client's own declarations of the exported classes, member for member as documented.
struct MappingMirror
{
    std::unordered_map<Key, std::int32_t, KeyHash> extraDataTypeByKey;
    std::unordered_map<dp::EPointDataComponent, std::uint8_t> nextIndexByComponent;
};

struct FactoryMirror : dp::IPointDataBuilderFactory
{
    std::shared_ptr<dp::IPointDataBuilder>
    CreatePointDataBuilder(const dp::IPointDataConsumer&) const override
    {
        return nullptr;
    }
    MappingMirror mapping;
    std::unordered_map<Key, std::uint64_t, KeyHash> storageWidthByKey;
};

struct BuilderMirror : dp::IPointDataBuilder
{
    struct State
    {
    };
    void Reserve(std::uint64_t) override {}
    void AddPointData(const dp::IPointDataAccessor&) override {}
    std::shared_ptr<dp::IPointDataProvider> GetResult() override { return nullptr; }
    std::unique_ptr<State> state;
};

template <class Object, class Part>
std::ptrdiff_t OffsetOf(const Object& object, const Part& part)
{
    return reinterpret_cast<const char*>(&part) - reinterpret_cast<const char*>(&object);
}

} // namespace

// Clients construct the exported classes in their own storage (on the stack, as members) from
// their own declarations: sizes, base offsets and member offsets must be what those
// declarations give, or the library writes past the client's object.
TEST(InterfaceLayout, ExportedClassesAsDeclared)
{
    const oc::ComponentMapping mapping;
    const MappingMirror mappingMirror;
    EXPECT_EQ(sizeof mapping, sizeof mappingMirror);
    EXPECT_EQ(OffsetOf(mapping, mapping.extraDataTypeByKey),
              OffsetOf(mappingMirror, mappingMirror.extraDataTypeByKey));
    EXPECT_EQ(OffsetOf(mapping, mapping.nextIndexByComponent),
              OffsetOf(mappingMirror, mappingMirror.nextIndexByComponent));

    const oc::PointCloudDataBuilderFactory factory;
    const FactoryMirror factoryMirror;
    EXPECT_EQ(sizeof factory, sizeof factoryMirror);
    EXPECT_EQ(
        OffsetOf(factory, static_cast<const dp::IPointDataBuilderFactory&>(factory)),
        OffsetOf(factoryMirror, static_cast<const dp::IPointDataBuilderFactory&>(factoryMirror)));
    EXPECT_EQ(OffsetOf(factory, factory.mapping), OffsetOf(factoryMirror, factoryMirror.mapping));
    EXPECT_EQ(OffsetOf(factory, factory.storageWidthByKey),
              OffsetOf(factoryMirror, factoryMirror.storageWidthByKey));

    const dp::WantAll consumer;
    const oc::PointCloudDataBuilder builder(consumer, mapping, {});
    const BuilderMirror builderMirror;
    EXPECT_EQ(sizeof builder, sizeof builderMirror);
    EXPECT_EQ(OffsetOf(builder, static_cast<const dp::IPointDataBuilder&>(builder)),
              OffsetOf(builderMirror, static_cast<const dp::IPointDataBuilder&>(builderMirror)));
    EXPECT_EQ(OffsetOf(builder, builder.*Get(BuilderStateMember{})),
              OffsetOf(builderMirror, builderMirror.state));
}

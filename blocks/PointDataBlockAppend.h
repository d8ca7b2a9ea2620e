#pragma once

#include "blocks/PointDataBlocks.h"
#include "builder/PointCloudDataBuilder.h"
#include "contract/Interfaces.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>

// Block appends: the mirror of ForEachBlock. AppendBlock hands a builder the points of a
// block (the same block type reads fill) and stores exactly what AddPointData would store for
// them, one by one, through an accessor standing on each point in turn: the block's positions,
// its point indices (the position in the block when it has none), and for each key the
// column's value where present, no value where absent or where the block has no column.
//
// This library's builder takes whole blocks (PointCloudDataBuilder::AppendBlock, found with
// dynamic_cast: its exported layout has no room for another interface); any other builder gets
// one AddPointData per point through a PointDataBlockAccessor.
//
// A block of one's own points is made from a layout and filled through its writing side:
//
//   PointDataBlock block(PointDataBlockLayout{true, false, {{EPointDataComponent::Real, 0}}});
//   const auto intensity = block.MutableColumn<EPointDataComponent::Real>(0);
//   for (std::size_t i = 0; i < n; ++i)   // n <= kPointDataBlockCapacity
//   {
//       block.MutableX()[i] = x[i];       // and Y, Z
//       intensity.Set(i, values[i]);      // or intensity.SetAbsent(i)
//   }
//   block.SetSize(n);
//   AppendBlock(builder, block);

namespace orv::DataProxy
{

// An accessor standing on point `at` of a block. GetPosition throws std::out_of_range when
// the block carries no positions (as a cursor does for a consumer that did not request them).
class PointDataBlockAccessor final : public ComponentValueAccessor<PointDataBlockAccessor>
{
public:
    explicit PointDataBlockAccessor(const PointDataBlock& blockToRead) : block(blockToRead) {}

    std::size_t at = 0;

    GPointDouble GetPosition() const override
    {
        if (!block.HasPositions())
        {
            throw std::out_of_range("GetPosition: the block carries no positions");
        }
        return GPointDouble{block.X()[at], block.Y()[at], block.Z()[at]};
    }
    std::uint64_t GetPointIndex() const override
    {
        return block.PointIndices() != nullptr ? block.PointIndices()[at] : at;
    }

private:
    friend class ComponentValueAccessor<PointDataBlockAccessor>;

    template <EPointDataComponent C>
    std::optional<typename ComponentValue<C>::Type> Value(unsigned char index) const
    {
        return block.Column<C>(index).At(at);
    }

    const PointDataBlock& block;
};

// Appends the block's points to `builder` (see above). Exceptions of the builder pass through;
// the points before the one that failed stay appended, as with AddPointData.
inline void AppendBlock(IPointDataBuilder& builder, const PointDataBlock& block)
{
    if (auto* native = dynamic_cast<orv::Data::Cloud::PointCloudDataBuilder*>(&builder))
    {
        native->AppendBlock(block);
        return;
    }
    PointDataBlockAccessor point(block);
    for (point.at = 0; point.at < block.Size(); ++point.at)
    {
        builder.AddPointData(point);
    }
}

} // namespace orv::DataProxy

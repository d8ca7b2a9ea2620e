#include "provider/internal/PointCloudDataIterable.h"

#include "provider/internal/PointCloudDataBlocks.h"
#include "provider/internal/PointCloudDataCursor.h"

namespace orv::Data::Cloud
{

PointCloudDataIterable::PointCloudDataIterable(const PointCloud& source,
                                               const ComponentMapping* mappingIn,
                                               const orv::DataProxy::IPointDataConsumer* consumerIn)
    : begin(0), end(source.GetPointCount()), cloud(source), mapping(mappingIn), consumer(consumerIn)
{
}

std::shared_ptr<orv::DataProxy::IPointDataCursor> PointCloudDataIterable::CreateCursor() const
{
    return std::make_shared<PointCloudDataCursor>(*consumer, cloud, *mapping, begin, end);
}

std::unique_ptr<orv::DataProxy::IPointDataBlockReader>
PointCloudDataIterable::CreateBlockReader(const orv::DataProxy::IPointDataConsumer& narrowing) const
{
    return std::make_unique<PointCloudDataBlockReader>(*this, narrowing);
}

bool PointCloudDataIterable::IsEmpty() const
{
    return begin == end;
}

bool PointCloudDataIterable::IsDivisible(const orv::DataProxy::IPointDataSplitHint& hint) const
{
    const std::uint64_t minimumPiece = hint.GetMinimumPieceSize();
    if (minimumPiece == 0)
    {
        return false;
    }
    // end > begin + 2n, compared without forming 2n or begin + 2n, which may wrap.
    const std::uint64_t size = end - begin;
    return minimumPiece < size && size - minimumPiece > minimumPiece;
}

std::unique_ptr<orv::DataProxy::IPointDataIterable> PointCloudDataIterable::Split()
{
    auto upper = std::make_unique<PointCloudDataIterable>(cloud, mapping, consumer);
    const std::uint64_t mid = begin + (end - begin) / 2;
    upper->begin = mid;
    upper->end = end;
    end = mid;
    return upper;
}

} // namespace orv::Data::Cloud

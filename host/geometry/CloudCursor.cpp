#include "host/geometry/CloudCursor.h"

#include "host/geometry/internal/CloudSubset.h"

namespace orv::Data::Cloud
{

using orv::Collection::LightTableOfBit;
using orv::Collection::TableCluster;

CloudCursorInfo::CloudCursorInfo(const GCloud& cloud)
    : m_cloud(&cloud), m_matrix(cloud.GetMatrix()), m_inverse(cloud.GetInverseMatrix())
{
}

CloudCursorBase<1>::CloudCursorBase(const GCloud& cloud, uint64_t startOrdinal)
    : CloudCursorInfo(cloud)
{
    if (startOrdinal >= cloud.GetPointCount())
    {
        EnterEnd();
        return;
    }
    // The subset holding the ordinal is the last one whose first ordinal is <= startOrdinal:
    // the next one starts above it, so that subset's range of ordinals is not empty.
    uint32_t lo = 0;
    uint32_t hi = cloud.GetSubsetCount(); // invariant: the subset is in [lo, hi)
    while (hi - lo > 1)
    {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (cloud.GetSubsetFirstOrdinal(mid) <= startOrdinal)
            lo = mid;
        else
            hi = mid;
    }
    const CloudSubset* sub = cloud.GetSubset(lo);
    uint64_t skip = startOrdinal - cloud.GetSubsetFirstOrdinal(lo);
    uint32_t local = static_cast<uint32_t>(skip);
    if (sub->filter != nullptr)
    {
        local = sub->filter->FindNextSet(0);
        for (; skip != 0; --skip)
            local = sub->filter->FindNextSet(local + 1);
    }
    EnterSubset(lo, local, startOrdinal);
}

void CloudCursorBase<1>::EnterSubset(uint32_t subset, uint32_t localIndex, uint64_t ordinal)
{
    const CloudSubset* sub = m_cloud->GetSubset(subset);
    m_subset = subset;
    m_current = sub;
    m_subsetNumber = sub->StoredCount();
    m_coordinates = &sub->coordinates;
    m_filter = sub->filter.get();
    m_filterIt = m_filter != nullptr ? LightTableOfBit::Iterator(m_filter, localIndex)
                                     : LightTableOfBit::Iterator();
    m_localIndex = localIndex;
    m_subsetBase = uint64_t(subset) * m_cloud->GetSubsetCapacity();
    m_plainEnd = m_filter != nullptr ? 0 : m_subsetNumber;
    m_ordinal = ordinal;
}

void CloudCursorBase<1>::EnterEnd()
{
    m_ordinal = m_cloud->GetPointCount();
    m_localIndex = 0;
    m_subsetBase = m_cloud->GetStoredPointCount();
    m_plainEnd = 0;
    m_subset = m_cloud->GetSubsetCount();
    m_subsetNumber = 0;
    m_current = nullptr;
    m_coordinates = nullptr;
    m_filter = nullptr;
    m_filterIt = LightTableOfBit::Iterator();
}

void CloudCursorBase<1>::MoveNextSubset()
{
    const uint32_t count = m_cloud->GetSubsetCount();
    for (uint32_t s = m_current != nullptr ? m_subset + 1 : count; s < count; ++s)
    {
        const CloudSubset* sub = m_cloud->GetSubset(s);
        if (sub->visible == 0)
            continue;
        const uint32_t local = sub->filter != nullptr ? sub->filter->FindNextSet(0) : 0;
        EnterSubset(s, local, m_cloud->GetSubsetFirstOrdinal(s));
        return;
    }
    EnterEnd();
}

TableCluster::Iterator CloudCursorBase<1>::GetExtraDataIterator(int typeId,
                                                                uint64_t localIndex) const
{
    if (m_current == nullptr)
        return TableCluster::Iterator();
    const TableCluster* table = m_current->FindTable(typeId);
    return table != nullptr ? TableCluster::Iterator(table, localIndex) : TableCluster::Iterator();
}

} // namespace orv::Data::Cloud

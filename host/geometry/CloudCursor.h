#pragma once

#include "host/core/LightTableOfBit.h"
#include "host/core/TableCluster.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/GeometryExport.h"

#include <cstdint>

// Cursors over a GCloud.
//
// A cursor visits the visible points in storage order. It tracks three counters: the ordinal
// (visible points before the current one in the whole cloud), the local index (position of
// the current point in its subset, hidden points included) and the point index (storage
// position in the whole cloud, hidden points included). A subset with hidden points has a
// filter (its bit table of visible points); the cursor then steps from visible point to
// visible point with the filter's iterator. This host tracks no patch, stripe or tile
// attributes, so a cursor has no attribute cursors.
//
// End state: past the last visible point a cursor has ordinal = the cloud's point count,
// point index = its stored point count, local index 0, no subset (GetSubsetNumber() 0, no
// coordinate table, no filter, default element iterators). Step and MoveNextSubset keep it
// there.
//
// Lifetime and threads: a cursor borrows the cloud, which must outlive it and must not be
// written while the cursor is used. Any number of cursors may read one cloud on several
// threads; one cursor is used by one thread at a time.

namespace orv::Data::Cloud
{

class CloudSubset;

// What extra-data policies see of the point being read: the cursor's frame (local to world)
// and its inverse, and the cloud. The frame is the cloud's at the cursor's construction.
class ORV_GEOMETRY_API CloudCursorInfo
{
public:
    explicit CloudCursorInfo(const GCloud& cloud);

    const Matrix3x4& GetMatrix() const { return m_matrix; }
    const Matrix3x4& GetInverseMatrix() const { return m_inverse; }
    const GCloud& GetCloud() const { return *m_cloud; }

protected:
    const GCloud* m_cloud;
    Matrix3x4 m_matrix;
    Matrix3x4 m_inverse;
};

template <int N>
class CloudCursorBase;

template <>
class ORV_GEOMETRY_API CloudCursorBase<1> : public CloudCursorInfo
{
public:
    struct StepResult
    {
        bool subsetChanged;
        uint64_t step;
    };

    // Stands on the first visible point whose ordinal is >= startOrdinal (the end state when
    // there is none).
    CloudCursorBase(const GCloud& cloud, uint64_t startOrdinal);

    uint64_t GetOrdinal() const { return m_ordinal; }
    uint64_t GetLocalIndex() const { return m_localIndex; }
    uint64_t GetPointIndex() const { return m_subsetBase + m_localIndex; }
    uint32_t GetSubsetIndex() const { return m_subset; }
    bool IsAtEnd() const { return m_current == nullptr; }

    bool HasSubsetFilter() const { return m_filter != nullptr; }
    const orv::Collection::LightTableOfBit* GetSubsetBitTable() const { return m_filter; }
    // The filter's iterator, on the current local index (default when there is no filter).
    orv::Collection::LightTableOfBit::Iterator& GetSubsetFilterIterator() { return m_filterIt; }

    // Stored points (hidden ones included) of the current subset; 0 in the end state.
    uint32_t GetSubsetNumber() const { return m_subsetNumber; }

    // Moves to the first visible point of the next subset that has one (the end state when
    // none is left). The ordinal follows: it becomes that point's ordinal, so a direct call
    // skips the rest of the current subset.
    void MoveNextSubset();

    // Iterator on the element of `typeId` at `localIndex` in the current subset; a default
    // iterator (reads as "at the end of its buffer": no value) when the subset has no table of
    // that type or in the end state.
    orv::Collection::TableCluster::Iterator GetExtraDataIterator(int typeId,
                                                                 uint64_t localIndex) const;

    // The current subset's positions (three floats per point, local frame), or null at the end.
    const orv::Collection::TableCluster* GetCoordinateTable() const { return m_coordinates; }

    // One visible point on. The ordinal grows by one. With a filter, the filter's iterator
    // gives the distance d to the next visible point of the subset: local and point index grow
    // by d and the result is (false, d); with none left, the cursor moves to the first visible
    // point of the next subset (the point index follows) and the result is (true, 0).
    // Without a filter local and point index grow by one; the result is (false, 1), or
    // (true, 0) with a move to the next subset when the subset is used up.
    // Called once per point: inline; only the filter's search and the subset change leave the
    // header.
    StepResult Step()
    {
        ++m_ordinal;
        // One compare decides the common case: m_plainEnd is the subset's point count when it
        // has no filter, and 0 when it has one (or at the end), so filters take the other path.
        if (m_localIndex + 1 < m_plainEnd)
        {
            ++m_localIndex;
            return StepResult{false, 1};
        }
        return StepFilteredOrAcrossSubsets();
    }

private:
    StepResult StepFilteredOrAcrossSubsets()
    {
        if (m_filter != nullptr)
        {
            const uint64_t d = m_filterIt.Increment();
            if (d != 0)
            {
                m_localIndex += d;
                return StepResult{false, d};
            }
        }
        MoveNextSubset();
        return StepResult{true, 0};
    }

    void EnterSubset(uint32_t subset, uint32_t localIndex, uint64_t ordinal);
    void EnterEnd();

    uint64_t m_ordinal = 0;
    uint64_t m_localIndex = 0;
    uint64_t m_subsetBase = 0; // point index of the subset's first stored point
    uint64_t m_plainEnd = 0;   // the subset's point count without a filter, else 0
    uint32_t m_subset = 0;
    uint32_t m_subsetNumber = 0;
    const CloudSubset* m_current = nullptr;
    const orv::Collection::TableCluster* m_coordinates = nullptr;
    const orv::Collection::LightTableOfBit* m_filter = nullptr;
    orv::Collection::LightTableOfBit::Iterator m_filterIt;
};

namespace Component
{

template <int N>
class CloudPointCoordinate;

// The iterator on the current point's three floats (local frame). The cursor's owner keeps it
// in step: Reset(localIndex) after a subset change, iterator.Next() or += otherwise.
template <>
class CloudPointCoordinate<1>
{
public:
    // Stands on the cursor's current point.
    explicit CloudPointCoordinate(const CloudCursorBase<1>& cursor) : m_cursor(&cursor)
    {
        Reset(cursor.GetLocalIndex());
    }

    // Positions the iterator on `localIndex` of the cursor's current subset (a default
    // iterator when the cursor is at its end).
    void Reset(uint64_t localIndex)
    {
        const orv::Collection::TableCluster* table = m_cursor->GetCoordinateTable();
        iterator = table != nullptr ? orv::Collection::TableCluster::Iterator(table, localIndex)
                                    : orv::Collection::TableCluster::Iterator();
    }

    const float* Get() const { return reinterpret_cast<const float*>(iterator.ptr); }

    orv::Collection::TableCluster::Iterator iterator;

private:
    const CloudCursorBase<1>* m_cursor;
};

} // namespace Component

} // namespace orv::Data::Cloud

#pragma once

#include "host/core/LightTableOfBit.h"
#include "host/core/TableCluster.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Storage of one subset of a GCloud (see Cloud.h). Shared between copies of a cloud through an
// intrusive count; a cloud that writes into a subset whose count is above 1 writes into its
// own copy instead. Internal to the host's cloud, cursors and selections.

namespace orv::Data::Cloud
{

class CloudSubset
{
public:
    struct ExtraTable
    {
        int typeId;
        orv::Collection::TableCluster table;
        // The append window's start in this table (see windowBuffer).
        uint8_t* windowBase = nullptr;
    };

    static constexpr uint32_t kNoWindow = UINT32_MAX;

    // Positions: three floats per point.
    static constexpr uint32_t kCoordinateSize = 3 * sizeof(float);

    explicit CloudSubset(uint32_t elementsPerBuffer)
        : coordinates(kCoordinateSize, elementsPerBuffer), m_elementsPerBuffer(elementsPerBuffer)
    {
    }

    // A deep copy with a count of 1.
    CloudSubset(const CloudSubset& other)
        : coordinates(other.coordinates), extras(other.extras),
          filter(other.filter ? std::make_unique<orv::Collection::LightTableOfBit>(*other.filter)
                              : nullptr),
          visible(other.visible), m_elementsPerBuffer(other.m_elementsPerBuffer)
    {
        // No window is copied (windowBuffer keeps its initialiser): the other's points into
        // the other subset's buffers.
    }
    CloudSubset& operator=(const CloudSubset&) = delete;

    uint32_t StoredCount() const { return coordinates.count; }
    uint32_t ElementsPerBuffer() const { return m_elementsPerBuffer; }

    const orv::Collection::TableCluster* FindTable(int typeId) const
    {
        for (const ExtraTable& e : extras)
        {
            if (e.typeId == typeId)
                return &e.table;
        }
        return nullptr;
    }

    // Sharing. AddRef may be called by any holder; IsShared is asked by the one holder that is
    // about to write (an acquire load, so every other holder's earlier reads happen before the
    // write that follows a count of 1).
    void AddRef() const { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() const
    {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    bool IsShared() const { return m_refs.load(std::memory_order_acquire) > 1; }

    orv::Collection::TableCluster coordinates;
    std::vector<ExtraTable> extras; // in the cloud's type order
    // Present only while some point is hidden: bit i set = stored point i visible.
    std::unique_ptr<orv::Collection::LightTableOfBit> filter;
    uint32_t visible = 0;

    // The append window: the buffer that appends in place fill, and where it starts in every
    // table (windowCoordinates, ExtraTable::windowBase), so that a point costs no buffer look-up.
    // Obtained buffers never move, so the window stays valid until the subset gains a table;
    // kNoWindow when there is none. Opened only by the subset's single owner.
    uint32_t windowBuffer = kNoWindow;
    uint8_t* windowCoordinates = nullptr;

    // Opens the window on buffer b; false (no window) when some table has no buffer b yet.
    bool OpenWindow(uint32_t b)
    {
        windowBuffer = kNoWindow;
        if (b >= coordinates.GetBufferCount())
            return false;
        for (const ExtraTable& e : extras)
        {
            if (b >= e.table.GetBufferCount())
                return false;
        }
        windowCoordinates = coordinates.GetBuffer(b);
        for (ExtraTable& e : extras)
            e.windowBase = e.table.GetBuffer(b);
        windowBuffer = b;
        return true;
    }

private:
    ~CloudSubset() = default;

    mutable std::atomic<uint32_t> m_refs{1};
    uint32_t m_elementsPerBuffer;
};

namespace Details
{
// Clouds alive in the process (GCloud objects, moved-from ones included).
uint64_t LiveCloudCount();
} // namespace Details

} // namespace orv::Data::Cloud

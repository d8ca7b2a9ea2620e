#pragma once

#include "host/geometry/Algebra.h"
#include "host/geometry/GeometryExport.h"
#include "host/geometry/Selection.h"
#include "host/geometry/Values.h"

#include <cstdint>
#include <vector>

// The host's point cloud model.
//
// A GCloud stores its points in subsets of at most GetSubsetCapacity() points
// (DefaultSubsetCapacity() unless set on the empty cloud). Points are appended to the last subset;
// every subset but the last is full, so a stored point's index is subset * capacity + local index.
// Per subset the cloud keeps the positions (an element table of three floats x, y, z in the cloud's
// local frame), one element table per extra-data type the cloud holds (every table has one element
// per stored point) and, only when some of its points are hidden, a bit table of the visible
// points. Ordinals count visible points only: they are what cursors visit and what
// GetPointCount() counts.
//
// Frame: GetMatrix() maps local to world coordinates (identity by default). On the reference
// host, when the first point arrives in a cloud whose frame is still the identity and was never
// set with SetMatrix, the frame's translation moves to that point, so a cloud built point by
// point at coordinates of hundreds of kilometres keeps float positions near zero (sub-millimetre
// precision); the alternate host (host/base/HostVariant.h) keeps the identity frame. A frame
// set explicitly is kept as it is.
//
// Copy on write: subsets are shared between copies of a cloud and copied only when one copy
// writes into them, so copying a cloud costs O(subsets), and copies may be read and written on
// different threads at the same time (each thread with its own copy). A single cloud object
// may be read by several threads at once while nobody writes to it.
//
// Cursors and element iterators handed out for a cloud stay valid while the cloud object is
// neither written to nor destroyed.

namespace orv::Collection
{
class TableCluster;
class LightTableOfBit;
} // namespace orv::Collection

namespace orv::Data::Cloud
{

using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x3;
using orv::Math::Algebra::Matrix3x4;

// Selection output options. Outputs are always compact; the value is accepted and ignored.
enum AutoCompactOption : int
{
    AutoCompactNone = 0
};

// Progress reporting; this host reports no progress, so it is only ever passed as null.
class Thermometer;

enum class ExitCodeAddPoint : int
{
    Ok = 0,
    NonFinitePosition = 1, // a coordinate is NaN or infinite: nothing appended
    NoPosition = 2,        // the record has no position: nothing appended
    OutsideFrameRange = 3, // the position does not fit a float in the cloud's frame
};

class CloudSubset;
class GCloud;

// The host's record of one point to append: where the position is read (world coordinates)
// and where each extra-data type's value is read, at every AddPoint. The record only keeps the
// addresses; the caller keeps the values there and alive.
class ORV_GEOMETRY_API GCloudPointData
{
public:
    struct Entry
    {
        int typeId;
        uint32_t width; // bytes copied from `value` at each AddPoint
        const void* value;
    };

    // Inline: a record is built in place by whoever stages a point, from this declaration.
    explicit GCloudPointData(const GPointDouble* position) : m_position(position) {}
    ~GCloudPointData();
    GCloudPointData(const GCloudPointData&);
    GCloudPointData& operator=(const GCloudPointData&);

    // Registers where the value of `extraDataType` is read. Returns 0 when registered, 1 when it
    // replaced an earlier registration of the same type, -1 when refused (null address, or a
    // type whose element width the host does not know; see GetExtraDataElementSize).
    int AddExtraData(int extraDataType, const void* value);

    const GPointDouble* GetPosition() const { return m_position; }
    void SetPosition(const GPointDouble* position) { m_position = position; }
    const std::vector<Entry>& GetEntries() const { return m_entries; }

private:
    friend class GCloud;

    const GPointDouble* m_position;
    std::vector<Entry> m_entries;
    // Changes whenever the entries do (each AddExtraData takes a new, process-wide unique
    // value; a copy has the same entries and keeps it), so a cloud that found the entries
    // matching its types need not compare them again. 0: never stamped.
    uint64_t m_layoutStamp = 0;
};

class SelectionCopier;

class ORV_GEOMETRY_API GCloud
{
public:
    // Capacity of a new cloud's subsets: 65536 on the reference host, 97 on the alternate one.
    static uint32_t DefaultSubsetCapacity();

    GCloud();
    GCloud(const GCloud& other);
    GCloud(GCloud&& other) noexcept;
    GCloud& operator=(const GCloud& other);
    GCloud& operator=(GCloud&& other) noexcept;
    ~GCloud();

    // Colour mode: 1 float intensity, 2 colour, 3 intensity compressed into [valMin, valMax].
    // Stored as given (any int); a new cloud is mode 1 with range [0, 1] (the alternate host:
    // mode 3 with that range). `color` and `flag` are accepted and ignored.
    void SetType(int type, float valMin, float valMax, orv::Data::Primitive::ColorValue* color,
                 bool flag);
    int GetType() const { return m_type; }
    float GetValMin() const { return m_valMin; }
    float GetValMax() const { return m_valMax; }

    // Only on a cloud without stored points, and only a capacity >= 1; false otherwise.
    bool SetSubsetCapacity(uint32_t capacity);
    uint32_t GetSubsetCapacity() const { return m_subsetCapacity; }

    const Matrix3x4& GetMatrix() const { return m_matrix; }
    const Matrix3x4& GetInverseMatrix() const { return m_inverse; }
    // Sets the local-to-world frame. Stored coordinates are kept, so the points move with the
    // frame. Refused (false, frame unchanged) for a non-finite or singular matrix.
    bool SetMatrix(const Matrix3x4& matrix);
    bool IsFrameExplicit() const { return m_frameExplicit; }

    // Visible points. The count table is empty only in a moved-from cloud (moves allocate
    // nothing), which has none.
    uint64_t GetPointCount() const { return m_visibleBefore.empty() ? 0 : m_visibleBefore.back(); }
    uint64_t GetStoredPointCount() const { return m_storedCount; }
    uint32_t GetSubsetCount() const { return static_cast<uint32_t>(m_subsets.size()); }
    uint32_t GetSubsetStoredCount(uint32_t subset) const;  // 0 for a subset that does not exist
    uint32_t GetSubsetVisibleCount(uint32_t subset) const; // idem
    // Ordinal of the first visible point of the subset (the point count past the last subset).
    uint64_t GetSubsetFirstOrdinal(uint32_t subset) const;

    // Hides or shows a stored point (index counts hidden points). False for an index past the
    // stored points. A subset whose points are all visible again drops its bit table.
    bool SetPointVisible(uint64_t pointIndex, bool visible);
    bool IsPointVisible(uint64_t pointIndex) const; // false past the stored points

    bool HasExtraData(int typeId) const;
    // The extra-data type ids the cloud holds, in the order they first appeared.
    std::vector<int> GetExtraDataTypes() const;

    // World position of a stored point (hidden ones too); false past the stored points.
    bool GetStoredPosition(uint64_t pointIndex, GPointDouble& world) const;
    // Local (stored) coordinates of a stored point; null past the stored points.
    const float* GetStoredCoordinates(uint64_t pointIndex) const;
    // The stored element of `typeId` for a stored point, or null (no such type or point).
    const void* GetExtraDataElement(int typeId, uint64_t pointIndex) const;

    // World bounding box of the visible points; when there are none, GBBox::Empty() (the
    // alternate host: six zeros).
    orv::Data::Primitive::GBBox ComputeBoundingBox() const;

    // Appends one point (see PointCloud::AddPoint).
    ExitCodeAddPoint AddPoint(const GCloudPointData& point);
    // Appends the visible points of `other` (see PointCloud::AddCloud).
    bool AddCloud(const GCloud& other);

    // Removes every point and every extra-data table; frame, mode and capacity are kept.
    void Clear();

    // Partitions the visible points: those `proc` accepts (tested in world coordinates) are
    // copied, with all their extra data, into `first`, the others into `second`; either may be
    // null. Each output is replaced: it ends with exactly its points (in source order, all
    // visible; the alternate host reverses the points of every chunk) and the source's frame,
    // colour mode, range, subset capacity and extra-data types. Hidden points go to neither. The
    // source is not changed, even when it is also an output (then it is replaced at the end).
    // Returns 0; -1 (and changes nothing) when `first` and `second` are the same cloud. `progress`
    // and `option` are ignored. The per-point work is `proc.Classify` on chunks of world
    // coordinates: no virtual call.
    template <class P>
    int ApplySelectionProcedure(P& proc, GCloud* first, GCloud* second, Thermometer* progress,
                                AutoCompactOption option) const;

    // Whether both clouds share the storage of the subset (tests of copy on write).
    bool SharesSubsetWith(const GCloud& other, uint32_t subset) const;

    // Storage access for cursors and the selection machinery.
    const CloudSubset* GetSubset(uint32_t subset) const
    {
        return subset < m_subsets.size() ? m_subsets[subset] : nullptr;
    }

private:
    friend class SelectionCopier;

    struct TypeSlot
    {
        int typeId;
        uint32_t width;
    };
    struct AppendPlan;

    CloudSubset* WritableSubset(uint32_t subset);
    CloudSubset& WritableLastSubsetWithRoom();
    void EnsureType(int typeId, uint32_t width);
    int FindType(int typeId) const;
    void ReleaseAll() noexcept;
    void AddVisible(uint32_t m);
    // The common append: the record registers exactly the cloud's types (same order, same
    // widths) and the last subset is this cloud's own, all visible, with a free slot in every
    // table's buffers. Writes the point and returns true; false (nothing written) otherwise.
    bool AppendInPlace(const GCloudPointData& point, const GPointDouble& local);
    // Every other append (first point, frame move, new types, new subset or buffer, sharing,
    // hidden points) and every refusal.
    ExitCodeAddPoint AddPointAnyCase(const GCloudPointData& point);
    AppendPlan MakePlan(const GCloud& source) const;
    // Appends the points start + rel[k] (k < n, at most one chunk, inside one table buffer) of
    // a subset of another cloud; returns how many did not fit this frame (skipped).
    uint64_t AppendPoints(const CloudSubset& from, uint32_t start, const uint32_t* rel, uint32_t n,
                          const AppendPlan& plan);
    // The same when this cloud has the source's frame and extra-data types in the same order.
    void AppendSameLayout(const CloudSubset& from, uint32_t start, const uint32_t* rel, uint32_t n);
    void CopySettingsFrom(const GCloud& source);
    // Sets the frame and its inverse (every change of frame goes through here).
    void SetFrame(const Matrix3x4& matrix, const Matrix3x4& inverse);

    uint32_t m_subsetCapacity;
    std::vector<CloudSubset*> m_subsets;      // each holds one reference
    std::vector<uint64_t> m_visibleBefore{0}; // per subset, then the total (empty: no points)
    uint64_t m_storedCount = 0;
    std::vector<TypeSlot> m_types; // same order as every subset's tables
    Matrix3x4 m_matrix = orv::Math::Algebra::Identity3x4();
    Matrix3x4 m_inverse = orv::Math::Algebra::Identity3x4();
    // The inverse only shifts, by non-zero amounts: a point's local coordinates are then its
    // world ones plus the shift, bit for bit the same as through the whole matrix.
    bool m_inverseIsShift = false;
    // The layout stamp of the last record found to register exactly this cloud's types (0:
    // none); a record with that stamp skips the comparison.
    uint64_t m_matchingRecord = 0;
    bool m_frameExplicit = false;
    int m_type;
    float m_valMin = 0.0f;
    float m_valMax = 1.0f;
};

// Runs the per-chunk part of GCloud::ApplySelectionProcedure: hands out the stored points in
// chunks of world coordinates and distributes each classified chunk to the outputs. Not for
// direct use.
class ORV_GEOMETRY_API SelectionCopier
{
public:
    static constexpr uint32_t kChunk = 256;

    SelectionCopier(const GCloud& source, GCloud* first, GCloud* second);
    ~SelectionCopier();
    SelectionCopier(const SelectionCopier&) = delete;
    SelectionCopier& operator=(const SelectionCopier&) = delete;

    int Status() const { return m_status; }
    // World coordinates of the next chunk (at most kChunk points, within one table buffer);
    // returns the number of points, 0 when every subset has been handed out.
    uint32_t NextChunk(double* x, double* y, double* z);
    // Distributes the chunk last handed out; accept[i] != 0 sends point i to the first output.
    void Commit(const uint8_t* accept);
    // Installs the outputs. Returns the status.
    int Finish();

private:
    const GCloud& m_source;
    GCloud* m_firstTarget;
    GCloud* m_secondTarget;
    bool m_translationOnly;
    bool m_reverseChunks; // the alternate host's output order (see ApplySelectionProcedure)
    GCloud m_first;
    GCloud m_second;
    int m_status = 0;
    uint32_t m_subset = 0;
    uint32_t m_next = 0;       // next local index in m_subset
    uint32_t m_chunkStart = 0; // local index of the chunk last handed out
    uint32_t m_chunkSize = 0;
    const CloudSubset* m_chunkSubset = nullptr;
    uint32_t m_accepted[kChunk];
    uint32_t m_rejected[kChunk];
};

template <class P>
int GCloud::ApplySelectionProcedure(P& proc, GCloud* first, GCloud* second, Thermometer*,
                                    AutoCompactOption) const
{
    orv::Graphics::Testing::NotifySelection(&proc, typeid(P));
    SelectionCopier copier(*this, first, second);
    if (copier.Status() != 0)
        return copier.Status();
    alignas(64) double x[SelectionCopier::kChunk];
    alignas(64) double y[SelectionCopier::kChunk];
    alignas(64) double z[SelectionCopier::kChunk];
    alignas(64) uint8_t accept[SelectionCopier::kChunk];
    for (uint32_t n = copier.NextChunk(x, y, z); n != 0; n = copier.NextChunk(x, y, z))
    {
        proc.Classify(x, y, z, n, accept);
        copier.Commit(accept);
    }
    return copier.Finish();
}

// The host's point cloud as a value: copies are cheap (copy on write, see GCloud) and
// independent.
class ORV_GEOMETRY_API PointCloud
{
public:
    PointCloud() = default;
    PointCloud(const PointCloud&) = default;
    PointCloud(PointCloud&&) noexcept = default;
    PointCloud& operator=(const PointCloud&) = default;
    PointCloud& operator=(PointCloud&&) noexcept = default;
    ~PointCloud() = default;

    GCloud& Convert() { return m_cloud; }
    const GCloud& Convert() const { return m_cloud; }

    uint64_t GetPointCount() const { return m_cloud.GetPointCount(); }
    orv::Data::Primitive::GBBox ComputeBoundingBox() const { return m_cloud.ComputeBoundingBox(); }

    // Appends one point: its position (world coordinates, re-expressed in the cloud's frame)
    // and, for every extra-data type the record registers, one element copied from its slot.
    // A type the cloud already holds but the record lacks gets a zero element; a type new to
    // the cloud gets zero elements for all earlier points (the alternate host fills such
    // elements with the byte kAlternateFillByte instead). A point whose position is not
    // finite, or does not fit a float in the cloud's frame, is refused (see ExitCodeAddPoint)
    // and nothing changes. `flag` is accepted and ignored.
    ExitCodeAddPoint AddPoint(const GCloudPointData& point, bool flag);

    // Appends the visible points of `other` with all their extra data, re-expressed in this
    // cloud's frame; normals (and any type whose registered policy rotates) are rotated from
    // the other frame into this one. An empty cloud whose frame was never set adopts the
    // other's frame first, so its points are copied bit for bit (not on the alternate host).
    // Types of either cloud missing in the other get zero elements (alternate: filled).
    // Returns false when some points did not fit a float in this frame (those are skipped).
    // `other` may be this cloud. `progress` is ignored.
    bool AddCloud(const PointCloud& other, Thermometer* progress);

private:
    GCloud m_cloud;
};

} // namespace orv::Data::Cloud

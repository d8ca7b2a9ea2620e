#include "host/geometry/Cloud.h"

#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/internal/CloudSubset.h"
#include "host/geometry/internal/CloudTableAppend.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace orv::Data::Cloud
{

using orv::Collection::LightTableOfBit;
using orv::Collection::TableCluster;
using orv::Data::Primitive::GBBox;
using namespace orv::Data::Cloud::Details;

namespace
{

constexpr uint32_t kMaxSubsetCapacity = 0x80000000u;

// Table buffers of a subset: 8192 elements on the reference host (a power of two), 31 on the
// alternate one (odd and smaller than its subsets, so a subset spans several buffers).
uint32_t ElementsPerBufferFor(uint32_t capacity)
{
    const uint32_t buffer = orv::IsAlternateHost() ? 31u : TableCluster::kDefaultElementsPerBuffer;
    return capacity < buffer ? capacity : buffer;
}

// The alternate host keeps a new cloud's identity frame until SetMatrix.
bool MovesFrameToFirstPoint()
{
    return !orv::IsAlternateHost();
}

std::atomic<uint64_t> g_liveClouds{0};

} // namespace

uint64_t Details::LiveCloudCount()
{
    return g_liveClouds.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------------------------
// GCloudPointData

namespace
{
std::atomic<uint64_t> g_lastLayoutStamp{0};

uint64_t NextLayoutStamp()
{
    return g_lastLayoutStamp.fetch_add(1, std::memory_order_relaxed) + 1;
}
} // namespace

GCloudPointData::~GCloudPointData() = default;
GCloudPointData::GCloudPointData(const GCloudPointData&) = default;
GCloudPointData& GCloudPointData::operator=(const GCloudPointData&) = default;

int GCloudPointData::AddExtraData(int extraDataType, const void* value)
{
    if (value == nullptr)
        return -1;
    const uint32_t width = GetExtraDataElementSize(extraDataType);
    if (width == 0)
        return -1;
    for (Entry& e : m_entries)
    {
        if (e.typeId == extraDataType)
        {
            e.width = width;
            e.value = value;
            m_layoutStamp = NextLayoutStamp();
            return 1;
        }
    }
    m_entries.push_back(Entry{extraDataType, width, value});
    m_layoutStamp = NextLayoutStamp();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// GCloud: life cycle

// A new cloud: mode 1 with range [0, 1] on the reference host, mode 3 (intensity compressed
// into the range) with the same range on the alternate one.
GCloud::GCloud() : m_subsetCapacity(DefaultSubsetCapacity()), m_type(orv::IsAlternateHost() ? 3 : 1)
{
    g_liveClouds.fetch_add(1, std::memory_order_relaxed);
}

uint32_t GCloud::DefaultSubsetCapacity()
{
    return orv::IsAlternateHost() ? 97u : 65536u;
}

GCloud::GCloud(const GCloud& other)
    : m_subsetCapacity(other.m_subsetCapacity), m_subsets(other.m_subsets),
      m_visibleBefore(other.m_visibleBefore), m_storedCount(other.m_storedCount),
      m_types(other.m_types), m_matrix(other.m_matrix), m_inverse(other.m_inverse),
      m_inverseIsShift(other.m_inverseIsShift), m_frameExplicit(other.m_frameExplicit),
      m_type(other.m_type), m_valMin(other.m_valMin), m_valMax(other.m_valMax)
{
    for (CloudSubset* s : m_subsets)
        s->AddRef();
    g_liveClouds.fetch_add(1, std::memory_order_relaxed);
}

// Moves allocate nothing (they are noexcept): the moved-from cloud keeps empty tables, and an
// empty visible-count table reads as a cloud without points.
GCloud::GCloud(GCloud&& other) noexcept
    : m_subsetCapacity(other.m_subsetCapacity), m_subsets(std::move(other.m_subsets)),
      m_visibleBefore(std::move(other.m_visibleBefore)), m_storedCount(other.m_storedCount),
      m_types(std::move(other.m_types)), m_matrix(other.m_matrix), m_inverse(other.m_inverse),
      m_inverseIsShift(other.m_inverseIsShift), m_frameExplicit(other.m_frameExplicit),
      m_type(other.m_type), m_valMin(other.m_valMin), m_valMax(other.m_valMax)
{
    other.m_subsets.clear();
    other.m_visibleBefore.clear();
    other.m_storedCount = 0;
    other.m_types.clear();
    other.m_matchingRecord = 0;
    g_liveClouds.fetch_add(1, std::memory_order_relaxed);
}

GCloud& GCloud::operator=(const GCloud& other)
{
    if (this != &other)
    {
        GCloud copy(other);
        *this = std::move(copy);
    }
    return *this;
}

GCloud& GCloud::operator=(GCloud&& other) noexcept
{
    if (this == &other)
        return *this;
    ReleaseAll();
    m_subsetCapacity = other.m_subsetCapacity;
    m_subsets = std::move(other.m_subsets);
    m_visibleBefore = std::move(other.m_visibleBefore);
    m_storedCount = other.m_storedCount;
    m_types = std::move(other.m_types);
    m_matchingRecord = 0;
    SetFrame(other.m_matrix, other.m_inverse);
    m_frameExplicit = other.m_frameExplicit;
    m_type = other.m_type;
    m_valMin = other.m_valMin;
    m_valMax = other.m_valMax;
    // The moved-from cloud is empty and usable (its settings stay).
    other.m_subsets.clear();
    other.m_visibleBefore.clear();
    other.m_storedCount = 0;
    other.m_types.clear();
    other.m_matchingRecord = 0;
    return *this;
}

GCloud::~GCloud()
{
    ReleaseAll();
    g_liveClouds.fetch_sub(1, std::memory_order_release);
}

void GCloud::ReleaseAll() noexcept
{
    for (CloudSubset* s : m_subsets)
        s->Release();
    m_subsets.clear();
}

void GCloud::Clear()
{
    ReleaseAll();
    m_visibleBefore.assign(1, 0);
    m_storedCount = 0;
    m_types.clear();
    m_matchingRecord = 0;
}

// ---------------------------------------------------------------------------------------------
// GCloud: settings

void GCloud::SetType(int type, float valMin, float valMax, orv::Data::Primitive::ColorValue*, bool)
{
    m_type = type;
    m_valMin = valMin;
    m_valMax = valMax;
}

bool GCloud::SetSubsetCapacity(uint32_t capacity)
{
    if (m_storedCount != 0 || !m_subsets.empty() || capacity == 0 || capacity > kMaxSubsetCapacity)
        return false;
    m_subsetCapacity = capacity;
    return true;
}

bool GCloud::SetMatrix(const Matrix3x4& matrix)
{
    Matrix3x4 inverse{};
    if (!orv::Math::Algebra::TryInverse(matrix, inverse))
        return false;
    SetFrame(matrix, inverse);
    m_frameExplicit = true;
    return true;
}

void GCloud::SetFrame(const Matrix3x4& matrix, const Matrix3x4& inverse)
{
    m_matrix = matrix;
    m_inverse = inverse;
    const double* v = inverse.v;
    m_inverseIsShift = v[0] == 1.0 && v[1] == 0.0 && v[2] == 0.0 && v[3] == 0.0 && v[4] == 1.0 &&
                       v[5] == 0.0 && v[6] == 0.0 && v[7] == 0.0 && v[8] == 1.0 && v[9] != 0.0 &&
                       v[10] != 0.0 && v[11] != 0.0;
}

void GCloud::CopySettingsFrom(const GCloud& source)
{
    m_subsetCapacity = source.m_subsetCapacity;
    SetFrame(source.m_matrix, source.m_inverse);
    m_frameExplicit = source.m_frameExplicit;
    m_type = source.m_type;
    m_valMin = source.m_valMin;
    m_valMax = source.m_valMax;
    m_types = source.m_types;
    m_matchingRecord = 0;
}

// ---------------------------------------------------------------------------------------------
// GCloud: queries

uint32_t GCloud::GetSubsetStoredCount(uint32_t subset) const
{
    return subset < m_subsets.size() ? m_subsets[subset]->StoredCount() : 0;
}

uint32_t GCloud::GetSubsetVisibleCount(uint32_t subset) const
{
    return subset < m_subsets.size() ? m_subsets[subset]->visible : 0;
}

uint64_t GCloud::GetSubsetFirstOrdinal(uint32_t subset) const
{
    return subset < m_subsets.size() ? m_visibleBefore[subset] : GetPointCount();
}

bool GCloud::IsPointVisible(uint64_t pointIndex) const
{
    if (pointIndex >= m_storedCount)
        return false;
    const CloudSubset* s = m_subsets[size_t(pointIndex / m_subsetCapacity)];
    return s->filter == nullptr || s->filter->Get(uint32_t(pointIndex % m_subsetCapacity));
}

bool GCloud::HasExtraData(int typeId) const
{
    return FindType(typeId) >= 0;
}

int GCloud::FindType(int typeId) const
{
    for (size_t j = 0; j < m_types.size(); ++j)
    {
        if (m_types[j].typeId == typeId)
            return int(j);
    }
    return -1;
}

std::vector<int> GCloud::GetExtraDataTypes() const
{
    std::vector<int> ids;
    ids.reserve(m_types.size());
    for (const TypeSlot& t : m_types)
        ids.push_back(t.typeId);
    return ids;
}

const float* GCloud::GetStoredCoordinates(uint64_t pointIndex) const
{
    if (pointIndex >= m_storedCount)
        return nullptr;
    const CloudSubset* s = m_subsets[size_t(pointIndex / m_subsetCapacity)];
    return static_cast<const float*>(
        s->coordinates.GetElm(uint32_t(pointIndex % m_subsetCapacity)));
}

bool GCloud::GetStoredPosition(uint64_t pointIndex, GPointDouble& world) const
{
    const float* q = GetStoredCoordinates(pointIndex);
    if (q == nullptr)
        return false;
    world = orv::Math::Algebra::TransformPoint(m_matrix, GPointDouble{q[0], q[1], q[2]});
    return true;
}

const void* GCloud::GetExtraDataElement(int typeId, uint64_t pointIndex) const
{
    const int j = FindType(typeId);
    if (j < 0 || pointIndex >= m_storedCount)
        return nullptr;
    const CloudSubset* s = m_subsets[size_t(pointIndex / m_subsetCapacity)];
    return s->extras[size_t(j)].table.GetElm(uint32_t(pointIndex % m_subsetCapacity));
}

bool GCloud::SharesSubsetWith(const GCloud& other, uint32_t subset) const
{
    return subset < m_subsets.size() && subset < other.m_subsets.size() &&
           m_subsets[subset] == other.m_subsets[subset];
}

GBBox GCloud::ComputeBoundingBox() const
{
    GBBox box = GBBox::Empty();
    const double* m = m_matrix.v;
    // With a diagonal linear part each world coordinate is a monotone function of one local
    // coordinate, so the world box is the image of the local box, found on the floats alone.
    const bool diagonal =
        m[1] == 0 && m[2] == 0 && m[3] == 0 && m[5] == 0 && m[6] == 0 && m[7] == 0;
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX};
    float hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    bool any = false;
    for (const CloudSubset* s : m_subsets)
    {
        if (s->visible == 0)
            continue;
        const uint32_t n = s->StoredCount();
        const LightTableOfBit* filter = s->filter.get();
        TableCluster::Iterator it(&s->coordinates, 0);
        uint32_t k = 0;
        while (k < n)
        {
            const uint32_t room = static_cast<uint32_t>((it.bufEnd - it.ptr) / it.stride);
            const uint32_t run = std::min(room, n - k);
            const float* q = reinterpret_cast<const float*>(it.ptr);
            for (uint32_t r = 0; r < run; ++r, q += 3)
            {
                if (filter != nullptr && !filter->Get(k + r))
                    continue;
                any = true;
                if (diagonal)
                {
                    for (int c = 0; c < 3; ++c)
                    {
                        lo[c] = q[c] < lo[c] ? q[c] : lo[c];
                        hi[c] = q[c] > hi[c] ? q[c] : hi[c];
                    }
                }
                else
                {
                    box.Extend(orv::Math::Algebra::TransformPoint(m_matrix,
                                                                  GPointDouble{q[0], q[1], q[2]}));
                }
            }
            k += run;
            it += run;
        }
    }
    if (diagonal && any)
    {
        box.Extend(orv::Math::Algebra::TransformPoint(m_matrix, GPointDouble{lo[0], lo[1], lo[2]}));
        box.Extend(orv::Math::Algebra::TransformPoint(m_matrix, GPointDouble{hi[0], hi[1], hi[2]}));
    }
    // No visible point: the empty box on the reference host, a box of six zeros (the origin)
    // on the alternate one.
    if (!any && orv::IsAlternateHost())
        return GBBox{{0, 0, 0, 0, 0, 0}};
    return box;
}

// ---------------------------------------------------------------------------------------------
// GCloud: writing

CloudSubset* GCloud::WritableSubset(uint32_t subset)
{
    CloudSubset* s = m_subsets[subset];
    if (s->IsShared())
    {
        CloudSubset* copy = new CloudSubset(*s);
        m_subsets[subset] = copy;
        s->Release();
        s = copy;
    }
    return s;
}

CloudSubset& GCloud::WritableLastSubsetWithRoom()
{
    if (!m_subsets.empty() && m_subsets.back()->StoredCount() < m_subsetCapacity)
        return *WritableSubset(uint32_t(m_subsets.size() - 1));
    const uint32_t epb = ElementsPerBufferFor(m_subsetCapacity);
    m_subsets.reserve(m_subsets.size() + 1);
    if (m_visibleBefore.empty())
        m_visibleBefore.push_back(0); // a moved-from cloud gave its table away
    m_visibleBefore.reserve(m_visibleBefore.size() + 1);
    CloudSubset* s = new CloudSubset(epb);
    try
    {
        s->extras.reserve(m_types.size());
        for (const TypeSlot& t : m_types)
            s->extras.push_back(CloudSubset::ExtraTable{t.typeId, TableCluster(t.width, epb)});
    }
    catch (...)
    {
        s->Release();
        throw;
    }
    m_subsets.push_back(s);
    m_visibleBefore.push_back(m_visibleBefore.back());
    return *s;
}

void GCloud::EnsureType(int typeId, uint32_t width)
{
    if (FindType(typeId) >= 0)
        return;
    // Everything that can fail happens before the cloud changes shape, so a failure leaves
    // every subset with exactly the cloud's tables.
    m_types.reserve(m_types.size() + 1);
    std::vector<TableCluster> tables;
    tables.reserve(m_subsets.size());
    for (uint32_t s = 0; s < m_subsets.size(); ++s)
    {
        CloudSubset* sub = WritableSubset(s);
        sub->extras.reserve(sub->extras.size() + 1);
        tables.emplace_back(width, sub->ElementsPerBuffer());
        AppendLacking(tables.back(), sub->StoredCount());
    }
    for (uint32_t s = 0; s < m_subsets.size(); ++s)
    {
        m_subsets[s]->extras.push_back(CloudSubset::ExtraTable{typeId, std::move(tables[s])});
        m_subsets[s]->windowBuffer = CloudSubset::kNoWindow; // the new table has no window yet
    }
    m_types.push_back(TypeSlot{typeId, width});
    m_matchingRecord = 0;
}

void GCloud::AddVisible(uint32_t m)
{
    m_storedCount += m;
    m_visibleBefore.back() += m;
}

namespace
{

// One element of a known width, copied with a fixed-size copy for the widths of the host's
// types (a call to memcpy costs more than the copy itself). The commonest widths come first, as
// plain branches: cheaper than the switch's indirect jump.
inline void CopyElement(uint8_t* out, const void* value, uint32_t width)
{
    if (width == 4)
    {
        std::memcpy(out, value, 4);
        return;
    }
    if (width == 1)
    {
        std::memcpy(out, value, 1);
        return;
    }
    switch (width)
    {
    case 2:
        std::memcpy(out, value, 2);
        break;
    case 8:
        std::memcpy(out, value, 8);
        break;
    case 12:
        std::memcpy(out, value, 12);
        break;
    case 24:
        std::memcpy(out, value, 24);
        break;
    default:
        std::memcpy(out, value, width);
        break;
    }
}

} // namespace

inline bool GCloud::AppendInPlace(const GCloudPointData& point, const GPointDouble& local)
{
    const std::vector<GCloudPointData::Entry>& entries = point.GetEntries();
    const size_t types = m_types.size();
    if (entries.size() != types)
        return false;
    if (point.m_layoutStamp == 0 || point.m_layoutStamp != m_matchingRecord)
    {
        for (size_t j = 0; j < types; ++j)
        {
            if (entries[j].typeId != m_types[j].typeId || entries[j].width != m_types[j].width)
                return false;
        }
        m_matchingRecord = point.m_layoutStamp;
    }
    CloudSubset* sub = m_subsets.back(); // the cloud has points, so it has a subset
    const uint32_t n = sub->StoredCount();
    if (n >= m_subsetCapacity || sub->filter != nullptr || sub->IsShared())
        return false;
    // Every table of a subset has the same buffer length: slot n is at the same place in each,
    // and exists in each once its buffer does.
    uint32_t buffer = 0;
    uint32_t slot = 0;
    sub->coordinates.Locate(n, buffer, slot);
    if (buffer != sub->windowBuffer && !sub->OpenWindow(buffer))
        return false;
    float* q = reinterpret_cast<float*>(sub->windowCoordinates +
                                        size_t(slot) * CloudSubset::kCoordinateSize);
    q[0] = static_cast<float>(local.x);
    q[1] = static_cast<float>(local.y);
    q[2] = static_cast<float>(local.z);
    sub->coordinates.count = n + 1;
    CloudSubset::ExtraTable* tables = sub->extras.data();
    const GCloudPointData::Entry* entry = entries.data();
    for (size_t j = 0; j < types; ++j)
    {
        const uint32_t width = entry[j].width;
        CopyElement(tables[j].windowBase + size_t(slot) * width, entry[j].value, width);
        tables[j].table.count = n + 1;
    }
    ++sub->visible;
    ++m_storedCount;
    ++m_visibleBefore.back();
    return true;
}

ExitCodeAddPoint GCloud::AddPoint(const GCloudPointData& point)
{
    const GPointDouble* p = point.GetPosition();
    if (p != nullptr && m_storedCount != 0)
    {
        // The frame no longer moves: the point goes straight into the cloud's frame. Through
        // the matrix every coordinate of the point enters every local one (a zero coefficient
        // times an infinity or a NaN is a NaN), through a shift each enters its own: either way,
        // three local coordinates that fit a float also say that the point is finite.
        const GPointDouble local = m_inverseIsShift
                                       ? GPointDouble{p->x + m_inverse.v[9], p->y + m_inverse.v[10],
                                                      p->z + m_inverse.v[11]}
                                       : orv::Math::Algebra::TransformPoint(m_inverse, *p);
        if (FitsFloat(local.x) && FitsFloat(local.y) && FitsFloat(local.z) &&
            AppendInPlace(point, local))
            return ExitCodeAddPoint::Ok;
    }
    return AddPointAnyCase(point);
}

ExitCodeAddPoint GCloud::AddPointAnyCase(const GCloudPointData& point)
{
    const GPointDouble* p = point.GetPosition();
    if (p == nullptr)
        return ExitCodeAddPoint::NoPosition;
    if (!std::isfinite(p->x) || !std::isfinite(p->y) || !std::isfinite(p->z))
        return ExitCodeAddPoint::NonFinitePosition;

    Matrix3x4 matrix = m_matrix;
    Matrix3x4 inverse = m_inverse;
    const bool moveFrame = m_storedCount == 0 && !m_frameExplicit &&
                           orv::Math::Algebra::IsIdentity(m_matrix) && MovesFrameToFirstPoint();
    if (moveFrame)
    {
        matrix = orv::Math::Algebra::Translation(p->x, p->y, p->z);
        inverse = orv::Math::Algebra::Translation(-p->x, -p->y, -p->z);
    }
    const GPointDouble local = orv::Math::Algebra::TransformPoint(inverse, *p);
    if (!FitsFloat(local.x) || !FitsFloat(local.y) || !FitsFloat(local.z))
        return ExitCodeAddPoint::OutsideFrameRange;

    const std::vector<GCloudPointData::Entry>& entries = point.GetEntries();
    for (size_t i = 0; i < entries.size(); ++i)
    {
        if (i >= m_types.size() || m_types[i].typeId != entries[i].typeId)
            EnsureType(entries[i].typeId, entries[i].width);
    }

    CloudSubset& sub = WritableLastSubsetWithRoom();
    // Make room in every table first: after this nothing can fail, so the tables never
    // disagree on the number of stored points.
    const uint32_t n = sub.StoredCount();
    if (n + 1 > sub.coordinates.GetCapacity())
        sub.coordinates.Reserve(n + 1);
    for (CloudSubset::ExtraTable& e : sub.extras)
    {
        if (n + 1 > e.table.GetCapacity())
            e.table.Reserve(n + 1);
    }
    if (sub.filter != nullptr)
        sub.filter->Resize(n + 1, true);

    float* q = static_cast<float*>(sub.coordinates.GetElm(AppendSlots(sub.coordinates, 1)));
    q[0] = static_cast<float>(local.x);
    q[1] = static_cast<float>(local.y);
    q[2] = static_cast<float>(local.z);
    for (size_t j = 0; j < sub.extras.size(); ++j)
    {
        TableCluster& table = sub.extras[j].table;
        uint8_t* out = static_cast<uint8_t*>(table.GetElm(AppendSlots(table, 1)));
        const uint32_t width = m_types[j].width;
        const GCloudPointData::Entry* entry = nullptr;
        if (j < entries.size() && entries[j].typeId == m_types[j].typeId)
        {
            entry = &entries[j];
        }
        else
        {
            for (const GCloudPointData::Entry& e : entries)
            {
                if (e.typeId == m_types[j].typeId)
                    entry = &e;
            }
        }
        if (entry != nullptr && entry->width == width)
        {
            std::memcpy(out, entry->value, width);
        }
        else
        {
            std::memset(out, LackingElementFill(), width);
            if (entry != nullptr)
                std::memcpy(out, entry->value, std::min(width, entry->width));
        }
    }
    ++sub.visible;
    AddVisible(1);
    if (moveFrame)
        SetFrame(matrix, inverse);
    return ExitCodeAddPoint::Ok;
}

bool GCloud::SetPointVisible(uint64_t pointIndex, bool visible)
{
    if (pointIndex >= m_storedCount)
        return false;
    const uint32_t s = uint32_t(pointIndex / m_subsetCapacity);
    const uint32_t local = uint32_t(pointIndex % m_subsetCapacity);
    const CloudSubset* current = m_subsets[s];
    const bool now = current->filter == nullptr || current->filter->Get(local);
    if (now == visible)
        return true;
    CloudSubset* sub = WritableSubset(s);
    if (sub->filter == nullptr)
        sub->filter = std::make_unique<LightTableOfBit>(sub->StoredCount(), true);
    sub->filter->Set(local, visible);
    if (visible)
        ++sub->visible;
    else
        --sub->visible;
    if (sub->visible == sub->StoredCount())
        sub->filter.reset(); // all visible again: the cursor's plain step applies
    for (size_t i = size_t(s) + 1; i < m_visibleBefore.size(); ++i)
    {
        if (visible)
            ++m_visibleBefore[i];
        else
            --m_visibleBefore[i];
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// PointCloud

ExitCodeAddPoint PointCloud::AddPoint(const GCloudPointData& point, bool)
{
    return m_cloud.AddPoint(point);
}

bool PointCloud::AddCloud(const PointCloud& other, Thermometer*)
{
    return m_cloud.AddCloud(other.m_cloud);
}

} // namespace orv::Data::Cloud

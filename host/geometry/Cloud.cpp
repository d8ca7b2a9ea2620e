#include "host/geometry/Cloud.h"

#include "host/geometry/CloudSubset.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>

namespace orv::Data::Cloud
{

using orv::Collection::LightTableOfBit;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::ICloudExtraDataPolicy;
using orv::Data::Primitive::GBBox;

namespace
{

constexpr uint32_t kMaxSubsetCapacity = 0x80000000u;
constexpr uint32_t kChunk = SelectionCopier::kChunk;

uint32_t ElementsPerBufferFor(uint32_t capacity)
{
    return capacity < TableCluster::kDefaultElementsPerBuffer
               ? capacity
               : TableCluster::kDefaultElementsPerBuffer;
}

// Makes room for m more elements and counts them as stored; returns the position of the
// first. The table's only size state is `count`, and slots of obtained buffers are
// addressable, so a run of elements is appended with one capacity check instead of one call
// per element. The caller writes every new element before anyone reads the table.
uint32_t AppendSlots(TableCluster& t, uint32_t m)
{
    const uint32_t first = t.count;
    if (uint64_t(first) + m > t.GetCapacity())
        t.Reserve(uint64_t(first) + m);
    t.count = first + m;
    return first;
}

// Calls f(dst, k, run) for consecutive runs of the m elements appended at `first`, each run
// inside one buffer.
template <class F>
void ForEachRun(TableCluster& t, uint32_t first, uint32_t m, F&& f)
{
    TableCluster::Iterator it(&t, first);
    uint32_t k = 0;
    while (k < m)
    {
        const uint32_t room = static_cast<uint32_t>((it.bufEnd - it.ptr) / it.stride);
        const uint32_t run = std::min(room, m - k);
        f(it.ptr, k, run);
        k += run;
        it += run;
    }
}

void ZeroAppend(TableCluster& t, uint32_t m)
{
    if (m == 0)
        return;
    const uint32_t w = t.GetElementSize();
    ForEachRun(t, AppendSlots(t, m), m,
               [w](uint8_t* out, uint32_t, uint32_t run) { std::memset(out, 0, size_t(run) * w); });
}

// Appends the elements base[rel[k]] (k < m) of width W.
template <uint32_t W>
void GatherFixed(TableCluster& t, const uint8_t* base, const uint32_t* rel, uint32_t m)
{
    ForEachRun(t, AppendSlots(t, m), m,
               [base, rel](uint8_t* out, uint32_t k, uint32_t run)
               {
                   for (uint32_t r = 0; r < run; ++r)
                       std::memcpy(out + size_t(r) * W, base + size_t(rel[k + r]) * W, W);
               });
}

// Appends elements of width `from` into a table of any width: the common bytes are copied and
// the rest zeroed (a width the type had in another cloud).
void GatherAnyWidth(TableCluster& t, const uint8_t* base, uint32_t from, const uint32_t* rel,
                    uint32_t m)
{
    switch (t.GetElementSize() == from ? from : 0)
    {
    case 1:
        GatherFixed<1>(t, base, rel, m);
        return;
    case 2:
        GatherFixed<2>(t, base, rel, m);
        return;
    case 4:
        GatherFixed<4>(t, base, rel, m);
        return;
    case 12:
        GatherFixed<12>(t, base, rel, m);
        return;
    default:
        break;
    }
    const uint32_t to = t.GetElementSize();
    const uint32_t common = std::min(to, from);
    ForEachRun(t, AppendSlots(t, m), m,
               [&](uint8_t* out, uint32_t k, uint32_t run)
               {
                   for (uint32_t r = 0; r < run; ++r)
                   {
                       std::memset(out + size_t(r) * to, 0, to);
                       std::memcpy(out + size_t(r) * to, base + size_t(rel[k + r]) * from, common);
                   }
               });
}

bool FitsFloat(double d)
{
    return std::fabs(d) <= double(FLT_MAX); // false for NaN too
}

int NormalTypeId()
{
    return CloudNormalExtraData::TypeId();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// GCloudPointData

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
            return 1;
        }
    }
    m_entries.push_back(Entry{extraDataType, width, value});
    return 0;
}

// ---------------------------------------------------------------------------------------------
// GCloud: life cycle

GCloud::GCloud() = default;

GCloud::GCloud(const GCloud& other)
    : m_subsetCapacity(other.m_subsetCapacity), m_subsets(other.m_subsets),
      m_visibleBefore(other.m_visibleBefore), m_storedCount(other.m_storedCount),
      m_types(other.m_types), m_matrix(other.m_matrix), m_inverse(other.m_inverse),
      m_frameExplicit(other.m_frameExplicit), m_type(other.m_type), m_valMin(other.m_valMin),
      m_valMax(other.m_valMax)
{
    for (CloudSubset* s : m_subsets)
        s->AddRef();
}

// Moves allocate nothing (they are noexcept): the moved-from cloud keeps empty tables, and an
// empty visible-count table reads as a cloud without points.
GCloud::GCloud(GCloud&& other) noexcept
    : m_subsetCapacity(other.m_subsetCapacity), m_subsets(std::move(other.m_subsets)),
      m_visibleBefore(std::move(other.m_visibleBefore)), m_storedCount(other.m_storedCount),
      m_types(std::move(other.m_types)), m_matrix(other.m_matrix), m_inverse(other.m_inverse),
      m_frameExplicit(other.m_frameExplicit), m_type(other.m_type), m_valMin(other.m_valMin),
      m_valMax(other.m_valMax)
{
    other.m_subsets.clear();
    other.m_visibleBefore.clear();
    other.m_storedCount = 0;
    other.m_types.clear();
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
    m_matrix = other.m_matrix;
    m_inverse = other.m_inverse;
    m_frameExplicit = other.m_frameExplicit;
    m_type = other.m_type;
    m_valMin = other.m_valMin;
    m_valMax = other.m_valMax;
    // The moved-from cloud is empty and usable (its settings stay).
    other.m_subsets.clear();
    other.m_visibleBefore.clear();
    other.m_storedCount = 0;
    other.m_types.clear();
    return *this;
}

GCloud::~GCloud()
{
    ReleaseAll();
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
    m_matrix = matrix;
    m_inverse = inverse;
    m_frameExplicit = true;
    return true;
}

void GCloud::CopySettingsFrom(const GCloud& source)
{
    m_subsetCapacity = source.m_subsetCapacity;
    m_matrix = source.m_matrix;
    m_inverse = source.m_inverse;
    m_frameExplicit = source.m_frameExplicit;
    m_type = source.m_type;
    m_valMin = source.m_valMin;
    m_valMax = source.m_valMax;
    m_types = source.m_types;
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
        ZeroAppend(tables.back(), sub->StoredCount());
    }
    for (uint32_t s = 0; s < m_subsets.size(); ++s)
        m_subsets[s]->extras.push_back(CloudSubset::ExtraTable{typeId, std::move(tables[s])});
    m_types.push_back(TypeSlot{typeId, width});
}

void GCloud::AddVisible(uint32_t m)
{
    m_storedCount += m;
    m_visibleBefore.back() += m;
}

ExitCodeAddPoint GCloud::AddPoint(const GCloudPointData& point)
{
    const GPointDouble* p = point.GetPosition();
    if (p == nullptr)
        return ExitCodeAddPoint::NoPosition;
    if (!std::isfinite(p->x) || !std::isfinite(p->y) || !std::isfinite(p->z))
        return ExitCodeAddPoint::NonFinitePosition;

    Matrix3x4 matrix = m_matrix;
    Matrix3x4 inverse = m_inverse;
    const bool moveFrame =
        m_storedCount == 0 && !m_frameExplicit && orv::Math::Algebra::IsIdentity(m_matrix);
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
            std::memset(out, 0, width);
            if (entry != nullptr)
                std::memcpy(out, entry->value, std::min(width, entry->width));
        }
    }
    ++sub.visible;
    AddVisible(1);
    if (moveFrame)
    {
        m_matrix = matrix;
        m_inverse = inverse;
    }
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
// GCloud: appending runs of points from another cloud

struct GCloud::AppendPlan
{
    bool sameFrame = true; // coordinates copied bit for bit
    Matrix3x4 toLocal{};   // source local -> this local
    Matrix3x3 rotation{};  // for stored directions
    bool rotate = false;
    std::vector<int> sourceTable; // per type of this cloud: table index in the source, or -1
    std::vector<uint32_t> sourceWidth;
    std::vector<const ICloudExtraDataPolicy*> rotator; // per type: policy that rotates, or null
    std::vector<bool> builtinNormal;                   // per type: rotate as a compressed vector
};

GCloud::AppendPlan GCloud::MakePlan(const GCloud& source) const
{
    AppendPlan plan;
    plan.sameFrame = std::memcmp(source.m_matrix.v, m_matrix.v, sizeof m_matrix.v) == 0;
    if (!plan.sameFrame)
    {
        plan.toLocal = orv::Math::Algebra::Multiply(m_inverse, source.m_matrix);
        plan.rotation = orv::Math::Algebra::Linear(plan.toLocal);
        plan.rotate = !orv::Math::Algebra::IsIdentity(plan.rotation);
    }
    const int normalId = NormalTypeId();
    for (const TypeSlot& t : m_types)
    {
        const int j = source.FindType(t.typeId);
        plan.sourceTable.push_back(j);
        plan.sourceWidth.push_back(j >= 0 ? source.m_types[size_t(j)].width : 0);
        const ICloudExtraDataPolicy* policy =
            plan.rotate ? orv::Data::ExtraData::Details::FindAnyCloudExtraDataPolicy(t.typeId)
                        : nullptr;
        plan.rotator.push_back(policy);
        plan.builtinNormal.push_back(plan.rotate && policy == nullptr && t.typeId == normalId &&
                                     t.width == sizeof(orv::Math::Algebra::CompressedVector32Bits));
    }
    return plan;
}

uint64_t GCloud::AppendPoints(const CloudSubset& from, uint32_t start, const uint32_t* rel,
                              uint32_t n, const AppendPlan& plan)
{
    const uint8_t* coordinateBase = static_cast<const uint8_t*>(from.coordinates.GetElm(start));
    float moved[3 * kChunk];
    uint32_t kept[kChunk];
    uint32_t count = n;
    if (!plan.sameFrame)
    {
        count = 0;
        for (uint32_t k = 0; k < n; ++k)
        {
            const float* q = reinterpret_cast<const float*>(coordinateBase + size_t(rel[k]) * 12);
            const GPointDouble l =
                orv::Math::Algebra::TransformPoint(plan.toLocal, GPointDouble{q[0], q[1], q[2]});
            if (!FitsFloat(l.x) || !FitsFloat(l.y) || !FitsFloat(l.z))
                continue;
            moved[3 * count] = static_cast<float>(l.x);
            moved[3 * count + 1] = static_cast<float>(l.y);
            moved[3 * count + 2] = static_cast<float>(l.z);
            kept[count++] = rel[k];
        }
        rel = kept;
    }
    uint32_t done = 0;
    while (done < count)
    {
        CloudSubset& dst = WritableLastSubsetWithRoom();
        const uint32_t before = dst.StoredCount();
        const uint32_t m = std::min(count - done, m_subsetCapacity - before);
        if (plan.sameFrame)
        {
            GatherFixed<12>(dst.coordinates, coordinateBase, rel + done, m);
        }
        else
        {
            const float* src = moved + 3 * size_t(done);
            ForEachRun(dst.coordinates, AppendSlots(dst.coordinates, m), m,
                       [src](uint8_t* out, uint32_t k, uint32_t run)
                       { std::memcpy(out, src + 3 * size_t(k), size_t(run) * 12); });
        }
        for (size_t j = 0; j < dst.extras.size(); ++j)
        {
            TableCluster& table = dst.extras[j].table;
            const int sj = plan.sourceTable[j];
            if (sj < 0)
            {
                ZeroAppend(table, m);
                continue;
            }
            const TableCluster& source = from.extras[size_t(sj)].table;
            GatherAnyWidth(table, static_cast<const uint8_t*>(source.GetElm(start)),
                           plan.sourceWidth[j], rel + done, m);
            if (plan.rotator[j] != nullptr || plan.builtinNormal[j])
            {
                const ICloudExtraDataPolicy* rotator = plan.rotator[j];
                const uint32_t w = table.GetElementSize();
                ForEachRun(table, before, m,
                           [&](uint8_t* out, uint32_t, uint32_t run)
                           {
                               for (uint32_t r = 0; r < run; ++r)
                               {
                                   uint8_t* element = out + size_t(r) * w;
                                   if (rotator != nullptr)
                                   {
                                       rotator->TransformElement(element, plan.rotation);
                                   }
                                   else
                                   {
                                       orv::Math::Algebra::CompressedVector32Bits v;
                                       std::memcpy(&v.bits, element, 4);
                                       v *= plan.rotation;
                                       std::memcpy(element, &v.bits, 4);
                                   }
                               }
                           });
            }
        }
        if (dst.filter != nullptr)
            dst.filter->Resize(before + m, true);
        dst.visible += m;
        AddVisible(m);
        done += m;
    }
    return n - count;
}

bool GCloud::AddCloud(const GCloud& other)
{
    const GCloud source(other); // cheap; keeps the source intact when other is this cloud
    if (source.GetPointCount() == 0)
        return true;
    // A failure half-way (memory) puts the cloud back as it was: a caller told that the append
    // failed must not find part of `other` in it, or trying again would duplicate points.
    // Appends only ever grow the last subset and add subsets and types after it, so the counts
    // below are all there is to restore; nothing in the restoring allocates.
    const uint64_t storedBefore = m_storedCount;
    const uint64_t visibleBefore = GetPointCount();
    const size_t subsetsBefore = m_subsets.size();
    const size_t typesBefore = m_types.size();
    const uint32_t lastStored = subsetsBefore != 0 ? m_subsets.back()->StoredCount() : 0;
    const uint32_t lastVisible = subsetsBefore != 0 ? m_subsets.back()->visible : 0;
    const Matrix3x4 matrixBefore = m_matrix;
    const Matrix3x4 inverseBefore = m_inverse;
    try
    {
        if (m_storedCount == 0 && !m_frameExplicit && orv::Math::Algebra::IsIdentity(m_matrix))
        {
            m_matrix = source.m_matrix;
            m_inverse = source.m_inverse;
        }
        for (const TypeSlot& t : source.m_types)
            EnsureType(t.typeId, t.width);
        const AppendPlan plan = MakePlan(source);
        uint64_t skipped = 0;
        uint32_t rel[kChunk];
        for (const CloudSubset* sub : source.m_subsets)
        {
            if (sub->visible == 0)
                continue;
            const uint32_t n = sub->StoredCount();
            const uint32_t epb = sub->ElementsPerBuffer();
            const LightTableOfBit* filter = sub->filter.get();
            for (uint32_t start = 0; start < n;)
            {
                const uint32_t size = std::min({kChunk, epb - start % epb, n - start});
                uint32_t count = 0;
                for (uint32_t i = 0; i < size; ++i)
                {
                    rel[count] = i;
                    count += (filter == nullptr || filter->Get(start + i)) ? 1 : 0;
                }
                skipped += AppendPoints(*sub, start, rel, count, plan);
                start += size;
            }
        }
        return skipped == 0;
    }
    catch (...)
    {
        while (m_subsets.size() > subsetsBefore)
        {
            m_subsets.back()->Release();
            m_subsets.pop_back();
            m_visibleBefore.pop_back();
        }
        for (CloudSubset* sub : m_subsets)
        {
            // Only subsets that received a new type's table, all made writable for it.
            if (sub->extras.size() > typesBefore)
                sub->extras.erase(sub->extras.begin() + std::ptrdiff_t(typesBefore),
                                  sub->extras.end());
        }
        m_types.erase(m_types.begin() + std::ptrdiff_t(typesBefore), m_types.end());
        if (subsetsBefore != 0 && m_subsets.back()->StoredCount() != lastStored)
        {
            CloudSubset* last = m_subsets.back(); // written to, hence not shared
            last->coordinates.count = lastStored;
            for (CloudSubset::ExtraTable& e : last->extras)
                e.table.count = lastStored;
            if (last->filter != nullptr)
                last->filter->Resize(lastStored, true);
            last->visible = lastVisible;
        }
        if (!m_visibleBefore.empty())
            m_visibleBefore.back() = visibleBefore;
        m_storedCount = storedBefore;
        m_matrix = matrixBefore;
        m_inverse = inverseBefore;
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Selection

SelectionCopier::SelectionCopier(const GCloud& source, GCloud* first, GCloud* second)
    : m_source(source), m_firstTarget(first), m_secondTarget(second),
      m_translationOnly(
          orv::Math::Algebra::IsIdentity(orv::Math::Algebra::Linear(source.GetMatrix())))
{
    if (first != nullptr && first == second)
    {
        m_status = -1;
        return;
    }
    if (first != nullptr)
        m_first.CopySettingsFrom(source);
    if (second != nullptr)
        m_second.CopySettingsFrom(source);
}

SelectionCopier::~SelectionCopier() = default;

uint32_t SelectionCopier::NextChunk(double* x, double* y, double* z)
{
    while (m_subset < m_source.GetSubsetCount())
    {
        const CloudSubset* sub = m_source.GetSubset(m_subset);
        const uint32_t stored = sub->StoredCount();
        if (sub->visible == 0 || m_next >= stored)
        {
            ++m_subset;
            m_next = 0;
            continue;
        }
        const uint32_t epb = sub->ElementsPerBuffer();
        const uint32_t n = std::min({kChunk, epb - m_next % epb, stored - m_next});
        const float* q = static_cast<const float*>(sub->coordinates.GetElm(m_next));
        const Matrix3x4& m = m_source.GetMatrix();
        if (m_translationOnly)
        {
            // ((0 y + 1 x) + 0 z) + t is x + t to the bit (up to the sign of a zero, which no
            // comparison sees): the usual frame of a cloud built point by point.
            const double tx = m.v[9], ty = m.v[10], tz = m.v[11];
            for (uint32_t i = 0; i < n; ++i, q += 3)
            {
                x[i] = double(q[0]) + tx;
                y[i] = double(q[1]) + ty;
                z[i] = double(q[2]) + tz;
            }
        }
        else
        {
            for (uint32_t i = 0; i < n; ++i, q += 3)
            {
                const GPointDouble w =
                    orv::Math::Algebra::TransformPoint(m, GPointDouble{q[0], q[1], q[2]});
                x[i] = w.x;
                y[i] = w.y;
                z[i] = w.z;
            }
        }
        m_chunkSubset = sub;
        m_chunkStart = m_next;
        m_chunkSize = n;
        m_next += n;
        return n;
    }
    return 0;
}

void SelectionCopier::Commit(const uint8_t* accept)
{
    const uint32_t n = m_chunkSize;
    uint32_t na = 0;
    uint32_t nr = 0;
    const LightTableOfBit* filter = m_chunkSubset->filter.get();
    // Branch-free partition of the chunk: the order of the points costs nothing.
    if (filter == nullptr && m_secondTarget == nullptr)
    {
        for (uint32_t i = 0; i < n; ++i)
        {
            m_accepted[na] = i;
            na += accept[i] != 0 ? 1 : 0;
        }
    }
    else if (filter == nullptr)
    {
        for (uint32_t i = 0; i < n; ++i)
        {
            const uint32_t a = accept[i] != 0 ? 1 : 0;
            m_accepted[na] = i;
            m_rejected[nr] = i;
            na += a;
            nr += 1 - a;
        }
    }
    else
    {
        for (uint32_t i = 0; i < n; ++i)
        {
            const uint32_t v = filter->Get(m_chunkStart + i) ? 1 : 0;
            const uint32_t a = accept[i] != 0 ? 1 : 0;
            m_accepted[na] = i;
            m_rejected[nr] = i;
            na += v & a;
            nr += v & (1 - a);
        }
    }
    if (m_firstTarget != nullptr && na != 0)
        m_first.AppendSameLayout(*m_chunkSubset, m_chunkStart, m_accepted, na);
    if (m_secondTarget != nullptr && nr != 0)
        m_second.AppendSameLayout(*m_chunkSubset, m_chunkStart, m_rejected, nr);
}

int SelectionCopier::Finish()
{
    if (m_status != 0)
        return m_status;
    if (m_firstTarget != nullptr)
        *m_firstTarget = std::move(m_first);
    if (m_secondTarget != nullptr)
        *m_secondTarget = std::move(m_second);
    return 0;
}

void GCloud::AppendSameLayout(const CloudSubset& from, uint32_t start, const uint32_t* rel,
                              uint32_t n)
{
    uint32_t done = 0;
    while (done < n)
    {
        CloudSubset& dst = WritableLastSubsetWithRoom();
        const uint32_t before = dst.StoredCount();
        const uint32_t m = std::min(n - done, m_subsetCapacity - before);
        GatherFixed<12>(dst.coordinates,
                        static_cast<const uint8_t*>(from.coordinates.GetElm(start)), rel + done, m);
        for (size_t j = 0; j < dst.extras.size(); ++j)
        {
            const TableCluster& source = from.extras[j].table;
            GatherAnyWidth(dst.extras[j].table, static_cast<const uint8_t*>(source.GetElm(start)),
                           source.GetElementSize(), rel + done, m);
        }
        if (dst.filter != nullptr)
            dst.filter->Resize(before + m, true);
        dst.visible += m;
        AddVisible(m);
        done += m;
    }
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

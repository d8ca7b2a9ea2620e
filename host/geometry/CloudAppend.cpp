#include "host/geometry/Cloud.h"

#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/internal/CloudSubset.h"
#include "host/geometry/internal/CloudTableAppend.h"

#include <algorithm>
#include <cstring>
#include <vector>

// GCloud::AddCloud: appending the visible points of another cloud, re-expressed in this
// cloud's frame, with the plan that says how each extra-data table is carried over.

namespace orv::Data::Cloud
{

using orv::Collection::LightTableOfBit;
using orv::Collection::TableCluster;
using orv::Data::ExtraData::Details::ICloudExtraDataPolicy;
using namespace orv::Data::Cloud::Details;

namespace
{

constexpr uint32_t kChunk = SelectionCopier::kChunk;

int NormalTypeId()
{
    return CloudNormalExtraData::TypeId();
}

} // namespace

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
                AppendLacking(table, m);
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
        // An empty cloud whose frame was never set adopts the other's (the reference host's
        // re-basing; the alternate host keeps the identity frame until SetMatrix).
        if (m_storedCount == 0 && !m_frameExplicit && orv::Math::Algebra::IsIdentity(m_matrix) &&
            !orv::IsAlternateHost())
        {
            SetFrame(source.m_matrix, source.m_inverse);
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
        SetFrame(matrixBefore, inverseBefore);
        throw;
    }
}

} // namespace orv::Data::Cloud

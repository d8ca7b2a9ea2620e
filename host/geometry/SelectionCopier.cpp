#include "host/geometry/Cloud.h"

#include "host/base/HostVariant.h"
#include "host/geometry/internal/CloudSubset.h"
#include "host/geometry/internal/CloudTableAppend.h"

#include <algorithm>

// The per-chunk part of GCloud::ApplySelectionProcedure (see Cloud.h).

namespace orv::Data::Cloud
{

using orv::Collection::LightTableOfBit;
using orv::Collection::TableCluster;
using namespace orv::Data::Cloud::Details;

// ---------------------------------------------------------------------------------------------
// Selection

SelectionCopier::SelectionCopier(const GCloud& source, GCloud* first, GCloud* second)
    : m_source(source), m_firstTarget(first), m_secondTarget(second),
      m_translationOnly(
          orv::Math::Algebra::IsIdentity(orv::Math::Algebra::Linear(source.GetMatrix()))),
      m_reverseChunks(orv::IsAlternateHost())
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
    // The order of the outputs is the host's: the reference host keeps the source order, the
    // alternate host reverses the points of every chunk.
    if (m_reverseChunks)
    {
        std::reverse(m_accepted, m_accepted + na);
        std::reverse(m_rejected, m_rejected + nr);
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

} // namespace orv::Data::Cloud

#pragma once

#include "host/base/HostVariant.h"
#include "host/core/TableCluster.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

// Appending runs of elements to a cloud's element tables: shared by point appends, cloud
// appends and the selection copier. Internal to the host's cloud.

namespace orv::Data::Cloud::Details
{

using orv::Collection::TableCluster;

// Makes room for m more elements and counts them as stored; returns the position of the
// first. The table's only size state is `count`, and slots of obtained buffers are
// addressable, so a run of elements is appended with one capacity check instead of one call
// per element. The caller writes every new element before anyone reads the table.
inline uint32_t AppendSlots(TableCluster& t, uint32_t m)
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

// The byte every element (or part of one) a point lacks is filled with: zeros on the reference
// host, a recognisable non-zero pattern on the alternate one (nothing promises zeros there).
inline uint8_t LackingElementFill()
{
    return orv::IsAlternateHost() ? orv::kAlternateFillByte : 0;
}

// Appends m elements a point lacks.
inline void AppendLacking(TableCluster& t, uint32_t m)
{
    if (m == 0)
        return;
    const uint32_t w = t.GetElementSize();
    const uint8_t fill = LackingElementFill();
    ForEachRun(t, AppendSlots(t, m), m,
               [w, fill](uint8_t* out, uint32_t, uint32_t run)
               { std::memset(out, fill, size_t(run) * w); });
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
// the rest filled as lacking (a width the type had in another cloud).
inline void GatherAnyWidth(TableCluster& t, const uint8_t* base, uint32_t from, const uint32_t* rel,
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
    const uint8_t fill = LackingElementFill();
    ForEachRun(t, AppendSlots(t, m), m,
               [&](uint8_t* out, uint32_t k, uint32_t run)
               {
                   for (uint32_t r = 0; r < run; ++r)
                   {
                       std::memset(out + size_t(r) * to, fill, to);
                       std::memcpy(out + size_t(r) * to, base + size_t(rel[k + r]) * from, common);
                   }
               });
}

inline bool FitsFloat(double d)
{
    return std::fabs(d) <= double(FLT_MAX); // false for NaN too
}

} // namespace orv::Data::Cloud::Details

#include "provider/internal/PointCloudDataBlocks.h"

#include "extradata/NormalIntensityPolicies.h"
#include "extradata/internal/ComponentTable.h"
#include "provider/internal/PointCloudDataIterable.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace orv::Data::Cloud
{

using orv::DataProxy::PointDataBlock;
using orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy;
using orv::Math::Algebra::GVector3;

namespace
{

using Iterator = orv::Collection::TableCluster::Iterator;

// Elements left in the iterator's current buffer (the iterator is not at its end).
std::size_t Available(const Iterator& it, std::size_t wanted)
{
    if (it.stride == 0)
    {
        return wanted;
    }
    return static_cast<std::size_t>(it.bufEnd - it.ptr + it.stride - 1) / it.stride;
}

// Moves the iterator over c elements of its current buffer, as c inline steps do: the next
// buffer is fetched when the address reaches the buffer's end.
void Step(Iterator& it, std::size_t c)
{
    it.ptr += static_cast<std::size_t>(it.stride) * c;
    it.pos += static_cast<std::uint32_t>(c);
    if (it.ptr == it.bufEnd)
    {
        it.FirstOfNextBuf();
    }
}

} // namespace

PointCloudDataBlockReader::PointCloudDataBlockReader(
    const PointCloudDataIterable& iterable, const orv::DataProxy::IPointDataConsumer& narrowing)
    : plan(iterable.Consumer(), &narrowing, iterable.Cloud(), iterable.Mapping(), iterable.Begin(),
           iterable.End()),
      kernels(BlockKernels::Best()), cloudMin(std::as_const(plan.cloud).Convert().GetValMin()),
      cloudMax(std::as_const(plan.cloud).Convert().GetValMax())
{
    plan.ChooseDecoders(kernels);
    layout.positions = plan.positionReader.has_value();
    layout.pointIndices = true;
    for (const ReadPlan::Key& read : plan.keys)
    {
        layout.keys.push_back(read.key);
        generic = generic || read.decode == Decode::Generic;
    }
    locals.resize(PointDataBlock::kCapacity);
    Enter();
}

orv::DataProxy::PointDataBlockLayout PointCloudDataBlockReader::GetLayout() const
{
    return layout;
}

// Takes the walk's position from the host cursor, which stands on a point of a new subset (or
// at its end), and places every iterator there.
void PointCloudDataBlockReader::Enter()
{
    const CloudCursorBase<1>& host = *plan.hostCursor;
    local = host.GetLocalIndex();
    ordinal = host.GetOrdinal();
    subsetBase = host.GetPointIndex() - local;
    plan.Enter();
}

std::size_t PointCloudDataBlockReader::Fill(PointDataBlock& block)
{
    std::size_t filled = 0;
    while (filled < PointDataBlock::kCapacity && ordinal < plan.end)
    {
        if (reseat)
        {
            reseat = false;
            plan.Reseat(ordinal);
            Enter();
            continue;
        }
        const std::uint64_t count = plan.hostCursor->GetSubsetNumber();
        if (local >= count)
        {
            break; // the host cursor is at its end: no point is left, whatever `end` says
        }
        const std::uint64_t room =
            std::min<std::uint64_t>(PointDataBlock::kCapacity - filled, plan.end - ordinal);
        if (generic || plan.hostCursor->HasSubsetFilter())
        {
            filled += ReadStepping(block, filled, room);
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(std::min(room, count - local));
        kernels.sequence(subsetBase + local, n, block.MutablePointIndices() + filled);
        ReadRun(block, filled, n);
        filled += n;
        ordinal += n;
        local += n;
        reseat = local >= count;
    }
    block.SetSize(filled);
    return filled;
}

// The host cursor steps from visible point to visible point. Keys read through a policy not of
// ours are read at each point before the step, the host cursor on it; the other keys and the
// positions afterwards, by stretches of consecutive points, their iterators skipping the hidden
// points between stretches as the cursor's steps would move them.
std::size_t PointCloudDataBlockReader::ReadStepping(PointDataBlock& block, std::size_t at,
                                                    std::uint64_t room)
{
    CloudCursorBase<1>& host = *plan.hostCursor;
    std::uint64_t* const indices = block.MutablePointIndices();
    std::vector<PointDataBlock::Storage>& columns = block.MutableColumns();
    std::size_t n = 0;
    bool subsetChanged = false;
    while (n < room && !subsetChanged)
    {
        locals[n] = host.GetLocalIndex();
        indices[at + n] = host.GetPointIndex();
        for (std::size_t k = 0; generic && k < plan.keys.size(); ++k)
        {
            if (plan.keys[k].decode == Decode::Generic)
            {
                ReadKey(plan.keys[k], columns[k], at + n, 1);
            }
        }
        ++n;
        const auto step = host.Step();
        subsetChanged = step.subsetChanged;
        for (std::size_t k = 0; generic && !subsetChanged && step.step > 1 && k < plan.keys.size();
             ++k)
        {
            // ReadKey moved the iterator one element on, to the next stored point.
            Iterator& it = plan.keys[k].iterator;
            if (plan.keys[k].decode == Decode::Generic && !it.AtBufferEnd())
            {
                it += static_cast<std::int64_t>(step.step - 1);
            }
        }
    }
    ordinal += n;
    for (std::size_t i = 0; i < n;)
    {
        std::size_t j = i + 1;
        while (j < n && locals[j] == locals[j - 1] + 1)
        {
            ++j;
        }
        ReadRun(block, at + i, j - i);
        if (j < n)
        {
            Skip(locals[j] - locals[j - 1] - 1);
        }
        i = j;
    }
    if (subsetChanged)
    {
        Enter();
    }
    else
    {
        local = host.GetLocalIndex();
        Skip(local - locals[n - 1] - 1);
    }
    return n;
}

// After a run the iterators of the keys read by runs stand one element past its last point; k
// more hidden points lie before the next visible one.
void PointCloudDataBlockReader::Skip(std::uint64_t k)
{
    if (k != 0)
    {
        plan.Advance(k, false);
    }
}

// The points [at, at + n) from the iterators of the positions and of the keys read by runs (the
// others are read point by point, see ReadStepping).
void PointCloudDataBlockReader::ReadRun(PointDataBlock& block, std::size_t at, std::size_t n)
{
    if (plan.positionReader)
    {
        ReadPositions(block, at, n);
    }
    std::vector<PointDataBlock::Storage>& columns = block.MutableColumns();
    for (std::size_t k = 0; k < plan.keys.size(); ++k)
    {
        if (plan.keys[k].decode != Decode::Generic)
        {
            ReadKey(plan.keys[k], columns[k], at, n);
        }
    }
}

void PointCloudDataBlockReader::ReadPositions(PointDataBlock& block, std::size_t at, std::size_t n)
{
    Iterator& it = plan.positionReader->iterator;
    const double* m = plan.hostCursor->GetMatrix().v;
    double* x = block.MutableX() + at;
    double* y = block.MutableY() + at;
    double* z = block.MutableZ() + at;
    while (n > 0)
    {
        if (it.AtBufferEnd())
        {
            // A coordinate table shorter than its subset: no sound host has one. The cursor
            // would read through a null element; the block says "not a number".
            std::fill(x, x + n, std::numeric_limits<double>::quiet_NaN());
            std::fill(y, y + n, std::numeric_limits<double>::quiet_NaN());
            std::fill(z, z + n, std::numeric_limits<double>::quiet_NaN());
            return;
        }
        const std::size_t c = std::min(n, Available(it, n));
        if (it.stride == 3 * sizeof(float))
        {
            kernels.positions(it.ptr, c, m, x, y, z);
        }
        else
        {
            for (std::size_t i = 0; i < c; ++i)
            {
                kernels.positions(it.ptr + std::size_t(it.stride) * i, 1, m, x + i, y + i, z + i);
            }
        }
        Step(it, c);
        x += c;
        y += c;
        z += c;
        n -= c;
    }
}

void PointCloudDataBlockReader::ReadKey(ReadPlan::Key& reader, PointDataBlock::Storage& column,
                                        std::size_t at, std::size_t n)
{
    const std::size_t valueSize = PointDataBlock::ValueSize(reader.key.component);
    std::uint8_t* present = column.present + at;
    std::uint8_t* values = static_cast<std::uint8_t*>(column.values) + at * valueSize;
    Iterator& it = reader.iterator;
    while (n > 0)
    {
        if (reader.decode == Decode::Absent || it.AtBufferEnd())
        {
            // No policy, or no element: no value, and the iterator stays where it is.
            std::memset(present, 0, n);
            std::memset(values, 0, n * valueSize);
            return;
        }
        const std::size_t c = std::min(n, Available(it, n));
        DecodeElements(reader, it.ptr, it.stride, c, values);
        std::memset(present, 1, c);
        Step(it, c);
        present += c;
        values += c * valueSize;
        n -= c;
    }
}

void PointCloudDataBlockReader::DecodeElements(const ReadPlan::Key& reader,
                                               const std::uint8_t* elements, std::uint32_t stride,
                                               std::size_t n, void* values) const
{
    if (stride == reader.elementSize)
    {
        switch (reader.decode)
        {
        case Decode::WidenU8:
            return kernels.widenU8(elements, n, static_cast<std::uint64_t*>(values));
        case Decode::WidenU16:
            return kernels.widenU16(elements, n, static_cast<std::uint64_t*>(values));
        case Decode::WidenU32:
            return kernels.widenU32(elements, n, static_cast<std::uint64_t*>(values));
        case Decode::WidenF32:
            return kernels.widenF32(elements, n, static_cast<double*>(values));
        case Decode::Normal:
            return kernels.normals(elements, n, plan.hostCursor->GetMatrix().v,
                                   static_cast<GVector3*>(values));
        case Decode::Compressed:
            return kernels.compressed(elements, n, cloudMin, cloudMax,
                                      static_cast<double*>(values));
        default:
            break;
        }
    }
    if (reader.decode == Decode::Constant)
    {
        auto* out = static_cast<double*>(values);
        std::fill(out, out + n, CloudIntensityExtraDataConversionPolicy::kUnsupportedModeValue);
        return;
    }
    orv::DataProxy::ExtraData::VisitComponentRow(reader.key.component,
                                                 [&](auto row)
                                                 {
                                                     using Row = decltype(row);
                                                     CallPolicy<typename Row::HostValue>(
                                                         reader, elements, stride, n,
                                                         static_cast<typename Row::Value*>(values));
                                                 });
}

template <class T, class Out>
void PointCloudDataBlockReader::CallPolicy(const ReadPlan::Key& reader,
                                           const std::uint8_t* elements, std::uint32_t stride,
                                           std::size_t n, Out* out) const
{
    const auto* policy = reader.Policy<T>();
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = orv::DataProxy::ExtraData::ToAccessorValue(
            policy->GetValue(elements + std::size_t(stride) * i, *plan.hostCursor));
    }
}

} // namespace orv::Data::Cloud

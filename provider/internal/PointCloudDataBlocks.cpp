#include "provider/internal/PointCloudDataBlocks.h"

#include "extradata/internal/ComponentTable.h"
#include "extradata/internal/LibraryPolicies.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/Values.h"
#include "provider/internal/PointCloudDataIterable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <typeindex>
#include <utility>

namespace orv::Data::Cloud
{

using orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy;
using orv::Data::Primitive::ColorValue;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::PointDataBlock;
using orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy;
using orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy;
using orv::Math::Algebra::GVector3;
using ComponentKey = orv::DataProxy::PointDataComponents::ComponentKey;

namespace
{

// Which of this library's policy classes a policy is.
enum class Own : std::uint8_t
{
    None,
    ScalarUnsigned,
    ScalarReal,
    Normal,
    Intensity
};

template <class P>
constexpr Own KindOf()
{
    if constexpr (std::is_same_v<P, CloudNormalExtraDataConversionPolicy>)
        return Own::Normal;
    else if constexpr (std::is_same_v<P, CloudIntensityExtraDataConversionPolicy>)
        return Own::Intensity;
    else if constexpr (std::is_same_v<typename P::Value, double>)
        return Own::ScalarReal;
    else
        return Own::ScalarUnsigned;
}

template <class... P>
Own Recognise(const std::type_info& type, orv::DataProxy::ExtraData::PolicyList<P...>)
{
    Own found = Own::None;
    (void)((type == typeid(P) ? (found = KindOf<P>(), true) : false) || ...);
    return found;
}

// The elements the normal and float decodes are checked with before they replace the host's own
// decoders: the edges of the 16-bit codes in both halves, special float patterns, and a spread
// of fixed pseudo-random patterns; a sample, as 2^32 patterns cannot all be tried. The
// compressed intensities have 65,536 codes only and are all checked (CompressedMatchesHost).
// The host's schemes are its own; a host whose decoders give other bits for any of these is
// read element by element through the policies instead.
const std::vector<std::uint32_t>& Probes()
{
    static const std::vector<std::uint32_t> probes = []
    {
        std::vector<std::uint32_t> p = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0x7F800001u,
                                        0x80000000u, 0x00000001u, 0x3F800000u, 0x00800000u};
        const std::uint32_t codes[] = {0,     1,     2,     255,   256,   16383, 32766,
                                       32767, 32768, 49150, 65279, 65533, 65534, 65535};
        for (const std::uint32_t u : codes)
        {
            for (const std::uint32_t v : codes)
            {
                p.push_back(u | v << 16);
                p.push_back((u >> 8) | (u & 0xFFu) << 24 | (v & 0xFFFFu) << 8);
            }
        }
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (int i = 0; i < 512; ++i)
        {
            state = state * 6364136223846793005u + 1442695040888963407u;
            p.push_back(static_cast<std::uint32_t>(state >> 32));
        }
        return p;
    }();
    return probes;
}

const std::uint8_t* ProbeBytes()
{
    return reinterpret_cast<const std::uint8_t*>(Probes().data());
}

template <class T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b)
{
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// The host's VectorGet against the scalar decode, and the chosen kernels against the scalar
// ones under a frame with every kind of coefficient.
bool NormalsMatchHost(const BlockKernels::Kernels& kernels)
{
    const std::vector<std::uint32_t>& probes = Probes();
    std::vector<GVector3> host(probes.size());
    std::vector<GVector3> ours(probes.size());
    for (std::size_t i = 0; i < probes.size(); ++i)
    {
        host[i] = GVector3{0.0, 0.0, 0.0};
        orv::Math::Algebra::CompressedVector32Bits packed;
        std::memcpy(static_cast<void*>(&packed), &probes[i], sizeof packed);
        (void)packed.VectorGet(host[i]);
        ours[i] = BlockKernels::DecodeNormal(probes[i]);
    }
    if (!SameBits(host, ours))
    {
        return false;
    }
    const double frame[9] = {0.6, -0.8, -0.0, 0.8, 0.6, 0.0, 1e-300, -3.0, 1.0 / 3.0};
    BlockKernels::Scalar().normals(ProbeBytes(), probes.size(), frame, host.data());
    kernels.normals(ProbeBytes(), probes.size(), frame, ours.data());
    return SameBits(host, ours);
}

// A kernel giving doubles from 4-byte colour values, against the host's decode of each probe.
template <class Host, class Ours>
bool ValuesMatchHost(Host host, Ours ours)
{
    const std::vector<std::uint32_t>& probes = Probes();
    std::vector<double> expected(probes.size());
    std::vector<double> got(probes.size());
    for (std::size_t i = 0; i < probes.size(); ++i)
    {
        ColorValue stored;
        std::memcpy(static_cast<void*>(&stored), &probes[i], sizeof stored);
        expected[i] = static_cast<double>(host(stored));
    }
    ours(ProbeBytes(), probes.size(), got.data());
    return SameBits(expected, got);
}

bool FloatsMatchHost(const BlockKernels::Kernels& kernels)
{
    return ValuesMatchHost([](const ColorValue& stored) { return stored.GetValueFloat(); },
                           kernels.widenF32);
}

// Every one of the 65,536 compressed-intensity codes (byte 0 high, byte 3 low; the middle
// bytes, which the decode ignores, varied too) in the range of the reader's cloud. A reader is
// made for each piece of a split read: the last range checked is remembered per thread.
bool CompressedMatchesHost(const BlockKernels::Kernels& kernels, float min, float max)
{
    struct Checked
    {
        float min;
        float max;
        bool matches;
    };
    thread_local std::optional<Checked> last;
    if (last && std::memcmp(&last->min, &min, sizeof min) == 0 &&
        std::memcmp(&last->max, &max, sizeof max) == 0)
    {
        return last->matches;
    }
    constexpr std::size_t kCodes = 65536;
    std::vector<std::uint32_t> elements(kCodes);
    std::vector<double> expected(kCodes);
    std::vector<double> got(kCodes);
    for (std::uint32_t code = 0; code < kCodes; ++code)
    {
        const std::uint32_t middle = (code * 2654435761u) & 0x00FFFF00u;
        elements[code] = (code >> 8) | middle | (code & 0xFFu) << 24;
        ColorValue stored;
        std::memcpy(static_cast<void*>(&stored), &elements[code], sizeof stored);
        expected[code] = static_cast<double>(stored.GetCompressedValue(min, max));
    }
    kernels.compressed(reinterpret_cast<const std::uint8_t*>(elements.data()), kCodes, min, max,
                       got.data());
    last = Checked{min, max, SameBits(expected, got)};
    return last->matches;
}

template <class T>
const ICloudExtraDataConversionPolicy<T>* Lookup(int extraDataType)
{
    return dynamic_cast<const ICloudExtraDataConversionPolicy<T>*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
            extraDataType, std::type_index(typeid(T))));
}

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
    : end(iterable.End()), cloud(iterable.Cloud()), kernels(BlockKernels::Best())
{
    const orv::DataProxy::IPointDataConsumer& consumer = iterable.Consumer();
    // The iterable's consumer is asked what a cursor asks it; the caller's, only about what
    // that one wants.
    const auto narrowed = [&](EPointDataComponent component, unsigned char index)
    { return &narrowing == &consumer || narrowing.IsComponentRequested(component, index); };
    const ComponentMapping& mapping = iterable.Mapping();
    const GCloud& host = std::as_const(cloud).Convert();
    hostCursor.emplace(host, iterable.Begin());
    valueMin = host.GetValMin();
    valueMax = host.GetValMax();
    if (consumer.IsComponentRequested(EPointDataComponent::Position, 0) &&
        narrowed(EPointDataComponent::Position, 0))
    {
        positionReader.emplace(*hostCursor);
        layout.positions = true;
    }
    layout.pointIndices = true;
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        if (consumer.IsComponentRequested(key.component, key.index) &&
            orv::DataProxy::IsExtraDataComponent(key.component) &&
            narrowed(key.component, key.index))
        {
            readers.push_back(MakeReader(key, extraDataType));
        }
    }
    std::sort(readers.begin(), readers.end(),
              [](const KeyReader& a, const KeyReader& b)
              {
                  return std::make_pair(a.key.component, a.key.index) <
                         std::make_pair(b.key.component, b.key.index);
              });
    for (const KeyReader& reader : readers)
    {
        layout.keys.push_back(reader.key);
    }
    locals.resize(PointDataBlock::kCapacity);
    Enter();
}

PointCloudDataBlockReader::KeyReader PointCloudDataBlockReader::MakeReader(ComponentKey key,
                                                                           int extraDataType)
{
    KeyReader reader{key, extraDataType, Decode::Generic, nullptr, 4, Iterator()};
    // The typed pointer is kept for the per-element calls, the root for recognising the class.
    const orv::Data::ExtraData::Details::ICloudExtraDataPolicy* policy = nullptr;
    const auto resolve = [&](const auto* typed)
    {
        reader.policy = typed;
        policy = typed;
    };
    orv::DataProxy::ExtraData::VisitComponentRow(
        key.component,
        [&](auto row) { resolve(Lookup<typename decltype(row)::HostValue>(extraDataType)); });
    if (policy == nullptr)
    {
        reader.decode = Decode::Absent;
        return reader;
    }
    static const bool normalsInline = NormalsMatchHost(kernels);
    static const bool floatsInline = FloatsMatchHost(kernels);
    switch (Recognise(typeid(*policy), orv::DataProxy::ExtraData::LibraryPolicies{}))
    {
    case Own::ScalarUnsigned:
        reader.elementSize = policy->GetElementSize();
        reader.decode = reader.elementSize == 1   ? Decode::WidenU8
                        : reader.elementSize == 2 ? Decode::WidenU16
                        : reader.elementSize == 4 ? Decode::WidenU32
                                                  : Decode::Generic;
        break;
    case Own::ScalarReal:
        reader.elementSize = policy->GetElementSize();
        reader.decode = reader.elementSize == 4 ? Decode::WidenF32 : Decode::Generic;
        break;
    case Own::Normal:
        reader.decode = normalsInline ? Decode::Normal : Decode::Generic;
        break;
    case Own::Intensity:
        // The policy reads the mode and range of the cursor's cloud, which is this reader's
        // own copy and never changes: they are read once here.
        switch (std::as_const(cloud).Convert().GetType())
        {
        case 1:
            reader.decode = floatsInline ? Decode::WidenF32 : Decode::Generic;
            break;
        case 3:
            reader.decode = CompressedMatchesHost(kernels, valueMin, valueMax) ? Decode::Compressed
                                                                               : Decode::Generic;
            break;
        default:
            reader.decode = Decode::Constant;
            break;
        }
        break;
    case Own::None:
        break;
    }
    return reader;
}

orv::DataProxy::PointDataBlockLayout PointCloudDataBlockReader::GetLayout() const
{
    return layout;
}

// Takes the walk's position from the host cursor, which stands on a point of a new subset (or
// at its end), and places every iterator there.
void PointCloudDataBlockReader::Enter()
{
    local = hostCursor->GetLocalIndex();
    ordinal = hostCursor->GetOrdinal();
    subsetBase = hostCursor->GetPointIndex() - local;
    if (positionReader)
    {
        positionReader->Reset(local);
    }
    for (KeyReader& reader : readers)
    {
        reader.iterator = hostCursor->GetExtraDataIterator(reader.extraDataType, local);
    }
}

std::size_t PointCloudDataBlockReader::Fill(PointDataBlock& block)
{
    std::size_t filled = 0;
    while (filled < PointDataBlock::kCapacity && ordinal < end)
    {
        if (reseat)
        {
            reseat = false;
            hostCursor.emplace(std::as_const(cloud).Convert(), ordinal);
            if (positionReader)
            {
                positionReader.emplace(*hostCursor);
            }
            Enter();
            continue;
        }
        const std::uint64_t room =
            std::min<std::uint64_t>(PointDataBlock::kCapacity - filled, end - ordinal);
        if (hostCursor->HasSubsetFilter())
        {
            filled += ReadFiltered(block, filled, room);
            continue;
        }
        const std::uint64_t count = hostCursor->GetSubsetNumber();
        if (local >= count)
        {
            break; // the host cursor is at its end: no point is left, whatever `end` says
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

// A subset with hidden points: the host cursor steps from visible point to visible point; the
// stretches of consecutive ones are read as runs, and the iterators skip the hidden points
// between them, as the cursor's steps would move them.
std::size_t PointCloudDataBlockReader::ReadFiltered(PointDataBlock& block, std::size_t at,
                                                    std::uint64_t room)
{
    std::uint64_t* const indices = block.MutablePointIndices();
    std::size_t n = 0;
    bool subsetChanged = false;
    while (n < room && !subsetChanged)
    {
        locals[n] = hostCursor->GetLocalIndex();
        indices[at + n] = hostCursor->GetPointIndex();
        ++n;
        subsetChanged = hostCursor->Step().subsetChanged;
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
        local = hostCursor->GetLocalIndex();
        Skip(local - locals[n - 1] - 1);
    }
    return n;
}

// After a run the iterators stand one element past its last point; k more hidden points lie
// before the next visible one.
void PointCloudDataBlockReader::Skip(std::uint64_t k)
{
    if (k == 0)
    {
        return;
    }
    if (positionReader)
    {
        positionReader->iterator += static_cast<std::int64_t>(k);
    }
    for (KeyReader& reader : readers)
    {
        if (!reader.iterator.AtBufferEnd())
        {
            reader.iterator += static_cast<std::int64_t>(k);
        }
    }
}

void PointCloudDataBlockReader::ReadRun(PointDataBlock& block, std::size_t at, std::size_t n)
{
    if (positionReader)
    {
        ReadPositions(block, at, n);
    }
    std::vector<PointDataBlock::Storage>& columns = block.MutableColumns();
    for (std::size_t k = 0; k < readers.size(); ++k)
    {
        ReadKey(readers[k], columns[k], at, n);
    }
}

void PointCloudDataBlockReader::ReadPositions(PointDataBlock& block, std::size_t at, std::size_t n)
{
    Iterator& it = positionReader->iterator;
    const double* m = hostCursor->GetMatrix().v;
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

void PointCloudDataBlockReader::ReadKey(KeyReader& reader, PointDataBlock::Storage& column,
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

void PointCloudDataBlockReader::DecodeElements(const KeyReader& reader,
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
            return kernels.normals(elements, n, hostCursor->GetMatrix().v,
                                   static_cast<GVector3*>(values));
        case Decode::Compressed:
            return kernels.compressed(elements, n, valueMin, valueMax,
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
void PointCloudDataBlockReader::CallPolicy(const KeyReader& reader, const std::uint8_t* elements,
                                           std::uint32_t stride, std::size_t n, Out* out) const
{
    const auto* policy = static_cast<const ICloudExtraDataConversionPolicy<T>*>(reader.policy);
    for (std::size_t i = 0; i < n; ++i)
    {
        out[i] = orv::DataProxy::ExtraData::ToAccessorValue(
            policy->GetValue(elements + std::size_t(stride) * i, *hostCursor));
    }
}

} // namespace orv::Data::Cloud

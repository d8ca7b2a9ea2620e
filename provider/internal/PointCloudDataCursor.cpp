#include "provider/internal/PointCloudDataCursor.h"

#include "provider/internal/KeyedLookup.h"

#include <algorithm>
#include <stdexcept>
#include <typeindex>
#include <utility>

namespace orv::Data::Cloud
{

using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::ExtraData::ComponentRow;

PointCloudDataCursor::PointCloudDataCursor(const orv::DataProxy::IPointDataConsumer& consumer,
                                           const PointCloud& source,
                                           const ComponentMapping& mapping, std::uint64_t begin,
                                           std::uint64_t endOrdinal)
    // The host cursor reads through the const view: on a copy-on-write host the other one
    // may detach the copy from the storage it shares.
    : end(endOrdinal), cloud(source), hostCursor(std::as_const(cloud).Convert(), begin)
{
    if (consumer.IsComponentRequested(EPointDataComponent::Position, 0))
    {
        positionReader.emplace(hostCursor);
        positionReader->Reset(hostCursor.GetLocalIndex());
    }
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        if (consumer.IsComponentRequested(key.component, key.index))
        {
            // Position, PointIndex and unknown components carry no extra data.
            orv::DataProxy::ExtraData::VisitComponentRow(
                key.component, [&, &index = key.index, &type = extraDataType](auto row)
                { AddReader(ReadersOf<decltype(row)>(), index, type); });
        }
    }
    // Every reader's position, for the step; readers never move from here on.
    const auto list = [this](auto& table)
    {
        for (auto& entry : table.entries)
        {
            positions.push_back(&entry.second.position);
        }
    };
    std::apply([&list](auto&... tables) { (list(tables), ...); }, readers);
}

template <class T>
void PointCloudDataCursor::AddReader(ReaderTable<T>& table, unsigned char index, int extraDataType)
{
    using Policy = orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy<T>;
    const auto* policy = dynamic_cast<const Policy*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
            extraDataType, std::type_index(typeid(T))));
    table.TryAdd(index, Reader<T>{{hostCursor.GetExtraDataIterator(extraDataType,
                                                                   hostCursor.GetLocalIndex()),
                                   extraDataType},
                                  policy});
}

template <class T>
std::optional<T> PointCloudDataCursor::Read(const ReaderTable<T>& table, unsigned char index) const
{
    const Reader<T>& reader = orv::DataProxy::AtOrThrow(table, index);
    // Past the end of a piece the iterators already stand on the next piece's first point:
    // answering from there would hand out a value of a point outside this range.
    if (reader.policy == nullptr || reader.position.iterator.AtBufferEnd() || !IsValid())
    {
        return std::nullopt;
    }
    return reader.policy->GetValue(reader.position.iterator.Get(), hostCursor);
}

namespace
{

[[noreturn]] void ThrowNoPosition(bool requested)
{
    throw std::out_of_range(requested ? "GetPosition: the cursor is past its end"
                                      : "GetPosition: the consumer did not request (Position, 0)");
}

} // namespace

orv::DataProxy::GPointDouble PointCloudDataCursor::GetPosition() const
{
    // Both cases are a caller's slip; neither may bring the host down by reading a position
    // that is not there. One test on the per-point path; the throws stay out of it.
    if (!positionReader || !IsValid())
    {
        ThrowNoPosition(positionReader.has_value());
    }
    const float* stored = static_cast<const float*>(positionReader->iterator.Get());
    const double x = stored[0];
    const double y = stored[1];
    const double z = stored[2];
    const double* m = hostCursor.GetMatrix().v;
    return {((m[1] * y + m[0] * x) + m[2] * z) + m[9], ((m[4] * y + m[3] * x) + m[5] * z) + m[10],
            ((m[7] * y + m[6] * x) + m[8] * z) + m[11]};
}

std::uint64_t PointCloudDataCursor::GetPointIndex() const
{
    return hostCursor.GetPointIndex();
}

std::optional<orv::DataProxy::GVector3> PointCloudDataCursor::GetVector3(unsigned char index) const
{
    return Read(ReadersOf<ComponentRow<EPointDataComponent::Vector3>>(), index);
}

std::optional<std::uint64_t> PointCloudDataCursor::GetUnsignedInteger(unsigned char index) const
{
    return Read(ReadersOf<ComponentRow<EPointDataComponent::UnsignedInteger>>(), index);
}

std::optional<std::int64_t> PointCloudDataCursor::GetSignedInteger(unsigned char index) const
{
    return Read(ReadersOf<ComponentRow<EPointDataComponent::SignedInteger>>(), index);
}

std::optional<double> PointCloudDataCursor::GetReal(unsigned char index) const
{
    return Read(ReadersOf<ComponentRow<EPointDataComponent::Real>>(), index);
}

std::optional<orv::DataProxy::RgbaColor> PointCloudDataCursor::GetColor(unsigned char index) const
{
    const std::optional<orv::Data::Primitive::ColorValue> color =
        Read(ReadersOf<ComponentRow<EPointDataComponent::Color>>(), index);
    if (!color)
    {
        return std::nullopt;
    }
    return orv::DataProxy::ExtraData::ToAccessorValue(*color);
}

void PointCloudDataCursor::MoveNext()
{
    const auto step = hostCursor.Step();
    const std::uint64_t k = step.subsetChanged ? hostCursor.GetLocalIndex() : step.step;
    if (step.subsetChanged)
    {
        if (positionReader)
        {
            positionReader->Reset(k);
        }
        for (ElementPosition* position : positions)
        {
            position->iterator = hostCursor.GetExtraDataIterator(position->extraDataType, k);
        }
        return;
    }
    if (positionReader)
    {
        Advance(positionReader->iterator, k);
    }
    for (ElementPosition* position : positions)
    {
        // A reader past its buffer's end has no element for these points; it answers
        // "no value" until the next subset re-positions it.
        if (!position->iterator.AtBufferEnd())
        {
            Advance(position->iterator, k);
        }
    }
}

std::vector<orv::DataProxy::PointDataComponents::ComponentKey>
PointCloudDataCursor::GetServedKeys() const
{
    std::vector<orv::DataProxy::PointDataComponents::ComponentKey> keys;
    for (auto c = static_cast<std::uint8_t>(EPointDataComponent::Vector3);
         c <= static_cast<std::uint8_t>(EPointDataComponent::Color); ++c)
    {
        const auto component = static_cast<EPointDataComponent>(c);
        const std::size_t first = keys.size();
        orv::DataProxy::ExtraData::VisitComponentRow(
            component,
            [&](auto row)
            {
                for (const auto& entry : ReadersOf<decltype(row)>().entries)
                {
                    keys.push_back({component, entry.first});
                }
            });
        std::sort(keys.begin() + static_cast<std::ptrdiff_t>(first), keys.end(),
                  [](const auto& a, const auto& b) { return a.index < b.index; });
    }
    return keys;
}

bool PointCloudDataCursor::IsValid() const
{
    return hostCursor.GetOrdinal() < end;
}

} // namespace orv::Data::Cloud

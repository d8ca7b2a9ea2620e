#include "provider/internal/PointCloudDataCursor.h"

#include "extradata/internal/ComponentTable.h"
#include "provider/internal/KeyedLookup.h"

#include <stdexcept>

namespace orv::Data::Cloud
{

using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::ExtraData::ComponentRow;

PointCloudDataCursor::PointCloudDataCursor(const orv::DataProxy::IPointDataConsumer& consumer,
                                           const PointCloud& cloud, const ComponentMapping& mapping,
                                           std::uint64_t begin, std::uint64_t end)
    : plan(consumer, nullptr, cloud, mapping, begin, end)
{
}

template <class T>
std::optional<T> PointCloudDataCursor::Read(EPointDataComponent component,
                                            unsigned char index) const
{
    const ReadPlan::Key* read = plan.FirstOf(component);
    const ReadPlan::Key* const last = plan.EndOf(component);
    while (read != last && read->key.index != index)
    {
        ++read;
    }
    if (read == last)
    {
        orv::DataProxy::ThrowMissingKey();
    }
    // Past the end of a piece the iterators already stand on the next piece's first point:
    // answering from there would hand out a value of a point outside this range.
    if (read->policy == nullptr || read->iterator.AtBufferEnd() || !IsValid())
    {
        return std::nullopt;
    }
    return read->Policy<T>()->GetValue(read->iterator.Get(), *plan.hostCursor);
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
    if (!plan.positionReader || !IsValid())
    {
        ThrowNoPosition(plan.positionReader.has_value());
    }
    const float* stored = static_cast<const float*>(plan.positionReader->iterator.Get());
    const double x = stored[0];
    const double y = stored[1];
    const double z = stored[2];
    const double* m = plan.hostCursor->GetMatrix().v;
    return {((m[1] * y + m[0] * x) + m[2] * z) + m[9], ((m[4] * y + m[3] * x) + m[5] * z) + m[10],
            ((m[7] * y + m[6] * x) + m[8] * z) + m[11]};
}

std::uint64_t PointCloudDataCursor::GetPointIndex() const
{
    return plan.hostCursor->GetPointIndex();
}

std::optional<orv::DataProxy::GVector3> PointCloudDataCursor::GetVector3(unsigned char index) const
{
    return Read<typename ComponentRow<EPointDataComponent::Vector3>::HostValue>(
        EPointDataComponent::Vector3, index);
}

std::optional<std::uint64_t> PointCloudDataCursor::GetUnsignedInteger(unsigned char index) const
{
    return Read<typename ComponentRow<EPointDataComponent::UnsignedInteger>::HostValue>(
        EPointDataComponent::UnsignedInteger, index);
}

std::optional<std::int64_t> PointCloudDataCursor::GetSignedInteger(unsigned char index) const
{
    return Read<typename ComponentRow<EPointDataComponent::SignedInteger>::HostValue>(
        EPointDataComponent::SignedInteger, index);
}

std::optional<double> PointCloudDataCursor::GetReal(unsigned char index) const
{
    return Read<typename ComponentRow<EPointDataComponent::Real>::HostValue>(
        EPointDataComponent::Real, index);
}

std::optional<orv::DataProxy::RgbaColor> PointCloudDataCursor::GetColor(unsigned char index) const
{
    const std::optional<orv::Data::Primitive::ColorValue> color =
        Read<orv::Data::Primitive::ColorValue>(EPointDataComponent::Color, index);
    if (!color)
    {
        return std::nullopt;
    }
    return orv::DataProxy::ExtraData::ToAccessorValue(*color);
}

void PointCloudDataCursor::MoveNext()
{
    plan.Step();
}

std::vector<orv::DataProxy::PointDataComponents::ComponentKey>
PointCloudDataCursor::GetServedKeys() const
{
    std::vector<orv::DataProxy::PointDataComponents::ComponentKey> keys;
    for (const ReadPlan::Key& read : plan.keys)
    {
        keys.push_back(read.key);
    }
    return keys;
}

bool PointCloudDataCursor::IsValid() const
{
    return plan.IsValid();
}

} // namespace orv::Data::Cloud

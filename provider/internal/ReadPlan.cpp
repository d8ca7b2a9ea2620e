#include "provider/internal/ReadPlan.h"

#include "extradata/internal/ComponentTable.h"
#include "extradata/internal/LibraryPolicies.h"
#include "provider/internal/BlockKernels.h"

#include <algorithm>
#include <type_traits>
#include <typeindex>
#include <utility>

namespace orv::Data::Cloud
{

using orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy;
using orv::Data::ExtraData::Details::ICloudExtraDataPolicy;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::ExtraData::CloudIntensityExtraDataConversionPolicy;
using orv::DataProxy::ExtraData::CloudNormalExtraDataConversionPolicy;

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
    {
        return Own::Normal;
    }
    else if constexpr (std::is_same_v<P, CloudIntensityExtraDataConversionPolicy>)
    {
        return Own::Intensity;
    }
    else if constexpr (std::is_same_v<typename P::Value, double>)
    {
        return Own::ScalarReal;
    }
    else
    {
        return Own::ScalarUnsigned;
    }
}

template <class... P>
Own Recognise(const std::type_info& type, orv::DataProxy::ExtraData::PolicyList<P...>)
{
    Own found = Own::None;
    (void)((type == typeid(P) ? (found = KindOf<P>(), true) : false) || ...);
    return found;
}

template <class T>
const ICloudExtraDataConversionPolicy<T>* Lookup(int extraDataType)
{
    return dynamic_cast<const ICloudExtraDataConversionPolicy<T>*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
            extraDataType, std::type_index(typeid(T))));
}

} // namespace

ReadPlan::ReadPlan(const orv::DataProxy::IPointDataConsumer& consumer,
                   const orv::DataProxy::IPointDataConsumer* narrowing, const PointCloud& source,
                   const ComponentMapping& mapping, std::uint64_t begin, std::uint64_t endOrdinal)
    : end(endOrdinal), cloud(source)
{
    // The host cursor reads through the const view: on a copy-on-write host the other one may
    // detach the copy from the storage it shares.
    hostCursor.emplace(std::as_const(cloud).Convert(), begin);
    const auto narrowed = [&](EPointDataComponent component, unsigned char index)
    {
        return narrowing == nullptr || narrowing == &consumer ||
               narrowing->IsComponentRequested(component, index);
    };
    if (consumer.IsComponentRequested(EPointDataComponent::Position, 0) &&
        narrowed(EPointDataComponent::Position, 0))
    {
        positionReader.emplace(*hostCursor);
    }
    for (const auto& [key, extraDataType] : mapping.extraDataTypeByKey)
    {
        if (!consumer.IsComponentRequested(key.component, key.index) ||
            !orv::DataProxy::IsExtraDataComponent(key.component) ||
            !narrowed(key.component, key.index))
        {
            continue;
        }
        Key read{key, Decode::Generic, extraDataType, nullptr, 0, 0, Iterator()};
        // The typed pointer is kept for the calls, the root for recognising the class.
        const ICloudExtraDataPolicy* root = nullptr;
        orv::DataProxy::ExtraData::VisitComponentRow(
            key.component,
            [&, type = extraDataType](auto row)
            {
                const auto* typed = Lookup<typename decltype(row)::HostValue>(type);
                read.policy = typed;
                root = typed;
            });
        if (root == nullptr)
        {
            read.decode = Decode::Absent;
        }
        else
        {
            const Own own = Recognise(typeid(*root), orv::DataProxy::ExtraData::LibraryPolicies{});
            read.own = static_cast<std::uint8_t>(own);
            // Only this library's policies are asked: a policy of another is only ever called.
            read.elementSize = own == Own::None ? 0 : root->GetElementSize();
        }
        read.iterator =
            hostCursor->GetExtraDataIterator(extraDataType, hostCursor->GetLocalIndex());
        keys.push_back(read);
    }
    std::sort(keys.begin(), keys.end(),
              [](const Key& a, const Key& b)
              {
                  return std::make_pair(a.key.component, a.key.index) <
                         std::make_pair(b.key.component, b.key.index);
              });
    for (std::size_t slot = 0; slot < firstOf.size(); ++slot)
    {
        const auto component = static_cast<EPointDataComponent>(
            static_cast<std::size_t>(EPointDataComponent::Vector3) + slot);
        firstOf[slot] = keys.data() + (std::find_if(keys.begin(), keys.end(),
                                                    [&](const Key& read)
                                                    { return read.key.component >= component; }) -
                                       keys.begin());
    }
}

void ReadPlan::ChooseDecoders(const BlockKernels::Kernels& kernels)
{
    const GCloud& host = std::as_const(cloud).Convert();
    for (Key& read : keys)
    {
        if (read.decode == Decode::Absent)
        {
            continue;
        }
        switch (static_cast<Own>(read.own))
        {
        case Own::ScalarUnsigned:
            read.decode = read.elementSize == 1   ? Decode::WidenU8
                          : read.elementSize == 2 ? Decode::WidenU16
                          : read.elementSize == 4 ? Decode::WidenU32
                                                  : Decode::Generic;
            break;
        case Own::ScalarReal:
            read.decode = read.elementSize == 4 ? Decode::WidenF32 : Decode::Generic;
            break;
        case Own::Normal:
            read.decode =
                BlockKernels::NormalsMatchHost(kernels) ? Decode::Normal : Decode::Generic;
            break;
        case Own::Intensity:
            // The policy reads the mode and range of the cursor's cloud, which is the plan's own
            // copy and never changes: they are read once here.
            switch (host.GetType())
            {
            case 1:
                read.decode =
                    BlockKernels::FloatsMatchHost(kernels) ? Decode::WidenF32 : Decode::Generic;
                break;
            case 3:
                read.decode =
                    BlockKernels::CompressedMatchesHost(kernels, host.GetValMin(), host.GetValMax())
                        ? Decode::Compressed
                        : Decode::Generic;
                break;
            default:
                read.decode = Decode::Constant;
                break;
            }
            break;
        case Own::None:
            read.decode = Decode::Generic;
            break;
        }
    }
}

void ReadPlan::Skip(Iterator& iterator, std::uint64_t k)
{
    iterator += static_cast<std::int64_t>(k);
}

void ReadPlan::Enter()
{
    const std::uint64_t local = hostCursor->GetLocalIndex();
    if (positionReader)
    {
        positionReader->Reset(local);
    }
    for (Key& read : keys)
    {
        read.iterator = hostCursor->GetExtraDataIterator(read.extraDataType, local);
    }
}

void ReadPlan::Reseat(std::uint64_t ordinal)
{
    hostCursor.emplace(std::as_const(cloud).Convert(), ordinal);
    if (positionReader)
    {
        positionReader.emplace(*hostCursor);
    }
    Enter();
}

} // namespace orv::Data::Cloud

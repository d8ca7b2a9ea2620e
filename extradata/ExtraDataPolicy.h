#pragma once

#include "extradata/ExtraDataTraits.h"
#include "host/core/TableCluster.h"
#include "host/geometry/ExtraDataRegistry.h"

#include <cstring>
#include <type_traits>

// The extra-data conversion policies: stateless, type-erased handlers the host registry
// holds for each pair (extra-data type, contract value type).
//
// ICloudExtraDataPolicyBase<X, T> implements the seventeen element operations from the
// traits of X; CloudExtraDataPolicy<X, T> adds the plain widening/narrowing conversions of
// the ten scalar types. Policies have no data and every operation is const, so one object
// serves every thread. Nothing here throws, clamps or checks an index: index validity is
// the host table's affair.

namespace orv::Data::ExtraData::Details
{

template <class X, class T>
class ICloudExtraDataPolicyBase : public ICloudExtraDataConversionPolicy<T>
{
public:
    using ExtraData = X;
    using Value = T;
    using Traits = ExtraDataTraits<X>;
    using Stored = typename Traits::Stored;
    using TableCluster = orv::Collection::TableCluster;

    bool GetTypeFlagA() const override { return Traits::kFlagA; }
    int GetTypeValueA() const override { return 0; }
    int GetTypeValueB() const override { return 0; }
    const eastl::basic_string<char>& GetTypeName() const override
    {
        return Traits::Plain::GetStaticType();
    }
    unsigned int GetElementSize() const override { return sizeof(Stored); }

    void TransformElement(void* element,
                          const orv::Math::Algebra::Matrix3x3& rotation) const override
    {
        if constexpr (Traits::kRotates)
        {
            // The host's compressed vector rotates its own form; no decode here. The element
            // is copied in and out as a whole object.
            Stored packed;
            std::memcpy(&packed, element, sizeof(Stored));
            packed *= rotation;
            std::memcpy(element, &packed, sizeof(Stored));
        }
        else
        {
            (void)element;
            (void)rotation;
        }
    }

    bool GetTypeFlagB() const override { return false; }
    bool GetTypeFlagC() const override { return false; }

    void* SetElement(TableCluster& table, std::uint32_t index, const void* value) const override
    {
        void* element = table.GetElm(index);
        std::memcpy(element, value, sizeof(Stored));
        return element;
    }

    void* AddElement(TableCluster& table, const void* value) const override
    {
        void* element = table.New(false);
        std::memcpy(element, value, sizeof(Stored));
        return element;
    }

    void* AddDefaultElement(TableCluster& table) const override
    {
        void* element = table.New(false);
        if constexpr (Traits::kZeroesDefaults)
        {
            std::memset(element, 0, sizeof(Stored));
        }
        return element;
    }

    void* ResetElement(TableCluster& table, std::uint32_t index) const override
    {
        void* element = table.GetElm(index);
        std::memset(element, 0, sizeof(Stored));
        return element;
    }

    void* InitElement(TableCluster& table, std::uint32_t index, const void* value) const override
    {
        return SetElement(table, index, value);
    }

    void ResetAllElements(TableCluster& table) const override
    {
        Walk(table, [](void* element) { std::memset(element, 0, sizeof(Stored)); });
    }

    void VisitAllElements(TableCluster& table) const override
    {
        Walk(table, [](void*) {});
    }

    const void* GetElement(const TableCluster& table, std::uint32_t index) const override
    {
        return table.GetElm(index);
    }

    bool AreEqual(const void* a, const void* b) const override
    {
        Stored x;
        Stored y;
        std::memcpy(&x, a, sizeof(Stored));
        std::memcpy(&y, b, sizeof(Stored));
        if constexpr (std::is_floating_point_v<Stored>)
        {
            return x == y; // IEEE: +0 == -0, NaN equals nothing
        }
        else
        {
            return std::memcmp(&x, &y, sizeof(Stored)) == 0;
        }
    }

private:
    // Visits positions 0 .. count-1 as counted when the walk starts; elements appended
    // meanwhile are not visited. Stops when address and position both match the end.
    template <class F>
    static void Walk(TableCluster& table, F&& visit)
    {
        const std::uint32_t count = table.count;
        TableCluster::Iterator it(&table, 0);
        const TableCluster::Iterator end(&table, count);
        while (it != end)
        {
            visit(it.Get());
            it.Next();
        }
    }
};

// The ten scalar policies: integers zero-extended to 64 bits and truncated back to their
// low-order bits; floats widened exactly to double and rounded back to nearest.
template <class X, class T>
class CloudExtraDataPolicy final : public ICloudExtraDataPolicyBase<X, T>
{
    using Stored = typename ICloudExtraDataPolicyBase<X, T>::Stored;
    static_assert((std::is_same_v<T, std::uint64_t> && std::is_unsigned_v<Stored>) ||
                      (std::is_same_v<T, double> && std::is_same_v<Stored, float>),
                  "scalar policies convert unsigned integers or floats");

public:
    T GetValue(const void* element, const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        Stored stored;
        std::memcpy(&stored, element, sizeof(Stored));
        return static_cast<T>(stored);
    }

    void SetValue(void* element, const T& value,
                  const orv::Data::Cloud::CloudCursorInfo&) const override
    {
        const Stored stored = static_cast<Stored>(value);
        std::memcpy(element, &stored, sizeof(Stored));
    }
};

} // namespace orv::Data::ExtraData::Details

#pragma once

#include "extradata/ExtraDataPolicy.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/Values.h"

#include <cstring>

// The two policies whose stored form depends on the cloud being read.
//
// Normals are stored compressed in the cloud's own frame: reading rotates them into the
// cursor's frame (the matrix's linear part only, no renormalisation), writing rotates back
// with the inverse. Intensities are stored as a host ColorValue whose meaning follows the
// cloud's colour mode: 1 a plain float, 3 a value compressed into the cloud's range; any
// other mode reads as the sentinel below and is never written.

namespace orv::DataProxy::ExtraData
{

namespace Detail
{
// ((m0 * x + m1 * y) + m2 * z) per row: the order of operations is part of the result.
inline orv::Math::Algebra::GVector3 RotateLinear(const double* m,
                                                 const orv::Math::Algebra::GVector3& v)
{
    return {(m[0] * v.x + m[1] * v.y) + m[2] * v.z, (m[3] * v.x + m[4] * v.y) + m[5] * v.z,
            (m[6] * v.x + m[7] * v.y) + m[8] * v.z};
}
} // namespace Detail

struct CloudNormalExtraDataConversionPolicy final
    : orv::Data::ExtraData::Details::ICloudExtraDataPolicyBase<
          orv::Data::Cloud::CloudNormalExtraData, orv::Math::Algebra::GVector3>
{
    orv::Math::Algebra::GVector3
    GetValue(const void* element, const orv::Data::Cloud::CloudCursorInfo& info) const override
    {
        orv::Math::Algebra::GVector3 decoded{0.0, 0.0, 0.0};
        orv::Math::Algebra::CompressedVector32Bits packed;
        std::memcpy(&packed, element, sizeof packed);
        // A vector the host cannot decode stays (0, 0, 0); the status is not consulted.
        (void)packed.VectorGet(decoded);
        return Detail::RotateLinear(info.GetMatrix().v, decoded);
    }

    void SetValue(void* element, const orv::Math::Algebra::GVector3& value,
                  const orv::Data::Cloud::CloudCursorInfo& info) const override
    {
        orv::Math::Algebra::CompressedVector32Bits packed;
        packed.VectorSet(Detail::RotateLinear(info.GetInverseMatrix().v, value));
        std::memcpy(element, &packed, sizeof packed);
    }
};

struct CloudIntensityExtraDataConversionPolicy final
    : orv::Data::ExtraData::Details::ICloudExtraDataPolicyBase<
          orv::Data::Cloud::CloudIntensityExtraData, double>
{
    // The float nearest to 2.0e38 (bits 0x7F167699), widened: what any colour mode other
    // than 1 and 3 reads as. An ordinary value, not a signal of absence.
    static constexpr double kUnsupportedModeValue = 1.9999999360571385e38;

    double GetValue(const void* element,
                    const orv::Data::Cloud::CloudCursorInfo& info) const override
    {
        const orv::Data::Cloud::GCloud& cloud = info.GetCloud();
        orv::Data::Primitive::ColorValue stored;
        std::memcpy(&stored, element, sizeof stored);
        switch (cloud.GetType())
        {
        case 1:
            return static_cast<double>(stored.GetValueFloat());
        case 3:
            return static_cast<double>(
                stored.GetCompressedValue(cloud.GetValMin(), cloud.GetValMax()));
        default:
            return kUnsupportedModeValue;
        }
    }

    void SetValue(void* element, const double& value,
                  const orv::Data::Cloud::CloudCursorInfo& info) const override
    {
        const orv::Data::Cloud::GCloud& cloud = info.GetCloud();
        const float narrowed = static_cast<float>(value);
        orv::Data::Primitive::ColorValue stored;
        std::memcpy(&stored, element, sizeof stored);
        switch (cloud.GetType())
        {
        case 1:
            stored.SetValueFloat(narrowed);
            break;
        case 3:
            (void)stored.SetCompressedValue(narrowed, cloud.GetValMin(), cloud.GetValMax());
            break;
        default:
            return; // the element is left as it was
        }
        std::memcpy(element, &stored, sizeof stored);
    }
};

} // namespace orv::DataProxy::ExtraData

#pragma once

#include "host/core/Factory.h"
#include "host/eastl/string.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/GeometryExport.h"
#include "host/geometry/Values.h"

#include <cstdint>
#include <typeinfo>

// The host's per-point extra-data classes. One table (ORV_CLOUD_EXTRA_DATA_TYPES) lists them
// with their stored element type; both class families and the host's width table are derived
// from it, so a new kind of extra data is one line here.
//
// For each entry Name, Stored:
//   CloudNameExtraData   a host object (an IFactoryProduct) holding one stored element `value`;
//                        its type id, from the factory, names the kind of extra data everywhere
//                        (clouds, point records, the registry). TypeId() asks the factory once,
//                        on first use, under thread-safe one-time initialisation.
//   NameExtraData        the plain class; GetStaticType() gives its name ("NameExtraData"), the
//                        same string object for the life of the process.
//
// How a client reads and writes each class through the adapter (docs/usage.md has the same
// table with more words). "Width" is the element size, the width a builder factory takes for
// the class (MapOptionalComponent(component, type) without a width takes it by itself).
//
//   class                   component        width  a value
//   Classification          UnsignedInteger  1      the point's class code, 0..255
//   ClassificationInstance  UnsignedInteger  2      which object of its class, 0..65535
//   Segmentation            UnsignedInteger  4      a segment identifier
//   GridPositionIndex       UnsignedInteger  4      the point's cell in a resampling grid
//   SplitColor              UnsignedInteger  2      a label for colouring the cloud by parts
//   ScanID                  UnsignedInteger  4      which scan (flight line, station) measured it
//   ImprovementStats        Real             4      a float statistic of a refinement step
//   IntensityNew            Real             4      an intensity as a plain float, in any cloud
//   IntensityTemp           Real             4      a working intensity, a plain float
//   MaxProbability          Real             4      probability of the most likely class
//   Normal                  Vector3          4      unit normal, packed; read in world axes
//   Intensity               Real or Color    4      the host's own intensity: its 4 bytes mean
//                                                   what the cloud's colour mode says (1 a
//                                                   float, 3 a value compressed into the
//                                                   cloud's range, 2 an RGB colour)
//
// No class is read as SignedInteger; Color reads only Intensity, through a colour policy the
// host registers itself (the reference host does, the alternate host does not). Intensity as
// Real reads the intensity in modes 1 and 3 and 1.9999999360571385e38 in any other mode; a
// builder writes Real as a plain float whatever mode its new cloud has, so write new
// intensities as IntensityNew.
//
// Hazard: TypeId() is inline, and inline functions are hidden in every library of this
// project, so each shared library that calls it keeps its own cached id (and asks the factory
// once itself). The ids agree because the factory keys them by the mangled class name.
// OrvGeometry itself asks once for each of the twelve classes, when it is loaded.

#define ORV_CLOUD_EXTRA_DATA_TYPES(X)                                                              \
    X(Classification, uint8_t)                                                                     \
    X(GridPositionIndex, uint32_t)                                                                 \
    X(Segmentation, uint32_t)                                                                      \
    X(SplitColor, uint16_t)                                                                        \
    X(ClassificationInstance, uint16_t)                                                            \
    X(ScanID, uint32_t)                                                                            \
    X(ImprovementStats, float)                                                                     \
    X(IntensityNew, float)                                                                         \
    X(IntensityTemp, float)                                                                        \
    X(MaxProbability, float)                                                                       \
    X(Normal, orv::Math::Algebra::CompressedVector32Bits)                                          \
    X(Intensity, orv::Data::Primitive::ColorValue)

namespace orv::Data::Cloud
{

#define ORV_DECLARE_CLOUD_EXTRA_DATA(Name, Stored)                                                 \
    class ORV_GEOMETRY_API Cloud##Name##ExtraData : public orv::General::IFactoryProduct           \
    {                                                                                              \
    public:                                                                                        \
        using StoredType = Stored;                                                                 \
        StoredType value{};                                                                        \
                                                                                                   \
        static int TypeId()                                                                        \
        {                                                                                          \
            static const int id =                                                                  \
                orv::General::IFactory::GetInstance().GetTypeId(typeid(Cloud##Name##ExtraData));   \
            return id;                                                                             \
        }                                                                                          \
    };                                                                                             \
    static_assert(sizeof(Stored) == 1 || sizeof(Stored) == 2 || sizeof(Stored) == 4,               \
                  "stored extra-data elements are 1, 2 or 4 bytes");                               \
                                                                                                   \
    class ORV_GEOMETRY_API Name##ExtraData                                                         \
    {                                                                                              \
    public:                                                                                        \
        static const eastl::basic_string<char>& GetStaticType();                                   \
    };

ORV_CLOUD_EXTRA_DATA_TYPES(ORV_DECLARE_CLOUD_EXTRA_DATA)

#undef ORV_DECLARE_CLOUD_EXTRA_DATA

// Width in bytes of one stored element of the extra-data type `typeId`: the stored type's size
// for the twelve classes above; for any other id, the element size of a policy registered for
// it (the first found); 0 when the host knows no width (such a type cannot be stored).
ORV_GEOMETRY_API uint32_t GetExtraDataElementSize(int typeId);

// The plain-class name of one of the twelve type ids ("NormalExtraData", ...), or null.
ORV_GEOMETRY_API const eastl::basic_string<char>* GetExtraDataTypeName(int typeId);

} // namespace orv::Data::Cloud

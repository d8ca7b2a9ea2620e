#pragma once

// For our own hosts only (the reference host and its alternate), not part of the LAS library's
// binary: an empty cloud whose frame sits at a LAS file's data, set with the reference host's
// own frame call (GCloud::SetMatrix). The real host sets a cloud's frame with its own means, so
// its callers build the prototype themselves, from LasHeader::FrameOrigin, and hand it to a
// PrototypedBuilderFactory as below.

#include "builder/PointCloudDataBuilderFactory.h"
#include "las/LasHeader.h"

namespace orv::DataProxy::Las
{

// An empty cloud whose frame is the translation to (x, y, z): the prototype of clouds whose
// points lie around that place.
inline orv::Data::Cloud::PointCloud PrototypeAt(double x, double y, double z)
{
    orv::Data::Cloud::PointCloud prototype;
    (void)prototype.Convert().SetMatrix(orv::Math::Algebra::Translation(x, y, z));
    return prototype;
}

// The prototype of clouds built from `header`'s file: its frame at header.FrameOrigin().
// Builders starting from it store the file's projected coordinates as small floats; without it,
// a host that keeps a new cloud's frame at the identity stores them in steps of centimetres or
// more, and builders refuse such points (std::range_error).
inline orv::Data::Cloud::PointCloud LasPrototype(const LasHeader& header)
{
    const std::array<double, 3> origin = header.FrameOrigin();
    return PrototypeAt(origin[0], origin[1], origin[2]);
}

// A builder factory whose builders start every cloud from LasPrototype(header): what a read of
// that file into a host cloud takes (MapDefaultLasFields configures it further).
inline orv::Data::Cloud::PrototypedBuilderFactory LasBuilderFactory(const LasHeader& header)
{
    return orv::Data::Cloud::PrototypedBuilderFactory(LasPrototype(header));
}

} // namespace orv::DataProxy::Las

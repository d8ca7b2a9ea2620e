#include "contract/Interfaces.h"

namespace orv::DataProxy
{

// The template has no data: its special members only set up the virtual table.
template <class Q>
IQueryablePointData<Q>::IQueryablePointData() = default;

template <class Q>
IQueryablePointData<Q>::IQueryablePointData(const IQueryablePointData&) = default;

template <class Q>
IQueryablePointData<Q>::~IQueryablePointData() = default;

template <class Q>
IQueryablePointData<Q>& IQueryablePointData<Q>::operator=(const IQueryablePointData&) = default;

template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<InsideAxisAlignedBoxQuery>;
template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<InsideCylinderQuery>;
template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<InsideSphereQuery>;
template class ORV_DATAPROXY_INSTANTIATION_API IQueryablePointData<ClippingPlanesQuery>;

} // namespace orv::DataProxy

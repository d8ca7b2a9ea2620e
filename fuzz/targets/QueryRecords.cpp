// Spatial queries with arbitrary doubles against small clouds with a frame and hidden points.
//
// For every query both sides are taken: the selected points (invert false) and the rejected
// ones (invert true). Together they must give back the source's visible points exactly: each
// record (position, every extra-data value) once, split between the two sides (in source order
// on the reference host; the order of a selection is the host's choice). Where the host
// documents the answer to a degenerate record (a NaN, a negative radius, a zero axis, no
// planes) the selected side must be that answer. A result may be queried again, so results of
// results are held to the same rules.

#include "fuzz/FuzzSupport.h"
#include "host/base/HostVariant.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/TestClouds.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace orv::Fuzz
{
namespace
{

using orv::Data::Cloud::PointCloud;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::ClippingPlane;
using orv::DataProxy::ClippingPlanesQuery;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::GPointDouble;
using orv::DataProxy::GVector3;
using orv::DataProxy::InsideAxisAlignedBoxQuery;
using orv::DataProxy::InsideCylinderQuery;
using orv::DataProxy::InsideSphereQuery;
using orv::DataProxy::IPointDataProvider;
using orv::DataProxy::WantAll;
using orv::TestSupport::BuildCloud;
using orv::TestSupport::Every;
using orv::TestSupport::GridPoints;
using orv::TestSupport::RotationZ;

constexpr int kMaxQueries = 8;
constexpr std::size_t kLongPlaneList = 300;

// Everything a cursor delivers for one point but its index (results renumber their points).
struct Record
{
    GPointDouble position;
    std::uint64_t classification;
    std::uint64_t scanId; // unique per source point
    double intensity;
    GVector3 normal;

    bool operator==(const Record& o) const
    {
        // Bit for bit: the host copies stored values, it does not recompute them.
        return std::memcmp(this, &o, sizeof *this) == 0;
    }
};

// `compact`: the provider is a query result, whose points are all visible and numbered in order.
std::vector<Record> ReadRecords(const IPointDataProvider& provider, bool compact)
{
    const WantAll everything;
    std::vector<Record> records;
    for (auto cursor = provider.GetIterable(everything)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        const Record r{cursor->GetPosition(), cursor->GetUnsignedInteger(0).value(),
                       cursor->GetUnsignedInteger(1).value(), cursor->GetReal(0).value(),
                       cursor->GetVector3(0).value()};
        if (compact)
            ORV_FUZZ_CHECK(cursor->GetPointIndex() == records.size()) << "results are compact";
        records.push_back(r);
    }
    const auto* sized = dynamic_cast<const orv::DataProxy::ISizedCollection*>(&provider);
    ORV_FUZZ_CHECK(sized != nullptr && sized->Size() == records.size());
    return records;
}

// The clouds queried: a rotated frame with a hidden subset and scattered hidden points, a
// far-away translation-only frame, an empty cloud and one whose points are all hidden.
const std::vector<PointCloud>& Clouds()
{
    static const std::vector<PointCloud> clouds = []
    {
        std::vector<PointCloud> built;
        std::set<std::uint64_t> hidden = Every(3, 64, 7), subset = Every(32, 48);
        hidden.insert(subset.begin(), subset.end());
        built.push_back(
            BuildCloud(GridPoints(64, 995.0), {16, RotationZ(0.5, 1000.0, -2000.0, 50.0), hidden}));
        built.push_back(
            BuildCloud(GridPoints(40, 652000.0),
                       {8, RotationZ(0.0, 652000.0, 5180000.0, 300.0), Every(0, 40, 5)}));
        built.push_back(BuildCloud({}, {64, RotationZ(0.0, 0.0, 0.0, 0.0)}));
        built.push_back(
            BuildCloud(GridPoints(20), {8, RotationZ(1.0, 5.0, 5.0, 5.0), Every(0, 20)}));
        return built;
    }();
    return clouds;
}

// Mostly values that cut through the cloud (inside its box or just around it), sometimes
// special values, sometimes any bit pattern at all.
double QueryDouble(FuzzInput& in, const std::vector<Record>& records, int axis)
{
    const std::uint8_t kind = in.U8();
    if (kind < 96 && !records.empty())
    {
        const GPointDouble& p = records[in.Below(records.size())].position;
        const double near[] = {p.x, p.y, p.z};
        return near[axis] + 0.25 * static_cast<double>(static_cast<std::int8_t>(in.U8()));
    }
    if (kind < 192)
    {
        const double specials[] = {0.0,      -0.0,      1.0,    -1.0,     0.5,     2.0,
                                   10.0,     100.0,     1e-310, -1e-310,  1e308,   -1e308,
                                   HUGE_VAL, -HUGE_VAL, NAN,    652000.0, 5.18e6,  3.0e38,
                                   1e154,    1e-160,    1e200,  -1e200,   DBL_MAX, DBL_MIN};
        return in.Pick(specials);
    }
    return in.RawDouble();
}

// A point, or a vector.
template <class P = GPointDouble>
P QueryPoint(FuzzInput& in, const std::vector<Record>& records)
{
    return {QueryDouble(in, records, 0), QueryDouble(in, records, 1), QueryDouble(in, records, 2)};
}

double Magnitude(FuzzInput& in, const std::vector<Record>& records)
{
    // Lengths and radii: a few units usually, anything sometimes.
    if (in.Below(4) != 0)
        return 0.25 * in.U8();
    return QueryDouble(in, records, 0);
}

// For points and vectors alike.
template <class P>
bool Finite(const P& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}
template <class P>
bool AnyNan(const P& p)
{
    return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z);
}
template <class P>
bool Zero(const P& p)
{
    return p.x == 0.0 && p.y == 0.0 && p.z == 0.0;
}

enum class Documented
{
    Nothing,
    Everything,
    Open // the selection depends on the geometry
};

// What the host selects for arguments that describe no solid: nothing on the reference host,
// every point on the alternate one.
Documented Unusable()
{
    return orv::IsAlternateHost() ? Documented::Everything : Documented::Nothing;
}

Documented Expect(const InsideAxisAlignedBoxQuery& q)
{
    return AnyNan(q.firstCorner) || AnyNan(q.secondCorner) ? Unusable() : Documented::Open;
}

Documented Expect(const InsideSphereQuery& q)
{
    if (std::isnan(q.radius) || !Finite(q.center))
        return Unusable();
    if (q.radius < 0.0)
        return Documented::Nothing;
    return q.radius == HUGE_VAL ? Documented::Everything : Documented::Open;
}

Documented Expect(const InsideCylinderQuery& q)
{
    const bool unbounded = q.length == -1.0;
    if (std::isnan(q.radius) || std::isnan(q.length) || !Finite(q.axisPoint) ||
        !Finite(q.axisDirection) || Zero(q.axisDirection))
        return Unusable();
    if (q.radius < 0.0)
        return Documented::Nothing;
    // A negative length: nothing on the reference host; the alternate host runs backwards.
    return !unbounded && q.length < 0.0 && !orv::IsAlternateHost() ? Documented::Nothing
                                                                   : Documented::Open;
}

Documented Expect(const ClippingPlanesQuery& q)
{
    if (q.planes.empty()) // every point on the reference host, none on the alternate one
        return orv::IsAlternateHost() ? Documented::Nothing : Documented::Everything;
    for (const ClippingPlane& plane : q.planes)
    {
        // The host receives the point normal * distance and the normal negated.
        const GPointDouble point{plane.normal.x * plane.distance, plane.normal.y * plane.distance,
                                 plane.normal.z * plane.distance};
        if (!Finite(point) || !Finite(plane.normal) || Zero(plane.normal))
            return Unusable();
    }
    return Documented::Open;
}

// Both sides of one query against `source`; returns them for further queries.
template <class Query>
std::pair<std::unique_ptr<IPointDataProvider>, std::unique_ptr<IPointDataProvider>>
Partition(const PointCloudDataProvider& source, const std::vector<Record>& sourceRecords,
          const Query& query)
{
    std::unique_ptr<IPointDataProvider> selected = source.GetPoints(query, false);
    std::unique_ptr<IPointDataProvider> rejected = source.GetPoints(query, true);
    ORV_FUZZ_CHECK(selected && rejected);
    const std::vector<Record> a = ReadRecords(*selected, true);
    const std::vector<Record> b = ReadRecords(*rejected, true);
    ORV_FUZZ_CHECK(a.size() + b.size() == sourceRecords.size())
        << a.size() << " + " << b.size() << " vs " << sourceRecords.size();
    // Scan ids are unique per source point, so ordering by them matches a side's records with
    // the source's whatever order the host gives a selection.
    const auto byScanId = [](const Record& x, const Record& y) { return x.scanId < y.scanId; };
    const bool inSourceOrder = !orv::IsAlternateHost();
    std::vector<Record> sortedA = a, sortedB = b, sortedSource = sourceRecords;
    if (!inSourceOrder)
    {
        std::sort(sortedA.begin(), sortedA.end(), byScanId);
        std::sort(sortedB.begin(), sortedB.end(), byScanId);
        std::sort(sortedSource.begin(), sortedSource.end(), byScanId);
    }
    std::size_t i = 0;
    std::size_t j = 0;
    for (const Record& r : sortedSource)
    {
        if (i < sortedA.size() && sortedA[i] == r)
            ++i;
        else if (j < sortedB.size() && sortedB[j] == r)
            ++j;
        else
            ORV_FUZZ_CHECK(false) << "source point with scan id " << r.scanId
                                  << " is on neither side, or out of order";
    }
    switch (Expect(query))
    {
    case Documented::Nothing:
        ORV_FUZZ_CHECK(a.empty()) << a.size() << " points selected by a degenerate query";
        break;
    case Documented::Everything:
        ORV_FUZZ_CHECK(b.empty()) << b.size() << " points rejected by a query that takes all";
        break;
    case Documented::Open:
        break;
    }
    // Results keep the mapping of the provider they came from.
    for (const auto* side : {selected.get(), rejected.get()})
    {
        ORV_FUZZ_CHECK(side->HasComponent(EPointDataComponent::Vector3, 0));
        ORV_FUZZ_CHECK(!side->HasComponent(EPointDataComponent::Vector3, 1));
    }
    return {std::move(selected), std::move(rejected)};
}

} // namespace

void RunQueryRecords(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::vector<PointCloud>& clouds = Clouds();
    auto source = std::make_unique<PointCloudDataProvider>(
        orv::TestSupport::MappedProvider(clouds[in.Below(clouds.size())]));
    bool sourceIsResult = false;
    for (int q = 0; q < kMaxQueries && !in.Empty(); ++q)
    {
        const std::vector<Record> records = ReadRecords(*source, sourceIsResult);
        std::pair<std::unique_ptr<IPointDataProvider>, std::unique_ptr<IPointDataProvider>> sides;
        switch (in.Below(4))
        {
        case 0:
            sides = Partition(
                *source, records,
                InsideAxisAlignedBoxQuery{QueryPoint(in, records), QueryPoint(in, records)});
            break;
        case 1:
            sides = Partition(*source, records,
                              InsideSphereQuery{QueryPoint(in, records), Magnitude(in, records)});
            break;
        case 2:
        {
            InsideCylinderQuery query{};
            query.axisPoint = QueryPoint(in, records);
            const GVector3 axes[] = {
                {0, 0, 1}, {1, 0, 0}, {0.6, 0.8, 0}, {0, 0, 0}, {1e-300, 0, 0}};
            query.axisDirection = in.Bool() ? in.Pick(axes) : QueryPoint<GVector3>(in, records);
            query.radius = Magnitude(in, records);
            const double lengths[] = {-1.0, -0.5, 0.0, 1.0, 10.0, HUGE_VAL};
            query.length = in.Bool() ? in.Pick(lengths) : Magnitude(in, records);
            sides = Partition(*source, records, query);
            break;
        }
        default:
        {
            ClippingPlanesQuery query;
            const std::size_t count = in.Below(16) == 0 ? kLongPlaneList : in.Below(6);
            for (std::size_t k = 0; k < count; ++k)
            {
                const GVector3 normals[] = {
                    {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0.6, 0, 0.8}, {0, 0, 0}};
                ClippingPlane plane;
                plane.normal = in.Bool() ? in.Pick(normals) : QueryPoint<GVector3>(in, records);
                plane.distance = QueryDouble(in, records, static_cast<int>(k % 3));
                query.planes.push_back(plane);
            }
            sides = Partition(*source, records, query);
            break;
        }
        }
        // Go on with one side now and then, so results are queried as well.
        const std::uint8_t next = in.U8();
        std::unique_ptr<IPointDataProvider>& chosen = next & 1 ? sides.first : sides.second;
        if (next < 64)
        {
            auto* concrete = dynamic_cast<PointCloudDataProvider*>(chosen.get());
            ORV_FUZZ_CHECK(concrete != nullptr);
            chosen.release();
            source.reset(concrete);
            sourceIsResult = true;
        }
    }
}

} // namespace orv::Fuzz

// GetPoints for a box and a sphere that each select about a quarter of the shared cloud,
// against, in the same run:
//   - BM_RawBoxSelectCopy / BM_RawSphereSelectCopy: a branch-free select-and-copy loop over
//     plain arrays holding the same stored floats and elements, into reused arrays;
//   - BM_HostBoxSelection / BM_HostSphereSelection: the reference host's selection called
//     directly with the same procedure, into a new cloud, as GetPoints does;
//   - BM_GetPointsVsHostBox / BM_GetPointsVsHostSphere: both of those alternated within one
//     case, for the adapter's overhead (counter adapter_over_host).
// Figures: ns per input point (1e9 / items_per_second).
//
// The host selection and GetPoints write a new cloud at every iteration, so they page-fault
// unless the heap keeps its freed blocks (warm heap: GLIBC_TUNABLES=glibc.malloc.mmap_max=0:
// glibc.malloc.trim_threshold=68719476736); the raw loops reuse their arrays and never do.
// Run both ways and say which figure is which.
#include "bench/support/BenchClouds.h"
#include "host/geometry/Selection.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

using namespace orv::Data::Cloud;
using orv::Math::Algebra::GPointDouble;

namespace
{

// The shared cloud spans [0, 1000) x [0, 1000) x [0, 50) metres from this corner.
const GPointDouble kCorner{652000.0, 5180000.0, 300.0};

// Half of x, half of y, all of z: a quarter of the points.
const orv::DataProxy::InsideAxisAlignedBoxQuery kBox{
    {kCorner.x, kCorner.y, kCorner.z - 1.0},
    {kCorner.x + 500.0, kCorner.y + 500.0, kCorner.z + 51.0}};

// Centred in the slab; pi (r^2 - 25^2 / 3) = 1000^2 / 4 puts a quarter of the points inside.
const orv::DataProxy::InsideSphereQuery kSphere{
    {kCorner.x + 500.0, kCorner.y + 500.0, kCorner.z + 25.0}, 282.46};

// The shared cloud's points as plain arrays: the stored floats, the three elements and the frame.
struct Arrays
{
    std::vector<float> xyz;
    std::vector<float> intensity;
    std::vector<std::uint8_t> classification;
    std::vector<std::uint32_t> normal;
    orv::Math::Algebra::Matrix3x4 frame{};
};

const Arrays& TheArrays()
{
    static const Arrays arrays = []
    {
        const GCloud& cloud = orv::Bench::SharedCloud().Convert();
        const std::uint64_t n = cloud.GetPointCount();
        const int intensityType = CloudIntensityNewExtraData::TypeId();
        const int classType = CloudClassificationExtraData::TypeId();
        const int normalType = CloudNormalExtraData::TypeId();
        Arrays a;
        a.frame = cloud.GetMatrix();
        a.xyz.resize(3 * n);
        a.intensity.resize(n);
        a.classification.resize(n);
        a.normal.resize(n);
        for (std::uint64_t i = 0; i < n; ++i)
        {
            std::memcpy(&a.xyz[3 * i], cloud.GetStoredCoordinates(i), 12);
            std::memcpy(&a.intensity[i], cloud.GetExtraDataElement(intensityType, i), 4);
            std::memcpy(&a.classification[i], cloud.GetExtraDataElement(classType, i), 1);
            std::memcpy(&a.normal[i], cloud.GetExtraDataElement(normalType, i), 4);
        }
        return a;
    }();
    return arrays;
}

PointCloudDataProvider& Provider()
{
    static PointCloudDataProvider provider = []
    {
        PointCloudDataProvider p(orv::Bench::SharedCloud());
        using orv::DataProxy::EPointDataComponent;
        p.MapOptionalComponent(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId());
        p.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                               CloudClassificationExtraData::TypeId());
        p.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
        return p;
    }();
    return provider;
}

void PerInputPoint(benchmark::State& state, std::uint64_t selected)
{
    state.SetItemsProcessed(state.iterations() *
                            static_cast<std::int64_t>(orv::Bench::SharedCloud().GetPointCount()));
    state.counters["selected"] = static_cast<double>(selected);
}

// Transform each stored point to world coordinates, classify it, copy it and its elements to
// the next output slot and move the slot on only when accepted: no branch on the outcome.
template <class Procedure>
void RawSelectCopy(benchmark::State& state, const Procedure& procedure)
{
    const Arrays& a = TheArrays();
    const std::size_t n = a.intensity.size();
    const double* m = a.frame.v;
    std::vector<float> xyz(3 * n);
    std::vector<float> intensity(n);
    std::vector<std::uint8_t> classification(n);
    std::vector<std::uint32_t> normal(n);
    std::size_t selected = 0;
    for (auto _ : state)
    {
        std::size_t out = 0;
        const float* q = a.xyz.data();
        for (std::size_t i = 0; i < n; ++i, q += 3)
        {
            const double x = q[0], y = q[1], z = q[2];
            const double wx = ((m[0] * x + m[1] * y) + m[2] * z) + m[9];
            const double wy = ((m[3] * x + m[4] * y) + m[5] * z) + m[10];
            const double wz = ((m[6] * x + m[7] * y) + m[8] * z) + m[11];
            std::uint8_t accept = 0;
            procedure.Classify(&wx, &wy, &wz, 1, &accept);
            std::memcpy(&xyz[3 * out], q, 12);
            intensity[out] = a.intensity[i];
            classification[out] = a.classification[i];
            normal[out] = a.normal[i];
            out += accept;
        }
        selected = out;
        benchmark::DoNotOptimize(xyz.data());
        benchmark::DoNotOptimize(intensity.data());
        benchmark::DoNotOptimize(classification.data());
        benchmark::DoNotOptimize(normal.data());
    }
    PerInputPoint(state, selected);
}

// The host's selection as GetPoints calls it: accepted points into a new cloud.
template <class Procedure>
void HostSelection(benchmark::State& state, Procedure& procedure)
{
    const GCloud& source = orv::Bench::SharedCloud().Convert();
    std::uint64_t selected = 0;
    for (auto _ : state)
    {
        PointCloud result;
        (void)source.ApplySelectionProcedure(procedure, &result.Convert(), nullptr, nullptr,
                                             AutoCompactOption(0));
        selected = result.GetPointCount();
        benchmark::DoNotOptimize(result);
    }
    PerInputPoint(state, selected);
}

template <class Query>
void GetPoints(benchmark::State& state, const Query& query)
{
    const PointCloudDataProvider& provider = Provider();
    std::uint64_t selected = 0;
    for (auto _ : state)
    {
        const auto result = provider.GetPoints(query, false);
        selected = dynamic_cast<const orv::DataProxy::ISizedCollection&>(*result).Size();
        benchmark::DoNotOptimize(result.get());
    }
    PerInputPoint(state, selected);
}

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The adapter's overhead measured tightly: every iteration runs the host selection and
// GetPoints in the order host, adapter, adapter, host, timing each call (thread CPU time,
// results released inside the timing); the ratio of the two sums, adapter_over_host, is the
// figure. Whatever the machine or the heap does meanwhile affects both alike, which separate
// cases cannot promise at a 5% resolution.
template <class Procedure, class Query>
void GetPointsVsHost(benchmark::State& state, Procedure& procedure, const Query& query)
{
    const GCloud& source = orv::Bench::SharedCloud().Convert();
    const PointCloudDataProvider& provider = Provider();
    double host = 0.0;
    double adapter = 0.0;
    for (auto _ : state)
    {
        for (const bool runHost : {true, false, false, true})
        {
            const double start = ThreadCpuSeconds();
            if (runHost)
            {
                PointCloud result;
                (void)source.ApplySelectionProcedure(procedure, &result.Convert(), nullptr, nullptr,
                                                     AutoCompactOption(0));
                benchmark::DoNotOptimize(result);
            }
            else
            {
                const auto result = provider.GetPoints(query, false);
                benchmark::DoNotOptimize(result.get());
            }
            (runHost ? host : adapter) += ThreadCpuSeconds() - start;
        }
    }
    state.SetItemsProcessed(4 * state.iterations() *
                            static_cast<std::int64_t>(source.GetPointCount()));
    state.counters["adapter_over_host"] = host > 0.0 ? adapter / host : 0.0;
}

orv::Graphics::SelPrcBox BoxProcedure()
{
    return orv::Graphics::SelPrcBox(kBox.firstCorner, kBox.secondCorner);
}

orv::Graphics::SelPrcSph SphereProcedure()
{
    return orv::Graphics::SelPrcSph(kSphere.radius, kSphere.center, false);
}

void BM_RawBoxSelectCopy(benchmark::State& state)
{
    RawSelectCopy(state, BoxProcedure());
}

void BM_HostBoxSelection(benchmark::State& state)
{
    orv::Graphics::SelPrcBox procedure = BoxProcedure();
    HostSelection(state, procedure);
}

void BM_GetPointsBox(benchmark::State& state)
{
    GetPoints(state, kBox);
}

void BM_RawSphereSelectCopy(benchmark::State& state)
{
    RawSelectCopy(state, SphereProcedure());
}

void BM_HostSphereSelection(benchmark::State& state)
{
    orv::Graphics::SelPrcSph procedure = SphereProcedure();
    HostSelection(state, procedure);
}

void BM_GetPointsSphere(benchmark::State& state)
{
    GetPoints(state, kSphere);
}

void BM_GetPointsVsHostBox(benchmark::State& state)
{
    orv::Graphics::SelPrcBox procedure = BoxProcedure();
    GetPointsVsHost(state, procedure, kBox);
}

void BM_GetPointsVsHostSphere(benchmark::State& state)
{
    orv::Graphics::SelPrcSph procedure = SphereProcedure();
    GetPointsVsHost(state, procedure, kSphere);
}

} // namespace

BENCHMARK(BM_RawBoxSelectCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostBoxSelection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsBox)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSphereSelectCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostSphereSelection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsSphere)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsVsHostBox)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPointsVsHostSphere)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// GetPoints for a box and a sphere that each select about a quarter of the shared cloud, against
// a branch-free select-and-copy and the host's selection called directly; bench/README.md.
#include "bench/support/BenchClouds.h"
#include "host/geometry/Selection.h"

using namespace orv::Data::Cloud;
using orv::Math::Algebra::GPointDouble;

namespace
{

// The shared cloud spans [0, 1000) x [0, 1000) x [0, 50) metres from this corner.
const GPointDouble kCorner{652000.0, 5180000.0, 300.0};

// Half of x, half of y, all of z: a quarter of the points.
struct Box
{
    static orv::DataProxy::InsideAxisAlignedBoxQuery Query()
    {
        return {{kCorner.x, kCorner.y, kCorner.z - 1.0},
                {kCorner.x + 500.0, kCorner.y + 500.0, kCorner.z + 51.0}};
    }
    static orv::Graphics::SelPrcBox Procedure()
    {
        return {Query().firstCorner, Query().secondCorner};
    }
};

// Centred in the slab; pi (r^2 - 25^2 / 3) = 1000^2 / 4 puts a quarter of the points inside.
struct Sphere
{
    static orv::DataProxy::InsideSphereQuery Query()
    {
        return {{kCorner.x + 500.0, kCorner.y + 500.0, kCorner.z + 25.0}, 282.46};
    }
    static orv::Graphics::SelPrcSph Procedure() { return {Query().radius, Query().center, false}; }
};

void PerInputPoint(benchmark::State& state, std::uint64_t selected)
{
    orv::Bench::PerPoint(state);
    state.counters["selected"] = static_cast<double>(selected);
}

// Over plain arrays holding the same stored floats and elements: transform each stored point to
// world coordinates, classify it, copy it and its elements to the next output slot of reused
// arrays and move the slot on only when accepted: no branch on the outcome.
template <class Shape>
void BM_RawSelectCopy(benchmark::State& state)
{
    const orv::Bench::Arrays& a = orv::Bench::SharedArrays();
    const auto procedure = Shape::Procedure();
    const std::size_t n = a.intensity.size();
    const double* m = a.frame.v;
    std::vector<float> xyz(3 * n), intensity(n);
    std::vector<std::uint8_t> classification(n);
    std::vector<std::uint32_t> normal(n);
    std::size_t selected = 0;
    for (auto _ : state)
    {
        std::size_t out = 0;
        const float* q = a.xyz.data();
        for (std::size_t i = 0; i < n; ++i, q += 3)
        {
            const GPointDouble w = orv::Bench::World(m, q);
            std::uint8_t accept = 0;
            procedure.Classify(&w.x, &w.y, &w.z, 1, &accept);
            std::memcpy(&xyz[3 * out], q, 12);
            intensity[out] = a.intensity[i];
            classification[out] = a.classification[i];
            normal[out] = a.normal[i].bits;
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

// The host's selection called directly with the same procedure, as GetPoints calls it:
// accepted points into a new cloud.
template <class Procedure>
std::uint64_t HostSelect(Procedure& procedure)
{
    PointCloud result;
    (void)orv::Bench::SharedCloud().Convert().ApplySelectionProcedure(
        procedure, &result.Convert(), nullptr, nullptr, AutoCompactOption(0));
    benchmark::DoNotOptimize(result);
    return result.GetPointCount();
}

template <class Shape>
void BM_GetPoints(benchmark::State& state)
{
    const auto query = Shape::Query();
    std::uint64_t selected = 0;
    for (auto _ : state)
    {
        const auto result = orv::Bench::SharedProvider().GetPoints(query, false);
        selected = dynamic_cast<const orv::DataProxy::ISizedCollection&>(*result).Size();
        benchmark::DoNotOptimize(result.get());
    }
    PerInputPoint(state, selected);
}

// Host, adapter, adapter, host in every iteration, each call timed in thread CPU time (results
// released inside the timing): adapter_over_host, see bench/README.md.
template <class Shape>
void BM_GetPointsVsHost(benchmark::State& state)
{
    auto procedure = Shape::Procedure();
    const auto query = Shape::Query();
    double host = 0.0, adapter = 0.0;
    for (auto _ : state)
    {
        for (const bool runHost : {true, false, false, true})
        {
            const double start = orv::Bench::ThreadCpuSeconds();
            if (runHost)
                (void)HostSelect(procedure);
            else
                benchmark::DoNotOptimize(
                    orv::Bench::SharedProvider().GetPoints(query, false).get());
            (runHost ? host : adapter) += orv::Bench::ThreadCpuSeconds() - start;
        }
    }
    orv::Bench::PerPoint(state, 4 * orv::Bench::kPoints);
    state.counters["adapter_over_host"] = host > 0.0 ? adapter / host : 0.0;
}

} // namespace

BENCHMARK_TEMPLATE(BM_RawSelectCopy, Box)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GetPoints, Box)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_RawSelectCopy, Sphere)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GetPoints, Sphere)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GetPointsVsHost, Box)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GetPointsVsHost, Sphere)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

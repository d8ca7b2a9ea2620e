// The neighbourhood example's algorithm (a k-d tree over the positions, each point's 12 nearest
// neighbours and its normal by PCA) against the plain copy of the positions into arrays that it
// starts from, in the same run, one thread each; figures: bench/README.md.
#include "examples/neighbourhoods/Neighbourhoods.h"
#include "bench/support/BenchClouds.h"

#include <benchmark/benchmark.h>

namespace
{

// A cloud of the bench's kind, small enough for a query per point in each iteration.
constexpr std::uint64_t kPoints = 200'000;

const orv::Data::Cloud::PointCloudDataProvider& Provider()
{
    static const orv::Data::Cloud::PointCloudDataProvider provider(orv::Bench::MakeCloud(kPoints));
    return provider;
}

// BM_RawPositionsAsArrays: the copy alone.
void BM_RawPositionsAsArrays(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(orv::DataProxy::ReadPointArrays(Provider()).Size());
    orv::Bench::PerPoint(state, kPoints);
}

// BM_NeighboursAndNormals: the tree, the queries and the normals, on the copied arrays.
void BM_NeighboursAndNormals(benchmark::State& state)
{
    const orv::DataProxy::PointArrays points = orv::DataProxy::ReadPointArrays(Provider());
    for (auto _ : state)
    {
        const orv::Demo::KdTree tree(points);
        benchmark::DoNotOptimize(orv::Demo::Estimate(points, tree, 12, 1).normals.data());
    }
    orv::Bench::PerPoint(state, kPoints);
}

} // namespace

// Wall time: Estimate runs its queries on a worker thread even when given one, so the calling
// thread's CPU time would leave them out.
BENCHMARK(BM_RawPositionsAsArrays)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NeighboursAndNormals)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();

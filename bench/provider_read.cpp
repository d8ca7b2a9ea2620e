// Reading a host cloud through the contract's cursor, and a block at a time, against raw loops
// over the reference host's own tables, in the same run; cases and targets: bench/README.md.
#include "bench/support/BenchClouds.h"
#include "blocks/PointDataBlocks.h"
#include "helpers/PointDataArrays.h"
#include "helpers/PointDataHelpers.h"
#include "host/core/TableCluster.h"
#include "host/geometry/internal/CloudSubset.h"
#include "tests/support/CursorOnly.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>

using namespace orv::Data::Cloud;
using orv::Bench::Consume;
using orv::Bench::Sums;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::IPointDataIterable;

namespace
{

// The plain loop over the tables of subsets [first, last); with `extras` the three elements too.
template <bool extras>
Sums RawLoop(const GCloud& cloud, std::uint32_t first, std::uint32_t last)
{
    const double* m = cloud.GetMatrix().v;
    const int intensityType = CloudIntensityNewExtraData::TypeId();
    const int classType = CloudClassificationExtraData::TypeId();
    const int normalType = CloudNormalExtraData::TypeId();
    Sums sums;
    for (std::uint32_t s = first; s < last; ++s)
    {
        const CloudSubset* subset = cloud.GetSubset(s);
        const std::uint32_t n = subset->StoredCount();
        orv::Collection::TableCluster::Iterator xyz(&subset->coordinates, 0);
        if constexpr (!extras)
        {
            for (std::uint32_t i = 0; i < n; ++i, xyz.Next())
            {
                const float* p = static_cast<const float*>(xyz.Get());
                const double x = p[0], y = p[1], z = p[2];
                sums.position += ((m[1] * y + m[0] * x) + m[2] * z) + m[9] +
                                 ((m[4] * y + m[3] * x) + m[5] * z) + m[10] +
                                 ((m[7] * y + m[6] * x) + m[8] * z) + m[11];
            }
            continue;
        }
        orv::Collection::TableCluster::Iterator intensity(subset->FindTable(intensityType), 0);
        orv::Collection::TableCluster::Iterator cls(subset->FindTable(classType), 0);
        orv::Collection::TableCluster::Iterator normal(subset->FindTable(normalType), 0);
        for (std::uint32_t i = 0; i < n;
             ++i, xyz.Next(), intensity.Next(), cls.Next(), normal.Next())
        {
            const float* p = static_cast<const float*>(xyz.Get());
            const double x = p[0], y = p[1], z = p[2];
            sums.position += ((m[1] * y + m[0] * x) + m[2] * z) + m[9] +
                             ((m[4] * y + m[3] * x) + m[5] * z) + m[10] +
                             ((m[7] * y + m[6] * x) + m[8] * z) + m[11];
            orv::Math::Algebra::GVector3 v{0, 0, 0};
            static_cast<const orv::Math::Algebra::CompressedVector32Bits*>(normal.Get())
                ->VectorGet(v);
            const double nx = (m[0] * v.x + m[1] * v.y) + m[2] * v.z;
            sums.extras += *static_cast<const float*>(intensity.Get()) +
                           *static_cast<const std::uint8_t*>(cls.Get()) + nx;
        }
    }
    return sums;
}

// The same sums from blocks, in four partial sums each (and an integer sum of the classes) so
// that the compiler vectorises them as a block client would (bench/README.md, "Cases and the
// pairing convention").
Sums BlockLoop(const IPointDataIterable& iterable,
               const orv::DataProxy::IPointDataConsumer& consumer, bool extras)
{
    using orv::DataProxy::PointDataBlock;
    double lanes[4] = {0.0, 0.0, 0.0, 0.0};
    double extraLanes[4] = {0.0, 0.0, 0.0, 0.0};
    std::uint64_t classes = 0;
    orv::DataProxy::ForEachBlock(
        iterable, consumer,
        [&](const PointDataBlock& block)
        {
            const std::size_t n = block.Size();
            const double* x = block.X();
            const double* y = block.Y();
            const double* z = block.Z();
            std::size_t i = 0;
            for (; i + 4 <= n; i += 4)
                for (std::size_t k = 0; k < 4; ++k)
                    lanes[k] += x[i + k] + y[i + k] + z[i + k];
            for (; i < n; ++i)
                lanes[0] += x[i] + y[i] + z[i];
            if (extras)
            {
                const double* intensity = block.Column<EPointDataComponent::Real>(0).values;
                const std::uint64_t* cls =
                    block.Column<EPointDataComponent::UnsignedInteger>(0).values;
                const orv::DataProxy::GVector3* normal =
                    block.Column<EPointDataComponent::Vector3>(0).values;
                for (i = 0; i + 4 <= n; i += 4)
                {
                    for (std::size_t k = 0; k < 4; ++k)
                    {
                        extraLanes[k] += intensity[i + k] + normal[i + k].x;
                        classes += cls[i + k];
                    }
                }
                for (; i < n; ++i)
                {
                    extraLanes[0] += intensity[i] + normal[i].x;
                    classes += cls[i];
                }
            }
        });
    Sums sums;
    sums.position = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    sums.extras = (extraLanes[0] + extraLanes[1]) + (extraLanes[2] + extraLanes[3]) +
                  static_cast<double>(classes);
    return sums;
}

// Positions only, or everything (the three extras and the point index too).
const orv::DataProxy::IPointDataConsumer& Wants(bool extras)
{
    static const orv::DataProxy::WantAll all;
    static const orv::DataProxy::WantKeys positions({});
    if (extras)
        return all;
    return positions;
}

// The raw loop over the whole cloud: BM_RawPositions, BM_RawPositionsAndThreeExtras.
template <bool extras>
void BM_Raw(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    for (auto _ : state)
        Consume(RawLoop<extras>(cloud, 0, cloud.GetSubsetCount()));
    orv::Bench::PerPoint(state);
}

// BM_CursorPositions, BM_CursorPositionsAndThreeExtras.
template <bool extras>
void BM_Cursor(benchmark::State& state)
{
    const auto iterable = orv::Bench::SharedProvider().GetIterable(Wants(extras));
    for (auto _ : state)
        Consume(orv::Bench::CursorSums<extras>(*iterable->CreateCursor()));
    orv::Bench::PerPoint(state);
}

// Blocks from the provider's iterable, or (`fallback`) from a wrapper that hides its block
// interface, so that they are filled from a cursor.
template <bool extras, bool fallback>
void BM_Block(benchmark::State& state)
{
    const orv::DataProxy::IPointDataConsumer& consumer = Wants(extras);
    const std::shared_ptr<IPointDataIterable> iterable =
        orv::Bench::SharedProvider().GetIterable(consumer);
    const orv::TestSupport::CursorOnly hidden(iterable);
    const IPointDataIterable& read =
        fallback ? static_cast<const IPointDataIterable&>(hidden) : *iterable;
    for (auto _ : state)
        Consume(BlockLoop(read, consumer, extras));
    orv::Bench::PerPoint(state);
}

// Positions relative to an origin into arrays allocated once: the copy written by hand with
// ForEachBlock (BM_RawBlockCopyPositions), and the helper that does it (BM_ArraysPositions).
template <bool helper>
void BM_Arrays(benchmark::State& state)
{
    const orv::DataProxy::IPointDataConsumer& consumer = Wants(false);
    const auto iterable = orv::Bench::SharedProvider().GetIterable(consumer);
    const orv::DataProxy::GPointDouble origin{652000.0, 5180000.0, 300.0};
    orv::DataProxy::PointArrays arrays(orv::Bench::kPoints, origin, {});
    std::vector<double> x(orv::Bench::kPoints), y(orv::Bench::kPoints), z(orv::Bench::kPoints);
    for (auto _ : state)
    {
        if constexpr (helper)
        {
            benchmark::DoNotOptimize(arrays.Fill(*iterable, consumer, 0));
            continue;
        }
        std::size_t at = 0;
        orv::DataProxy::ForEachBlock(*iterable, consumer,
                                     [&](const orv::DataProxy::PointDataBlock& block)
                                     {
                                         const std::size_t n = block.Size();
                                         for (std::size_t i = 0; i < n; ++i)
                                         {
                                             x[at + i] = block.X()[i] - origin.x;
                                             y[at + i] = block.Y()[i] - origin.y;
                                             z[at + i] = block.Z()[i] - origin.z;
                                         }
                                         at += n;
                                     });
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    orv::Bench::PerPoint(state);
}

// The cursor fallback over 64 pieces of 1,000 points, positions and the three extras, for a
// consumer that wants every key or exactly the three: the cost of working out each piece's
// columns, beside the reads.
template <bool all>
void BM_FallbackPieces(benchmark::State& state)
{
    static const auto provider = []
    {
        auto p = std::make_unique<PointCloudDataProvider>(orv::Bench::MakeCloud(64'000));
        p->MapOptionalComponent(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId());
        p->MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                CloudClassificationExtraData::TypeId());
        p->MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
        return p;
    }();
    static const orv::DataProxy::WantAll everything;
    static const orv::DataProxy::WantKeys three({{EPointDataComponent::Real, 0},
                                                 {EPointDataComponent::UnsignedInteger, 0},
                                                 {EPointDataComponent::Vector3, 0}});
    const orv::DataProxy::IPointDataConsumer& consumer =
        all ? static_cast<const orv::DataProxy::IPointDataConsumer&>(everything) : three;
    std::vector<orv::TestSupport::CursorOnly> pieces;
    for (auto& piece : orv::DataProxy::SplitIntoPieces(provider->GetIterable(consumer), 64, 500))
        pieces.emplace_back(piece);
    if (pieces.size() != 64)
        state.SkipWithError("not 64 pieces");
    for (auto _ : state)
        for (const auto& piece : pieces)
            Consume(BlockLoop(piece, consumer, true));
    orv::Bench::PerPoint(state, 64'000);
}

// Wall-clock and CPU seconds (all threads) of walks.
struct Timing
{
    double wall = 0.0;
    double cpu = 0.0;
    void operator+=(const Timing& t)
    {
        wall += t.wall;
        cpu += t.cpu;
    }
};

// A walk of the whole cloud (half -1) or of one of two halves (0, 1).
using Walk = std::function<void(int half)>;

// Runs `walk` on one thread over the whole, or on two threads over the two halves.
Timing TimeWalk(int threads, const Walk& walk)
{
    const auto start = std::chrono::steady_clock::now();
    double cpu[2] = {0.0, 0.0};
    const auto run = [&](int thread)
    {
        const double begin = orv::Bench::ThreadCpuSeconds();
        walk(threads == 1 ? -1 : thread);
        cpu[thread] = orv::Bench::ThreadCpuSeconds() - begin;
    };
    std::thread worker;
    if (threads == 2)
        worker = std::thread(run, 1);
    run(0);
    if (worker.joinable())
        worker.join();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            cpu[0] + cpu[1]};
}

// Two threads on two halves against one thread on the whole, one, two, two, one in every
// iteration; `baseline` (the raw loop) is timed right after each walk, as raw_speedup. The
// counters: bench/README.md ("Cases and the pairing convention").
void ThreadSpeedup(benchmark::State& state, const Walk& walk, const Walk& baseline)
{
    Timing one, two, rawOne, rawTwo;
    for (auto _ : state)
    {
        for (const int threads : {1, 2, 2, 1})
        {
            (threads == 1 ? one : two) += TimeWalk(threads, walk);
            (threads == 1 ? rawOne : rawTwo) += TimeWalk(threads, baseline);
        }
    }
    const double walked = 2.0 * static_cast<double>(state.iterations() * orv::Bench::kPoints);
    orv::Bench::PerPoint(state, 4 * orv::Bench::kPoints);
    state.counters["speedup"] = two.wall > 0.0 ? one.wall / two.wall : 0.0;
    state.counters["cpu_ns_per_point_1"] = one.cpu / walked * 1e9;
    state.counters["cpu_ns_per_point_2"] = two.cpu / walked * 1e9;
    state.counters["raw_speedup"] = rawTwo.wall > 0.0 ? rawOne.wall / rawTwo.wall : 0.0;
}

// The plain loop, extras included, on the whole cloud or on one of two halves of its subsets.
void RawHalf(int half)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    const std::uint32_t subsets = cloud.GetSubsetCount();
    Consume(RawLoop<true>(cloud, half == 1 ? subsets / 2 : 0, half == 0 ? subsets / 2 : subsets));
}

// Each thread splits its own iterable and reads its half, through cursors or in blocks.
template <bool blocks>
void BM_Split(benchmark::State& state)
{
    const orv::DataProxy::WantAll consumer;
    const auto walk = [&](int half)
    {
        const auto pieces = orv::DataProxy::SplitIntoPieces(
            orv::Bench::SharedProvider().GetIterable(consumer), half == -1 ? 1 : 2);
        const IPointDataIterable& piece = *pieces[half == 1 ? 1 : 0];
        Consume(blocks ? BlockLoop(piece, consumer, true)
                       : orv::Bench::CursorSums<true>(*piece.CreateCursor()));
    };
    ThreadSpeedup(state, walk, RawHalf);
}

} // namespace

constexpr auto kMs = benchmark::kMillisecond;
BENCHMARK_TEMPLATE(BM_Raw, false)->Name("BM_RawPositions")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Cursor, false)->Name("BM_CursorPositions")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Raw, true)->Name("BM_RawPositionsAndThreeExtras")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Cursor, true)->Name("BM_CursorPositionsAndThreeExtras")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Block, false, false)->Name("BM_BlockPositions")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Block, true, false)->Name("BM_BlockPositionsAndThreeExtras")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Block, false, true)->Name("BM_BlockFallbackPositions")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Arrays, false)->Name("BM_RawBlockCopyPositions")->Unit(kMs);
BENCHMARK_TEMPLATE(BM_Arrays, true)->Name("BM_ArraysPositions")->Unit(kMs);

BENCHMARK_TEMPLATE(BM_FallbackPieces, false)->Name("BM_FallbackPiecesWantKeys");
BENCHMARK_TEMPLATE(BM_FallbackPieces, true)->Name("BM_FallbackPiecesWantAll");
BENCHMARK_TEMPLATE(BM_Split, false)->Name("BM_CursorThreadSpeedup")->Unit(kMs)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Split, true)->Name("BM_BlockThreadSpeedup")->Unit(kMs)->UseRealTime();

BENCHMARK_MAIN();

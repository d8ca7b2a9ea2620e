// Reading a host cloud through the contract's cursor, and a block at a time, against raw loops
// over the reference host's own tables, in the same run. Figures: ns per point (1e9 /
// items_per_second); the thread cases report the speed-up of two threads over one, for the cursor
// and for the raw loop (what the machine allows at all), measured within each case.
#include "bench/support/BenchClouds.h"
#include "contract/PointDataBlocks.h"
#include "host/core/TableCluster.h"
#include "host/geometry/CloudSubset.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <thread>
#include <type_traits>

using namespace orv::Data::Cloud;
using orv::DataProxy::EPointDataComponent;

namespace
{

class Wants final : public orv::DataProxy::IPointDataConsumer
{
public:
    explicit Wants(bool extras) : extras_(extras) {}
    bool IsComponentRequested(EPointDataComponent component, unsigned char) const override
    {
        return extras_ || component == EPointDataComponent::Position;
    }

private:
    bool extras_;
};

struct Sums
{
    double position = 0.0;
    double extras = 0.0;
};

// The plain loop: walk the tables of subsets [first, last) with their iterators, transform
// the floats, and with `extras` read the three elements too (decoding the normal).
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

// Every stored coordinate read once and added up, as fast as the memory delivers them: a sum
// over each buffer of the coordinate tables that the compiler vectorises. No transform, no
// doubles: the floor under any read of the positions, i.e. this machine's read bandwidth for
// them in this run.
float StreamCoordinates(const GCloud& cloud)
{
    float lanes[8] = {};
    for (std::uint32_t s = 0; s < cloud.GetSubsetCount(); ++s)
    {
        const CloudSubset* subset = cloud.GetSubset(s);
        std::uint64_t left = subset->StoredCount();
        orv::Collection::TableCluster::Iterator it(&subset->coordinates, 0);
        while (left > 0)
        {
            const std::uint64_t run = std::min<std::uint64_t>(
                left, static_cast<std::uint64_t>(it.bufEnd - it.ptr) / it.stride);
            const float* p = reinterpret_cast<const float*>(it.ptr);
            const std::size_t floats = 3 * run;
            std::size_t i = 0;
            for (; i + 8 <= floats; i += 8)
            {
                for (std::size_t k = 0; k < 8; ++k)
                {
                    lanes[k] += p[i + k];
                }
            }
            for (; i < floats; ++i)
            {
                lanes[0] += p[i];
            }
            it += static_cast<std::int64_t>(run);
            left -= run;
        }
    }
    return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) +
           ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// Both sums reach the optimiser's barrier: a loop whose position sum went unused would lose
// its position arithmetic and make an unfair baseline.
void Consume(const Sums& sums)
{
    benchmark::DoNotOptimize(sums.position);
    benchmark::DoNotOptimize(sums.extras);
}

struct ReadKeys
{
    unsigned char intensity, cls, normal;
};

Sums CursorLoop(const orv::DataProxy::IPointDataIterable& iterable, bool extras,
                const ReadKeys& keys)
{
    Sums sums;
    for (auto cursor = iterable.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
    {
        const auto p = cursor->GetPosition();
        sums.position += p.x + p.y + p.z;
        if (extras)
        {
            sums.extras += *cursor->GetReal(keys.intensity) +
                           static_cast<double>(*cursor->GetUnsignedInteger(keys.cls)) +
                           cursor->GetVector3(keys.normal)->x;
        }
    }
    return sums;
}

// The same sums from blocks. Each sum is kept as four partial sums, one per lane, and the
// classifications (integers) in an integer sum, so that the compiler can vectorise the loops
// as any block client would write them: the same work as the raw loop's single running sums,
// added up in another order.
Sums BlockLoop(const orv::DataProxy::IPointDataIterable& iterable,
               const orv::DataProxy::IPointDataConsumer& consumer, bool extras,
               const ReadKeys& keys)
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
            {
                for (std::size_t k = 0; k < 4; ++k)
                {
                    lanes[k] += x[i + k] + y[i + k] + z[i + k];
                }
            }
            for (; i < n; ++i)
            {
                lanes[0] += x[i] + y[i] + z[i];
            }
            if (extras)
            {
                const double* intensity =
                    block.Column<EPointDataComponent::Real>(keys.intensity).values;
                const std::uint64_t* cls =
                    block.Column<EPointDataComponent::UnsignedInteger>(keys.cls).values;
                const orv::DataProxy::GVector3* normal =
                    block.Column<EPointDataComponent::Vector3>(keys.normal).values;
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

// An iterable of another plugin: the contract only, so ForEachBlock falls back to a cursor.
class CursorOnly final : public orv::DataProxy::IPointDataIterable
{
public:
    explicit CursorOnly(std::shared_ptr<orv::DataProxy::IPointDataIterable> inner)
        : inner_(std::move(inner))
    {
    }
    std::shared_ptr<orv::DataProxy::IPointDataCursor> CreateCursor() const override
    {
        return inner_->CreateCursor();
    }
    bool IsEmpty() const override { return inner_->IsEmpty(); }
    bool IsDivisible(const orv::DataProxy::IPointDataSplitHint& hint) const override
    {
        return inner_->IsDivisible(hint);
    }
    std::unique_ptr<orv::DataProxy::IPointDataIterable> Split() override
    {
        return std::make_unique<CursorOnly>(inner_->Split());
    }

private:
    std::shared_ptr<orv::DataProxy::IPointDataIterable> inner_;
};

PointCloudDataProvider& Provider(ReadKeys& keys)
{
    static PointCloudDataProvider provider(orv::Bench::SharedCloud());
    static const ReadKeys mapped{
        *provider.MapOptionalComponent(EPointDataComponent::Real,
                                       CloudIntensityNewExtraData::TypeId()),
        *provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                       CloudClassificationExtraData::TypeId()),
        *provider.MapOptionalComponent(EPointDataComponent::Vector3,
                                       CloudNormalExtraData::TypeId())};
    keys = mapped;
    return provider;
}

void BM_RawPositions(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    for (auto _ : state)
    {
        Consume(RawLoop<false>(cloud, 0, cloud.GetSubsetCount()));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cloud.GetPointCount()));
}

void BM_RawStreamPositions(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(StreamCoordinates(cloud));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cloud.GetPointCount()));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(cloud.GetPointCount() * 3 * sizeof(float)));
}

void BM_CursorPositions(benchmark::State& state)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(false);
    const auto iterable = provider.GetIterable(consumer);
    for (auto _ : state)
    {
        Consume(CursorLoop(*iterable, false, keys));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

void BM_RawPositionsAndThreeExtras(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    for (auto _ : state)
    {
        Consume(RawLoop<true>(cloud, 0, cloud.GetSubsetCount()));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cloud.GetPointCount()));
}

void BM_CursorPositionsAndThreeExtras(benchmark::State& state)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(true);
    const auto iterable = provider.GetIterable(consumer);
    for (auto _ : state)
    {
        Consume(CursorLoop(*iterable, true, keys));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

// Blocks from the provider's iterable, or (`fallback`) from a wrapper that hides its block
// interface, so that they are filled from a cursor.
void BlockCase(benchmark::State& state, bool extras, bool fallback)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(extras);
    const std::shared_ptr<orv::DataProxy::IPointDataIterable> iterable =
        provider.GetIterable(consumer);
    const CursorOnly hidden(iterable);
    const orv::DataProxy::IPointDataIterable& read =
        fallback ? static_cast<const orv::DataProxy::IPointDataIterable&>(hidden) : *iterable;
    for (auto _ : state)
    {
        Consume(BlockLoop(read, consumer, extras, keys));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

void BM_BlockPositions(benchmark::State& state)
{
    BlockCase(state, false, false);
}

void BM_BlockPositionsAndThreeExtras(benchmark::State& state)
{
    BlockCase(state, true, false);
}

void BM_BlockFallbackPositions(benchmark::State& state)
{
    BlockCase(state, false, true);
}

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Wall-clock and CPU seconds (all threads) of one walk.
struct Timing
{
    double wall = 0.0;
    double cpu = 0.0;
};

// Runs `walk(half)` on one thread (half -1: the whole) or on two threads (halves 0 and 1).
template <class Walk>
Timing TimeWalk(int threads, const Walk& walk)
{
    const auto start = std::chrono::steady_clock::now();
    Timing t;
    if (threads == 1)
    {
        const double cpu = ThreadCpuSeconds();
        walk(-1);
        t.cpu = ThreadCpuSeconds() - cpu;
    }
    else
    {
        double workerCpu = 0.0;
        std::thread worker(
            [&]
            {
                const double cpu = ThreadCpuSeconds();
                walk(1);
                workerCpu = ThreadCpuSeconds() - cpu;
            });
        const double cpu = ThreadCpuSeconds();
        walk(0);
        t.cpu = ThreadCpuSeconds() - cpu;
        worker.join();
        t.cpu += workerCpu;
    }
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return t;
}

// Two threads on two halves against one thread on the whole, extras included: the cursor on
// the split iterable, or the plain loop on two halves of the subsets (the machine's own
// ceiling for this work). Each iteration runs one thread, two, two, one, so a spare core that
// comes and goes (other work on the machine) affects both sides alike; `speedup` is the
// one-thread wall time over the two-thread wall time. cpu_ns_per_point_1 and _2 add up the
// CPU time of every thread: equal values mean the walk itself scales, and a speed-up below 2
// comes from threads waiting for a core.
//
// With a `baseline` walk (the raw loop), that walk is timed the same way right after each of
// the case's own, and its speed-up is reported as raw_speedup: the machine's ceiling measured
// in the same moments as the case.
template <class Walk, class Baseline = std::nullptr_t>
void ThreadSpeedup(benchmark::State& state, std::uint64_t points, const Walk& walk,
                   const Baseline& baseline = nullptr)
{
    Timing one, two, rawOne, rawTwo;
    const auto add = [](Timing& sum, const Timing& t)
    {
        sum.wall += t.wall;
        sum.cpu += t.cpu;
    };
    for (auto _ : state)
    {
        for (const int threads : {1, 2, 2, 1})
        {
            add(threads == 1 ? one : two, TimeWalk(threads, walk));
            if constexpr (!std::is_same_v<Baseline, std::nullptr_t>)
            {
                add(threads == 1 ? rawOne : rawTwo, TimeWalk(threads, baseline));
            }
        }
    }
    const double walked =
        2.0 * static_cast<double>(state.iterations()) * static_cast<double>(points);
    state.SetItemsProcessed(4 * state.iterations() * static_cast<std::int64_t>(points));
    state.counters["speedup"] = two.wall > 0.0 ? one.wall / two.wall : 0.0;
    state.counters["cpu_ns_per_point_1"] = one.cpu / walked * 1e9;
    state.counters["cpu_ns_per_point_2"] = two.cpu / walked * 1e9;
    if constexpr (!std::is_same_v<Baseline, std::nullptr_t>)
    {
        state.counters["raw_speedup"] = rawTwo.wall > 0.0 ? rawOne.wall / rawTwo.wall : 0.0;
    }
}

// The plain loop on the whole cloud (half -1) or on one of two halves of its subsets.
auto RawHalves(const GCloud& cloud)
{
    return [&cloud](int half)
    {
        const std::uint32_t subsets = cloud.GetSubsetCount();
        const std::uint32_t first = half == 1 ? subsets / 2 : 0;
        const std::uint32_t last = half == 0 ? subsets / 2 : subsets;
        Consume(RawLoop<true>(cloud, first, last));
    };
}

// Each thread splits its own iterable the same way and reads its half, through cursors or in
// blocks.
void SplitThreadSpeedup(benchmark::State& state, bool blocks)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(true);
    const auto read = [&](const orv::DataProxy::IPointDataIterable& piece)
    { Consume(blocks ? BlockLoop(piece, consumer, true, keys) : CursorLoop(piece, true, keys)); };
    const auto walk = [&](int half)
    {
        auto lower = provider.GetIterable(consumer);
        if (half == -1)
        {
            read(*lower);
            return;
        }
        auto upper = lower->Split();
        read(half == 0 ? *lower : *upper);
    };
    if (blocks)
    {
        ThreadSpeedup(state, provider.Size(), walk, RawHalves(orv::Bench::SharedCloud().Convert()));
    }
    else
    {
        ThreadSpeedup(state, provider.Size(), walk);
    }
}

void BM_CursorThreadSpeedup(benchmark::State& state)
{
    SplitThreadSpeedup(state, false);
}

void BM_BlockThreadSpeedup(benchmark::State& state)
{
    SplitThreadSpeedup(state, true);
}

void BM_RawThreadSpeedup(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    ThreadSpeedup(state, cloud.GetPointCount(), RawHalves(cloud));
}

} // namespace

BENCHMARK(BM_RawPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawStreamPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockFallbackPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawThreadSpeedup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CursorThreadSpeedup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlockThreadSpeedup)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();

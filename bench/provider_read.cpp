// Reading a host cloud through the contract's cursor against raw loops over the reference
// host's own tables, in the same run. Figures: ns per point (1e9 / items_per_second).
#include "bench/support/BenchClouds.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <thread>

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

// The plain loop: walk every subset's tables with their iterators, transform the floats.
Sums RawLoop(const GCloud& cloud, bool extras)
{
    const double* m = cloud.GetMatrix().v;
    const int intensityType = CloudIntensityNewExtraData::TypeId();
    const int classType = CloudClassificationExtraData::TypeId();
    const int normalType = CloudNormalExtraData::TypeId();
    Sums sums;
    for (std::uint32_t s = 0; s < cloud.GetSubsetCount(); ++s)
    {
        const CloudSubset* subset = cloud.GetSubset(s);
        const std::uint32_t n = subset->StoredCount();
        orv::Collection::TableCluster::Iterator xyz(&subset->coordinates, 0);
        if (!extras)
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
        benchmark::DoNotOptimize(RawLoop(cloud, false).position);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cloud.GetPointCount()));
}

void BM_CursorPositions(benchmark::State& state)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(false);
    const auto iterable = provider.GetIterable(consumer);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(CursorLoop(*iterable, false, keys).position);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

void BM_RawPositionsAndThreeExtras(benchmark::State& state)
{
    const GCloud& cloud = orv::Bench::SharedCloud().Convert();
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(RawLoop(cloud, true).extras);
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
        benchmark::DoNotOptimize(CursorLoop(*iterable, true, keys).extras);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

// One or two threads, each walking one half of the split iterable (extras included).
void BM_CursorThreads(benchmark::State& state)
{
    ReadKeys keys{};
    const PointCloudDataProvider& provider = Provider(keys);
    const Wants consumer(true);
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state)
    {
        auto lower = provider.GetIterable(consumer);
        if (threads == 1)
        {
            benchmark::DoNotOptimize(CursorLoop(*lower, true, keys).extras);
            continue;
        }
        auto upper = lower->Split();
        Sums a, b;
        std::thread worker([&] { b = CursorLoop(*upper, true, keys); });
        a = CursorLoop(*lower, true, keys);
        worker.join();
        benchmark::DoNotOptimize(a.extras + b.extras);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(provider.Size()));
}

} // namespace

BENCHMARK(BM_RawPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorThreads)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();

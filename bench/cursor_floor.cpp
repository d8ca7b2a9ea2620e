// What the cursor contract costs by itself: a cursor over plain arrays that does nothing but
// answer the contract's per-point virtual calls (IsValid, GetPosition, MoveNext and one getter
// per extra-data key, no subsets, no look-ups, no policies), against the same loop without
// the calls, in the same run. No cursor can go below this floor; the provider's cursor is
// measured against the same kind of raw loop in bench_provider_read.
// Figures: ns per point (1e9 / items_per_second).
#include "bench/support/BenchClouds.h"
#include "contract/Interfaces.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace orv::Data::Cloud;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

namespace
{

// The shared cloud's points as plain arrays.
struct Arrays
{
    std::vector<float> xyz;
    std::vector<float> intensity;
    std::vector<std::uint8_t> classification;
    std::vector<CompressedVector32Bits> normal;
    orv::Math::Algebra::Matrix3x4 frame{};
};

const Arrays& TheArrays()
{
    static const Arrays arrays = []
    {
        const GCloud& cloud = orv::Bench::SharedCloud().Convert();
        const std::uint64_t n = cloud.GetPointCount();
        Arrays a;
        a.frame = cloud.GetMatrix();
        a.xyz.resize(3 * n);
        a.intensity.resize(n);
        a.classification.resize(n);
        a.normal.resize(n);
        for (std::uint64_t i = 0; i < n; ++i)
        {
            std::memcpy(&a.xyz[3 * i], cloud.GetStoredCoordinates(i), 12);
            std::memcpy(&a.intensity[i],
                        cloud.GetExtraDataElement(CloudIntensityNewExtraData::TypeId(), i), 4);
            std::memcpy(&a.classification[i],
                        cloud.GetExtraDataElement(CloudClassificationExtraData::TypeId(), i), 1);
            std::memcpy(&a.normal[i], cloud.GetExtraDataElement(CloudNormalExtraData::TypeId(), i),
                        4);
        }
        return a;
    }();
    return arrays;
}

GPointDouble World(const double* m, const float* p)
{
    const double x = p[0], y = p[1], z = p[2];
    return {((m[1] * y + m[0] * x) + m[2] * z) + m[9], ((m[4] * y + m[3] * x) + m[5] * z) + m[10],
            ((m[7] * y + m[6] * x) + m[8] * z) + m[11]};
}

GVector3 Normal(const double* m, const CompressedVector32Bits& packed)
{
    GVector3 v{0.0, 0.0, 0.0};
    (void)packed.VectorGet(v);
    return {(m[0] * v.x + m[1] * v.y) + m[2] * v.z, (m[3] * v.x + m[4] * v.y) + m[5] * v.z,
            (m[6] * v.x + m[7] * v.y) + m[8] * v.z};
}

// Two classes implement the cursor here, so the compiler cannot guess the target of a call
// through the interface: every call stays a real virtual call.
template <int Variant>
class ArrayCursor final : public orv::DataProxy::IPointDataCursor
{
public:
    explicit ArrayCursor(const Arrays& arrays) : a(arrays), m(arrays.frame.v) {}

    GPointDouble GetPosition() const override { return World(m, &a.xyz[3 * i]); }
    std::uint64_t GetPointIndex() const override { return i; }
    std::optional<GVector3> GetVector3(unsigned char) const override
    {
        return Normal(m, a.normal[i]);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char) const override
    {
        return a.classification[i];
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char) const override
    {
        return std::nullopt;
    }
    std::optional<double> GetReal(unsigned char) const override { return a.intensity[i]; }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char) const override
    {
        return std::nullopt;
    }
    void MoveNext() override { ++i; }
    bool IsValid() const override { return i < a.intensity.size(); }

private:
    const Arrays& a;
    const double* m;
    std::size_t i = 0;
};

std::unique_ptr<orv::DataProxy::IPointDataCursor> MakeCursor(bool second)
{
    std::unique_ptr<orv::DataProxy::IPointDataCursor> cursor;
    if (second)
        cursor = std::make_unique<ArrayCursor<1>>(TheArrays());
    else
        cursor = std::make_unique<ArrayCursor<0>>(TheArrays());
    return cursor;
}

void PerPoint(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() *
                            static_cast<std::int64_t>(TheArrays().intensity.size()));
}

void BM_RawArrayPositions(benchmark::State& state)
{
    const Arrays& a = TheArrays();
    const double* m = a.frame.v;
    for (auto _ : state)
    {
        double sum = 0.0;
        for (std::size_t i = 0; i < a.intensity.size(); ++i)
        {
            const GPointDouble p = World(m, &a.xyz[3 * i]);
            sum += p.x + p.y + p.z;
        }
        benchmark::DoNotOptimize(sum);
    }
    PerPoint(state);
}

void BM_FloorCursorPositions(benchmark::State& state)
{
    bool second = false;
    benchmark::DoNotOptimize(second);
    for (auto _ : state)
    {
        double sum = 0.0;
        for (auto cursor = MakeCursor(second); cursor->IsValid(); cursor->MoveNext())
        {
            const GPointDouble p = cursor->GetPosition();
            sum += p.x + p.y + p.z;
        }
        benchmark::DoNotOptimize(sum);
    }
    PerPoint(state);
}

void BM_RawArrayPositionsAndThreeExtras(benchmark::State& state)
{
    const Arrays& a = TheArrays();
    const double* m = a.frame.v;
    for (auto _ : state)
    {
        double sum = 0.0;
        double extras = 0.0;
        for (std::size_t i = 0; i < a.intensity.size(); ++i)
        {
            const GPointDouble p = World(m, &a.xyz[3 * i]);
            sum += p.x + p.y + p.z;
            extras += a.intensity[i] + static_cast<double>(a.classification[i]) +
                      Normal(m, a.normal[i]).x;
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(extras);
    }
    PerPoint(state);
}

void BM_FloorCursorPositionsAndThreeExtras(benchmark::State& state)
{
    bool second = false;
    benchmark::DoNotOptimize(second);
    for (auto _ : state)
    {
        double sum = 0.0;
        double extras = 0.0;
        for (auto cursor = MakeCursor(second); cursor->IsValid(); cursor->MoveNext())
        {
            const GPointDouble p = cursor->GetPosition();
            sum += p.x + p.y + p.z;
            extras += *cursor->GetReal(0) + static_cast<double>(*cursor->GetUnsignedInteger(0)) +
                      cursor->GetVector3(0)->x;
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(extras);
    }
    PerPoint(state);
}

} // namespace

BENCHMARK(BM_RawArrayPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorCursorPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawArrayPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorCursorPositionsAndThreeExtras)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

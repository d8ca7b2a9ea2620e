// GetValue of the conversion policies, one element at a time, against reading the stored
// elements directly with the same conversion written inline, in the same run.
// Figures: ns per element (1e9 / items_per_second); the ratio policy / raw is the one to quote.
//
// The policies are the ones the library registers with the host when it is loaded, looked
// up as the cursor looks them up. Their classes are not visible here, so the compiler cannot
// guess the target: every element costs one real virtual call, as it does in the cursor.
// The raw loops hoist what a caller can hoist (the frame, the colour mode and its range).
#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataRegistry.h"
#include "host/geometry/ExtraDataTypes.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <typeindex>
#include <vector>

using namespace orv::Data::Cloud;
using orv::Data::ExtraData::Details::ICloudExtraDataConversionPolicy;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GVector3;

namespace
{

constexpr std::size_t kElements = 10'000'000;
static_assert(kElements % 4 == 0, "the sums take four elements at a time");
constexpr float kRangeMin = -2.0f;
constexpr float kRangeMax = 3.0f;

// The stored elements, as the host keeps them in its tables.
struct Elements
{
    std::vector<std::uint8_t> classification;
    std::vector<CompressedVector32Bits> normal;
    std::vector<orv::Data::Primitive::ColorValue> plainIntensity;      // colour mode 1
    std::vector<orv::Data::Primitive::ColorValue> compressedIntensity; // colour mode 3
};

const Elements& TheElements()
{
    static const Elements elements = []
    {
        Elements e;
        e.classification.resize(kElements);
        e.normal.resize(kElements);
        e.plainIntensity.resize(kElements);
        e.compressedIntensity.resize(kElements);
        std::mt19937_64 random(99);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (std::size_t i = 0; i < kElements; ++i)
        {
            e.classification[i] = static_cast<std::uint8_t>(i % 32);
            e.normal[i].VectorSet({unit(random) - 0.5, unit(random) - 0.5, 1.0});
            const float value = static_cast<float>(unit(random));
            e.plainIntensity[i].SetValueFloat(value);
            (void)e.compressedIntensity[i].SetCompressedValue(value, kRangeMin, kRangeMax);
        }
        return e;
    }();
    return elements;
}

// An empty cloud in a rotated frame with the given colour mode, and a cursor on it: the
// `info` every GetValue receives.
struct Info
{
    explicit Info(int mode)
    {
        const double c = std::cos(0.5);
        const double s = std::sin(0.5);
        cloud.Convert().SetMatrix({{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0, 10.0, 20.0, 30.0}});
        cloud.Convert().SetType(mode, kRangeMin, kRangeMax, nullptr, false);
    }
    PointCloud cloud;
    CloudCursorBase<1> cursor{cloud.Convert(), 0};
};

// The registered policy of (extra-data type, value type). The library registers its
// policies when it is loaded, and the linker drops a library nothing refers to: the provider
// made here is that reference.
template <class T>
const ICloudExtraDataConversionPolicy<T>* Registered(int extraDataType)
{
    static const PointCloudDataProvider keepsTheLibraryLoaded{PointCloud{}};
    benchmark::DoNotOptimize(&keepsTheLibraryLoaded);
    const auto* policy = dynamic_cast<const ICloudExtraDataConversionPolicy<T>*>(
        orv::Data::ExtraData::Details::GetCloudExtraDataConversionPolicy(
            extraDataType, std::type_index(typeid(T))));
    if (policy == nullptr)
    {
        std::fprintf(stderr, "no policy registered for type %d\n", extraDataType);
        std::abort();
    }
    return policy;
}

void PerElement(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kElements));
}

// Sums value(i) over the n elements (a multiple of 4) in four independent accumulators, so
// that neither loop is bound by the latency of one chain of additions.
template <class Sum, class F>
Sum SumOf(std::size_t n, F&& value)
{
    Sum s0{}, s1{}, s2{}, s3{};
    for (std::size_t i = 0; i < n; i += 4)
    {
        s0 += value(i);
        s1 += value(i + 1);
        s2 += value(i + 2);
        s3 += value(i + 3);
    }
    return (s0 + s1) + (s2 + s3);
}

void BM_RawReadClassification(benchmark::State& state)
{
    const std::uint8_t* stored = TheElements().classification.data();
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<std::uint64_t>(kElements, [&](std::size_t i)
                                                      { return std::uint64_t{stored[i]}; }));
    }
    PerElement(state);
}

void BM_PolicyGetValueClassification(benchmark::State& state)
{
    const std::uint8_t* stored = TheElements().classification.data();
    const Info info(1);
    const auto* reader = Registered<std::uint64_t>(CloudClassificationExtraData::TypeId());
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<std::uint64_t>(
            kElements, [&](std::size_t i) { return reader->GetValue(stored + i, info.cursor); }));
    }
    PerElement(state);
}

void BM_RawReadNormal(benchmark::State& state)
{
    const CompressedVector32Bits* stored = TheElements().normal.data();
    const Info info(1);
    const double* m = info.cursor.GetMatrix().v;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<double>(kElements,
                                               [&](std::size_t i)
                                               {
                                                   GVector3 v{0.0, 0.0, 0.0};
                                                   (void)stored[i].VectorGet(v);
                                                   return ((m[0] * v.x + m[1] * v.y) + m[2] * v.z) +
                                                          ((m[3] * v.x + m[4] * v.y) + m[5] * v.z) +
                                                          ((m[6] * v.x + m[7] * v.y) + m[8] * v.z);
                                               }));
    }
    PerElement(state);
}

void BM_PolicyGetValueNormal(benchmark::State& state)
{
    const CompressedVector32Bits* stored = TheElements().normal.data();
    const Info info(1);
    const auto* reader = Registered<GVector3>(CloudNormalExtraData::TypeId());
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<double>(kElements,
                                               [&](std::size_t i)
                                               {
                                                   const GVector3 v =
                                                       reader->GetValue(stored + i, info.cursor);
                                                   return v.x + v.y + v.z;
                                               }));
    }
    PerElement(state);
}

void BM_RawReadIntensity(benchmark::State& state)
{
    const orv::Data::Primitive::ColorValue* stored = TheElements().plainIntensity.data();
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(
            SumOf<double>(kElements, [&](std::size_t i)
                          { return static_cast<double>(stored[i].GetValueFloat()); }));
    }
    PerElement(state);
}

void BM_PolicyGetValueIntensity(benchmark::State& state)
{
    const orv::Data::Primitive::ColorValue* stored = TheElements().plainIntensity.data();
    const Info info(1);
    const auto* reader = Registered<double>(CloudIntensityExtraData::TypeId());
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<double>(
            kElements, [&](std::size_t i) { return reader->GetValue(stored + i, info.cursor); }));
    }
    PerElement(state);
}

// Colour mode 3: every element is decoded from its 16-bit code in the cloud's range.
void BM_RawReadIntensityCompressed(benchmark::State& state)
{
    const orv::Data::Primitive::ColorValue* stored = TheElements().compressedIntensity.data();
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<double>(
            kElements, [&](std::size_t i)
            { return static_cast<double>(stored[i].GetCompressedValue(kRangeMin, kRangeMax)); }));
    }
    PerElement(state);
}

void BM_PolicyGetValueIntensityCompressed(benchmark::State& state)
{
    const orv::Data::Primitive::ColorValue* stored = TheElements().compressedIntensity.data();
    const Info info(3);
    const auto* reader = Registered<double>(CloudIntensityExtraData::TypeId());
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(SumOf<double>(
            kElements, [&](std::size_t i) { return reader->GetValue(stored + i, info.cursor); }));
    }
    PerElement(state);
}

} // namespace

BENCHMARK(BM_RawReadClassification)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolicyGetValueClassification)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawReadNormal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolicyGetValueNormal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawReadIntensity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolicyGetValueIntensity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawReadIntensityCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolicyGetValueIntensityCompressed)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

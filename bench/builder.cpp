// Building host clouds through the contract's builder against raw loops over the same points,
// in the same run; cases, heap and targets: bench/README.md.
#include "bench/support/BenchClouds.h"
#include "blocks/PointDataBlockAppend.h"
#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "helpers/PointDataHelpers.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

using namespace orv::Data::Cloud;
using orv::DataProxy::EPointDataComponent;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

namespace
{

constexpr std::size_t kPoints = 1'000'000;

// The points to write, as plain arrays.
struct Source
{
    std::vector<GPointDouble> positions;
    std::vector<double> intensities;
    std::vector<std::uint64_t> classes;
    std::vector<GVector3> normals;
};

// The first million points of the shared cloud, in world coordinates.
const Source& Points()
{
    static const Source source = []
    {
        const orv::Bench::Arrays& a = orv::Bench::SharedArrays();
        Source s;
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            s.positions.push_back(orv::Bench::World(a.frame.v, &a.xyz[3 * i]));
            s.intensities.push_back(a.intensity[i]);
            s.classes.push_back(a.classification[i]);
            s.normals.push_back(orv::Bench::WorldNormal(a.frame.v, a.normal[i]));
        }
        return s;
    }();
    return source;
}

// An accessor over the arrays, standing on point `at`; index 0 of each mapped component.
class ArrayAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    explicit ArrayAccessor(const Source& s) : source(s) {}
    std::size_t at = 0;

    GPointDouble GetPosition() const override { return source.positions[at]; }
    std::uint64_t GetPointIndex() const override { return at; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return i == 0 ? std::optional<GVector3>(source.normals[at]) : std::nullopt;
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return i == 0 ? std::optional<std::uint64_t>(source.classes[at]) : std::nullopt;
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char) const override { return {}; }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return i == 0 ? std::optional<double>(source.intensities[at]) : std::nullopt;
    }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char) const override { return {}; }

private:
    const Source& source;
};

// With `checked` false the builders skip the check of stored positions (an infinite tolerance):
// the Unchecked cases measure what the check costs.
PrototypedBuilderFactory ThreeKeys(bool checked = true)
{
    PrototypedBuilderFactory factory;
    if (!checked)
        factory.SetPositionTolerance(std::numeric_limits<double>::infinity());
    factory.MapOptionalComponent(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId(),
                                 4);
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                 CloudClassificationExtraData::TypeId(), 1);
    factory.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId(), 4);
    return factory;
}

// The normal codec alone: encode (VectorSet) against decode (VectorGet) of the same directions.
void BM_HostVectorSet(benchmark::State& state)
{
    const Source& s = Points();
    for (auto _ : state)
    {
        std::uint32_t sum = 0;
        for (const GVector3& n : s.normals)
            sum += CompressedVector32Bits(n).bits;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

void BM_HostVectorGet(benchmark::State& state)
{
    const std::vector<CompressedVector32Bits> packed(Points().normals.begin(),
                                                     Points().normals.end());
    for (auto _ : state)
    {
        double sum = 0.0;
        for (const CompressedVector32Bits& c : packed)
        {
            GVector3 v{};
            c.VectorGet(v);
            sum += v.x + v.y + v.z;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// The floor: the same values into plain vectors after a reserve (positions as floats relative
// to the first point, as the host stores them), the normal encoded with the same codec.
void BM_RawSoaAppend(benchmark::State& state)
{
    const Source& s = Points();
    for (auto _ : state)
    {
        std::vector<float> xyz;
        std::vector<float> intensity;
        std::vector<std::uint8_t> classification;
        std::vector<std::uint32_t> normal;
        xyz.reserve(3 * kPoints);
        intensity.reserve(kPoints);
        classification.reserve(kPoints);
        normal.reserve(kPoints);
        const GPointDouble origin = s.positions[0];
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            const GPointDouble& p = s.positions[i];
            xyz.push_back(static_cast<float>(p.x - origin.x));
            xyz.push_back(static_cast<float>(p.y - origin.y));
            xyz.push_back(static_cast<float>(p.z - origin.z));
            intensity.push_back(static_cast<float>(s.intensities[i]));
            classification.push_back(static_cast<std::uint8_t>(s.classes[i]));
            normal.push_back(CompressedVector32Bits(s.normals[i]).bits);
        }
        benchmark::DoNotOptimize(xyz.data());
        benchmark::DoNotOptimize(normal.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// The same narrowing as the builder, straight into the host's record.
void BM_RawHostAppend(benchmark::State& state)
{
    const Source& s = Points();
    for (auto _ : state)
    {
        GPointDouble position{};
        float intensity = 0.0f;
        std::uint8_t classification = 0;
        CompressedVector32Bits normal;
        GCloudPointData record(&position);
        record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &intensity);
        record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
        record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
        PointCloud cloud;
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            position = s.positions[i];
            intensity = static_cast<float>(s.intensities[i]);
            classification = static_cast<std::uint8_t>(s.classes[i]);
            normal.VectorSet(s.normals[i]);
            cloud.AddPoint(record, true);
        }
        benchmark::DoNotOptimize(cloud.GetPointCount());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

template <bool checked>
void BM_BuilderAddPointData(benchmark::State& state)
{
    const Source& s = Points();
    const PrototypedBuilderFactory factory = ThreeKeys(checked);
    const orv::DataProxy::WantAll consumer;
    ArrayAccessor point(s);
    for (auto _ : state)
    {
        const auto builder = factory.CreatePointDataBuilder(consumer);
        for (point.at = 0; point.at < kPoints; ++point.at)
            builder->AddPointData(point);
        benchmark::DoNotOptimize(builder.get());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// What the builder asks of each point of BM_BuilderAddPointData, in its order (its staged keys),
// through the interface: noipa keeps GCC from propagating the accessor's type into this function,
// so the four calls stay virtual as in the builder. The accessor's own cost.
[[gnu::noipa]] double AskAsTheBuilder(const orv::DataProxy::IPointDataAccessor& point)
{
    const GPointDouble p = point.GetPosition();
    const double normal = point.GetVector3(0).value_or(GVector3{}).x;
    const auto cls = static_cast<double>(point.GetUnsignedInteger(0).value_or(0));
    return p.x + normal + cls + point.GetReal(0).value_or(0.0);
}

// BM_BuilderAddPointData's loop without a builder.
void BM_AccessorFloor(benchmark::State& state)
{
    ArrayAccessor point(Points());
    for (auto _ : state)
    {
        double sum = 0.0;
        for (point.at = 0; point.at < kPoints; ++point.at)
            sum += AskAsTheBuilder(point);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// The same points handed over a block at a time (orv::DataProxy::AppendBlock, natively taken
// by our builder); filling each block from the arrays is part of the measured loop. Without
// `append` (BM_BlockFill) the same loop fills the blocks and hands them to nobody.
template <bool append, bool checked = true>
void BM_BuilderAppendBlock(benchmark::State& state)
{
    const Source& s = Points();
    const PrototypedBuilderFactory factory = ThreeKeys(checked);
    const orv::DataProxy::WantAll consumer;
    using orv::DataProxy::PointDataComponents::ComponentKey;
    orv::DataProxy::PointDataBlock block(
        orv::DataProxy::PointDataBlockLayout{true,
                                             false,
                                             {ComponentKey{EPointDataComponent::Vector3, 0},
                                              ComponentKey{EPointDataComponent::UnsignedInteger, 0},
                                              ComponentKey{EPointDataComponent::Real, 0}}});
    for (auto& column : block.MutableColumns())
        std::fill_n(column.present, orv::DataProxy::kPointDataBlockCapacity, std::uint8_t{1});
    GVector3* normals = block.MutableColumn<EPointDataComponent::Vector3>(0).values;
    std::uint64_t* classes = block.MutableColumn<EPointDataComponent::UnsignedInteger>(0).values;
    double* intensities = block.MutableColumn<EPointDataComponent::Real>(0).values;
    for (auto _ : state)
    {
        const auto builder = factory.CreatePointDataBuilder(consumer);
        for (std::size_t first = 0; first < kPoints; first += block.kCapacity)
        {
            const std::size_t n = std::min(block.kCapacity, kPoints - first);
            for (std::size_t i = 0; i < n; ++i)
            {
                const GPointDouble& p = s.positions[first + i];
                block.MutableX()[i] = p.x;
                block.MutableY()[i] = p.y;
                block.MutableZ()[i] = p.z;
                normals[i] = s.normals[first + i];
                classes[i] = s.classes[first + i];
                intensities[i] = s.intensities[first + i];
            }
            block.SetSize(n);
            if constexpr (append)
            {
                orv::DataProxy::AppendBlock(*builder, block);
            }
            else
            {
                benchmark::DoNotOptimize(&block);
                benchmark::ClobberMemory();
            }
        }
        benchmark::DoNotOptimize(builder.get());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// A builder of 10,000,000 points, built once per process.
PointCloudDataBuilder& BigBuilder()
{
    static const orv::DataProxy::WantAll consumer;
    static const PrototypedBuilderFactory factory = ThreeKeys();
    static PointCloudDataBuilder big = []
    {
        PointCloudDataBuilder builder(consumer, factory.mapping, factory.storageWidthByKey);
        ArrayAccessor point(Points());
        for (std::size_t i = 0; i < 10'000'000; ++i)
        {
            point.at = i % kPoints;
            builder.AddPointData(point);
        }
        return builder; // the copy takes the points over
    }();
    return big;
}

// GetResult on the big builder, then one more point while the result still shares the cloud
// (the host copies what the new point writes into).
void BM_GetResultThenAddPointOn10M(benchmark::State& state)
{
    PointCloudDataBuilder& big = BigBuilder();
    ArrayAccessor point(Points());
    using Clock = std::chrono::steady_clock;
    double getResult = 0.0;
    double addPoint = 0.0;
    for (auto _ : state)
    {
        const auto t0 = Clock::now();
        auto result = big.GetResult();
        const auto t1 = Clock::now();
        big.AddPointData(point);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(result.get());
        const double a = std::chrono::duration<double>(t1 - t0).count();
        const double b = std::chrono::duration<double>(t2 - t1).count();
        getResult += a;
        addPoint += b;
        state.SetIterationTime(a + b);
        state.PauseTiming();
        result.reset();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["GetResult_us"] = getResult / n * 1e6;
    state.counters["AddPointAfter_us"] = addPoint / n * 1e6;
}

} // namespace

BENCHMARK(BM_HostVectorSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostVectorGet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSoaAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawHostAppend)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BuilderAddPointData, true)
    ->Name("BM_BuilderAddPointData")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BuilderAddPointData, false)
    ->Name("BM_BuilderAddPointDataUnchecked")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BuilderAppendBlock, true)
    ->Name("BM_BuilderAppendBlock")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BuilderAppendBlock, true, false)
    ->Name("BM_BuilderAppendBlockUnchecked")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AccessorFloor)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BuilderAppendBlock, false)
    ->Name("BM_BlockFill")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetResultThenAddPointOn10M)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

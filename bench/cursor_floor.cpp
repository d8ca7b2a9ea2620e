// Where the cursor's figure comes from: a cursor over plain arrays that only answers the per-point
// virtual calls, against a raw loop; and the copy of a cloud that GetResult pays; bench/README.md.
#include "bench/support/BenchClouds.h"
#include "contract/Interfaces.h"

#include <memory>

using namespace orv::Data::Cloud;
using orv::Bench::Arrays;
using orv::Bench::Consume;
using orv::Bench::Sums;
using orv::Bench::World;
using orv::Bench::WorldNormal;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;

namespace
{

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
        return WorldNormal(m, a.normal[i]);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char) const override
    {
        return a.classification[i];
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char) const override { return {}; }
    std::optional<double> GetReal(unsigned char) const override { return a.intensity[i]; }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char) const override { return {}; }
    void MoveNext() override { ++i; }
    bool IsValid() const override { return i < a.intensity.size(); }

private:
    const Arrays& a;
    const double* m;
    std::size_t i = 0;
};

template <int Extras>
void BM_RawArray(benchmark::State& state)
{
    const Arrays& a = orv::Bench::SharedArrays();
    for (auto _ : state)
    {
        Sums sums;
        for (std::size_t i = 0; i < a.intensity.size(); ++i)
        {
            const GPointDouble p = World(a.frame.v, &a.xyz[3 * i]);
            sums.position += p.x + p.y + p.z;
            if constexpr (Extras != 0)
                sums.extras += a.intensity[i] + static_cast<double>(a.classification[i]) +
                               WorldNormal(a.frame.v, a.normal[i]).x;
        }
        Consume(sums);
    }
    orv::Bench::PerPoint(state);
}

template <int Extras>
void BM_FloorCursor(benchmark::State& state)
{
    bool second = false;
    benchmark::DoNotOptimize(second);
    for (auto _ : state)
    {
        std::unique_ptr<orv::DataProxy::IPointDataCursor> cursor;
        if (second)
            cursor = std::make_unique<ArrayCursor<1>>(orv::Bench::SharedArrays());
        else
            cursor = std::make_unique<ArrayCursor<0>>(orv::Bench::SharedArrays());
        Consume(orv::Bench::CursorSums<Extras != 0>(*cursor));
    }
    orv::Bench::PerPoint(state);
}

void BM_HostPointCloudCopy(benchmark::State& state)
{
    for (auto _ : state)
    {
        PointCloud copy = orv::Bench::SharedCloud();
        benchmark::DoNotOptimize(copy);
    }
}

} // namespace

BENCHMARK_TEMPLATE(BM_RawArray, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FloorCursor, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_RawArray, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FloorCursor, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostPointCloudCopy)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

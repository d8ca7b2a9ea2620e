// Where the cursor's figure comes from: a cursor over plain arrays that only answers the per-point
// virtual calls, and the host's own cursor walk, against a raw loop; bench/README.md.
#include "bench/support/BenchClouds.h"
#include "contract/Interfaces.h"
#include "host/geometry/CloudCursor.h"

#include <memory>

using namespace orv::Data::Cloud;
using orv::Bench::Arrays;
using orv::Bench::Consume;
using orv::Bench::Sums;
using orv::Bench::World;
using orv::Bench::WorldNormal;
using orv::Math::Algebra::CompressedVector32Bits;
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

template <int Extras>
void BM_HostCursorWalk(benchmark::State& state)
{
    const GCloud& g = orv::Bench::SharedCloud().Convert();
    const int types[3] = {CloudIntensityNewExtraData::TypeId(),
                          CloudClassificationExtraData::TypeId(), CloudNormalExtraData::TypeId()};
    for (auto _ : state)
    {
        Sums sums;
        CloudCursorBase<1> cursor(g, 0);
        Component::CloudPointCoordinate<1> position(cursor);
        orv::Collection::TableCluster::Iterator it[3];
        for (int k = 0; k < Extras; ++k)
            it[k] = cursor.GetExtraDataIterator(types[k], cursor.GetLocalIndex());
        for (const std::uint64_t end = g.GetPointCount(); cursor.GetOrdinal() < end;)
        {
            const double* m = cursor.GetMatrix().v;
            const GPointDouble p = World(m, position.Get());
            sums.position += p.x + p.y + p.z;
            if constexpr (Extras != 0)
                sums.extras +=
                    *static_cast<const float*>(it[0].Get()) +
                    static_cast<double>(*static_cast<const std::uint8_t*>(it[1].Get())) +
                    WorldNormal(m, *static_cast<const CompressedVector32Bits*>(it[2].Get())).x;
            const CloudCursorBase<1>::StepResult r = cursor.Step();
            if (r.subsetChanged)
            {
                position.Reset(cursor.GetLocalIndex());
                for (int k = 0; k < Extras; ++k)
                    it[k] = cursor.GetExtraDataIterator(types[k], cursor.GetLocalIndex());
                continue;
            }
            for (int k = 0; k <= Extras; ++k) // the coordinates, then the elements
            {
                auto& iterator = k == 0 ? position.iterator : it[k - 1];
                if (r.step == 1)
                    iterator.Next();
                else
                    iterator += std::int64_t(r.step);
            }
        }
        Consume(sums);
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
BENCHMARK_TEMPLATE(BM_HostCursorWalk, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_HostCursorWalk, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostPointCloudCopy)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

// The reference host's per-point paths against raw loops over plain arrays of the same data,
// in the same run: the cursor walk, the box selection with copy, and the copy of a cloud.
//
// Data: 10,000,000 points uniformly in a 1000 m cube at (652000, 5180000, 300), in random
// order, each with three extra-data types (classification 1 byte, intensity 4 bytes, normal
// 4 bytes). The cloud is built once; the plain arrays hold the very same local floats and
// elements. Page faults dominate any benchmark that creates memory on these machines: run it
// once as is and once with a warm heap
//   GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=68719476736
// and say which figure is which. The raw baselines reuse their output buffers (never fault).

#include "host/geometry/Cloud.h"
#include "host/geometry/CloudCursor.h"
#include "host/geometry/ExtraDataTypes.h"
#include "host/geometry/Selection.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace
{

using namespace orv::Data::Cloud;
using orv::Math::Algebra::CompressedVector32Bits;
using orv::Math::Algebra::GPointDouble;
using orv::Math::Algebra::GVector3;
using orv::Math::Algebra::Matrix3x4;
using orv::Math::Algebra::TransformPoint;

constexpr size_t kPoints = 10'000'000;
const GPointDouble kOrigin{652000, 5180000, 300};

struct Data
{
    PointCloud cloud;
    // The same points as plain arrays: local floats and the three element arrays.
    std::vector<float> xyz;
    std::vector<uint8_t> classification;
    std::vector<uint32_t> intensity;
    std::vector<uint32_t> normal;
    Matrix3x4 frame{};
};

const Data& TheData()
{
    static const Data data = []
    {
        Data d;
        std::mt19937_64 rng(2024);
        std::uniform_real_distribution<double> u(0, 1000);
        GPointDouble position{0, 0, 0};
        uint8_t cls = 0;
        orv::Data::Primitive::ColorValue intensity;
        CompressedVector32Bits normal;
        GCloudPointData record(&position);
        record.AddExtraData(CloudClassificationExtraData::TypeId(), &cls);
        record.AddExtraData(CloudIntensityExtraData::TypeId(), &intensity);
        record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
        for (size_t i = 0; i < kPoints; ++i)
        {
            position = GPointDouble{kOrigin.x + u(rng), kOrigin.y + u(rng), kOrigin.z + u(rng)};
            cls = uint8_t(i % 32);
            intensity.SetValueFloat(float(i % 1000) * 0.001f);
            normal.VectorSet(GVector3{0.1 * double(i % 7), 1, 0.2});
            d.cloud.AddPoint(record, true);
        }
        const GCloud& g = d.cloud.Convert();
        d.frame = g.GetMatrix();
        d.xyz.resize(3 * kPoints);
        d.classification.resize(kPoints);
        d.intensity.resize(kPoints);
        d.normal.resize(kPoints);
        for (size_t i = 0; i < kPoints; ++i)
        {
            std::memcpy(&d.xyz[3 * i], g.GetStoredCoordinates(i), 12);
            std::memcpy(&d.classification[i],
                        g.GetExtraDataElement(CloudClassificationExtraData::TypeId(), i), 1);
            std::memcpy(&d.intensity[i],
                        g.GetExtraDataElement(CloudIntensityExtraData::TypeId(), i), 4);
            std::memcpy(&d.normal[i], g.GetExtraDataElement(CloudNormalExtraData::TypeId(), i), 4);
        }
        return d;
    }();
    return data;
}

void PerPoint(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPoints));
    state.counters["ns/point"] =
        benchmark::Counter(double(kPoints), benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

// World position of every point, summed.
void BM_RawWalkPositions(benchmark::State& state)
{
    const Data& d = TheData();
    for (auto _ : state)
    {
        double sx = 0, sy = 0, sz = 0;
        const float* q = d.xyz.data();
        for (size_t i = 0; i < kPoints; ++i, q += 3)
        {
            const GPointDouble w = TransformPoint(d.frame, GPointDouble{q[0], q[1], q[2]});
            sx += w.x;
            sy += w.y;
            sz += w.z;
        }
        benchmark::DoNotOptimize(sx + sy + sz);
    }
    PerPoint(state);
}

// The same through the host cursor, stepped as a cursor client does.
void BM_HostCursorWalkPositions(benchmark::State& state)
{
    const Data& d = TheData();
    const GCloud& g = d.cloud.Convert();
    for (auto _ : state)
    {
        double sx = 0, sy = 0, sz = 0;
        CloudCursorBase<1> cursor(g, 0);
        Component::CloudPointCoordinate<1> position(cursor);
        const uint64_t end = g.GetPointCount();
        while (cursor.GetOrdinal() < end)
        {
            const float* q = position.Get();
            const GPointDouble w =
                TransformPoint(cursor.GetMatrix(), GPointDouble{q[0], q[1], q[2]});
            sx += w.x;
            sy += w.y;
            sz += w.z;
            const CloudCursorBase<1>::StepResult r = cursor.Step();
            if (r.subsetChanged)
                position.Reset(cursor.GetLocalIndex());
            else if (r.step == 1)
                position.iterator.Next();
            else
                position.iterator += int64_t(r.step);
        }
        benchmark::DoNotOptimize(sx + sy + sz);
    }
    PerPoint(state);
}

// World position and the three elements of every point.
void BM_RawWalkPositionsAndExtras(benchmark::State& state)
{
    const Data& d = TheData();
    for (auto _ : state)
    {
        double s = 0;
        uint64_t e = 0;
        const float* q = d.xyz.data();
        for (size_t i = 0; i < kPoints; ++i, q += 3)
        {
            const GPointDouble w = TransformPoint(d.frame, GPointDouble{q[0], q[1], q[2]});
            s += w.x + w.y + w.z;
            e += d.classification[i] + d.intensity[i] + d.normal[i];
        }
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(e);
    }
    PerPoint(state);
}

void BM_HostCursorWalkPositionsAndExtras(benchmark::State& state)
{
    const Data& d = TheData();
    const GCloud& g = d.cloud.Convert();
    const int types[3] = {CloudClassificationExtraData::TypeId(), CloudIntensityExtraData::TypeId(),
                          CloudNormalExtraData::TypeId()};
    for (auto _ : state)
    {
        double s = 0;
        uint64_t e = 0;
        CloudCursorBase<1> cursor(g, 0);
        Component::CloudPointCoordinate<1> position(cursor);
        orv::Collection::TableCluster::Iterator it[3];
        for (int k = 0; k < 3; ++k)
            it[k] = cursor.GetExtraDataIterator(types[k], cursor.GetLocalIndex());
        const uint64_t end = g.GetPointCount();
        while (cursor.GetOrdinal() < end)
        {
            const float* q = position.Get();
            const GPointDouble w =
                TransformPoint(cursor.GetMatrix(), GPointDouble{q[0], q[1], q[2]});
            s += w.x + w.y + w.z;
            uint32_t a = 0, b = 0;
            std::memcpy(&a, it[1].ptr, 4);
            std::memcpy(&b, it[2].ptr, 4);
            e += *it[0].ptr + a + b;
            const CloudCursorBase<1>::StepResult r = cursor.Step();
            if (r.subsetChanged)
            {
                position.Reset(cursor.GetLocalIndex());
                for (int k = 0; k < 3; ++k)
                    it[k] = cursor.GetExtraDataIterator(types[k], cursor.GetLocalIndex());
            }
            else
            {
                position.iterator.Next();
                for (auto& i : it)
                    i.Next();
            }
        }
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(e);
    }
    PerPoint(state);
}

// A box over a quarter of the cube (half of x, half of y, all of z).
orv::Graphics::SelPrcBox QuarterBox()
{
    return orv::Graphics::SelPrcBox({kOrigin.x, kOrigin.y, kOrigin.z - 1},
                                    {kOrigin.x + 500, kOrigin.y + 500, kOrigin.z + 1001});
}

// Branch-free select-and-copy of the points and their three elements into reused arrays.
void BM_RawBoxSelectCopy(benchmark::State& state)
{
    const Data& d = TheData();
    const orv::Graphics::SelPrcBox box = QuarterBox();
    std::vector<float> oxyz(3 * kPoints);
    std::vector<uint8_t> oc(kPoints);
    std::vector<uint32_t> oi(kPoints), on(kPoints);
    size_t selected = 0;
    for (auto _ : state)
    {
        size_t n = 0;
        const float* q = d.xyz.data();
        for (size_t i = 0; i < kPoints; ++i, q += 3)
        {
            const GPointDouble w = TransformPoint(d.frame, GPointDouble{q[0], q[1], q[2]});
            uint8_t accept = 0;
            box.Classify(&w.x, &w.y, &w.z, 1, &accept);
            std::memcpy(&oxyz[3 * n], q, 12);
            oc[n] = d.classification[i];
            oi[n] = d.intensity[i];
            on[n] = d.normal[i];
            n += accept;
        }
        selected = n;
        benchmark::DoNotOptimize(oxyz.data());
        benchmark::DoNotOptimize(oc.data());
        benchmark::DoNotOptimize(oi.data());
        benchmark::DoNotOptimize(on.data());
    }
    state.counters["selected"] = double(selected);
    PerPoint(state);
}

void BM_HostBoxSelection(benchmark::State& state)
{
    const Data& d = TheData();
    orv::Graphics::SelPrcBox box = QuarterBox();
    uint64_t selected = 0;
    for (auto _ : state)
    {
        PointCloud result;
        d.cloud.Convert().ApplySelectionProcedure(box, &result.Convert(), nullptr, nullptr,
                                                  AutoCompactNone);
        selected = result.GetPointCount();
        benchmark::DoNotOptimize(result);
    }
    state.counters["selected"] = double(selected);
    PerPoint(state);
}

void BM_HostPointCloudCopy(benchmark::State& state)
{
    const Data& d = TheData();
    for (auto _ : state)
    {
        PointCloud copy = d.cloud;
        benchmark::DoNotOptimize(copy);
    }
}

// The same selection when the cloud's frame also rotates (a copy of the cloud with a turned
// frame; the raw loop uses that frame too), so the general transform is measured as well.
const Matrix3x4& TurnedFrame()
{
    static const Matrix3x4 frame = []
    {
        const double c = 0.8, s = 0.6;
        const Matrix3x4& f = TheData().frame;
        return Matrix3x4{{c, -s, 0, s, c, 0, 0, 0, 1, f.v[9], f.v[10], f.v[11]}};
    }();
    return frame;
}

void BM_RawBoxSelectCopyTurned(benchmark::State& state)
{
    const Data& d = TheData();
    const Matrix3x4 frame = TurnedFrame();
    const orv::Graphics::SelPrcBox box = QuarterBox();
    std::vector<float> oxyz(3 * kPoints);
    std::vector<uint8_t> oc(kPoints);
    std::vector<uint32_t> oi(kPoints), on(kPoints);
    size_t selected = 0;
    for (auto _ : state)
    {
        size_t n = 0;
        const float* q = d.xyz.data();
        for (size_t i = 0; i < kPoints; ++i, q += 3)
        {
            const GPointDouble w = TransformPoint(frame, GPointDouble{q[0], q[1], q[2]});
            uint8_t accept = 0;
            box.Classify(&w.x, &w.y, &w.z, 1, &accept);
            std::memcpy(&oxyz[3 * n], q, 12);
            oc[n] = d.classification[i];
            oi[n] = d.intensity[i];
            on[n] = d.normal[i];
            n += accept;
        }
        selected = n;
        benchmark::DoNotOptimize(oxyz.data());
        benchmark::DoNotOptimize(oc.data());
        benchmark::DoNotOptimize(oi.data());
        benchmark::DoNotOptimize(on.data());
    }
    state.counters["selected"] = double(selected);
    PerPoint(state);
}

void BM_HostBoxSelectionTurned(benchmark::State& state)
{
    PointCloud turned = TheData().cloud;
    turned.Convert().SetMatrix(TurnedFrame());
    orv::Graphics::SelPrcBox box = QuarterBox();
    uint64_t selected = 0;
    for (auto _ : state)
    {
        PointCloud result;
        turned.Convert().ApplySelectionProcedure(box, &result.Convert(), nullptr, nullptr,
                                                 AutoCompactNone);
        selected = result.GetPointCount();
        benchmark::DoNotOptimize(result);
    }
    state.counters["selected"] = double(selected);
    PerPoint(state);
}

BENCHMARK(BM_RawWalkPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostCursorWalkPositions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawWalkPositionsAndExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostCursorWalkPositionsAndExtras)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBoxSelectCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostBoxSelection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBoxSelectCopyTurned)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostBoxSelectionTurned)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostPointCloudCopy)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

// LAS files in and out through the contract against raw loops over the same records, in the
// same run; cases and targets: bench/README.md.
#include "builder/PointCloudDataBuilderFactory.h"
#include "helpers/PointDataHelpers.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasDefaultMapping.h"
#include "las/LasPrototype.h"
#include "las/LasReader.h"
#include "las/LasWriter.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/LasFiles.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

using namespace orv::Data::Cloud;
using namespace orv::DataProxy::Las;
using orv::DataProxy::WantAll;
using orv::Math::Algebra::GPointDouble;

namespace
{

using orv::TestSupport::kOffset;
using orv::TestSupport::kScale;
using orv::TestSupport::Put;
constexpr std::size_t kPoints = 1'000'000;
constexpr std::size_t kHeader = 227;
constexpr std::size_t kRecord = 34; // format 3

template <class T>
T Get(const std::uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A LAS 1.2 file of format 3 (the LAS tests' synthetic records).
const std::vector<std::uint8_t>& LasBytes()
{
    // Points 1 unit apart: 10 km at most, which the writer's millimetres hold in 32 bits.
    static const std::vector<std::uint8_t> bytes =
        orv::TestSupport::MakeLas({2, 3, kPoints, 0, false, 1});
    return bytes;
}

// Its points as plain arrays: position, intensity, class, RGB.
struct Source
{
    std::vector<GPointDouble> positions;
    std::vector<std::uint16_t> intensity;
    std::vector<std::uint8_t> cls;
    std::vector<std::array<std::uint16_t, 3>> rgb;
};

// One decoded record: what the raw loops hand on.
struct Decoded
{
    GPointDouble position;
    float intensity;
    std::uint8_t cls;
    float rgb[3];
};

inline void Decode(const std::uint8_t* r, Decoded& d)
{
    d.position = {Get<std::int32_t>(r) * kScale[0] + kOffset[0],
                  Get<std::int32_t>(r + 4) * kScale[1] + kOffset[1],
                  Get<std::int32_t>(r + 8) * kScale[2] + kOffset[2]};
    d.intensity = Get<std::uint16_t>(r + 12);
    d.cls = r[15] & 0x1F;
    for (int c = 0; c < 3; ++c) // the high byte, as the reader gives it to 8-bit stores
        d.rgb[c] = static_cast<float>((Get<std::uint16_t>(r + 28 + 2 * c) >> 8) / 255.0);
}

const Source& Points()
{
    static const Source source = []
    {
        Source s;
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            const std::uint8_t* r = LasBytes().data() + kHeader + i * kRecord;
            Decoded d{};
            Decode(r, d);
            s.positions.push_back(d.position);
            s.intensity.push_back(Get<std::uint16_t>(r + 12));
            s.cls.push_back(d.cls);
            s.rgb.push_back({Get<std::uint16_t>(r + 28), Get<std::uint16_t>(r + 30),
                             Get<std::uint16_t>(r + 32)});
        }
        return s;
    }();
    return source;
}

void BM_RawLasDecodeAppend(benchmark::State& state)
{
    const std::uint8_t* records = LasBytes().data() + kHeader;
    for (auto _ : state)
    {
        Decoded d{};
        std::uint8_t cls = 0;
        std::uint32_t number = 0;
        orv::Data::Primitive::ColorValue color;
        GCloudPointData record(&d.position);
        record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &d.intensity);
        record.AddExtraData(CloudClassificationExtraData::TypeId(), &cls);
        record.AddExtraData(CloudIntensityExtraData::TypeId(), &color);
        record.AddExtraData(CloudGridPositionIndexExtraData::TypeId(), &number);
        PointCloud cloud;
        cloud.Convert().SetType(2, 0.0f, 0.0f, nullptr, false);
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            Decode(records + i * kRecord, d);
            cls = d.cls;
            number = static_cast<std::uint32_t>(i);
            color.SetRGB(d.rgb[0], d.rgb[1], d.rgb[2]);
            cloud.AddPoint(record, true);
        }
        benchmark::DoNotOptimize(cloud.GetPointCount());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

std::shared_ptr<orv::DataProxy::IPointDataProvider> ReadAll(const LasReader& reader)
{
    PrototypedBuilderFactory factory = LasBuilderFactory(reader.Header());
    const LasFieldMap fields = MapDefaultLasFields(factory, reader.Header().HasRgb(), true);
    return reader.ReadAll(factory, fields);
}

void BM_LasReadThroughBuilder(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = LasBytes();
    const LasReader reader(bytes.data(), bytes.size(), "bench.las");
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadAll(reader).get());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// The real scan from its file (page cache), when present.
void BM_LasReadRealScan(benchmark::State& state)
{
    const char* folder = std::getenv("ORV_SHARED_DATA");
    const std::string path = std::string(folder ? folder : "../shared/data") + "/autzen_trim.las";
    if (!std::ifstream(path))
    {
        state.SkipWithError(("real scan not present at " + path).c_str());
        return;
    }
    std::uint64_t points = 0;
    for (auto _ : state)
    {
        const LasReader reader(path);
        points = reader.Header().pointCount;
        benchmark::DoNotOptimize(ReadAll(reader).get());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points));
    state.counters["Mpoints_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * points) / 1e6, benchmark::Counter::kIsRate);
}

// What the writer does for a clip, by hand: each point's source record copied (every field
// kept), its position re-encoded and the mapped fields written over it.
void BM_RawLasEncode(benchmark::State& state)
{
    const Source& s = Points();
    const std::uint8_t* records = LasBytes().data() + kHeader;
    std::vector<std::uint8_t> out(kPoints * kRecord);
    for (auto _ : state)
    {
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            const std::size_t at = i * kRecord;
            std::memcpy(&out[at], records + i * kRecord, kRecord);
            const double xyz[3] = {s.positions[i].x, s.positions[i].y, s.positions[i].z};
            for (std::size_t axis = 0; axis < 3; ++axis)
                Put(out, at + 4 * axis,
                    std::int32_t(std::lround((xyz[axis] - kOffset[axis]) / kScale[axis])));
            Put(out, at + 12, s.intensity[i]);
            out[at + 15] = static_cast<std::uint8_t>((out[at + 15] & 0xE0) | s.cls[i]);
            for (std::size_t c = 0; c < 3; ++c)
                Put(out, at + 28 + 2 * c, s.rgb[i][c]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

const LasReader& SourceFile()
{
    static const LasReader reader(LasBytes().data(), LasBytes().size(), "bench.las");
    return reader;
}

// The points in a host cloud, with the fields that write them back.
struct HostCloud
{
    std::shared_ptr<orv::DataProxy::IPointDataProvider> provider;
    LasFieldMap fields;
};

const HostCloud& Cloud()
{
    static const HostCloud cloud = []
    {
        PrototypedBuilderFactory factory = LasBuilderFactory(SourceFile().Header());
        HostCloud c;
        c.fields = MapDefaultLasFields(factory, true, true);
        c.provider = SourceFile().ReadAll(factory, c.fields);
        return c;
    }();
    return cloud;
}

void BM_LasWrite(benchmark::State& state)
{
    const HostCloud& cloud = Cloud();
    const std::string path = "/tmp/orv_bench_las_io.las";
    LasWriteOptions options;
    options.source = &SourceFile(); // every field, through the record copy
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteLas(path, *cloud.provider, cloud.fields, options).pointCount);
    std::remove(path.c_str());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

} // namespace

BENCHMARK(BM_RawLasDecodeAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasReadThroughBuilder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasReadRealScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLasEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasWrite)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// LAS files in and out through the contract against raw loops over the same records, in the
// same run. Figures: ns per point (1e9 / items_per_second).
//
// Reading: 1,000,000 records of point format 3 (positions, intensity, class, RGB) in memory,
// into a new host colour cloud with the default field mapping. Baselines: a loop that decodes
// each record and appends it with the host's own AddPoint, and the same decoding handed to
// the builder (the builder's own price, so that reader / that is what the reader adds).
// Writing: a host provider of those points to a LAS file against a loop that encodes the same
// points from plain arrays into the same format 7 records in memory; a cursor walk over the
// same keys is what any writer through the contract pays at least.
#include "builder/PointCloudDataBuilderFactory.h"
#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasDefaultMapping.h"
#include "las/LasReader.h"
#include "las/LasWriter.h"
#include "provider/PointCloudDataProvider.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

using namespace orv::Data::Cloud;
using namespace orv::DataProxy::Las;
using orv::DataProxy::EPointDataComponent;
using orv::Math::Algebra::GPointDouble;

namespace
{

constexpr std::size_t kPoints = 1'000'000;
constexpr std::size_t kHeader = 227;
constexpr std::size_t kRecord = 34; // format 3
constexpr double kScale = 0.001;
const double kOffset[3] = {652000.0, 5180000.0, 300.0};

template <class T>
void Put(std::uint8_t* at, T value) // LAS and this machine are little-endian
{
    std::memcpy(at, &value, sizeof value);
}
template <class T>
T Get(const std::uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The points as plain arrays: position, intensity, class, RGB.
struct Source
{
    std::vector<GPointDouble> positions;
    std::vector<std::uint16_t> intensity;
    std::vector<std::uint8_t> cls;
    std::vector<std::array<std::uint16_t, 3>> rgb;
};

const Source& Points()
{
    static const Source source = []
    {
        Source s;
        std::mt19937_64 random(1234);
        std::uniform_int_distribution<int> mm(0, 999'999), word(0, 65535);
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            s.positions.push_back({kOffset[0] + mm(random) * kScale,
                                   kOffset[1] + mm(random) * kScale,
                                   kOffset[2] + mm(random) % 50'000 * kScale});
            s.intensity.push_back(std::uint16_t(word(random)));
            s.cls.push_back(std::uint8_t(i % 7));
            s.rgb.push_back({std::uint16_t(word(random)), std::uint16_t(word(random)),
                             std::uint16_t(word(random))});
        }
        return s;
    }();
    return source;
}

// A LAS 1.2 file of format 3 holding Points().
const std::vector<std::uint8_t>& LasBytes()
{
    static const std::vector<std::uint8_t> bytes = []
    {
        const Source& s = Points();
        std::vector<std::uint8_t> b(kHeader + kPoints * kRecord, 0);
        std::memcpy(b.data(), "LASF", 4);
        b[24] = 1;
        b[25] = 2;
        Put<std::uint16_t>(&b[94], kHeader);
        Put<std::uint32_t>(&b[96], kHeader);
        b[104] = 3;
        Put<std::uint16_t>(&b[105], kRecord);
        Put<std::uint32_t>(&b[107], kPoints);
        for (int axis = 0; axis < 3; ++axis)
        {
            Put(&b[131 + 8 * axis], kScale);
            Put(&b[155 + 8 * axis], kOffset[axis]);
        }
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            std::uint8_t* r = &b[kHeader + i * kRecord];
            const GPointDouble& p = s.positions[i];
            Put(r, std::int32_t(std::lround((p.x - kOffset[0]) / kScale)));
            Put(r + 4, std::int32_t(std::lround((p.y - kOffset[1]) / kScale)));
            Put(r + 8, std::int32_t(std::lround((p.z - kOffset[2]) / kScale)));
            Put(r + 12, s.intensity[i]);
            r[14] = 0x09; // return 1 of 1
            r[15] = s.cls[i];
            for (int c = 0; c < 3; ++c)
                Put(r + 28 + 2 * c, s.rgb[i][std::size_t(c)]);
        }
        return b;
    }();
    return bytes;
}

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
    d.position = {Get<std::int32_t>(r) * kScale + kOffset[0],
                  Get<std::int32_t>(r + 4) * kScale + kOffset[1],
                  Get<std::int32_t>(r + 8) * kScale + kOffset[2]};
    d.intensity = Get<std::uint16_t>(r + 12);
    d.cls = r[15] & 0x1F;
    for (int c = 0; c < 3; ++c)
        d.rgb[c] = static_cast<float>(Get<std::uint16_t>(r + 28 + 2 * c) / 65535.0);
}

void BM_RawLasDecodeAppend(benchmark::State& state)
{
    const std::uint8_t* records = LasBytes().data() + kHeader;
    for (auto _ : state)
    {
        Decoded d{};
        std::uint8_t cls = 0;
        orv::Data::Primitive::ColorValue colour;
        GCloudPointData record(&d.position);
        record.AddExtraData(CloudIntensityNewExtraData::TypeId(), &d.intensity);
        record.AddExtraData(CloudClassificationExtraData::TypeId(), &cls);
        record.AddExtraData(CloudIntensityExtraData::TypeId(), &colour);
        PointCloud cloud;
        cloud.Convert().SetType(2, 0.0f, 0.0f, nullptr, false);
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            Decode(records + i * kRecord, d);
            cls = d.cls;
            colour.SetRGB(d.rgb[0], d.rgb[1], d.rgb[2]);
            cloud.AddPoint(record, true);
        }
        benchmark::DoNotOptimize(cloud.GetPointCount());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

// The decoded record as the default mapping's three keys (index 0 of each component).
class DecodedAccessor final : public orv::DataProxy::IPointDataAccessor
{
public:
    Decoded d{};
    std::uint64_t index = 0;
    GPointDouble GetPosition() const override { return d.position; }
    std::uint64_t GetPointIndex() const override { return index; }
    std::optional<orv::DataProxy::GVector3> GetVector3(unsigned char) const override { return {}; }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char) const override { return d.cls; }
    std::optional<std::int64_t> GetSignedInteger(unsigned char) const override { return {}; }
    std::optional<double> GetReal(unsigned char) const override { return d.intensity; }
    std::optional<orv::DataProxy::RgbaColor> GetColor(unsigned char) const override
    {
        return orv::DataProxy::RgbaColor{d.rgb[0], d.rgb[1], d.rgb[2], 1.0};
    }
};

class WantAll final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

void BM_RawLasDecodeIntoBuilder(benchmark::State& state)
{
    const std::uint8_t* records = LasBytes().data() + kHeader;
    PointCloudDataBuilderFactory factory;
    MapDefaultLasFields(factory, true);
    const WantAll consumer;
    DecodedAccessor point;
    for (auto _ : state)
    {
        const auto builder = factory.CreatePointDataBuilder(consumer);
        for (point.index = 0; point.index < kPoints; ++point.index)
        {
            Decode(records + point.index * kRecord, point.d);
            builder->AddPointData(point);
        }
        benchmark::DoNotOptimize(builder.get());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

std::shared_ptr<orv::DataProxy::IPointDataProvider> ReadAll(const LasReader& reader)
{
    PointCloudDataBuilderFactory factory;
    const LasFieldMap fields = MapDefaultLasFields(factory, reader.Header().HasRgb());
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

void BM_RawLasEncode(benchmark::State& state)
{
    const Source& s = Points();
    constexpr std::size_t kOut = 36; // format 7
    std::vector<std::uint8_t> out(kPoints * kOut);
    for (auto _ : state)
    {
        for (std::size_t i = 0; i < kPoints; ++i)
        {
            std::uint8_t* r = &out[i * kOut];
            std::memset(r, 0, kOut);
            const double xyz[3] = {s.positions[i].x, s.positions[i].y, s.positions[i].z};
            for (int axis = 0; axis < 3; ++axis)
                Put(r + 4 * axis, std::int32_t(std::lround((xyz[axis] - kOffset[axis]) / kScale)));
            Put(r + 12, s.intensity[i]);
            r[14] = 0x11;
            r[16] = s.cls[i];
            for (int c = 0; c < 3; ++c)
                Put(r + 30 + 2 * c, s.rgb[i][std::size_t(c)]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
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
        const std::vector<std::uint8_t>& bytes = LasBytes();
        const LasReader reader(bytes.data(), bytes.size(), "bench.las");
        PointCloudDataBuilderFactory factory;
        HostCloud c;
        c.fields = MapDefaultLasFields(factory, true);
        c.provider = reader.ReadAll(factory, c.fields);
        return c;
    }();
    return cloud;
}

void BM_LasWrite(benchmark::State& state)
{
    const HostCloud& cloud = Cloud();
    const std::string path = "/tmp/orv_bench_las_io.las";
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteLas(path, *cloud.provider, cloud.fields).pointCount);
    std::remove(path.c_str());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

void BM_CursorWalkWriterKeys(benchmark::State& state)
{
    const HostCloud& cloud = Cloud();
    const WantAll consumer;
    for (auto _ : state)
    {
        double sum = 0.0;
        for (auto c = cloud.provider->GetIterable(consumer)->CreateCursor(); c->IsValid();
             c->MoveNext())
        {
            const GPointDouble p = c->GetPosition();
            sum += p.x + p.y + p.z + *c->GetReal(0) + double(*c->GetUnsignedInteger(0)) +
                   c->GetColor(0)->g;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}

} // namespace

BENCHMARK(BM_RawLasDecodeAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLasDecodeIntoBuilder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasReadThroughBuilder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasReadRealScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLasEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LasWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CursorWalkWriterKeys)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

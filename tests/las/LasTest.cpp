// The LAS library: files of every version and point format written by the test itself, read,
// written back and read again; hostile headers; the atomic write; a round trip through the
// reference host with the default field mapping.
#include "helpers/PointDataHelpers.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasDefaultMapping.h"
#include "las/LasPrototype.h"
#include "las/LasReader.h"
#include "las/LasWriter.h"
#include "provider/PointCloudDataProvider.h"
#include "tests/support/HostChoices.h"
#include "tests/support/LasFiles.h"
#include "tests/support/Thrown.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <tuple>

#include <unistd.h>

using namespace orv::DataProxy;
using namespace orv::DataProxy::Las;
using namespace orv::TestSupport;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace
{

// The nine numeric fields, each read as (Real, i), and RGB as (Color, 0).
const ELasField kNumeric[9] = {
    ELasField::Intensity,      ELasField::ReturnNumber, ELasField::NumberOfReturns,
    ELasField::Classification, ELasField::ScanAngle,    ELasField::UserData,
    ELasField::PointSourceId,  ELasField::GpsTime,      ELasField::Nir};
LasFieldMap AllFields()
{
    LasFieldMap fields{{ELasField::Rgb, {EPointDataComponent::Color, 0}}};
    for (unsigned char i = 0; i < 9; ++i)
        fields.push_back({kNumeric[i], {EPointDataComponent::Real, i}});
    return fields;
}

struct Point
{
    GPointDouble p;
    std::array<std::optional<double>, 9> v;
    std::optional<RgbaColor> rgb;
};

// A builder that keeps what the accessor says, and a provider over what it kept; a copy of it
// is a cursor over the points.
struct Points final : IPointDataProvider, IPointDataBuilder, IPointDataIterable, IPointDataCursor
{
    std::vector<Point> points;
    std::size_t at = 0;

    void Reserve(std::uint64_t) override {}
    void AddPointData(const IPointDataAccessor& a) override
    {
        EXPECT_EQ(a.GetPointIndex(), points.size());
        Point q{a.GetPosition(), {}, a.GetColor(0)};
        for (unsigned char i = 0; i < 9; ++i)
            q.v[i] = a.GetReal(i);
        points.push_back(q);
    }
    std::shared_ptr<IPointDataProvider> GetResult() override { return nullptr; }
    std::shared_ptr<IPointDataIterable> GetIterable(const IPointDataConsumer&) const override
    {
        return std::make_shared<Points>(*this);
    }
    bool HasComponent(EPointDataComponent, unsigned char) const override { return true; }
    bool IsEmpty() const override { return points.empty(); }
    bool IsDivisible(const IPointDataSplitHint&) const override { return false; }
    std::unique_ptr<IPointDataIterable> Split() override { return nullptr; }
    std::shared_ptr<IPointDataCursor> CreateCursor() const override
    {
        return std::make_shared<Points>(*this);
    }
    GPointDouble GetPosition() const override { return points[at].p; }
    std::uint64_t GetPointIndex() const override { return at; }
    std::optional<GVector3> GetVector3(unsigned char) const override { return {}; }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char) const override { return {}; }
    std::optional<std::int64_t> GetSignedInteger(unsigned char) const override { return {}; }
    std::optional<double> GetReal(unsigned char i) const override { return points[at].v.at(i); }
    std::optional<RgbaColor> GetColor(unsigned char) const override { return points[at].rgb; }
    void MoveNext() override { ++at; }
    bool IsValid() const override { return at < points.size(); }
};

Points Read(const LasReader& reader, std::size_t chunkBytes = std::size_t{4} << 20)
{
    Points read;
    LasReadOptions options;
    options.chunkBytes = chunkBytes;
    const std::uint64_t count = reader.ReadInto(read, AllFields(), options);
    EXPECT_EQ(count, read.points.size());
    return read;
}

// A scratch folder per test, removed afterwards.
struct Scratch
{
    fs::path dir =
        fs::temp_directory_path() /
        ("orv_las_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(::getpid())); // apart from other runs of the same test
    Scratch() { fs::remove_all(dir), fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
    std::string operator/(const char* name) const { return (dir / name).string(); }
    std::size_t Files() const
    {
        return std::size_t(std::distance(fs::directory_iterator(dir), {}));
    }
};

} // namespace

TEST(LasFiles, EveryVersionAndFormatReadsWritesAndReadsBack)
{
    const Scratch scratch;
    for (int minor = 0; minor <= 4; ++minor)
        for (int format = 0; format <= 10; ++format)
        {
            if (format >= 6 && minor < 4)
                continue;
            SCOPED_TRACE("1." + std::to_string(minor) + " format " + std::to_string(format));
            const auto bytes =
                MakeLas({minor, format, 7, std::size_t(format % 3), format % 2 == 1});
            const LasReader reader(bytes.data(), bytes.size(), "synthetic.las");
            ASSERT_EQ(reader.Header().pointCount, 7u);
            const Points in = Read(reader, 50); // chunks of one to two records
            ASSERT_EQ(in.points.size(), 7u);
            const bool ext = format >= 6;
            const Layout layout = kLayouts[format];
            for (int k = 0; k < 7; ++k)
            {
                const Point& q = in.points[std::size_t(k)];
                EXPECT_EQ(q.p.x, (-1000000 + 1237 * k) * kScale[0] + kOffset[0]);
                EXPECT_EQ(q.p.z, (-1000000 + 1237 * k + 14) * kScale[2] + kOffset[2]);
                const std::optional<double> expected[9] = {
                    1000 + k,
                    ext ? 1 + k % 15 : 1 + k % 7,
                    ext ? 15 : 5,
                    ext ? 200 + k : 3 * k + 1,
                    ext ? (-5000 + 1000 * k) * 0.006 : -20 + k,
                    42 + k,
                    40000 + k,
                    layout.gpsAt ? std::optional<double>(1e8 + 0.25 * k) : std::nullopt,
                    layout.nirAt ? std::optional<double>(60000 + k) : std::nullopt};
                for (int f = 0; f < 9; ++f)
                    EXPECT_EQ(q.v[std::size_t(f)], expected[f]) << "field " << f << " point " << k;
                ASSERT_EQ(q.rgb.has_value(), layout.rgbAt != 0);
                EXPECT_TRUE(!q.rgb || (q.rgb->r == 257 * (3 + 10 * k) / 65535.0 && q.rgb->a == 1));
            }

            // Written back with the file's own scale and offset: the same values, and a header
            // that counts what was written. Fields the format lacks come back as 0.
            const std::string path = scratch / "back.las";
            LasWriteOptions options;
            options.scale = {kScale[0], kScale[1], kScale[2]};
            options.offset = std::array<double, 3>{kOffset[0], kOffset[1], kOffset[2]};
            const LasWriteSummary summary = WriteLas(path, in, AllFields(), options);
            const LasReader again(path);
            const LasHeader& h = again.Header();
            EXPECT_EQ(h.versionMinor, 4);
            EXPECT_EQ(h.pointFormat, 8);
            EXPECT_EQ(h.pointCount, 7u);
            const Points back = Read(again);
            ASSERT_EQ(back.points.size(), 7u);
            std::array<std::uint64_t, 15> byReturn{};
            for (std::size_t i = 0; i < 7; ++i)
            {
                const Point &a = in.points[i], &b = back.points[i];
                EXPECT_TRUE(a.p.x == b.p.x && a.p.y == b.p.y && a.p.z == b.p.z) << i;
                for (std::size_t f = 0; f < 9; ++f) // the scan angle to half a step of 0.006
                    EXPECT_NEAR(b.v[f].value(), a.v[f].value_or(0.0), f == 4 ? 0.003 : 0.0) << f;
                EXPECT_EQ(b.rgb->g, a.rgb ? a.rgb->g : 0.0);
                ++byReturn[std::size_t(*a.v[1]) - 1];
            }
            EXPECT_EQ(h.pointsByReturn, byReturn);
            EXPECT_EQ(summary.pointsByReturn, byReturn);
            EXPECT_EQ(h.min[0], in.points[0].p.x);
            EXPECT_EQ(h.max[2], in.points[6].p.z);
            EXPECT_EQ(scratch.Files(), 1u) << "no temporary file is left behind";

            // A key with no LAS field, written as named extra bytes and read back by them.
            options.extraBytes = {{"gps copy", {EPointDataComponent::Real, 7}}};
            WriteLas(path, in, AllFields(), options);
            const LasReader extra(path);
            ASSERT_EQ(extra.Header().extraBytes.size(), 1u);
            EXPECT_EQ(extra.Header().extraBytes[0].name, "gps copy");
            Points copies;
            extra.ReadInto(copies, {{ELasField::ExtraBytes, {EPointDataComponent::Real, 0}, 0}});
            for (std::size_t i = 0; i < 7; ++i)
                EXPECT_TRUE(copies.points[i].v[0] == in.points[i].v[7] ||
                            (!in.points[i].v[7] && std::isnan(*copies.points[i].v[0])));
        }
}

TEST(LasFiles, HostileHeadersNameTheFileAndTheFault)
{
    using B = std::vector<std::uint8_t>;
    const auto laszip = [](B& b)
    {
        std::memcpy(&b[227 + 2], "laszip encoded", 14);
        Put<std::uint16_t>(b, 227 + 18, 22204);
    };
    const std::tuple<const char*, Recipe, std::function<void(B&)>> cases[] = {
        {"no \"LASF\" signature", {}, [](B& b) { b[3] = 'G'; }},
        {"unsupported LAS version 1.5", {}, [](B& b) { b[25] = 5; }},
        {"unsupported LAS version 2.2", {}, [](B& b) { b[24] = 2; }},
        {"unsupported point format 11", {}, [](B& b) { b[104] = 11; }},
        {"needs LAS 1.4", {3, 3}, [](B& b) { b[104] = 6; }},
        {"compressed (LAZ, format byte 131)", {2, 3}, [](B& b) { b[104] |= 0x80; }},
        {"compressed (LAZ); only uncompressed", {2, 1, 5, 0, true}, laszip},
        {"records end at byte 5291",
         {2, 1, 5, 0, true},
         [](B& b) { Put<std::uint16_t>(b, 247, 5010); }},
        {"record 2 of 200 does not fit", {2, 1, 5, 0, true}, [](B& b) { b[100] = 200; }},
        {"record length 19", {}, [](B& b) { Put<std::uint16_t>(b, 105, 19); }},
        {"header size field is 235", {4, 0}, [](B& b) { Put<std::uint16_t>(b, 94, 235); }},
        {"lies inside the header", {}, [](B& b) { Put<std::uint32_t>(b, 96, 200); }},
        {"beyond the end", {}, [](B& b) { Put<std::uint32_t>(b, 96, 1u << 31); }},
        {"point count 6 ", {}, [](B& b) { Put<std::uint32_t>(b, 107, 6); }},
        {"point count 4294967295", {}, [](B& b) { Put<std::uint32_t>(b, 107, ~0u); }},
        // count * record length wraps around to a small number in 64 bits
        {"point count 614891469123651721",
         {4, 6},
         [](B& b) { Put<std::uint64_t>(b, 247, ~0ull / 30 + 1); }},
        {"disagrees with the 64-bit", {4, 1}, [](B& b) { Put<std::uint64_t>(b, 247, 4); }},
        {"Y scale factor 0", {}, [](B& b) { Put(b, 139, 0.0); }},
        {"Z scale factor nan",
         {},
         [](B& b) { Put(b, 147, std::numeric_limits<double>::quiet_NaN()); }},
        {"X offset inf", {}, [](B& b) { Put(b, 155, HUGE_VAL); }},
        {"give infinite coordinates", {}, [](B& b) { Put(b, 131, 1e300); }},
    };
    for (const auto& [expected, recipe, damage] : cases)
    {
        B bytes = MakeLas(recipe);
        damage(bytes);
        const std::string message =
            Thrown<LasError>([&] { LasReader(bytes.data(), bytes.size(), "synthetic.las"); });
        EXPECT_THAT(message, StartsWith("synthetic.las: "));
        EXPECT_THAT(message, HasSubstr(expected));
    }
    // Every truncation, in exactly sized copies so that a read past the end is caught.
    for (const Recipe& recipe : {Recipe{0, 1, 3, 0, true}, Recipe{4, 10, 2}})
    {
        const B whole = MakeLas(recipe);
        for (std::size_t size = 0; size < whole.size(); ++size)
        {
            const B prefix(whole.begin(), whole.begin() + std::ptrdiff_t(size));
            EXPECT_THROW(LasReader(prefix.data(), prefix.size(), "t.las"), LasError) << size;
        }
    }
    EXPECT_THROW(LasReader("/nonexistent/orv.las"), LasError);
}

TEST(LasFiles, AFailedWriteLeavesTheTargetAsItWas)
{
    const Scratch scratch;
    const std::string target = scratch / "out.las";
    std::ofstream(target) << "previous";
    Points points;
    for (double x : {5.0, 6.0, 3e6}) // 3e6 m from the offset: beyond 32 bits of millimetres
        points.points.push_back({{x, 0.0, 0.0}, {}, std::nullopt});
    LasWriteOptions options;
    options.offset = std::array<double, 3>{0.0, 0.0, 0.0};
    EXPECT_THAT(Thrown<LasError>([&] { WriteLas(target, points, {}, options); }),
                HasSubstr("point 2 at (3e+06, 0, 0) does not fit"));
    EXPECT_EQ(scratch.Files(), 1u);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(target).rdbuf()), {}),
              "previous");
    EXPECT_THROW(WriteLas(scratch / "absent/out.las", points, {}), LasError);
    options.scale = {0.001, 0.0, 0.001};
    EXPECT_THROW(WriteLas(target, points, {}, options), LasError);
    EXPECT_THROW(WriteLas(target, points, {{ELasField::Rgb, {EPointDataComponent::Real, 0}}}),
                 std::invalid_argument);
    EXPECT_EQ(scratch.Files(), 1u);
}

// Through the host: the default mapping, a host cloud built by the reader, written from the
// host provider (offset from its bounding box) and read again.
TEST(LasFiles, RoundTripThroughTheHostKeepsTheDefaultFields)
{
    const Scratch scratch;
    const auto bytes = MakeLas({2, 3, 100});
    const std::string out = scratch / "out.las";
    const LasReader reader(bytes.data(), bytes.size(), "in.las");
    auto factory = LasBuilderFactory(reader.Header());
    const LasFieldMap fields = MapDefaultLasFields(factory, reader.Header().HasRgb());
    const auto cloud = reader.ReadAll(factory, fields);
    const auto& host = dynamic_cast<const orv::Data::Cloud::PointCloudDataProvider&>(*cloud);
    ASSERT_EQ(host.Size(), 100u);
    const LasWriteSummary summary = WriteLas(out, host, fields);
    EXPECT_EQ(summary.pointFormat, 7);
    // The offset on a coarse grid of the scale below the corner: float noise in the corner
    // does not move it, so the same points give the same records.
    const double grid = std::ldexp(0.001, 20);
    EXPECT_EQ(summary.offset[0], std::floor(host.GetBoundingBox().firstCorner.x / grid) * grid);

    const Points a = Read(reader), b = Read(LasReader(out));
    ASSERT_EQ(b.points.size(), 100u);
    // Colours come back only where the host reads its colour values for Color keys.
    const bool colors =
        HostChoice::HostReadsColors(orv::Data::Cloud::CloudIntensityExtraData::TypeId());
    for (std::size_t i = 0; i < 100; ++i)
    {
        const Point &p = a.points[i], &q = b.points[i];
        // Half the output's millimetre, and the host's floats, whose precision depends on
        // where the host put the new cloud's frame.
        const double bound =
            5e-4 + HostChoice::FloatStorageBound(host.GetPointCloud().Convert(), p.p);
        EXPECT_NEAR(p.p.x, q.p.x, bound);
        EXPECT_NEAR(p.p.y, q.p.y, bound);
        EXPECT_NEAR(p.p.z, q.p.z, bound);
        EXPECT_EQ(p.v[0], q.v[0]); // intensity
        EXPECT_EQ(p.v[3], q.v[3]); // classification
        EXPECT_EQ(q.rgb->b, colors ? p.rgb->b : 0.0);
        EXPECT_EQ(q.v[1], 1.0); // return number: not mapped, written as 1
    }
    EXPECT_EQ(LasReader(out).Header().pointsByReturn[0], 100u);
}

// Extra-bytes dimensions land on host types that hold them exactly, each type once, and read
// back through the host as the file has them; a dimension with nowhere to go stays out.
TEST(LasFiles, ExtraBytesReadOntoFreeHostTypes)
{
    Recipe recipe{4, 6, 20};
    recipe.extraBytes = 4;
    recipe.full = true;
    auto bytes = MakeLas(recipe);
    const std::size_t descriptors = 375 + 54 + 48 + 54;
    bytes[descriptors + 192 * 2 + 2] = 2; // signed char
    bytes[descriptors + 192 * 3 + 2] = 2; // a second one: its only host type is taken by then
    std::uint32_t offset = 0;
    std::uint16_t length = 0;
    std::memcpy(&offset, &bytes[96], sizeof offset);
    std::memcpy(&length, &bytes[105], sizeof length);
    for (std::size_t i = 0; i < 20; ++i)
    {
        std::uint8_t* extra = &bytes[offset + (i + 1) * length - 4];
        extra[0] = std::uint8_t(3 * i);
        extra[1] = std::uint8_t(250 - i);
        extra[2] = std::uint8_t(std::int8_t(-7 - int(i)));
    }
    const LasReader reader(bytes.data(), bytes.size(), "extra.las");
    auto factory = LasBuilderFactory(reader.Header());
    LasFieldMap fields = MapDefaultLasFields(factory, false); // classification's type is taken
    ASSERT_EQ(MapLasExtraBytes(factory, reader.Header(), fields), 3u);
    using orv::Data::Cloud::CloudClassificationInstanceExtraData;
    using orv::Data::Cloud::CloudImprovementStatsExtraData;
    using orv::Data::Cloud::CloudSegmentationExtraData;
    const int expected[] = {CloudClassificationInstanceExtraData::TypeId(),
                            CloudSegmentationExtraData::TypeId(),
                            CloudImprovementStatsExtraData::TypeId()};
    std::vector<LasFieldKey> extras;
    for (const LasFieldKey& entry : fields)
        if (entry.field == ELasField::ExtraBytes)
            extras.push_back(entry);
    ASSERT_EQ(extras.size(), 3u);
    for (std::size_t d = 0; d < 3; ++d)
    {
        EXPECT_EQ(extras[d].extraBytes, d);
        EXPECT_EQ(factory.mapping.extraDataTypeByKey.at(extras[d].key), expected[d]) << d;
    }
    const auto cloud = reader.ReadAll(factory, fields);
    const WantAll all;
    const auto cursor = cloud->GetIterable(all)->CreateCursor();
    for (std::size_t i = 0; i < 20; ++i, cursor->MoveNext())
    {
        ASSERT_TRUE(cursor->IsValid());
        EXPECT_EQ(cursor->GetUnsignedInteger(extras[0].key.index), 3 * i);
        EXPECT_EQ(cursor->GetUnsignedInteger(extras[1].key.index), 250 - i);
        EXPECT_EQ(cursor->GetReal(extras[2].key.index), -7.0 - double(i));
    }
}

// Block reads against the cursor: the same points, indices, positions, values and absences,
// bit for bit, through this library's block reader and through the cursor fallback.
#include "blocks/PointDataBlocks.h"
#include "provider/PointCloudDataProvider.h"
#include "provider/internal/BlockKernels.h"
#include "tests/support/CursorOnly.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <random>

using namespace orv::TestSupport;
using orv::Data::Cloud::PointCloudDataProvider;
using orv::DataProxy::ForEachBlock;
using orv::DataProxy::IPointDataIterable;
using orv::DataProxy::MappedKeys;
using orv::DataProxy::PointDataBlock;
using orv::DataProxy::PointDataBlockLayout;
using orv::DataProxy::RgbaColor;

namespace
{

// Everything read of one point, as 64-bit words: index, position, then per key presence and
// value bits (zero bits when absent).
using Rows = std::vector<std::uint64_t>;

template <class T>
void Put(Rows& rows, const T& value)
{
    std::uint64_t words[sizeof(T) / 8];
    std::memcpy(words, &value, sizeof value);
    rows.insert(rows.end(), words, words + sizeof(T) / 8);
}

template <class T>
void Put(Rows& rows, const std::optional<T>& value)
{
    rows.push_back(value.has_value());
    Put(rows, value.value_or(T{}));
}

Rows BlockRows(const IPointDataIterable& iterable, const orv::DataProxy::IPointDataConsumer& wants,
               PointDataBlockLayout* layout = nullptr, std::vector<std::size_t>* sizes = nullptr)
{
    Rows rows;
    ForEachBlock(iterable, wants,
                 [&](const PointDataBlock& block)
                 {
                     if (sizes)
                         sizes->push_back(block.Size());
                     if (layout)
                         *layout = block.Layout();
                     // Whatever the consumer answers, a block carries its points' indices.
                     ASSERT_NE(block.PointIndices(), nullptr);
                     for (std::size_t i = 0; i < block.Size(); ++i)
                     {
                         rows.push_back(block.PointIndices()[i]);
                         if (block.HasPositions())
                             Put(rows, GPointDouble{block.X()[i], block.Y()[i], block.Z()[i]});
                         for (const Key& key : block.Layout().keys)
                             orv::DataProxy::VisitExtraDataComponent(
                                 key.component,
                                 [&](auto c)
                                 {
                                     const auto column =
                                         block.Column<decltype(c)::value>(key.index);
                                     ASSERT_TRUE(column);
                                     rows.push_back(column.present[i]);
                                     Put(rows, column.values[i]);
                                 });
                     }
                 });
    return rows;
}

Rows CursorRows(const IPointDataIterable& iterable, const PointDataBlockLayout& layout)
{
    Rows rows;
    for (auto c = iterable.CreateCursor(); c->IsValid(); c->MoveNext())
    {
        rows.push_back(c->GetPointIndex());
        if (layout.positions)
            Put(rows, c->GetPosition());
        for (const Key& key : layout.keys)
            orv::DataProxy::Detail::WithValue(*c, key,
                                              [&](const auto& value) { Put(rows, value); });
    }
    return rows;
}

// The block path and the fallback read what the cursor reads, in blocks of the same sizes and,
// when there are points, of the layout expected. Gives the sizes.
std::vector<std::size_t> ExpectSameAsCursor(const std::shared_ptr<IPointDataIterable>& iterable,
                                            const orv::DataProxy::IPointDataConsumer& wants,
                                            const PointDataBlockLayout& expected,
                                            const std::string& what)
{
    PointDataBlockLayout layout;
    std::vector<std::size_t> sizes, fallbackSizes;
    const Rows blocks = BlockRows(*iterable, wants, &layout, &sizes);
    const Rows cursor = CursorRows(*iterable, layout);
    const auto mismatch = std::mismatch(blocks.begin(), blocks.end(), cursor.begin(), cursor.end());
    EXPECT_TRUE(mismatch.first == blocks.end() && mismatch.second == cursor.end())
        << what << ": first difference at word " << (mismatch.first - blocks.begin()) << " of "
        << blocks.size() << " and " << cursor.size();
    EXPECT_TRUE(blocks.empty() ||
                (layout.positions == expected.positions &&
                 layout.pointIndices == expected.pointIndices && layout.keys == expected.keys))
        << what;
    EXPECT_EQ(BlockRows(CursorOnly(iterable), wants, nullptr, &fallbackSizes), blocks)
        << what << " (fallback)";
    EXPECT_EQ(fallbackSizes, sizes) << what;
    // The iterable's own size (hidden points and split ranges included) is what a walk finds.
    EXPECT_EQ(PointCount(*iterable), std::accumulate(sizes.begin(), sizes.end(), std::size_t{0}))
        << what;
    return sizes;
}

// Another plugin's policy whose value is the point index of the host cursor it is handed: the
// host hands a policy the cursor reading the point, and a host's own policy may rely on that.
class PointIndexPolicy final : public RawPolicy<std::uint64_t>
{
public:
    std::uint64_t GetValue(const void*, const CloudCursorInfo& info) const override
    {
        return static_cast<const CloudCursorBase<1>&>(info).GetPointIndex();
    }
};

int PointIndexType()
{
    return WideType<std::uint64_t, PointIndexPolicy>();
}

// The types a random cloud stores, each with the component it is read as: the twelve host types
// (the packed normal and the intensity at 10 and 11) and three of another plugin's policies.
std::vector<std::pair<int, C>> StoredTypes()
{
    return {{CloudClassificationExtraData::TypeId(), C::UnsignedInteger},
            {CloudGridPositionIndexExtraData::TypeId(), C::UnsignedInteger},
            {CloudSegmentationExtraData::TypeId(), C::UnsignedInteger},
            {CloudSplitColorExtraData::TypeId(), C::UnsignedInteger},
            {CloudClassificationInstanceExtraData::TypeId(), C::UnsignedInteger},
            {CloudScanIDExtraData::TypeId(), C::UnsignedInteger},
            {CloudImprovementStatsExtraData::TypeId(), C::Real},
            {CloudIntensityNewExtraData::TypeId(), C::Real},
            {CloudIntensityTempExtraData::TypeId(), C::Real},
            {CloudMaxProbabilityExtraData::TypeId(), C::Real},
            {CloudNormalExtraData::TypeId(), C::Vector3},
            {CloudIntensityExtraData::TypeId(), C::Real},
            {WideType<std::int64_t>(), C::SignedInteger},
            {WideType<GVector3>(), C::Vector3},
            {PointIndexType(), C::UnsignedInteger}};
}

// Every stored value random bits (floats and packed values included), random world positions
// in a turned, translated frame, subsets of `capacity`, and hidden points: at subset edges, a
// whole subset now and then, and scattered.
PointCloud RandomCloud(std::mt19937_64& random, std::size_t n, std::uint32_t capacity, int mode)
{
    PointCloud cloud;
    GCloud& host = cloud.Convert();
    host.SetSubsetCapacity(capacity);
    const double a = 0.3 + std::uniform_real_distribution<double>(0, 6)(random);
    const double c = std::cos(a), s = std::sin(a), t = 0.8, u = 0.6;
    host.SetMatrix({{c, -s * u, s * t, s, c * u, -c * t, 0, t, u, 652000.5, 5180000.25, 310.0}});
    host.SetType(mode, -5.0f, 250.0f, nullptr, false);
    GPointDouble position{};
    GCloudPointData record(&position);
    const auto types = StoredTypes();
    std::vector<std::array<std::uint64_t, 3>> slots(types.size());
    for (std::size_t k = 0; k < types.size(); ++k)
        record.AddExtraData(types[k].first, slots[k].data());
    std::uniform_real_distribution<double> metres(-400.0, 400.0);
    for (std::size_t i = 0; i < n; ++i)
    {
        for (auto& slot : slots)
            slot = {random(), random(), random()};
        // The packed normal and the intensity at their edges now and then: 0 ("no vector", the
        // bottom code), or codes 255 and 65280 with the top code.
        if (i % 11 == 0 || i % 13 == 1)
            slots[10][0] = slots[11][0] = i % 11 == 0 ? 0 : 0xFF0000FFu;
        const GVector3 wide{metres(random), -0.0, 1e-300};
        std::memcpy(slots[13].data(), &wide, sizeof wide);
        position = {652000.5 + metres(random), 5180000.25 + metres(random), 310.0 + metres(random)};
        EXPECT_EQ(cloud.AddPoint(record, true), ExitCodeAddPoint::Ok);
    }
    std::bernoulli_distribution often(0.4), rarely(0.1);
    for (std::uint64_t first = 0; first < n; first += capacity)
    {
        const std::uint64_t last = std::min<std::uint64_t>(first + capacity, n) - 1;
        const bool whole = capacity > 1 && rarely(random);
        for (std::uint64_t i = first; i <= last; ++i)
            if (whole || ((i == first || i == last) ? often(random) : rarely(random)))
                host.SetPointVisible(i, false);
    }
    return cloud;
}

} // namespace

// Random clouds of several subset capacities in all three intensity modes, every one of the
// twelve types plus two of another plugin's policies, each component; keys without a policy,
// without a table and declined: read whole and split, by cursor and by blocks.
TEST(BlockRead, MatchCursorBitForBitWholeAndSplit)
{
    std::mt19937_64 random(20261206);
    const std::uint32_t capacities[] = {1, 5, 97, 1000, GCloud::DefaultSubsetCapacity()};
    for (std::size_t k = 0; k < std::size(capacities); ++k)
    {
        const int mode = 1 + int(k % 3);
        // The largest subsets span two element buffers of the host's tables (8192 elements).
        const std::size_t n = capacities[k] == GCloud::DefaultSubsetCapacity() ? 9000 : 2600;
        PointCloudDataProvider provider(RandomCloud(random, n, capacities[k], mode));
        std::optional<unsigned char> pointIndexKey;
        for (const auto& [type, component] : StoredTypes())
        {
            const auto index = provider.MapOptionalComponent(component, type);
            if (type == PointIndexType())
                pointIndexKey = index;
        }
        // A policy but no table in the cloud; no policy for this pair; the colour.
        provider.MapOptionalComponent(C::UnsignedInteger, WideType<std::uint64_t>());
        provider.MapOptionalComponent(C::SignedInteger, CloudScanIDExtraData::TypeId());
        provider.MapOptionalComponent(C::Color, CloudIntensityExtraData::TypeId());
        provider.MapOptionalComponent(C::PointIndex, CloudScanIDExtraData::TypeId());
        const Key declined{C::UnsignedInteger, 1};
        PointDataBlockLayout expected{true, true, MappedKeys(provider.GetMapping())};
        expected.keys.erase(std::find(expected.keys.begin(), expected.keys.end(), declined));
        const TestConsumer wants({declined});
        const std::string what = "capacity " + std::to_string(capacities[k]);
        ExpectSameAsCursor(provider.GetIterable(wants), wants, expected, what);
        for (const auto& piece : SplitIntoPieces(provider.GetIterable(wants), 64, 150))
            ExpectSameAsCursor(piece, wants, expected, what + ", piece");
        // A policy not of ours read by blocks is handed the host cursor on the point it reads.
        std::size_t mismatches = 0;
        ForEachBlock(*provider.GetIterable(wants), wants,
                     [&](const PointDataBlock& block)
                     {
                         const auto read = block.Column<C::UnsignedInteger>(pointIndexKey.value());
                         for (std::size_t i = 0; i < block.Size(); ++i)
                             mismatches += read.values[i] != block.PointIndices()[i];
                     });
        EXPECT_EQ(mismatches, 0u) << what;
    }
}

// Block size boundaries and empty iterables, through both paths: a block is full unless it is
// the last; an iterable without points calls nothing. Positions only when requested; point
// indices always, also for a consumer that declines (PointIndex, 0) or is never asked about it.
TEST(BlockRead, FullBlocksButTheLastAndNoneForNoPoints)
{
    constexpr std::size_t kFull = PointDataBlock::kCapacity;
    const orv::DataProxy::WantKeys positionOnly({});
    for (const std::size_t n : {std::size_t{0}, kFull, kFull + 1, 3 * kFull - 1})
    {
        PointCloudDataProvider provider(BuildCloud(GridPoints(n), {7}));
        provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
        const bool keysOnly = n == kFull + 1;
        const TestConsumer wants(keysOnly ? std::vector<Key>{{C::Position, 0}, {C::PointIndex, 0}}
                                          : std::vector<Key>{});
        std::vector<std::size_t> expected(n / kFull, kFull);
        if (n % kFull != 0)
            expected.push_back(n % kFull);
        EXPECT_EQ(ExpectSameAsCursor(provider.GetIterable(wants), wants,
                                     {!keysOnly, true, {{C::UnsignedInteger, 0}}},
                                     std::to_string(n)),
                  expected);
        EXPECT_EQ(ExpectSameAsCursor(provider.GetIterable(positionOnly), positionOnly,
                                     {true, true, {}}, std::to_string(n) + ", position only"),
                  expected);
    }
    PointCloudDataProvider one(BuildCloud(GridPoints(1)));
    WantAll wants;
    const auto lower = one.GetIterable(wants);
    const std::shared_ptr<IPointDataIterable> upper = lower->Split(); // [0, 0) here, [0, 1) there
    EXPECT_TRUE(ExpectSameAsCursor(lower, wants, {}, "lower").empty());
    EXPECT_EQ(ExpectSameAsCursor(upper, wants, {true, true, {}}, "upper"),
              std::vector<std::size_t>{1});
}

// The columns of a call are what the iterable's cursor serves and the call's consumer requests,
// on both paths, whichever of the two consumers is the narrower. A cursor of this library says
// what it serves: the fallback asks the call's consumer about those keys only.
TEST(BlockRead, ColumnsAreWhatTheCursorServesAndTheCallRequests)
{
    PointCloudDataProvider provider(BuildCloud(GridPoints(300), {7}));
    provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    provider.MapOptionalComponent(C::UnsignedInteger, Type::Scan());
    provider.MapOptionalComponent(C::Real, Type::Scan());
    const Key first{C::UnsignedInteger, 0}, second{C::UnsignedInteger, 1}, real{C::Real, 0};
    WantAll all;
    const TestConsumer narrow({{C::Position, 0}, second});
    ExpectSameAsCursor(provider.GetIterable(all), narrow, {false, true, {first, real}},
                       "narrower call");
    ExpectSameAsCursor(provider.GetIterable(narrow), all, {false, true, {first, real}},
                       "narrower iterable");
    const TestConsumer counting;
    BlockRows(CursorOnly(provider.GetIterable(all)), counting);
    EXPECT_EQ(counting.calls, 4); // the position and the three served keys
}

// The kernel set this processor runs and the portable one give the same bits, tails included,
// and the checks against the host's decoders answer the same for both: a block read on a
// processor without AVX2 reads what it reads here.
TEST(BlockRead, KernelSetsAgree)
{
    namespace K = orv::Data::Cloud::BlockKernels;
    const K::Kernels& best = K::Best();
    const K::Kernels& scalar = K::Scalar();
    EXPECT_EQ(K::NormalsMatchHost(best), K::NormalsMatchHost(scalar));
    EXPECT_EQ(K::FloatsMatchHost(best), K::FloatsMatchHost(scalar));
    for (const auto& range : {std::pair{-5.0f, 250.0f}, std::pair{0.0f, 65535.0f}})
        EXPECT_EQ(K::CompressedMatchesHost(best, range.first, range.second),
                  K::CompressedMatchesHost(scalar, range.first, range.second));
    std::mt19937_64 random(7);
    std::vector<std::uint8_t> in(12 * 64);
    const double m[12] = {0.6, -0.8, -0.0, 0.8, 0.6, 1e-300, 1.0 / 3, -3.0, 1.0, 652000.5, -1.0, 0};
    for (int round = 0; round < 200; ++round)
    {
        for (std::uint8_t& byte : in)
            byte = std::uint8_t(random());
        const std::size_t n = 1 + random() % 63;
        std::vector<double> a(3 * n), b(3 * n);
        std::vector<GVector3> va(n), vb(n);
        std::vector<std::uint64_t> ua(n), ub(n);
        std::vector<std::uint8_t> finite = in; // hosts store no NaN coordinates
        for (std::size_t i = 3; i < finite.size(); i += 4)
            finite[i] &= 0xBF;
        best.positions(finite.data(), n, m, a.data(), a.data() + n, a.data() + 2 * n);
        scalar.positions(finite.data(), n, m, b.data(), b.data() + n, b.data() + 2 * n);
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * 8)) << "positions " << n;
        best.normals(in.data(), n, m, va.data());
        scalar.normals(in.data(), n, m, vb.data());
        EXPECT_EQ(0, std::memcmp(va.data(), vb.data(), n * sizeof(GVector3))) << "normals " << n;
        for (const auto& range : {std::pair{-5.0f, 250.0f}, std::pair{1.0f, 1.0f}})
        {
            best.compressed(in.data(), n, range.first, range.second, a.data());
            scalar.compressed(in.data(), n, range.first, range.second, b.data());
            EXPECT_EQ(0, std::memcmp(a.data(), b.data(), n * 8)) << "compressed " << n;
        }
        best.sequence(random(), n, ua.data());
        scalar.sequence(ua[0], n, ub.data());
        EXPECT_EQ(ua, ub) << "sequence " << n;
        best.widenF32(in.data(), n, a.data());
        scalar.widenF32(in.data(), n, b.data());
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), n * 8)) << "floats " << n;
        for (auto widen : {&K::Kernels::widenU8, &K::Kernels::widenU16, &K::Kernels::widenU32})
        {
            (best.*widen)(in.data(), n, ua.data());
            (scalar.*widen)(in.data(), n, ub.data());
            EXPECT_EQ(ua, ub) << "integers " << n;
        }
    }
}

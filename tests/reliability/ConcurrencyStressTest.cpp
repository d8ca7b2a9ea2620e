// Concurrency stress: a large cloud split to the bottom and read on many threads, builders of
// one factory filled on threads and merged, providers copied and queried on threads at once.
// Sizes are bounded (smaller under the sanitizers), seeds fixed; each test compares against a
// single-threaded run of the same work.
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <thread>

using namespace orv::TestSupport;

namespace
{

constexpr int kThreads = 8;

// Stress sizes: smaller in sanitized builds, overridable for a manual run.
std::uint64_t StressSize(std::uint64_t plain, std::uint64_t sanitized)
{
    if (const char* forced = std::getenv("ORV_STRESS_POINTS"))
        return std::strtoull(forced, nullptr, 10);
#ifdef ORV_STRESS_SANITIZED
    return (void)plain, sanitized;
#else
    return (void)sanitized, plain;
#endif
}

} // namespace

// Pieces are split and read by whichever thread takes them from a shared queue, so splits,
// cursor creation and reads all overlap. The count and the order-independent checksum (which
// covers each point's index) equal the one-threaded read.
TEST(ConcurrencyStress, SplitAndReadOnThreads)
{
    const std::uint64_t n = StressSize(5000000, 1000000);
    const std::uint32_t capacity = 65536;
    std::set<std::uint64_t> hide = Every(0, n, 97), subset = Every(capacity, 2 * capacity);
    hide.insert(subset.begin(), subset.end());
    const PointCloudDataProvider provider =
        MappedProvider(BuildCloud(GridPoints(n), {capacity, {}, hide}));
    const WantAll consumer;
    const Totals expected = ReadAll(*provider.GetIterable(consumer));
    ASSERT_EQ(expected.points, n - hide.size());

    const MinimumPieceHint hint(1024);
    std::mutex lock;
    std::vector<std::shared_ptr<IPointDataIterable>> queue{provider.GetIterable(consumer)};
    int busy = 0; // pieces taken and not finished, under lock
    std::atomic<std::uint64_t> points{0}, checksum{0}, pieces{0};
    OnThreads(kThreads,
              [&](int)
              {
                  for (;;)
                  {
                      std::shared_ptr<IPointDataIterable> piece;
                      {
                          const std::lock_guard<std::mutex> guard(lock);
                          if (queue.empty() && busy == 0)
                              return;
                          if (!queue.empty())
                          {
                              piece = std::move(queue.back());
                              queue.pop_back();
                              ++busy;
                          }
                      }
                      if (!piece)
                      {
                          std::this_thread::yield(); // others are still splitting
                          continue;
                      }
                      while (piece->IsDivisible(hint))
                      {
                          auto upper = piece->Split();
                          const std::lock_guard<std::mutex> guard(lock);
                          queue.push_back(std::move(upper));
                      }
                      for (auto c = piece->CreateCursor(); c->IsValid(); c->MoveNext(), ++points)
                          checksum += PointHash(*c);
                      ++pieces;
                      const std::lock_guard<std::mutex> guard(lock);
                      --busy;
                  }
              });

    EXPECT_EQ(points.load(), expected.points);
    EXPECT_EQ(checksum.load(), expected.checksum);
    EXPECT_GE(pieces.load(), expected.points / 2048);
}

// Builders are created from one factory concurrently, filled on their own threads, then merged
// pairwise on threads (a tree of merges): every point arrives once with its values.
TEST(ConcurrencyStress, BuildersFilledAndMergedOnThreads)
{
    const std::uint64_t perThread = StressSize(3000000, 600000) / 24;
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    factory.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    factory.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    const WantAll consumer;
    // Ids interleave across threads; each thread's first point differs, so merged clouds sit in
    // different frames and are re-expressed.
    auto position = [](std::uint64_t id)
    {
        const double t = double(id % kThreads);
        return GPointDouble{100.0 * t + double(id % 4096), double(id / 4096), 0.5 * t};
    };

    std::vector<std::shared_ptr<orv::DataProxy::IPointDataBuilder>> builders(kThreads);
    OnThreads(kThreads,
              [&](int t)
              {
                  builders[t] = factory.CreatePointDataBuilder(consumer);
                  PointRecord a;
                  for (std::uint64_t i = 0; i < perThread; ++i)
                  {
                      const std::uint64_t id = i * kThreads + std::uint64_t(t);
                      a.position = position(id);
                      Put(a, 0, id);
                      Put(a, 1, id);
                      Put(a, 0, double(id) * 0.5);
                      Put(a, 0, PointValues(id).normal);
                      builders[t]->AddPointData(a);
                  }
              });
    auto as = [&](int t) -> PointCloudDataBuilder&
    { return dynamic_cast<PointCloudDataBuilder&>(*builders[t]); };
    for (int stride = 1; stride < kThreads; stride *= 2)
        OnThreads(kThreads / (2 * stride),
                  [&](int k) { as(2 * stride * k).Merge(as(2 * stride * k + stride)); });

    const auto result = builders[0]->GetResult();
    const std::uint64_t total = perThread * kThreads;
    ASSERT_EQ(CloudOf(result).GetPointCount(), total);
    std::vector<std::uint8_t> seen(total, 0);
    std::uint64_t mismatches = 0;
    for (auto c = result->GetIterable(consumer)->CreateCursor(); c->IsValid(); c->MoveNext())
    {
        const std::uint64_t id = c->GetUnsignedInteger(0).value();
        ASSERT_LT(id, total);
        ++seen[id];
        mismatches += Distance(c->GetPosition(), position(id)) != 0.0 ||
                      c->GetReal(0).value() != double(id) * 0.5 ||
                      c->GetUnsignedInteger(1).value() != (id & 0xFF) ||
                      Distance(c->GetVector3(0).value(), PointValues(id).normal) > 1e-4;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), std::ptrdiff_t(total))
        << "points lost or duplicated";
}

// One provider is copied and queried on several threads at once (copies and the shared
// original alike), its results read there too; every answer equals the one-threaded answer.
TEST(ConcurrencyStress, ProvidersCopiedAndQueriedOnThreads)
{
    using namespace orv::DataProxy;
    const PointCloudDataProvider shared =
        MappedProvider(BuildCloud(GridPoints(StressSize(400000, 100000)), {4096}));
    const WantAll consumer;
    const auto box = shared.GetBoundingBox();
    // About the middle of the grid (x 0..9, z 0..1.5, y along the cloud).
    const GPointDouble c{4.5, box.secondCorner.y / 2, 0.75};
    ClippingPlanesQuery planes;
    planes.planes = {{{1.0, 0.0, 0.0}, c.x}, {{0.0, -1.0, 0.0}, -c.y}};
    auto answer = [&](const PointCloudDataProvider& p, int query, bool invert)
    {
        const std::unique_ptr<IPointDataProvider> result =
            query == 0   ? p.GetPoints(InsideAxisAlignedBoxQuery{{c.x - 3, c.y - 300, c.z - 1},
                                                               {c.x + 3, c.y + 300, c.z + 1}},
                                       invert)
            : query == 1 ? p.GetPoints(InsideSphereQuery{c, 60.0}, invert)
            : query == 2 ? p.GetPoints(InsideCylinderQuery{c, {0.0, 0.0, 1.0}, 80.0, -1.0}, invert)
                         : p.GetPoints(planes, invert);
        return ReadAll(*result->GetIterable(consumer));
    };
    Totals expected[4][2];
    for (int q = 0; q < 4; ++q)
    {
        for (int invert = 0; invert < 2; ++invert)
            expected[q][invert] = answer(shared, q, invert != 0);
        EXPECT_GT(expected[q][0].points, 0u) << "query " << q << " selects something";
        EXPECT_EQ(expected[q][0].points + expected[q][1].points, shared.Size());
    }
    const Totals all = ReadAll(*shared.GetIterable(consumer));

    std::atomic<int> wrong{0};
    OnThreads(6,
              [&](int t)
              {
                  for (int r = 0; r < 3; ++r)
                  {
                      const PointCloudDataProvider copy(shared);
                      const PointCloudDataProvider& target = (t + r) % 2 ? copy : shared;
                      for (int q = 0; q < 4; ++q)
                      {
                          const int query = (q + t) % 4;
                          const bool invert = (t + r + q) % 2 != 0;
                          const Totals got = answer(target, query, invert);
                          wrong += got.points != expected[query][invert].points ||
                                   got.checksum != expected[query][invert].checksum;
                      }
                      const Totals whole = ReadAll(*copy.GetIterable(consumer));
                      wrong += whole.points != all.points || whole.checksum != all.checksum;
                      const auto bounds = target.GetBoundingBox();
                      wrong += std::memcmp(&bounds, &box, sizeof box) != 0;
                  }
              });
    EXPECT_EQ(wrong.load(), 0);
}

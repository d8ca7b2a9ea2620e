// Concurrency stress: a large cloud split to the bottom and read on many threads, many
// builders of one factory filled on threads and merged, providers copied and queried on
// threads at once. Sizes are bounded (smaller under the sanitizers) and every seed is fixed;
// each test compares against a single-threaded run of the same work.
#include "ReliabilitySupport.h"

#include "builder/PointCloudDataBuilderFactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using namespace orv::Reliability;
using orv::DataProxy::IPointDataIterable;

namespace
{

constexpr int kThreads = 8;

template <class F>
void OnThreads(int count, F&& work)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&work, t] { work(t); });
    for (std::thread& thread : threads)
        thread.join();
}

struct ReadTotals
{
    std::uint64_t points = 0;
    std::uint64_t checksum = 0;
};

ReadTotals ReadPiece(const IPointDataIterable& piece)
{
    ReadTotals totals;
    for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
    {
        ++totals.points;
        totals.checksum += PointHash(*cursor);
    }
    return totals;
}

} // namespace

// Pieces are split and read by whichever thread takes them from a shared queue, so splits,
// cursor creation (consumer questions, registry look-ups, copies of the cloud) and reads all
// overlap. Every visible point is delivered once, hidden ones never, and the order-independent
// checksum equals the one-threaded read.
TEST(ConcurrencyStress, CloudSplitToTheBottomReadOnManyThreadsMatchesOneThread)
{
    const std::uint64_t n = StressSize(5000000, 1000000);
    const std::uint32_t capacity = 65536;
    const PointCloudDataProvider provider = MappedProvider(GeneratedCloud(n, capacity));
    const WantAll consumer;
    const ReadTotals expected = ReadPiece(*provider.GetIterable(consumer));
    ASSERT_EQ(expected.points, provider.Size());
    ASSERT_LT(expected.points, n); // some points are hidden

    // Down to pieces of 1024 to 2048 points: thousands of pieces for 5,000,000 points.
    const MinimumPiece hint(1024);
    std::mutex queueLock;
    std::vector<std::shared_ptr<IPointDataIterable>> queue{provider.GetIterable(consumer)};
    int busy = 0; // pieces taken and not finished, under queueLock
    std::atomic<std::uint64_t> points{0};
    std::atomic<std::uint64_t> checksum{0};
    std::atomic<std::uint64_t> pieces{0};
    std::vector<std::atomic<std::uint8_t>> visits(n);
    for (auto& v : visits)
        v.store(0, std::memory_order_relaxed);

    OnThreads(kThreads,
              [&](int)
              {
                  for (;;)
                  {
                      std::shared_ptr<IPointDataIterable> piece;
                      {
                          std::lock_guard<std::mutex> lock(queueLock);
                          if (queue.empty() && busy == 0)
                              return; // every piece is read
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
                          std::shared_ptr<IPointDataIterable> upper = piece->Split();
                          std::lock_guard<std::mutex> lock(queueLock);
                          queue.push_back(std::move(upper));
                      }
                      std::uint64_t localPoints = 0;
                      std::uint64_t localSum = 0;
                      for (auto cursor = piece->CreateCursor(); cursor->IsValid();
                           cursor->MoveNext())
                      {
                          ++localPoints;
                          localSum += PointHash(*cursor);
                          const std::uint64_t index = cursor->GetPointIndex();
                          if (index < n)
                              visits[index].fetch_add(1, std::memory_order_relaxed);
                      }
                      points += localPoints;
                      checksum += localSum;
                      ++pieces;
                      std::lock_guard<std::mutex> lock(queueLock);
                      --busy;
                  }
              });

    EXPECT_EQ(points.load(), expected.points);
    EXPECT_EQ(checksum.load(), expected.checksum);
    EXPECT_GE(pieces.load(), expected.points / 2048);
    std::uint64_t wrong = 0;
    for (std::uint64_t i = 0; i < n; ++i)
    {
        const bool hidden = i % 97 == 0 || (i >= capacity && i < 2 * std::uint64_t{capacity});
        wrong += visits[i].load(std::memory_order_relaxed) != (hidden ? 0 : 1);
    }
    EXPECT_EQ(wrong, 0u) << "points visited other than once (hidden: never)";
    RecordProperty("points", std::to_string(n));
    RecordProperty("pieces", std::to_string(pieces.load()));
}

// Builders are created from one factory concurrently, filled on their own threads, then
// merged pairwise on threads (a tree of merges): every point arrives once with its values.
TEST(ConcurrencyStress, ManyBuildersFromOneFactoryFilledOnThreadsAndMergedLoseNothing)
{
    using orv::Data::Cloud::PointCloudDataBuilder;
    const std::uint64_t perThread = StressSize(5000000, 1000000) / 40;
    orv::Data::Cloud::PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                 orv::Data::Cloud::CloudScanIDExtraData::TypeId(), 4);
    factory.MapOptionalComponent(EPointDataComponent::Real,
                                 orv::Data::Cloud::CloudIntensityNewExtraData::TypeId(), 4);
    factory.MapOptionalComponent(EPointDataComponent::Vector3,
                                 orv::Data::Cloud::CloudNormalExtraData::TypeId(), 4);
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                 orv::Data::Cloud::CloudClassificationExtraData::TypeId(), 1);
    const WantAll consumer;

    std::vector<std::shared_ptr<orv::DataProxy::IPointDataBuilder>> builders(kThreads);
    OnThreads(kThreads,
              [&](int t)
              {
                  builders[t] = factory.CreatePointDataBuilder(consumer);
                  ValuesAccessor point;
                  for (std::uint64_t i = 0; i < perThread; ++i)
                  {
                      // Ids interleave across threads; each thread's first point differs, so
                      // merged clouds sit in different frames and are re-expressed.
                      const std::uint64_t id = i * kThreads + static_cast<std::uint64_t>(t);
                      point.values.position = {100.0 * t + static_cast<double>(id % 4096),
                                               static_cast<double>(id / 4096), 0.5 * t};
                      point.values.unsignedInteger[0] = id;
                      point.values.unsignedInteger[1] = id;
                      point.values.real[0] = static_cast<double>(id) * 0.5;
                      point.values.vector3[0] = NormalOf(id);
                      builders[t]->AddPointData(point);
                  }
              });

    auto as = [&](int t) -> PointCloudDataBuilder&
    { return dynamic_cast<PointCloudDataBuilder&>(*builders[t]); };
    for (int stride = 1; stride < kThreads; stride *= 2)
    {
        OnThreads(kThreads / (2 * stride),
                  [&](int k)
                  {
                      const int target = 2 * stride * k;
                      as(target).Merge(as(target + stride));
                  });
    }

    const auto result = builders[0]->GetResult();
    const auto* provider = dynamic_cast<const PointCloudDataProvider*>(result.get());
    ASSERT_NE(provider, nullptr);
    const std::uint64_t total = perThread * kThreads;
    ASSERT_EQ(provider->Size(), total);
    std::vector<std::uint8_t> seen(total, 0);
    std::uint64_t mismatches = 0;
    for (auto cursor = provider->GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        const std::uint64_t id = cursor->GetUnsignedInteger(0).value();
        ASSERT_LT(id, total);
        ++seen[id];
        const int t = static_cast<int>(id % kThreads);
        const GPointDouble p = cursor->GetPosition();
        const GVector3 normal = cursor->GetVector3(0).value();
        const GVector3 expected = NormalOf(id);
        mismatches += p.x != 100.0 * t + static_cast<double>(id % 4096) ||
                      p.y != static_cast<double>(id / 4096) || p.z != 0.5 * t ||
                      cursor->GetReal(0).value() != static_cast<double>(id) * 0.5 ||
                      cursor->GetUnsignedInteger(1).value() != (id & 0xFF) ||
                      std::fabs(normal.x - expected.x) + std::fabs(normal.y - expected.y) +
                              std::fabs(normal.z - expected.z) >
                          1e-4;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), std::uint8_t{1}),
              static_cast<std::ptrdiff_t>(total))
        << "points lost or duplicated";
    RecordProperty("points", std::to_string(total));
}

// One provider is copied and queried on several threads at once (copies and the shared
// original alike), its results read there too; every answer equals the one-threaded answer.
TEST(ConcurrencyStress, ProvidersCopiedAndQueriedOnSeveralThreadsAnswerAsOneThread)
{
    using namespace orv::DataProxy;
    const std::uint64_t n = StressSize(400000, 100000);
    const PointCloudDataProvider shared = MappedProvider(GeneratedCloud(n, 4096));
    const WantAll consumer;
    const auto box = shared.GetBoundingBox();

    // A fixed list of queries placed inside the cloud's box.
    std::mt19937_64 random(7);
    auto inside = [&](int axis)
    {
        const double lo = axis == 0   ? box.firstCorner.x
                          : axis == 1 ? box.firstCorner.y
                                      : box.firstCorner.z;
        const double hi = axis == 0   ? box.secondCorner.x
                          : axis == 1 ? box.secondCorner.y
                                      : box.secondCorner.z;
        return lo + (hi - lo) * std::uniform_real_distribution<double>(0.0, 1.0)(random);
    };
    auto point = [&] { return GPointDouble{inside(0), inside(1), inside(2)}; };
    const InsideAxisAlignedBoxQuery boxQuery{point(), point()};
    const InsideSphereQuery sphereQuery{point(), 60.0};
    const InsideCylinderQuery cylinderQuery{point(), {0.0, 0.0, 1.0}, 80.0, -1.0};
    ClippingPlanesQuery planesQuery;
    planesQuery.planes.push_back({{1.0, 0.0, 0.0}, inside(0)});
    planesQuery.planes.push_back({{0.0, -1.0, 0.0}, -inside(1)});

    auto answer = [&](const PointCloudDataProvider& p, int query, bool invert)
    {
        std::unique_ptr<IPointDataProvider> result;
        switch (query)
        {
        case 0:
            result = p.GetPoints(boxQuery, invert);
            break;
        case 1:
            result = p.GetPoints(sphereQuery, invert);
            break;
        case 2:
            result = p.GetPoints(cylinderQuery, invert);
            break;
        default:
            result = p.GetPoints(planesQuery, invert);
            break;
        }
        return ReadPiece(*result->GetIterable(consumer));
    };
    ReadTotals expected[4][2];
    for (int q = 0; q < 4; ++q)
    {
        for (int invert = 0; invert < 2; ++invert)
            expected[q][invert] = answer(shared, q, invert != 0);
        EXPECT_GT(expected[q][0].points, 0u) << "query " << q << " selects something";
        EXPECT_EQ(expected[q][0].points + expected[q][1].points, shared.Size());
    }
    const ReadTotals all = ReadPiece(*shared.GetIterable(consumer));

    const int rounds = 3;
    std::atomic<int> wrong{0};
    OnThreads(6,
              [&](int t)
              {
                  for (int r = 0; r < rounds; ++r)
                  {
                      const PointCloudDataProvider copy(shared);
                      const PointCloudDataProvider& target = (t + r) % 2 ? copy : shared;
                      for (int q = 0; q < 4; ++q)
                      {
                          const int query = (q + t) % 4;
                          const bool invert = (t + r + q) % 2 != 0;
                          const ReadTotals got = answer(target, query, invert);
                          wrong += got.points != expected[query][invert].points ||
                                   got.checksum != expected[query][invert].checksum;
                      }
                      const ReadTotals whole = ReadPiece(*copy.GetIterable(consumer));
                      wrong += whole.points != all.points || whole.checksum != all.checksum;
                      const auto bounds = target.GetBoundingBox();
                      wrong += std::memcmp(&bounds, &box, sizeof box) != 0;
                  }
              });
    EXPECT_EQ(wrong.load(), 0);
    RecordProperty("points", std::to_string(n));
}

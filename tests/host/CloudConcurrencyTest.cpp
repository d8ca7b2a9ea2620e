#include "tests/support/TestClouds.h"

#include "host/geometry/Selection.h"

#include <gtest/gtest.h>

// Copies of one cloud made, read, written and selected from on several threads at once.

namespace
{

using namespace orv::TestSupport;

uint64_t ScanSum(const GCloud& g)
{
    uint64_t sum = 0;
    for (const Visit& v : Walk(g))
        sum += v.scan.value_or(0);
    return sum;
}

uint64_t InsideBox(const GCloud& g)
{
    orv::Graphics::SelPrcBox box({0, 0, 0}, {4.5, 100, 1});
    PointCloud inside;
    g.ApplySelectionProcedure(box, &inside.Convert(), nullptr, nullptr, AutoCompactNone);
    return inside.GetPointCount();
}

TEST(GeometryConcurrency, Copies)
{
    const PointCloud original = BuildCloud(GridPoints(5000), {512});
    const uint64_t expected = ScanSum(original.Convert()), inside = InsideBox(original.Convert());
    std::atomic<int> failures{0};
    OnThreads(4,
              [&](int t)
              {
                  for (int round = 0; round < 5; ++round)
                  {
                      PointCloud mine = original; // copied here while others copy too
                      if (t % 2 == 1)
                      {
                          // Writers touch a shared subset and the shared last subset.
                          mine.Convert().SetPointVisible(uint64_t(100 * t + round), false);
                          GPointDouble p{1, 1, 1};
                          uint32_t scan = 7;
                          GCloudPointData record(&p);
                          record.AddExtraData(Type::Scan(), &scan);
                          mine.AddPoint(record, true);
                          const uint64_t want = expected - (1000 + 100 * t + round) + 7;
                          failures += ScanSum(mine.Convert()) == want ? 0 : 1;
                      }
                      else
                      {
                          failures += ScanSum(mine.Convert()) == expected ? 0 : 1;
                          failures += InsideBox(mine.Convert()) == inside ? 0 : 1;
                      }
                      failures += ScanSum(original.Convert()) == expected ? 0 : 1;
                  }
              });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(inside, 0u);
    EXPECT_EQ(original.GetPointCount(), 5000u);
}

} // namespace

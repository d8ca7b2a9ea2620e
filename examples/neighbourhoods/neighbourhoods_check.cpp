#include "examples/neighbourhoods/neighbourhoods_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

namespace orv::Demo
{

using namespace orv::DataProxy;

bool SameNeighbours(const PointArrays& points, const KdTree& tree, unsigned k, std::size_t stride)
{
    std::vector<double> distance(points.Size());
    std::vector<std::pair<double, std::uint32_t>> all(points.Size());
    std::vector<std::uint32_t> index(k);
    std::vector<double> squared(k);
    for (std::size_t q = 0; q < points.Size(); q += stride)
    {
        const double query[3] = {points.X()[q], points.Y()[q], points.Z()[q]};
        for (std::uint32_t i = 0; i < points.Size(); ++i)
        {
            const double dx = query[0] - points.X()[i], dy = query[1] - points.Y()[i],
                         dz = query[2] - points.Z()[i];
            distance[i] = dx * dx + dy * dy + dz * dz; // in the tree's order of operations
            all[i] = {distance[i], i};
        }
        const std::size_t want = std::min<std::size_t>(k, all.size());
        std::nth_element(all.begin(), all.begin() + (want - 1), all.end());
        const double kth = all[want - 1].first;
        if (tree.index.knnSearch(query, k, index.data(), squared.data()) != want)
            return false;
        // Every point the tree found is within the k-th distance, at its brute-force distance;
        // and every point strictly nearer than the k-th is among them.
        std::size_t nearer = 0;
        for (std::size_t j = 0; j < want; ++j)
            nearer += all[j].first < kth ? 1 : 0;
        std::size_t foundNearer = 0;
        for (std::size_t j = 0; j < want; ++j)
        {
            const double d = distance[index[j]];
            if (d > kth || d != squared[j])
                return false;
            foundNearer += d < kth ? 1 : 0;
        }
        if (foundNearer != nearer)
            return false;
    }
    return true;
}

double LevelPlaneTilt(unsigned k, unsigned threads)
{
    using namespace orv::Data::Cloud;
    PointCloud cloud;
    const double c = std::cos(0.5), s = std::sin(0.5);
    cloud.Convert().SetMatrix({{c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0, 652000.0, 5180000.0, 300.0}});
    orv::Math::Algebra::GPointDouble position{};
    GCloudPointData record(&position);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> metres(0.0, 40.0);
    for (int i = 0; i < 20000; ++i)
    {
        position = {652000.0 + metres(random), 5180000.0 + metres(random), 300.0};
        cloud.AddPoint(record, true);
    }
    const PointCloudDataProvider plane(cloud);
    const PointArrays points = ReadPointArrays(plane, {{}, std::nullopt, threads});
    const KdTree tree(points);
    double tilt = 0.0;
    for (const GVector3& n : Estimate(points, tree, k, threads).normals)
        tilt = std::max(tilt, std::hypot(n.x, n.y, n.z - 1.0)); // up, not down
    return tilt;
}

bool CheckNeighbourhoods(const PointArrays& points, const KdTree& tree, unsigned k,
                         unsigned threads)
{
    const bool same = SameNeighbours(points, tree, k, 500);
    const double tilt = LevelPlaneTilt(k, threads);
    std::printf("neighbours %s brute force on every 500th point; level plane: normals %.1e from "
                "vertical\n",
                same ? "match" : "DIFFER from", tilt);
    return same && tilt <= 1e-6;
}

} // namespace orv::Demo

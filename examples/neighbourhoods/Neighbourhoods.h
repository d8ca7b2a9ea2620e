#pragma once

// The neighbourhood example's algorithm, on positions as arrays: a k-d tree (nanoflann), each
// point's normal from the principal axes of its k nearest neighbours (Eigen), and the
// statistical outlier test on the mean distance to them.
#include <OrvDataProxyImplTzk.h>

#include <Eigen/Eigenvalues>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace orv::Demo
{

using orv::DataProxy::PointArrays;

// The arrays as nanoflann's data set, which the tree keeps a reference to: it lives beside.
struct KdTree
{
    struct Adaptor
    {
        const PointArrays& points;
        std::size_t kdtree_get_point_count() const { return points.Size(); }
        double kdtree_get_pt(std::uint32_t i, std::size_t axis) const
        {
            return (axis == 0 ? points.X() : axis == 1 ? points.Y() : points.Z())[i];
        }
        template <class Box> // none: the tree computes it
        bool kdtree_get_bbox(Box&) const
        {
            return false;
        }
    };
    explicit KdTree(const PointArrays& points) : data{points}, index(3, data, {16}) {}
    Adaptor data;
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Adaptor>, Adaptor, 3,
                                        std::uint32_t>
        index;
};

struct Neighbourhoods
{
    std::vector<orv::DataProxy::GVector3> normals; // unit, facing up (z >= 0)
    std::vector<double> meanDistance;              // to the k - 1 others
};

// Every point's normal and mean neighbour distance from its k nearest neighbours (itself
// included), on `threads` threads, each over its own range of points: queries only read the tree.
inline Neighbourhoods Estimate(const PointArrays& points, const KdTree& tree, unsigned k,
                               unsigned threads)
{
    const std::size_t n = points.Size();
    Neighbourhoods out{std::vector<orv::DataProxy::GVector3>(n), std::vector<double>(n)};
    const auto range = [&](std::size_t begin, std::size_t end)
    {
        std::vector<std::uint32_t> index(k);
        std::vector<double> squared(k);
        Eigen::Matrix3Xd near(3, k); // the neighbours, then their offsets from their mean
        for (std::size_t i = begin; i < end; ++i)
        {
            const double p[3] = {points.X()[i], points.Y()[i], points.Z()[i]};
            const std::size_t found = tree.index.knnSearch(p, k, index.data(), squared.data());
            for (std::size_t j = 0; j < found; ++j)
                near.col(j) << points.X()[index[j]], points.Y()[index[j]], points.Z()[index[j]];
            auto offsets = near.leftCols(found);
            offsets.colwise() -= offsets.rowwise().mean().eval();
            // The axis of least spread (eigenvalues increase), facing the sky.
            Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> axes(offsets * offsets.transpose());
            Eigen::Vector3d normal = axes.eigenvectors().col(0);
            normal *= normal.z() < 0.0 ? -1.0 : 1.0;
            out.normals[i] = {normal.x(), normal.y(), normal.z()};
            const double distances = Eigen::ArrayXd::Map(squared.data(), found).sqrt().sum();
            out.meanDistance[i] = found > 1 ? distances / double(found - 1) : 0.0; // self: 0
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back(range, n * t / threads, n * (t + 1) / threads);
    for (std::thread& worker : workers)
        worker.join();
    return out;
}

// Statistical outlier removal: the points (their indices, in order) whose mean neighbour
// distance is at most `sigmas` standard deviations above the mean of all.
inline std::vector<std::size_t> Inliers(const std::vector<double>& distance, double sigmas)
{
    const auto d = Eigen::ArrayXd::Map(distance.data(), Eigen::Index(distance.size()));
    const double n = std::max<double>(1.0, double(distance.size())), mean = d.sum() / n;
    const double limit = mean + sigmas * std::sqrt((d - mean).square().sum() / n);
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < distance.size(); ++i)
        if (distance[i] <= limit)
            kept.push_back(i);
    return kept;
}

} // namespace orv::Demo

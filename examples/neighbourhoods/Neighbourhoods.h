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

// The arrays as nanoflann's data set. The tree keeps a reference to it, so it lives beside.
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
        template <class Box>
        bool kdtree_get_bbox(Box&) const // none: the tree computes it
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

// Calls f(t, begin, end) for `threads` consecutive ranges of [0, n), range t on thread t.
template <class F>
void OnRanges(std::size_t n, unsigned threads, const F& f)
{
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back([&, t] { f(t, n * t / threads, n * (t + 1) / threads); });
    f(0u, std::size_t{0}, n / threads);
    for (std::thread& worker : workers)
        worker.join();
}

struct Neighbourhoods
{
    std::vector<orv::DataProxy::GVector3> normals; // unit, facing up (z >= 0)
    std::vector<double> meanDistance;              // to the k - 1 others
};

// Every point's normal and mean neighbour distance from its k nearest neighbours (itself
// included), on `threads` threads: queries only read the tree.
inline Neighbourhoods Estimate(const PointArrays& points, const KdTree& tree, unsigned k,
                               unsigned threads)
{
    Neighbourhoods out{std::vector<orv::DataProxy::GVector3>(points.Size()),
                       std::vector<double>(points.Size())};
    const auto at = [&](std::size_t i)
    { return Eigen::Vector3d(points.X()[i], points.Y()[i], points.Z()[i]); };
    OnRanges(points.Size(), threads,
             [&](unsigned, std::size_t begin, std::size_t end)
             {
                 std::vector<std::uint32_t> index(k);
                 std::vector<double> squared(k);
                 for (std::size_t i = begin; i < end; ++i)
                 {
                     const std::size_t found =
                         tree.index.knnSearch(at(i).data(), k, index.data(), squared.data());
                     Eigen::Vector3d mean = Eigen::Vector3d::Zero();
                     for (std::size_t j = 0; j < found; ++j)
                         mean += at(index[j]) / double(found);
                     Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
                     double distances = 0.0; // the point itself adds 0
                     for (std::size_t j = 0; j < found; ++j)
                     {
                         covariance += (at(index[j]) - mean) * (at(index[j]) - mean).transpose();
                         distances += std::sqrt(squared[j]);
                     }
                     // The axis of least spread (eigenvalues increase), facing the sky.
                     Eigen::Vector3d n = Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(covariance)
                                             .eigenvectors()
                                             .col(0);
                     n *= n.z() < 0.0 ? -1.0 : 1.0;
                     out.normals[i] = {n.x(), n.y(), n.z()};
                     out.meanDistance[i] = found > 1 ? distances / double(found - 1) : 0.0;
                 }
             });
    return out;
}

// Statistical outliers: mean neighbour distance above the mean of all by `sigmas` deviations.
inline std::vector<bool> Outliers(const std::vector<double>& distance, double sigmas)
{
    double sum = 0.0, squares = 0.0;
    for (const double d : distance)
        sum += d, squares += d * d;
    const double n = std::max<double>(1.0, double(distance.size())), mean = sum / n;
    const double limit = mean + sigmas * std::sqrt(std::max(0.0, squares / n - mean * mean));
    std::vector<bool> outlier(distance.size());
    std::transform(distance.begin(), distance.end(), outlier.begin(),
                   [limit](double d) { return d > limit; });
    return outlier;
}

} // namespace orv::Demo

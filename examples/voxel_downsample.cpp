// A parallel voxel-grid downsampler written against the point data contract: one output point
// per occupied voxel, at the centroid of its points, carrying the extra data of its first
// point (the lowest point index); then a sphere query on the result, and a check against a
// plain one-thread pass. Built and run by the tests.
//
//   orv_voxel_downsample [--voxel METRES] [--threads T] [--las FILE.las]
#include <OrvDataProxyImplTzk.h>

#include "examples/demo/DemoSteps.h"
#include "examples/demo/LasScan.h"
#include "examples/scan/SyntheticScan.h"
#include "examples/voxel_downsample_check.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace orv::DataProxy;

namespace
{

struct Voxel
{
    GPointDouble sum{};
    std::uint64_t count = 0;
    PointRecord first; // the voxel's point with the lowest index, values included
};
using Grid = std::unordered_map<std::uint64_t, Voxel>;

// 21 bits per axis: voxels alias only in a scan more than 2^21 voxels wide.
std::uint64_t VoxelOf(const GPointDouble& p, double size)
{
    const auto cell = [size](double v)
    { return std::uint64_t(std::int64_t(std::floor(v / size))); };
    return (cell(p.x) & 0x1FFFFF) << 42 | (cell(p.y) & 0x1FFFFF) << 21 | (cell(p.z) & 0x1FFFFF);
}

void Add(Voxel& voxel, const Voxel& other)
{
    voxel.sum = {voxel.sum.x + other.sum.x, voxel.sum.y + other.sum.y, voxel.sum.z + other.sum.z};
    if (voxel.count == 0 || other.first.pointIndex < voxel.first.pointIndex)
        voxel.first = other.first;
    voxel.count += other.count;
}

// The algorithm, contract only: reads `input` on `threads` threads and writes one point per
// voxel through `output`, carrying the values of `keys`.
std::shared_ptr<IPointDataProvider> VoxelDownsample(const IPointDataProvider& input,
                                                    const std::vector<ComponentKey>& keys,
                                                    const IPointDataBuilderFactory& output,
                                                    double size, unsigned threads)
{
    const WantKeys consumer(keys); // outlives the iterables, cursors and builder below
    const auto pieces = SplitIntoPieces(input.GetIterable(consumer), threads);
    std::vector<Grid> grids(pieces.size());
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        workers.emplace_back(
            [&, i]
            {
                Voxel point{{}, 1, {}};
                for (auto cursor = pieces[i]->CreateCursor(); cursor->IsValid(); cursor->MoveNext())
                {
                    point.first.Assign(*cursor, keys);
                    point.sum = point.first.position;
                    Add(grids[i][VoxelOf(point.sum, size)], point);
                }
            });
    for (std::thread& worker : workers)
        worker.join();
    for (std::size_t i = 1; i < grids.size(); ++i)
        for (const auto& [cell, voxel] : grids[i])
            Add(grids[0][cell], voxel);

    const auto builder = output.CreatePointDataBuilder(consumer);
    builder->Reserve(grids[0].size());
    for (auto& [cell, voxel] : grids[0])
    {
        const double n = static_cast<double>(voxel.count);
        voxel.first.position = {voxel.sum.x / n, voxel.sum.y / n, voxel.sum.z / n}; // centroid
        builder->AddPointData(voxel.first);
    }
    return builder->GetResult();
}

int Run(int argc, char** argv)
{
    double size = 5.0;
    unsigned threads = 2;
    std::string las;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--voxel")
            size = std::stod(value);
        else if (option == "--threads")
            threads = static_cast<unsigned>(std::stoul(value));
        else if (option == "--las")
            las = value;
    }

    // The input with the extra data its cloud carries mapped; the output written like it, near
    // its frame's origin (the centroids are stored about as precisely as the input's points).
    orv::Data::Cloud::PointCloudDataProvider source(las.empty() ? orv::Demo::GenerateScan({200'000})
                                                                : orv::Demo::LoadLasScan(las));
    orv::Demo::MapScanExtraData(source);
    const orv::Data::Cloud::PrototypedBuilderFactory like(
        source.GetMapping(), orv::Demo::EmptyCloudAtOriginOf(source.GetPointCloud()));
    const std::vector<ComponentKey> keys = MappedKeys(source.GetMapping());

    const auto start = std::chrono::steady_clock::now();
    const auto thinned = VoxelDownsample(source, keys, like, size, threads);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    // The points within 25 voxels of the centre of the result, through the contract alone.
    const auto [low, high] = AsBoundingBoxProvider(*thinned).GetBoundingBox();
    const GPointDouble centre{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
    const auto near = Select(*thinned, InsideSphereQuery{centre, 25 * size});

    // The check, written apart (voxel_downsample_check.cpp): a plain one-thread pass.
    const bool ok = orv::Demo::MatchesOnePass(source, keys, size, *thinned);
    std::printf("%" PRIu64 " points -> %" PRIu64
                " voxels of %.2f m in %.3f s on %u threads; %" PRIu64
                " within %.0f m of the centre\n%s\n",
                PointCount(source), PointCount(*thinned), size, seconds.count(), threads,
                PointCount(*near), 25 * size, ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        return Run(argc, argv);
    }
    catch (const std::exception& error) // an unreadable LAS file, a bad option value, a position
                                        // a builder refuses
    {
        std::fprintf(stderr, "orv_voxel_downsample: %s\n", error.what());
        return 1;
    }
}

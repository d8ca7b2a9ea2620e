// A parallel voxel-grid downsampler written against the point data contract: one output
// point per occupied voxel, at the centroid of the voxel's points, carrying the extra data
// of the voxel's first point (lowest point index). Then a sphere query on the result.
//
//   orv_voxel_downsample [--voxel METRES] [--threads T] [--las FILE.las]
//
// Without --las it runs on the built-in generated scan. Built and run by the tests.
#include <OrvDataProxyImplTzk.h>

#include "examples/demo/DemoSteps.h"
#include "examples/demo/LasScan.h"
#include "examples/scan/SyntheticScan.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace orv::DataProxy;

namespace
{

struct Voxel
{
    double x = 0, y = 0, z = 0;
    std::uint64_t count = 0;
    PointRecord first; // the values of the voxel's point with the lowest index
};
using Grid = std::unordered_map<std::uint64_t, Voxel>;

// 21 bits per axis: voxels of 0.1 m cover 200 km, more than any tile.
std::uint64_t VoxelOf(const GPointDouble& p, double size)
{
    const auto cell = [size](double v) { return std::uint64_t(std::floor(v / size)) & 0x1FFFFF; };
    return cell(p.x) << 42 | cell(p.y) << 21 | cell(p.z);
}

void Accumulate(Voxel& voxel, const Voxel& other)
{
    voxel.x += other.x, voxel.y += other.y, voxel.z += other.z;
    if (voxel.count == 0 || other.first.pointIndex < voxel.first.pointIndex)
        voxel.first = other.first;
    voxel.count += other.count;
}

// The algorithm: contract only. `keys` are the extra-data keys to carry over; `output`
// makes builders whose keys match them.
std::shared_ptr<IPointDataProvider> VoxelDownsample(const IPointDataProvider& input,
                                                    const std::vector<ComponentKey>& keys,
                                                    const IPointDataBuilderFactory& output,
                                                    double voxelSize, unsigned threads)
{
    const WantKeys consumer(keys); // outlives the iterables, cursors and builder below
    auto pieces = SplitIntoPieces(input.GetIterable(consumer), threads);
    std::vector<Grid> grids(pieces.size());
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        workers.emplace_back([&, i] {
            Voxel point;
            point.count = 1;
            for (auto cursor = pieces[i]->CreateCursor(); cursor->IsValid(); cursor->MoveNext())
            {
                point.first.Assign(*cursor, keys);
                const GPointDouble p = point.first.position;
                point.x = p.x, point.y = p.y, point.z = p.z;
                Accumulate(grids[i][VoxelOf(p, voxelSize)], point);
            }
        });
    for (auto& worker : workers)
        worker.join();
    for (std::size_t i = 1; i < grids.size(); ++i)
        for (const auto& [cell, voxel] : grids[i])
            Accumulate(grids[0][cell], voxel);

    auto builder = output.CreatePointDataBuilder(consumer);
    builder->Reserve(grids.empty() ? 0 : grids[0].size());
    for (auto& entry : grids.empty() ? Grid{} : grids[0])
    {
        Voxel& voxel = entry.second;
        const double n = double(voxel.count);
        voxel.first.position = {voxel.x / n, voxel.y / n, voxel.z / n};
        builder->AddPointData(voxel.first);
    }
    return builder->GetResult();
}

} // namespace

int main(int argc, char** argv)
{
    double voxelSize = 1.0;
    unsigned threads = 2;
    std::string las;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (!std::strcmp(argv[i], "--voxel"))
            voxelSize = std::stod(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--threads"))
            threads = unsigned(std::stoul(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--las"))
            las = argv[i + 1];
    }

    // The input, with its extra data mapped; the output is written like the input.
    orv::Data::Cloud::PointCloudDataProvider source(
        las.empty() ? orv::Demo::GenerateScan({200'000}) : orv::Demo::LoadLasScan(las));
    orv::Demo::MapScanExtraData(source);
    const orv::Data::Cloud::PointCloudDataBuilderFactory like(source.GetMapping());
    const std::vector<ComponentKey> keys = MappedKeys(source.GetMapping());

    const auto start = std::chrono::steady_clock::now();
    const auto thinned = VoxelDownsample(source, keys, like, voxelSize, threads);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // A sphere around the centre of the result, through the contract alone.
    const auto box = dynamic_cast<const IBoundingBoxProvider&>(*thinned).GetBoundingBox();
    const GPointDouble centre{(box.firstCorner.x + box.secondCorner.x) / 2,
                              (box.firstCorner.y + box.secondCorner.y) / 2,
                              (box.firstCorner.z + box.secondCorner.z) / 2};
    const auto near = Select(*thinned, InsideSphereQuery{centre, 50.0});

    // Every output point stands for at least one input point, and no two share a voxel.
    const std::uint64_t in = PointCount(source), out = PointCount(*thinned);
    bool ok = out > 0 && out <= in;
    for (const auto& key : keys)
        ok = ok && thinned->HasComponent(key.component, key.index);
    std::printf("%llu points -> %llu voxels of %.2f m in %.3f s on %u threads; "
                "%llu voxels within 50 m of the centre\n%s\n",
                (unsigned long long)in, (unsigned long long)out, voxelSize, seconds, threads,
                (unsigned long long)PointCount(*near), ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

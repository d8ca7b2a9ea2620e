// Normals and outliers from neighbourhoods, against the point data contract: a scan's positions
// as arrays, a k-d tree over them, each point's normal from the principal axes of its 12 nearest
// neighbours, statistical outlier removal on the mean distance to them, the kept.size() written
// with a builder from blocks, their new normals on the host's normal type, and optionally to LAS.
// Checks itself (neighbourhoods_check.cpp); built and run by the tests. Usage:
//   orv_neighbourhoods [--threads T] [--las FILE.las] [--out RESULT.las]
#include "examples/neighbourhoods/Neighbourhoods.h"
#include "examples/demo/LasScan.h"
#include "examples/neighbourhoods/neighbourhoods_check.h"
#include "examples/scan/SyntheticScan.h"
#include "las/LasWriter.h"

#include <chrono>
#include <cstdio>
#include <string>

using namespace orv::DataProxy;

constexpr unsigned kNeighbours = 12;
constexpr double kSigmas = 2.0; // outlier: mean neighbour distance above mean + 2 sd

int main(int argc, char** argv)
try
{
    unsigned threads = 2;
    std::string las, out;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--threads")
            threads = std::max(1u, static_cast<unsigned>(std::stoul(argv[i + 1])));
        else if (std::string(argv[i]) == "--las")
            las = argv[i + 1];
        else if (std::string(argv[i]) == "--out")
            out = argv[i + 1];

    // The input with the extra data its cloud carries; the output written like it, near the
    // input's origin (its prototype: the host keeps projected coordinates to the millimetre),
    // with a normal on the host's normal type (packed in 4 bytes): the scan's own key if any.
    orv::Data::Cloud::PointCloudDataProvider source(las.empty() ? orv::Demo::GenerateScan({200'000})
                                                                : orv::Demo::LoadLasScan(las));
    const orv::Demo::ScanKeys scan = orv::Demo::MapScanExtraData(source);
    orv::Data::Cloud::PrototypedBuilderFactory like(
        source.GetMapping(), orv::Demo::EmptyCloudAtOriginOf(source.GetPointCloud()));
    const ComponentKey normal =
        scan.normal ? ComponentKey{EPointDataComponent::Vector3, *scan.normal}
                    : like.MapOptionalComponent(EPointDataComponent::Vector3,
                                                orv::Data::Cloud::CloudNormalExtraData::TypeId());
    std::vector<ComponentKey> keys = MappedKeys(source.GetMapping());      // carried over
    keys.erase(std::remove(keys.begin(), keys.end(), normal), keys.end()); // but the old normal

    const auto start = std::chrono::steady_clock::now();
    const PointArrays points = ReadPointArrays(source, {keys, std::nullopt, threads});
    const orv::Demo::KdTree tree(points);
    const orv::Demo::Neighbourhoods hoods = orv::Demo::Estimate(points, tree, kNeighbours, threads);
    const std::vector<std::size_t> kept = orv::Demo::Inliers(hoods.meanDistance, kSigmas);

    // The kept.size() with their values and their new normal, written by a builder a block at a
    // time.
    const WantAll consumer; // outlives the builder
    const auto builder = like.CreatePointDataBuilder(consumer);
    keys.push_back(normal);
    PointDataBlock block(PointDataBlockLayout{true, false, keys});
    const auto normalColumn = block.MutableColumn<EPointDataComponent::Vector3>(normal.index);
    for (std::size_t first = 0; first < kept.size(); first += PointDataBlock::kCapacity)
    {
        block.SetSize(std::min(PointDataBlock::kCapacity, kept.size() - first));
        for (std::size_t j = 0; j < block.Size(); ++j)
        {
            SetBlockPoint(block, j, points.At(kept[first + j])); // position and carried values
            normalColumn.Set(j, hoods.normals[kept[first + j]]);
        }
        AppendBlock(*builder, block);
    }
    const auto result = builder->GetResult();
    std::printf(
        "%zu points, %zu outliers left out, normals from %u neighbours: %.3f s, %u threads\n",
        points.Size(), points.Size() - kept.size(), kNeighbours,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), threads);

    // To LAS: the scan's fields from their keys, the normal as three named extra-bytes doubles.
    Las::LasWriteOptions options;
    options.extraBytes = {{"normal", normal, "unit normal from 12 neighbours"}};
    const std::uint64_t written =
        out.empty() ? kept.size()
                    : Las::WriteLas(out, *result, orv::Demo::LasFieldsOf(scan), options).pointCount;

    // The checks written apart (neighbourhoods_check.cpp); the result's size and normal key.
    const bool ok = orv::Demo::CheckNeighbourhoods(points, tree, kNeighbours, threads) &&
                    PointCount(*result) == kept.size() && written == kept.size() &&
                    result->HasComponent(EPointDataComponent::Vector3, normal.index);
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
catch (const std::exception& error) // an unreadable LAS file, a bad option value
{
    std::fprintf(stderr, "orv_neighbourhoods: %s\n", error.what());
    return 1;
}

// Normals and outliers from neighbourhoods, written against the point data contract: a scan's
// positions as arrays (ReadPointArrays, on two threads), a k-d tree over them, each point's
// normal from the principal axes of its 12 nearest neighbours, statistical outlier removal on
// the mean distance to them, and the inliers written with a builder from blocks, the new normals
// on the host's normal type. Checks itself (neighbourhoods_check.cpp); built and run by the tests.
//
//   orv_neighbourhoods [--threads T] [--las FILE.las] [--out RESULT.las]
#include "examples/neighbourhoods/Neighbourhoods.h"
#include "examples/demo/DemoSteps.h"
#include "examples/demo/LasScan.h"
#include "examples/neighbourhoods/neighbourhoods_check.h"
#include "examples/scan/SyntheticScan.h"
#include "las/LasWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

using namespace orv::DataProxy;

namespace
{

constexpr unsigned kNeighbours = 12;
constexpr double kSigmas = 2.0; // outlier: mean neighbour distance above mean + 2 sd

// The points that are no outliers, with their values and their new normal (key `normal`),
// written by a builder from blocks.
std::shared_ptr<IPointDataProvider>
WriteInliers(const PointArrays& points, const std::vector<GVector3>& normals,
             const std::vector<bool>& outlier, std::vector<ComponentKey> keys, ComponentKey normal,
             const IPointDataBuilderFactory& output)
{
    const WantAll consumer; // outlives the builder
    const auto builder = output.CreatePointDataBuilder(consumer);
    keys.push_back(normal);
    PointDataBlock block(PointDataBlockLayout{true, false, keys});
    const auto normalColumn = block.MutableColumn<EPointDataComponent::Vector3>(normal.index);
    std::size_t n = 0;
    for (std::size_t i = 0; i < points.Size(); ++i)
    {
        if (!outlier[i])
        {
            SetBlockPoint(block, n, points.At(i)); // position and carried values
            normalColumn.Set(n++, normals[i]);
        }
        if (n == PointDataBlock::kCapacity || (i + 1 == points.Size() && n > 0))
        {
            block.SetSize(n);
            AppendBlock(*builder, block);
            n = 0;
        }
    }
    return builder->GetResult();
}

int Run(int argc, char** argv)
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

    // The input with the extra data its cloud carries; the output written like it, with a
    // normal on the host's normal type (Vector3, packed in 4 bytes): the scan's own key if any.
    orv::Data::Cloud::PointCloudDataProvider source(las.empty() ? orv::Demo::GenerateScan({200'000})
                                                                : orv::Demo::LoadLasScan(las));
    const orv::Demo::ScanKeys scan = orv::Demo::MapScanExtraData(source);
    orv::Data::Cloud::PointCloudDataBuilderFactory like(source.GetMapping());
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
    const std::vector<bool> outlier = orv::Demo::Outliers(hoods.meanDistance, kSigmas);
    const auto result = WriteInliers(points, hoods.normals, outlier, keys, normal, like);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    // To LAS: the scan's fields from their keys, the normal as three named extra-bytes doubles.
    const std::size_t inliers = std::count(outlier.begin(), outlier.end(), false);
    std::uint64_t written = inliers;
    if (!out.empty())
    {
        using namespace orv::DataProxy::Las;
        LasFieldMap fields;
        const auto field = [&](ELasField f, EPointDataComponent c, std::optional<unsigned char> i)
        {
            if (i)
                fields.push_back({f, {c, *i}});
        };
        field(ELasField::Intensity, EPointDataComponent::Real, scan.intensity);
        field(ELasField::Classification, EPointDataComponent::UnsignedInteger, scan.classification);
        field(ELasField::PointSourceId, EPointDataComponent::UnsignedInteger, scan.scanId);
        LasWriteOptions options;
        options.extraBytes = {{"normal", normal, "unit normal from 12 neighbours"}};
        written = WriteLas(out, *result, fields, options).pointCount;
    }

    // The checks, written apart: the tree against brute force on every 500th point, normals on a
    // level plane before packing, and the result's size and normal key.
    const bool same = orv::Demo::SameNeighbours(points, tree, kNeighbours, 500);
    const double tilt = orv::Demo::LevelPlaneTilt(kNeighbours, threads);
    const bool ok = same && tilt <= 1e-6 && PointCount(*result) == inliers && written == inliers &&
                    result->HasComponent(EPointDataComponent::Vector3, normal.index);
    std::printf("%zu points, %zu outliers left out, normals from %u neighbours: %.3f s on %u "
                "threads\nneighbours %s brute force on every 500th point; level plane: normals "
                "%.1e from vertical\n%s\n",
                points.Size(), points.Size() - inliers, kNeighbours, seconds.count(), threads,
                same ? "match" : "DIFFER from", tilt, ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        return Run(argc, argv);
    }
    catch (const std::exception& error) // an unreadable LAS file, a bad option value
    {
        std::fprintf(stderr, "orv_neighbourhoods: %s\n", error.what());
        return 1;
    }
}

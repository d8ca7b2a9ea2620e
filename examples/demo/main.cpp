// The demo: what the library does, on a generated scan (default) or a LAS file.
//
//   orv_demo [--points N] [--threads T] [--seed S] [--las FILE] [--picture PATH]
//            [--picture-by class|height|color|intensity] [--verbose]
//
// Reads the scan on several threads through providers and iterables, a block at a time and
// again through cursors (the two must agree), runs the four spatial queries with their
// inversions, copies the points inside a sphere into a new cloud through a builder factory and
// builders, draws a picture, and checks every result. Exits non-zero when any check fails.
#include "examples/demo/DemoSteps.h"
#include "examples/demo/LasScan.h"
#include "examples/scan/SyntheticScan.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

namespace
{

struct Options
{
    orv::Demo::ScanOptions scan;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::string las;
    std::string picture = "demo-overview.png";
    orv::Demo::Render::ColorBy pictureBy = orv::Demo::Render::ColorBy::Auto;
    bool verbose = false;
};

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr,
                 "orv_demo: %s\nusage: orv_demo [--points N] [--threads T] [--seed S] "
                 "[--las FILE] [--picture PATH]\n"
                 "                [--picture-by class|height|color|intensity] [--verbose]\n",
                 problem.c_str());
    std::exit(2);
}

std::string Value(int& i, int argc, char** argv)
{
    if (i + 1 >= argc)
    {
        Usage(std::string("missing value after ") + argv[i]);
    }
    return argv[++i];
}

std::uint64_t Number(int& i, int argc, char** argv)
{
    const std::string text = Value(i, argc, argv);
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-')
    {
        Usage("not a number: " + text);
    }
    return value;
}

Options Parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--points")
        {
            options.scan.points = Number(i, argc, argv);
        }
        else if (arg == "--threads")
        {
            options.threads =
                static_cast<unsigned>(std::clamp<std::uint64_t>(Number(i, argc, argv), 1, 256));
        }
        else if (arg == "--seed")
        {
            options.scan.seed = Number(i, argc, argv);
        }
        else if (arg == "--las")
        {
            options.las = Value(i, argc, argv);
        }
        else if (arg == "--picture")
        {
            options.picture = Value(i, argc, argv);
        }
        else if (arg == "--picture-by")
        {
            const std::string name = Value(i, argc, argv);
            const auto by = orv::Demo::Render::ParseColorBy(name);
            if (!by)
            {
                Usage("--picture-by takes class, height, color or intensity, not " + name);
            }
            options.pictureBy = *by;
        }
        else if (arg == "--verbose")
        {
            options.verbose = true;
        }
        else
        {
            Usage("unknown option " + arg);
        }
    }
    return options;
}

// Counts with thousands separators.
std::string Count(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    {
        digits.insert(static_cast<std::size_t>(i), ",");
    }
    return digits;
}

struct Verdict
{
    int checks = 0;
    int failed = 0;
    const char* Check(bool ok)
    {
        ++checks;
        failed += ok ? 0 : 1;
        return ok ? "ok" : "FAILED";
    }
};

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    try
    {
        using namespace orv::Demo;
        const auto loadStart = std::chrono::steady_clock::now();
        const orv::Data::Cloud::PointCloud cloud =
            options.las.empty() ? GenerateScan(options.scan) : LoadLasScan(options.las);
        const double loadSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
        orv::Data::Cloud::PointCloudDataProvider provider(cloud);
        const ScanKeys keys = MapScanExtraData(provider);
        Verdict verdict;

        const orv::Data::Cloud::GCloud& host = cloud.Convert();
        const double* m = host.GetMatrix().v;
        std::printf("OrvDataProxyImplTzk demo on %s\n",
                    options.las.empty() ? "a generated aerial scan" : options.las.c_str());
        std::printf("scan      %s points (%s stored, %s hidden) in %u subsets, built in %.2f s\n",
                    Count(provider.Size()).c_str(), Count(host.GetStoredPointCount()).c_str(),
                    Count(host.GetStoredPointCount() - provider.Size()).c_str(),
                    host.GetSubsetCount(), loadSeconds);
        std::printf(
            "          frame: %.1f deg about z, origin (%.3f, %.3f, %.3f); extra data:%s%s%s%s%s\n",
            std::atan2(m[3], m[0]) * 180.0 / M_PI, m[9], m[10], m[11], keys.normal ? " normal" : "",
            keys.intensity ? " intensity" : "", keys.classification ? " class" : "",
            keys.scanId ? " scan-id" : "", keys.color ? " color" : "");

        // Read in blocks, then once more point by point through cursors: the same figures.
        const ReadStats stats = ReadInParallel(provider, keys, options.threads, ReadPath::Blocks);
        const ReadStats byCursor =
            ReadInParallel(provider, keys, options.threads, ReadPath::Cursor);
        const bool sameReads =
            byCursor.points == stats.points && byCursor.checksum == stats.checksum &&
            byCursor.perClass == stats.perClass && byCursor.intensitySum == stats.intensitySum &&
            byCursor.normalCount == stats.normalCount;
        std::printf("read      %s points on %u threads (%llu pieces): blocks %.1f M points/s, "
                    "cursor %.1f M points/s, same values: %s   %s\n",
                    Count(stats.points).c_str(), options.threads,
                    static_cast<unsigned long long>(stats.pieces),
                    static_cast<double>(stats.points) / stats.seconds / 1e6,
                    static_cast<double>(byCursor.points) / byCursor.seconds / 1e6,
                    sameReads ? "yes" : "no",
                    verdict.Check(stats.points == provider.Size() && sameReads));
        std::printf("          x %.3f .. %.3f   y %.3f .. %.3f   z %.3f .. %.3f\n", stats.min[0],
                    stats.max[0], stats.min[1], stats.max[1], stats.min[2], stats.max[2]);
        std::string classes;
        for (const auto& [label, count] : stats.perClass)
        {
            classes += "  " + std::to_string(label) + ": " + Count(count);
        }
        std::printf("          classes%s\n", classes.empty() ? " (none)" : classes.c_str());
        if (stats.intensityCount != 0)
        {
            std::printf("          mean intensity %.4f", stats.intensitySum / stats.intensityCount);
        }
        if (keys.normal)
        {
            std::printf(
                "   normals: worst | |n| - 1 | %.1e   %s", stats.worstNormalError,
                verdict.Check(stats.normalCount == stats.points && stats.worstNormalError < 1e-4));
        }
        std::printf("\n");

        const std::uint64_t all = PositionChecksum(provider);
        const std::vector<QueryRun> queries = RunQueries(provider, all);
        std::printf("queries   %-9s %12s %12s  %-9s %9s\n", "", "selected", "rejected", "partition",
                    "time");
        for (const QueryRun& q : queries)
        {
            std::printf("          %-9s %12s %12s  %-9s %7.1f ms\n", q.name.c_str(),
                        Count(q.selected).c_str(), Count(q.rejected).c_str(),
                        verdict.Check(q.partitions), q.seconds * 1e3);
        }

        // The typical request: the points inside the sphere, copied with their extra data.
        const QueryRun& sphere = queries[1];
        const CopyRun copy =
            CopyWithBuilders(*sphere.inside, keys, provider.GetMapping(), options.threads);
        const bool copyOk =
            copy.points == sphere.selected && copy.verified == copy.points && copy.hasKeys;
        std::printf("copy      sphere: %s points through %u builders, merged, %s verified, "
                    "keys kept: %s   %.1f M points/s   %s\n",
                    Count(copy.points).c_str(), copy.builders, Count(copy.verified).c_str(),
                    copy.hasKeys ? "yes" : "no",
                    static_cast<double>(copy.points) / std::max(copy.seconds, 1e-9) / 1e6,
                    verdict.Check(copyOk));

        if (!options.picture.empty())
        {
            const auto pictureStart = std::chrono::steady_clock::now();
            const auto by =
                WritePicture(options.picture, provider, keys, queries, options.pictureBy);
            std::printf(
                "picture   %s (by %s) in %.2f s\n", options.picture.c_str(),
                orv::Demo::Render::ColorByName(by),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - pictureStart)
                    .count());
        }
        if (options.verbose)
        {
            std::printf("checksum  %016llx over %s positions\n",
                        static_cast<unsigned long long>(all), Count(provider.Size()).c_str());
        }
        std::printf("verdict   %s (%d checks, %d failed)\n", verdict.failed == 0 ? "PASS" : "FAIL",
                    verdict.checks, verdict.failed);
        return verdict.failed == 0 ? 0 : 1;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "orv_demo: %s\n", error.what());
        return 1;
    }
}

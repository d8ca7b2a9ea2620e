// The demo: what the library does, on a generated scan (default) or a LAS file.
//
//   orv_demo [--points N] [--threads T] [--seed S] [--las FILE] [--verbose]
//
// Exits non-zero when any verification fails.
#include "examples/demo/DemoSteps.h"
#include "examples/scan/SyntheticScan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    bool verbose = false;
};

[[noreturn]] void Usage(const char* problem)
{
    std::fprintf(stderr,
                 "%s\nusage: orv_demo [--points N] [--threads T] [--seed S] [--las FILE] "
                 "[--verbose]\n",
                 problem);
    std::exit(2);
}

std::uint64_t Number(int& i, int argc, char** argv)
{
    if (i + 1 >= argc)
    {
        Usage("missing value");
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(argv[++i], &end, 10);
    if (end == argv[i] || *end != '\0')
    {
        Usage("not a number");
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
                static_cast<unsigned>(std::max<std::uint64_t>(1, Number(i, argc, argv)));
        }
        else if (arg == "--seed")
        {
            options.scan.seed = Number(i, argc, argv);
        }
        else if (arg == "--las" && i + 1 < argc)
        {
            options.las = argv[++i];
        }
        else if (arg == "--verbose")
        {
            options.verbose = true;
        }
        else
        {
            Usage(("unknown option " + arg).c_str());
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    try
    {
        orv::Data::Cloud::PointCloud cloud = orv::Demo::GenerateScan(options.scan);
        orv::Data::Cloud::PointCloudDataProvider provider(cloud);
        const orv::Demo::ScanKeys keys = orv::Demo::MapScanExtraData(provider);

        std::printf("scan        %llu points\n", static_cast<unsigned long long>(provider.Size()));
        const orv::Demo::ReadStats stats =
            orv::Demo::ReadInParallel(provider, keys, options.threads);
        std::printf("read        %llu points on %u threads (%llu pieces), %.1f M points/s\n",
                    static_cast<unsigned long long>(stats.points), options.threads,
                    static_cast<unsigned long long>(stats.pieces),
                    static_cast<double>(stats.points) / stats.seconds / 1e6);
        std::printf("bounds      x %.3f .. %.3f  y %.3f .. %.3f  z %.3f .. %.3f\n", stats.min[0],
                    stats.max[0], stats.min[1], stats.max[1], stats.min[2], stats.max[2]);
        for (const auto& [label, count] : stats.perClass)
        {
            std::printf("class %3llu   %llu\n", static_cast<unsigned long long>(label),
                        static_cast<unsigned long long>(count));
        }
        if (stats.intensityCount != 0)
        {
            std::printf("intensity   mean %.4f\n",
                        stats.intensitySum / static_cast<double>(stats.intensityCount));
        }
        const bool normalsOk = stats.worstNormalError < 1e-4;
        std::printf("normals     %llu, worst | |n| - 1 | = %.2e (%s)\n",
                    static_cast<unsigned long long>(stats.normalCount), stats.worstNormalError,
                    normalsOk ? "ok" : "FAILED");
        const bool countOk = stats.points == provider.Size();
        std::printf("verdict     %s\n", countOk && normalsOk ? "PASS" : "FAIL");
        return countOk && normalsOk ? 0 : 1;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "orv_demo: %s\n", error.what());
        return 1;
    }
}

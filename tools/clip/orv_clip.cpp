// orv_clip: the points of a LAS file inside a box, a sphere, a cylinder or a set of clipping
// planes (or, with --invert, the others), written to a new LAS file.
//
//   orv_clip IN.las OUT.las --box X0 Y0 Z0 X1 Y1 Z1 | --sphere X Y Z R
//            | --cylinder X Y Z DX DY DZ R LENGTH | --plane NX NY NZ D [--plane ...] [--invert]
//            [--picture FILE.png [--picture-by class|height|color|intensity]]
//
// Loads IN through a builder into a host cloud, selects with the adapter's spatial query,
// writes the selection to OUT and reports counts, times and the bounds written. Every field
// of every point written is its source record's (the writer copies it, found by the record
// number the host cloud carries), with the input's point format, scale, offset and
// variable-length records, the coordinate system first. OUT may not name IN.
// Exit status: 0 done, 1 a file could not be read or written (or a point could not be kept
// within a millimetre in the host cloud: the message says why), 2 a usage error.
#include "builder/PointCloudDataBuilderFactory.h"
#include "helpers/PointDataHelpers.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasDefaultMapping.h"
#include "las/LasPrototype.h"
#include "las/LasReader.h"
#include "las/LasWriter.h"
#include "tools/render/Picture.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <sys/stat.h>

namespace
{

using namespace orv::DataProxy;
using namespace orv::DataProxy::Las;
using Selection = std::variant<std::monostate, InsideAxisAlignedBoxQuery, InsideSphereQuery,
                               InsideCylinderQuery, ClippingPlanesQuery>;

// Files from this size on show their progress on stderr.
constexpr std::uint64_t kProgressFrom = 2'000'000;

struct ClipOptions
{
    std::string in;
    std::string out;
    Selection selection;
    bool invert = false;
    std::string picture; // empty: none
    orv::Demo::Render::ColorBy pictureBy = orv::Demo::Render::ColorBy::Auto;
};

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr,
                 "orv_clip: %s\n"
                 "usage: orv_clip IN.las OUT.las SELECTION [--invert]\n"
                 "  SELECTION is one of\n"
                 "    --box X0 Y0 Z0 X1 Y1 Z1          between two corners\n"
                 "    --sphere X Y Z R                 within R of a centre\n"
                 "    --cylinder X Y Z DX DY DZ R LENGTH\n"
                 "                                     within R of an axis from (X Y Z) along\n"
                 "                                     (DX DY DZ); LENGTH -1: endless both ways\n"
                 "    --plane NX NY NZ D [--plane ...] on the side of every plane n.p = D that\n"
                 "                                     the host's clipping keeps\n"
                 "  --invert                           keep the points outside instead\n"
                 "  --picture FILE.png                 the input from above, faded, with what was\n"
                 "                                     written highlighted\n"
                 "  --picture-by class|height|color|intensity\n"
                 "                                     what the picture's colors show (default:\n"
                 "                                     the file's colors, else height; colour is\n"
                 "                                     color)\n",
                 problem.c_str());
    std::exit(2);
}

// `count` numbers after argv[i]; NaN is refused, infinities are legitimate extents.
std::vector<double> Numbers(int& i, int argc, char** argv, int count)
{
    const std::string option = argv[i];
    std::vector<double> values;
    for (int k = 0; k < count; ++k)
    {
        if (++i >= argc)
            Usage(option + " needs " + std::to_string(count) + " numbers");
        char* end = nullptr;
        const double value = std::strtod(argv[i], &end);
        if (end == argv[i] || *end != '\0' || std::isnan(value))
            Usage(option + ": not a number: " + argv[i]);
        values.push_back(value);
    }
    return values;
}

// A selection that selects by no sensible rule is refused rather than written as an empty
// file: a centre or a plane offset must be finite, a radius not negative, an axis or a normal
// not zero. Box corners may be infinite: an endless extent is a legitimate box.
void CheckSelection(const Selection& selection)
{
    const auto finite = [](const auto& p)
    { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); };
    const auto direction = [&](const auto& v)
    { return finite(v) && (v.x != 0.0 || v.y != 0.0 || v.z != 0.0); };
    if (const auto* sphere = std::get_if<InsideSphereQuery>(&selection))
    {
        if (!finite(sphere->center))
            Usage("--sphere: the centre X Y Z must be finite");
        if (!(sphere->radius >= 0.0))
            Usage("--sphere: the radius R must not be negative");
    }
    else if (const auto* cylinder = std::get_if<InsideCylinderQuery>(&selection))
    {
        if (!finite(cylinder->axisPoint))
            Usage("--cylinder: the axis point X Y Z must be finite");
        if (!direction(cylinder->axisDirection))
            Usage("--cylinder: the axis DX DY DZ must be finite and not zero");
        if (!(cylinder->radius >= 0.0))
            Usage("--cylinder: the radius R must not be negative");
        if (!(cylinder->length >= 0.0 || cylinder->length == -1.0))
            Usage("--cylinder: LENGTH must not be negative (or -1: endless)");
    }
    else if (const auto* planes = std::get_if<ClippingPlanesQuery>(&selection))
        for (const ClippingPlane& plane : planes->planes)
        {
            if (!direction(plane.normal))
                Usage("--plane: the normal NX NY NZ must be finite and not zero");
            if (!std::isfinite(plane.distance))
                Usage("--plane: D must be finite");
        }
}

// The output must not name the input, under whatever path: the same device and inode, or the
// same canonical path (for an output that does not exist yet, through a link's target).
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa
    {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code error;
    const auto ca = std::filesystem::weakly_canonical(a, error);
    const auto cb = std::filesystem::weakly_canonical(b, error);
    return !error && ca == cb;
}

ClipOptions Parse(int argc, char** argv)
{
    ClipOptions options;
    std::vector<std::string> files;
    const auto choose = [&](const std::string& option, Selection selection)
    {
        if (!std::holds_alternative<std::monostate>(options.selection))
            Usage("one selection only (" + option + " given after another)");
        options.selection = std::move(selection);
    };
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--box")
        {
            const auto v = Numbers(i, argc, argv, 6);
            choose(arg, InsideAxisAlignedBoxQuery{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}});
        }
        else if (arg == "--sphere")
        {
            const auto v = Numbers(i, argc, argv, 4);
            choose(arg, InsideSphereQuery{{v[0], v[1], v[2]}, v[3]});
        }
        else if (arg == "--cylinder")
        {
            const auto v = Numbers(i, argc, argv, 8);
            choose(arg, InsideCylinderQuery{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, v[6], v[7]});
        }
        else if (arg == "--plane")
        {
            const auto v = Numbers(i, argc, argv, 4);
            if (auto* planes = std::get_if<ClippingPlanesQuery>(&options.selection))
                planes->planes.push_back({{v[0], v[1], v[2]}, v[3]});
            else
                choose(arg, ClippingPlanesQuery{{{{v[0], v[1], v[2]}, v[3]}}});
        }
        else if (arg == "--invert")
            options.invert = true;
        else if (arg == "--picture" || arg == "--picture-by")
        {
            if (++i >= argc)
                Usage(arg + " needs a value");
            if (arg == "--picture")
                options.picture = argv[i];
            else if (const auto by = orv::Demo::Render::ParseColorBy(argv[i]))
                options.pictureBy = *by;
            else
                Usage(std::string("--picture-by: not one of class, height, color, intensity: ") +
                      argv[i]);
        }
        else if (arg.rfind("--", 0) == 0)
            Usage("unknown option " + arg);
        else
            files.push_back(arg);
    }
    if (files.size() != 2)
        Usage("give one input and one output file");
    if (std::holds_alternative<std::monostate>(options.selection))
        Usage("no selection: give --box, --sphere, --cylinder or --plane");
    CheckSelection(options.selection);
    options.in = files[0];
    options.out = files[1];
    if (SameFile(options.in, options.out))
        Usage("OUT names the input file " + options.in + ": it would be overwritten");
    if (!options.picture.empty() && SameFile(options.in, options.picture))
        Usage("--picture names the input file " + options.in + ": it would be overwritten");
    return options;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Progress on stderr, one line rewritten in place.
void ShowProgress(const char* what, std::uint64_t done, std::uint64_t total)
{
    std::fprintf(stderr, "\rorv_clip: %s %llu of %llu points (%.0f%%)%s", what,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                 100.0 * static_cast<double>(done) / static_cast<double>(total),
                 done == total ? "\n" : "");
}

struct Loaded
{
    std::unique_ptr<LasReader> reader; // the writer copies the records from it
    LasHeader header;
    LasFieldMap fields;
    std::shared_ptr<IPointDataProvider> cloud;
};

// The file's intensity, classification, colour, point source id and record numbers go into
// the host cloud; every other field comes back through the copy of the source record.
Loaded Load(const std::string& path)
{
    auto owned = std::make_unique<LasReader>(path);
    const LasReader& reader = *owned;
    // New clouds framed at the data: the host keeps the file's coordinates as small floats.
    orv::Data::Cloud::PrototypedBuilderFactory factory = LasBuilderFactory(reader.Header());
    Loaded loaded{std::move(owned),
                  reader.Header(),
                  MapDefaultLasFields(factory, reader.Header().HasRgb(), /*recordNumbers=*/true),
                  {}};
    loaded.fields.push_back(
        {ELasField::PointSourceId,
         factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                      orv::Data::Cloud::CloudScanIDExtraData::TypeId(), 4)});
    LasReadOptions options;
    if (reader.Header().pointCount >= kProgressFrom)
        options.progress = [](std::uint64_t done, std::uint64_t total)
        { ShowProgress("reading", done, total); };
    loaded.cloud = reader.ReadAll(factory, loaded.fields, options);
    return loaded;
}

std::unique_ptr<IPointDataProvider> Apply(const IPointDataProvider& cloud,
                                          const Selection& selection, bool invert)
{
    return std::visit(
        [&](const auto& query) -> std::unique_ptr<IPointDataProvider>
        {
            using Q = std::decay_t<decltype(query)>;
            if constexpr (std::is_same_v<Q, std::monostate>)
                return nullptr;
            else
                return Select(cloud, query, invert);
        },
        selection);
}

// The input faded, the written selection over it, with legend and scale.
void WritePicture(const ClipOptions& options, const Loaded& loaded,
                  const IPointDataProvider& selected, std::uint64_t written)
{
    namespace Render = orv::Demo::Render;
    Render::PictureKeys keys;
    for (const LasFieldKey& field : loaded.fields)
    {
        if (field.field == ELasField::Classification)
            keys.classification = field.key.index;
        else if (field.field == ELasField::Rgb)
            keys.color = field.key.index;
        else if (field.field == ELasField::Intensity)
            keys.intensity = field.key.index;
    }
    Render::PictureOptions picture;
    picture.colorBy = options.pictureBy;
    const IBoundingBoxProvider& bounds = AsBoundingBoxProvider(*loaded.cloud);
    const std::string label = std::string(options.invert ? "OUTSIDE, WRITTEN" : "WRITTEN");
    // The input as it is above, what the clip kept below: one look tells whether the
    // selection is the one meant.
    const Render::Picture input = Render::RenderOverview(*loaded.cloud, bounds, keys, picture);
    const Render::Picture clip =
        Render::RenderSelections(*loaded.cloud, bounds, keys, {{label, &selected}}, picture);
    Render::Arrange({&input.image, &clip.image}, /*sideBySide=*/false).WritePng(options.picture);
    std::printf("picture  %s: the input above, the %llu written points below\n",
                options.picture.c_str(), static_cast<unsigned long long>(written));
}

// An interrupted clip leaves no temporary file: the handler removes it, then ends the
// program as the signal would have.
extern "C" void OnSignal(int signal)
{
    RemoveUnfinishedFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char** argv)
{
    const ClipOptions options = Parse(argc, argv);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, OnSignal);
    try
    {
        using Clock = std::chrono::steady_clock;
        const auto loadStart = Clock::now();
        const Loaded loaded = Load(options.in);
        const double loadSeconds = SecondsSince(loadStart);
        const std::uint64_t total = PointCount(*loaded.cloud);
        std::printf("read     %llu points of %s (LAS %u.%u, point format %u) in %.1f ms, %.2f M "
                    "points/s\n",
                    static_cast<unsigned long long>(total), options.in.c_str(),
                    unsigned{loaded.header.versionMajor}, unsigned{loaded.header.versionMinor},
                    unsigned{loaded.header.pointFormat}, loadSeconds * 1e3,
                    static_cast<double>(total) / std::max(loadSeconds, 1e-9) / 1e6);

        const auto selectStart = Clock::now();
        const std::unique_ptr<IPointDataProvider> selected =
            Apply(*loaded.cloud, options.selection, options.invert);
        const std::uint64_t kept = PointCount(*selected);
        std::printf("selected %llu points (%s), %llu left out, in %.1f ms\n",
                    static_cast<unsigned long long>(kept),
                    options.invert ? "outside, inverted" : "inside",
                    static_cast<unsigned long long>(total - kept), SecondsSince(selectStart) * 1e3);

        const auto writeStart = Clock::now();
        LasWriteOptions write;
        write.source = loaded.reader.get();
        if (kept >= kProgressFrom)
            write.progress = [kept](std::uint64_t done) { ShowProgress("writing", done, kept); };
        const LasWriteSummary summary = WriteLas(options.out, *selected, loaded.fields, write);
        std::printf("wrote    %llu points to %s (LAS 1.%u, point format %u) in %.1f ms\n",
                    static_cast<unsigned long long>(summary.pointCount), options.out.c_str(),
                    unsigned{summary.versionMinor}, unsigned{summary.pointFormat},
                    SecondsSince(writeStart) * 1e3);
        std::printf("bounds   x %.3f .. %.3f   y %.3f .. %.3f   z %.3f .. %.3f\n", summary.min[0],
                    summary.max[0], summary.min[1], summary.max[1], summary.min[2], summary.max[2]);
        if (!options.picture.empty())
            WritePicture(options, loaded, *selected, kept);
        return 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "orv_clip: %s\n", error.what());
        return 1;
    }
}

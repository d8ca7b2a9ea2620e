#include "examples/demo/DemoSteps.h"

#include "blocks/PointDataBlockAppend.h"
#include "blocks/PointDataBlocks.h"
#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "helpers/PointDataHelpers.h"
#include "host/geometry/ExtraDataTypes.h"
#include "las/LasPrototype.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace orv::Demo
{
namespace
{

using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::WantAll;
using Pieces = std::vector<std::shared_ptr<orv::DataProxy::IPointDataIterable>>;

// A few pieces per worker, so that a worker that finishes early takes no idle share.
constexpr unsigned kPiecesPerWorker = 4;

std::uint64_t Mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 33);
}

std::uint64_t PointHash(std::uint64_t index, const orv::DataProxy::GPointDouble& p)
{
    std::uint64_t bits[3];
    std::memcpy(bits, &p, sizeof bits);
    return Mix(index ^ Mix(bits[0] ^ Mix(bits[1] ^ Mix(bits[2]))));
}

ReadStats EmptyStats()
{
    ReadStats stats;
    const double inf = std::numeric_limits<double>::infinity();
    stats.min = {inf, inf, inf};
    stats.max = {-inf, -inf, -inf};
    return stats;
}

// What both read paths do with each point. Labels below 256 are counted in an array and only
// handed to the map at the end, so that the map's look-up does not dominate the read.
struct PieceStats
{
    ReadStats stats = EmptyStats();
    std::array<std::uint64_t, 256> smallLabels{};

    void Add(std::uint64_t index, const orv::DataProxy::GPointDouble& p,
             const std::optional<std::uint64_t>& label, const std::optional<double>& intensity,
             const std::optional<orv::DataProxy::GVector3>& n)
    {
        ++stats.points;
        stats.min = {std::min(stats.min[0], p.x), std::min(stats.min[1], p.y),
                     std::min(stats.min[2], p.z)};
        stats.max = {std::max(stats.max[0], p.x), std::max(stats.max[1], p.y),
                     std::max(stats.max[2], p.z)};
        stats.checksum += PointHash(index, p);
        if (label)
        {
            if (*label < smallLabels.size())
                ++smallLabels[*label];
            else
                ++stats.perClass[*label];
        }
        if (intensity)
        {
            stats.intensitySum += *intensity;
            ++stats.intensityCount;
        }
        if (n)
        {
            const double length = std::sqrt(n->x * n->x + n->y * n->y + n->z * n->z);
            stats.worstNormalError = std::max(stats.worstNormalError, std::abs(length - 1.0));
            ++stats.normalCount;
        }
    }

    ReadStats Finish()
    {
        for (std::size_t label = 0; label < smallLabels.size(); ++label)
        {
            if (smallLabels[label] != 0)
                stats.perClass[label] += smallLabels[label];
        }
        return stats;
    }
};

template <class T>
std::optional<T> Get(const std::optional<unsigned char>& key,
                     std::optional<T> (orv::DataProxy::IPointDataAccessor::*getter)(unsigned char)
                         const,
                     const orv::DataProxy::IPointDataAccessor& point)
{
    return key ? (point.*getter)(*key) : std::nullopt;
}

ReadStats ReadPiece(const orv::DataProxy::IPointDataIterable& piece, const ScanKeys& keys)
{
    using Accessor = orv::DataProxy::IPointDataAccessor;
    PieceStats sums;
    for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
    {
        sums.Add(cursor->GetPointIndex(), cursor->GetPosition(),
                 Get(keys.classification, &Accessor::GetUnsignedInteger, *cursor),
                 Get(keys.intensity, &Accessor::GetReal, *cursor),
                 Get(keys.normal, &Accessor::GetVector3, *cursor));
    }
    return sums.Finish();
}

// The i-th value of the key's column of the block, if the block has the key and the point a value.
template <EPointDataComponent C>
auto Value(const orv::DataProxy::PointDataBlock& block, const std::optional<unsigned char>& key,
           std::size_t i) -> std::optional<typename orv::DataProxy::ComponentValue<C>::Type>
{
    if (!key)
        return std::nullopt;
    const auto column = block.Column<C>(*key);
    if (!column || column.present[i] == 0)
        return std::nullopt;
    return column.values[i];
}

ReadStats ReadPieceInBlocks(const orv::DataProxy::IPointDataIterable& piece,
                            const orv::DataProxy::IPointDataConsumer& consumer,
                            const ScanKeys& keys)
{
    PieceStats sums;
    orv::DataProxy::ForEachBlock(
        piece, consumer,
        [&](const orv::DataProxy::PointDataBlock& block)
        {
            for (std::size_t i = 0; i < block.Size(); ++i)
            {
                sums.Add(block.PointIndices()[i], {block.X()[i], block.Y()[i], block.Z()[i]},
                         Value<EPointDataComponent::UnsignedInteger>(block, keys.classification, i),
                         Value<EPointDataComponent::Real>(block, keys.intensity, i),
                         Value<EPointDataComponent::Vector3>(block, keys.normal, i));
            }
        });
    return sums.Finish();
}

void Merge(ReadStats& total, const ReadStats& part)
{
    total.points += part.points;
    for (int a = 0; a < 3; ++a)
    {
        total.min[a] = std::min(total.min[a], part.min[a]);
        total.max[a] = std::max(total.max[a], part.max[a]);
    }
    for (const auto& [label, count] : part.perClass)
    {
        total.perClass[label] += count;
    }
    total.intensitySum += part.intensitySum;
    total.intensityCount += part.intensityCount;
    total.normalCount += part.normalCount;
    total.worstNormalError = std::max(total.worstNormalError, part.worstNormalError);
    total.checksum += part.checksum;
}

} // namespace

ScanKeys MapScanExtraData(orv::Data::Cloud::PointCloudDataProvider& provider)
{
    using namespace orv::Data::Cloud;
    const PointCloud copy = provider.GetPointCloud();
    const GCloud& cloud = copy.Convert();
    ScanKeys keys;
    const auto map = [&](EPointDataComponent component, int type)
    {
        return cloud.HasExtraData(type) ? provider.MapOptionalComponent(component, type)
                                        : std::nullopt;
    };
    keys.normal = map(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
    // Intensities: the host's own intensity type unless it holds colours, else the float one.
    if (cloud.GetType() != 2)
    {
        keys.intensity = map(EPointDataComponent::Real, CloudIntensityExtraData::TypeId());
    }
    if (!keys.intensity)
    {
        keys.intensity = map(EPointDataComponent::Real, CloudIntensityNewExtraData::TypeId());
    }
    keys.classification =
        map(EPointDataComponent::UnsignedInteger, CloudClassificationExtraData::TypeId());
    keys.scanId = map(EPointDataComponent::UnsignedInteger, CloudScanIDExtraData::TypeId());
    if (cloud.GetType() == 2)
    {
        keys.color = map(EPointDataComponent::Color, CloudIntensityExtraData::TypeId());
    }
    return keys;
}

ReadStats ReadInParallel(const orv::Data::Cloud::PointCloudDataProvider& provider,
                         const ScanKeys& keys, unsigned threads, ReadPath path)
{
    threads = std::max(1u, threads);
    const WantAll consumer;
    const auto started = std::chrono::steady_clock::now();

    const Pieces work =
        orv::DataProxy::SplitIntoPieces(provider.GetIterable(consumer), kPiecesPerWorker * threads);

    std::vector<ReadStats> partial(threads, EmptyStats());
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
    {
        workers.emplace_back(
            [&, t]
            {
                for (std::size_t i = t; i < work.size(); i += threads)
                {
                    Merge(partial[t], path == ReadPath::Blocks
                                          ? ReadPieceInBlocks(*work[i], consumer, keys)
                                          : ReadPiece(*work[i], keys));
                }
            });
    }
    for (std::thread& worker : workers)
    {
        worker.join();
    }

    ReadStats total = EmptyStats();
    for (const ReadStats& part : partial)
    {
        Merge(total, part);
    }
    total.pieces = work.size();
    total.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return total;
}

std::uint64_t PositionChecksum(const orv::DataProxy::IPointDataProvider& provider)
{
    const WantAll consumer;
    std::uint64_t sum = 0;
    for (auto cursor = provider.GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        sum += PointHash(0, cursor->GetPosition());
    }
    return sum;
}

namespace
{

template <class Q>
QueryRun Run(const char* name, const orv::Data::Cloud::PointCloudDataProvider& provider,
             const Q& query, std::uint64_t allChecksum)
{
    QueryRun run;
    run.name = name;
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<orv::DataProxy::IPointDataProvider> inside = provider.GetPoints(query, false);
    std::unique_ptr<orv::DataProxy::IPointDataProvider> outside = provider.GetPoints(query, true);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.selected = orv::DataProxy::PointCount(*inside);
    run.rejected = orv::DataProxy::PointCount(*outside);
    run.partitions = run.selected + run.rejected == provider.Size() &&
                     PositionChecksum(*inside) + PositionChecksum(*outside) == allChecksum;
    run.inside = std::move(inside);
    return run;
}

} // namespace

std::vector<QueryRun> RunQueries(const orv::Data::Cloud::PointCloudDataProvider& provider,
                                 std::uint64_t allPointsChecksum)
{
    const auto box = provider.GetBoundingBox();
    const auto& lo = box.firstCorner;
    const auto& hi = box.secondCorner;
    const double cx = 0.5 * (lo.x + hi.x);
    const double cy = 0.5 * (lo.y + hi.y);
    const double cz = 0.5 * (lo.z + hi.z);
    const double sx = hi.x - lo.x;
    const double sy = hi.y - lo.y;

    std::vector<QueryRun> runs;
    // The whole height, with a margin: whether a point on a box's face is inside is the host's
    // choice, and the highest roof lies exactly on the bounding box's top.
    runs.push_back(
        Run("box", provider,
            orv::DataProxy::InsideAxisAlignedBoxQuery{{cx - 0.25 * sx, cy - 0.25 * sy, lo.z - 1.0},
                                                      {cx + 0.25 * sx, cy + 0.25 * sy, hi.z + 1.0}},
            allPointsChecksum));
    runs.push_back(Run("sphere", provider,
                       orv::DataProxy::InsideSphereQuery{{cx, cy, cz}, 0.2 * std::min(sx, sy)},
                       allPointsChecksum));
    runs.push_back(Run("cylinder", provider,
                       orv::DataProxy::InsideCylinderQuery{{lo.x + 0.25 * sx, lo.y + 0.7 * sy, cz},
                                                           {0.0, 0.0, 1.0},
                                                           0.15 * std::min(sx, sy),
                                                           -1.0},
                       allPointsChecksum));
    orv::DataProxy::ClippingPlanesQuery planes;
    planes.planes.push_back({{1.0, 0.0, 0.0}, cx});   // keeps x >= cx
    planes.planes.push_back({{0.0, -1.0, 0.0}, -cy}); // keeps y <= cy
    runs.push_back(Run("planes", provider, planes, allPointsChecksum));
    return runs;
}

namespace
{

// One point as compared between the source and the copy.
struct CopiedPoint
{
    std::array<double, 3> position;
    std::array<std::uint64_t, 2> labels; // classification, scan id
    double intensity;
    std::array<double, 3> normal;
    std::array<double, 3> color;
};

void Snapshot(const orv::DataProxy::IPointDataIterable& iterable, const ScanKeys& keys,
              std::vector<CopiedPoint>& points)
{
    for (auto c = iterable.CreateCursor(); c->IsValid(); c->MoveNext())
    {
        CopiedPoint p{};
        const auto q = c->GetPosition();
        p.position = {q.x, q.y, q.z};
        if (keys.classification)
        {
            p.labels[0] = c->GetUnsignedInteger(*keys.classification).value_or(~0ull);
        }
        if (keys.scanId)
        {
            p.labels[1] = c->GetUnsignedInteger(*keys.scanId).value_or(~0ull);
        }
        if (keys.intensity)
        {
            p.intensity = c->GetReal(*keys.intensity).value_or(-1.0);
        }
        if (keys.normal)
        {
            const auto n = c->GetVector3(*keys.normal).value_or(orv::DataProxy::GVector3{9, 9, 9});
            p.normal = {n.x, n.y, n.z};
        }
        if (keys.color)
        {
            const auto rgb =
                c->GetColor(*keys.color).value_or(orv::DataProxy::RgbaColor{9, 9, 9, 9});
            p.color = {rgb.r, rgb.g, rgb.b};
        }
        points.push_back(p);
    }
}

bool Near(const std::array<double, 3>& a, const std::array<double, 3>& b, double tolerance)
{
    return std::abs(a[0] - b[0]) <= tolerance && std::abs(a[1] - b[1]) <= tolerance &&
           std::abs(a[2] - b[2]) <= tolerance;
}

} // namespace

orv::Data::Cloud::PointCloud EmptyCloudAtOriginOf(const orv::Data::Cloud::PointCloud& source)
{
    const double* origin = source.Convert().GetMatrix().v + 9;
    return orv::DataProxy::Las::PrototypeAt(origin[0], origin[1], origin[2]);
}

CopyRun CopyWithBuilders(const orv::DataProxy::IPointDataProvider& selection, const ScanKeys& keys,
                         const orv::Data::Cloud::ComponentMapping& mapping, unsigned threads)
{
    threads = std::max(1u, threads);
    CopyRun run;
    const auto started = std::chrono::steady_clock::now();

    // Written like the selection: the same keys with the same indices, each at its type's
    // width (the host's own intensities, whose meaning follows a colour mode a builder does not
    // set, as plain floats, which read back the same on any host), near the selection's origin.
    const orv::Data::Cloud::PrototypedBuilderFactory factory(
        mapping, EmptyCloudAtOriginOf(
                     dynamic_cast<const orv::Data::Cloud::PointCloudDataProvider&>(selection)
                         .GetPointCloud()));
    const WantAll consumer;
    const Pieces pieces = orv::DataProxy::SplitIntoPieces(selection.GetIterable(consumer),
                                                          kPiecesPerWorker * threads);
    std::vector<std::shared_ptr<orv::DataProxy::IPointDataBuilder>> builders;
    for (unsigned t = 0; t < threads; ++t)
    {
        builders.push_back(factory.CreatePointDataBuilder(consumer));
    }
    std::vector<std::uint64_t> added(threads, 0);
    std::vector<std::exception_ptr> failures(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
    {
        workers.emplace_back(
            [&, t]
            {
                // A block at a time: read as columns, appended as columns.
                try
                {
                    for (std::size_t i = t; i < pieces.size(); i += threads)
                    {
                        orv::DataProxy::ForEachBlock(
                            *pieces[i], consumer,
                            [&](const orv::DataProxy::PointDataBlock& block)
                            {
                                orv::DataProxy::AppendBlock(*builders[t], block);
                                added[t] += block.Size();
                            });
                    }
                }
                catch (...)
                {
                    failures[t] = std::current_exception();
                }
            });
    }
    for (std::thread& worker : workers)
    {
        worker.join();
    }
    for (const std::exception_ptr& failure : failures)
    {
        if (failure)
        {
            std::rethrow_exception(failure);
        }
    }
    for (unsigned t = 1; t < threads; ++t)
    {
        orv::Data::Cloud::MergeBuilders(*builders[0], *builders[t]);
    }
    const std::shared_ptr<orv::DataProxy::IPointDataProvider> result = builders[0]->GetResult();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.builders = threads;
    for (std::uint64_t n : added)
    {
        run.points += n;
    }
    run.hasKeys = true;
    for (const auto& [key, type] : factory.mapping.extraDataTypeByKey)
    {
        (void)type;
        run.hasKeys = run.hasKeys && result->HasComponent(key.component, key.index);
    }

    // Verify point by point: positions within the float precision of the frame the host gave
    // the new cloud (sub-millimetre when the frame lies near the points, as the reference host
    // puts it; a quarter of a metre at 5,000 km when the host keeps the identity frame),
    // normals re-packed (1e-4, or what the host's codec gives again), the rest exact.
    // The copy holds builder 0's points, then builder 1's, ...; each builder took the pieces
    // t, t + threads, ... in turn.
    std::vector<CopiedPoint> source;
    for (unsigned t = 0; t < threads; ++t)
    {
        for (std::size_t i = t; i < pieces.size(); i += threads)
        {
            Snapshot(*pieces[i], keys, source);
        }
    }
    std::vector<CopiedPoint> copy;
    Snapshot(*result->GetIterable(consumer), keys, copy);
    const orv::Data::Cloud::PointCloud stored =
        dynamic_cast<const orv::Data::Cloud::PointCloudDataProvider&>(*result).GetPointCloud();
    const double* origin = stored.Convert().GetMatrix().v + 9;
    for (std::size_t i = 0; i < std::min(source.size(), copy.size()); ++i)
    {
        const CopiedPoint& a = source[i];
        const CopiedPoint& b = copy[i];
        const double far = std::hypot(a.position[0] - origin[0], a.position[1] - origin[1],
                                      a.position[2] - origin[2]);
        if (Near(a.position, b.position, 1e-3 + std::ldexp(far, -23)) && a.labels == b.labels &&
            a.intensity == b.intensity && Near(a.normal, b.normal, 1e-4) && a.color == b.color)
        {
            ++run.verified;
        }
    }
    if (copy.size() != source.size())
    {
        run.verified = 0;
    }
    return run;
}

orv::Demo::Render::ColorBy WritePicture(const std::string& path,
                                        const orv::Data::Cloud::PointCloudDataProvider& provider,
                                        const ScanKeys& keys, const std::vector<QueryRun>& queries,
                                        orv::Demo::Render::ColorBy colorBy)
{
    namespace Render = orv::Demo::Render;
    const Render::PictureKeys pictureKeys{keys.classification, keys.color, keys.intensity};
    Render::PictureOptions options;
    options.colorBy = colorBy;
    const Render::Picture overview =
        Render::RenderOverview(provider, provider, pictureKeys, options);
    std::vector<Render::Selection> selections;
    for (const QueryRun& query : queries)
    {
        selections.push_back({query.name, query.inside.get()});
    }
    const Render::Picture selected =
        Render::RenderSelections(provider, provider, pictureKeys, selections, options);
    // Clearly wide scans one panel above the other, the others side by side.
    const bool sideBySide = 4 * overview.map.width <= 5 * overview.map.height;
    Render::Arrange({&overview.image, &selected.image}, sideBySide).WritePng(path);
    return overview.coloredBy;
}

} // namespace orv::Demo

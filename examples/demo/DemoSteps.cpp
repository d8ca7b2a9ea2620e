#include "examples/demo/DemoSteps.h"

#include "host/geometry/ExtraDataTypes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace orv::Demo
{
namespace
{

using orv::DataProxy::EPointDataComponent;

// Wants every component.
class WantEverything final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

class PieceSize final : public orv::DataProxy::IPointDataSplitHint
{
public:
    PieceSize(std::uint64_t workerCount, std::uint64_t minimumPiece)
        : workers(workerCount), minimum(minimumPiece)
    {
    }
    std::uint64_t GetConcurrency() const override { return workers; }
    std::uint64_t GetMinimumPieceSize() const override { return minimum; }

private:
    std::uint64_t workers;
    std::uint64_t minimum;
};

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

ReadStats ReadPiece(const orv::DataProxy::IPointDataIterable& piece, const ScanKeys& keys)
{
    ReadStats stats = EmptyStats();
    for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
    {
        const orv::DataProxy::GPointDouble p = cursor->GetPosition();
        ++stats.points;
        stats.min = {std::min(stats.min[0], p.x), std::min(stats.min[1], p.y),
                     std::min(stats.min[2], p.z)};
        stats.max = {std::max(stats.max[0], p.x), std::max(stats.max[1], p.y),
                     std::max(stats.max[2], p.z)};
        stats.checksum += PointHash(cursor->GetPointIndex(), p);
        if (keys.classification)
        {
            if (const auto label = cursor->GetUnsignedInteger(*keys.classification))
            {
                ++stats.perClass[*label];
            }
        }
        if (keys.intensity)
        {
            if (const auto value = cursor->GetReal(*keys.intensity))
            {
                stats.intensitySum += *value;
                ++stats.intensityCount;
            }
        }
        if (keys.normal)
        {
            if (const auto n = cursor->GetVector3(*keys.normal))
            {
                const double length = std::sqrt(n->x * n->x + n->y * n->y + n->z * n->z);
                stats.worstNormalError = std::max(stats.worstNormalError, std::abs(length - 1.0));
                ++stats.normalCount;
            }
        }
    }
    return stats;
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
    if (cloud.HasExtraData(CloudNormalExtraData::TypeId()))
    {
        keys.normal = provider.MapOptionalComponent(EPointDataComponent::Vector3,
                                                    CloudNormalExtraData::TypeId());
    }
    if (cloud.HasExtraData(CloudIntensityExtraData::TypeId()) && cloud.GetType() != 2)
    {
        keys.intensity = provider.MapOptionalComponent(EPointDataComponent::Real,
                                                       CloudIntensityExtraData::TypeId());
    }
    else if (cloud.HasExtraData(CloudIntensityNewExtraData::TypeId()))
    {
        keys.intensity = provider.MapOptionalComponent(EPointDataComponent::Real,
                                                       CloudIntensityNewExtraData::TypeId());
    }
    if (cloud.HasExtraData(CloudClassificationExtraData::TypeId()))
    {
        keys.classification = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                            CloudClassificationExtraData::TypeId());
    }
    if (cloud.HasExtraData(CloudScanIDExtraData::TypeId()))
    {
        keys.scanId = provider.MapOptionalComponent(EPointDataComponent::UnsignedInteger,
                                                    CloudScanIDExtraData::TypeId());
    }
    if (cloud.GetType() == 2 && cloud.HasExtraData(CloudIntensityExtraData::TypeId()))
    {
        keys.color = provider.MapOptionalComponent(EPointDataComponent::Color,
                                                   CloudIntensityExtraData::TypeId());
    }
    return keys;
}

ReadStats ReadInParallel(const orv::Data::Cloud::PointCloudDataProvider& provider,
                         const ScanKeys& keys, unsigned threads)
{
    threads = std::max(1u, threads);
    const WantEverything consumer;
    const auto started = std::chrono::steady_clock::now();

    // Halve pieces until there are a few per worker (or they get too small to split).
    std::deque<std::unique_ptr<orv::DataProxy::IPointDataIterable>> pieces;
    std::shared_ptr<orv::DataProxy::IPointDataIterable> whole = provider.GetIterable(consumer);
    const PieceSize hint(threads, std::max<std::uint64_t>(1, provider.Size() / (threads * 4)));
    std::vector<orv::DataProxy::IPointDataIterable*> work{whole.get()};
    for (std::size_t i = 0; i < work.size(); ++i)
    {
        while (work[i]->IsDivisible(hint))
        {
            pieces.push_back(work[i]->Split());
            work.push_back(pieces.back().get());
        }
    }

    std::vector<ReadStats> partial(threads, EmptyStats());
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
    {
        workers.emplace_back(
            [&, t]
            {
                for (std::size_t i = t; i < work.size(); i += threads)
                {
                    Merge(partial[t], ReadPiece(*work[i], keys));
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

} // namespace orv::Demo

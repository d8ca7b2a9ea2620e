// Reading fast: the points of a cloud a block at a time, on two threads, with one extra-data
// attribute; the same figures read once more through a cursor must agree exactly.
//
// Built and run by the tests, so this example always compiles and works.
#include <OrvDataProxyImplTzk.h>

#include "host/geometry/Cloud.h"
#include "host/geometry/ExtraDataTypes.h"

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace orv::Data::Cloud;
using orv::DataProxy::EPointDataComponent;
using orv::DataProxy::PointDataBlock;

namespace
{

class WantAll final : public orv::DataProxy::IPointDataConsumer
{
public:
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override { return true; }
};

// 100,000 points on a slope, every third one classified 2 (ground).
PointCloud MakeCloud()
{
    PointCloud cloud;
    orv::Math::Algebra::GPointDouble position{};
    std::uint8_t classification = 0;
    GCloudPointData record(&position);
    record.AddExtraData(CloudClassificationExtraData::TypeId(), &classification);
    for (int i = 0; i < 100000; ++i)
    {
        position = {652000.0 + (i % 1000) * 0.1, 5180000.0 + (i / 1000) * 0.1, 300.0 + i * 1e-4};
        classification = static_cast<std::uint8_t>(i % 3 == 0 ? 2 : 1);
        cloud.AddPoint(record, true);
    }
    return cloud;
}

struct Heights
{
    double groundSum = 0.0;
    std::uint64_t ground = 0;
};

} // namespace

int main()
{
    PointCloudDataProvider provider(MakeCloud());
    const unsigned char cls = *provider.MapOptionalComponent(
        EPointDataComponent::UnsignedInteger, CloudClassificationExtraData::TypeId());
    const WantAll consumer;

    // Two pieces of one iterable, each read with ForEachBlock on its own thread.
    const std::shared_ptr<orv::DataProxy::IPointDataIterable> lower =
        provider.GetIterable(consumer);
    const std::unique_ptr<orv::DataProxy::IPointDataIterable> upper = lower->Split();
    std::vector<Heights> parts(2);
    auto read = [&](const orv::DataProxy::IPointDataIterable& piece, Heights& out)
    {
        orv::DataProxy::ForEachBlock(
            piece, consumer,
            [&](const PointDataBlock& block)
            {
                const double* z = block.Z();
                const auto labels = block.Column<EPointDataComponent::UnsignedInteger>(cls);
                for (std::size_t i = 0; i < block.Size(); ++i)
                {
                    const bool ground = labels.present[i] != 0 && labels.values[i] == 2;
                    out.groundSum += ground ? z[i] : 0.0;
                    out.ground += ground ? 1 : 0;
                }
            });
    };
    std::thread worker([&] { read(*upper, parts[1]); });
    read(*lower, parts[0]);
    worker.join();

    // The same through a cursor, piece by piece: the sums agree to the bit.
    std::vector<Heights> byCursor(2);
    for (int k = 0; k < 2; ++k)
    {
        const orv::DataProxy::IPointDataIterable& piece = k == 0 ? *lower : *upper;
        for (auto cursor = piece.CreateCursor(); cursor->IsValid(); cursor->MoveNext())
        {
            const bool ground = cursor->GetUnsignedInteger(cls) == std::uint64_t{2};
            byCursor[k].groundSum += ground ? cursor->GetPosition().z : 0.0;
            byCursor[k].ground += ground ? 1 : 0;
        }
    }
    const std::uint64_t ground = parts[0].ground + parts[1].ground;
    const double mean = (parts[0].groundSum + parts[1].groundSum) / static_cast<double>(ground);
    const double cursorMean = (byCursor[0].groundSum + byCursor[1].groundSum) /
                              static_cast<double>(byCursor[0].ground + byCursor[1].ground);
    std::printf("%llu ground points, mean height %.6f m (cursor: %.6f m)\n",
                static_cast<unsigned long long>(ground), mean, cursorMean);
    return ground == 33334 && mean == cursorMean ? 0 : 1;
}

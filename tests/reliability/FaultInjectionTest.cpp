// Fault injection: one job (three builders filled and merged, a query of the result split and
// read in pieces, copies of what was built) run with one failure source failing at its n-th
// call, for every n until the job no longer reaches it. The sources: the consumer, the accessor
// and the splitting hint (throwing at their n-th call), the host's orv::Alloc and the global
// operator new (failing at the n-th allocation). A fault must pass through unchanged, leave
// nothing half done and leak no host block. The job then goes on (a point whose AddPointData
// failed is dropped, any other step is done again) and must end bit for bit as a run without
// fault that drops the same point. Runs without fault also count the operator new calls the
// adapter's own code makes: none for a point after its builder's first. The FoundFaults tests
// each guard one property in a shape the job does not reach: a host type wider than its slot,
// a cloud moved with no memory left, an append that runs out of memory half-way.
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/reliability/AllocationSwitch.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>

using namespace orv::TestSupport;
using orv::DataProxy::IPointDataBuilder;
using orv::DataProxy::IPointDataProvider;

namespace
{

enum class Source
{
    Consumer,
    Accessor,
    Hint,
    HostAllocation,
    OperatorNew
};

// What an injected fault throws: the call it was thrown at, so that a catch can tell that the
// exception arrived unchanged.
struct InjectedFault
{
    std::int64_t call;
};

// The job's consumer, splitting hint and accessor (over `point`) in one: counts the calls of
// the armed source over a whole job and throws at call `failAt` (1-based; 0: never).
struct Fallible final : orv::DataProxy::IPointDataConsumer,
                        orv::DataProxy::IPointDataSplitHint,
                        orv::DataProxy::IPointDataAccessor
{
    Source source;
    std::int64_t failAt;
    mutable std::int64_t calls = 0;
    PointRecord point;

    Fallible(Source s, std::int64_t n) : source(s), failAt(n) {}
    void Tick(Source s) const
    {
        if (s == source && ++calls == failAt)
            throw InjectedFault{calls};
    }
    bool IsComponentRequested(C c, unsigned char i) const override
    {
        return Tick(Source::Consumer), !(c == C::Real && i == 1); // one key declined
    }
    std::uint64_t GetConcurrency() const override { return 2; }
    std::uint64_t GetMinimumPieceSize() const override { return Tick(Source::Hint), 3; }
    GPointDouble GetPosition() const override { return Tick(Source::Accessor), point.position; }
    std::uint64_t GetPointIndex() const override { return Tick(Source::Accessor), 0; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return Tick(Source::Accessor), point.GetVector3(i);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return Tick(Source::Accessor), point.GetUnsignedInteger(i);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return Tick(Source::Accessor), point.GetSignedInteger(i);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return Tick(Source::Accessor), point.GetReal(i);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return Tick(Source::Accessor), point.GetColor(i);
    }
};

// A key of every extra-data component but SignedInteger, and a Position key (asked about,
// never stored). B's builders have one key more: their clouds bring a type C's lack.
PointCloudDataBuilderFactory JobFactory(bool extraKey)
{
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    factory.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    factory.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    factory.MapOptionalComponent(C::Color, Type::Intensity(), 0);
    factory.MapOptionalComponent(C::Position, Type::Scan(), 8);
    factory.MapOptionalComponent(C::Real, WideType<double>(), 8);
    if (extraKey)
        factory.MapOptionalComponent(C::SignedInteger, Type::SplitColor(), 2);
    return factory;
}

std::vector<std::uint64_t> ImageOf(const std::shared_ptr<IPointDataBuilder>& builder)
{
    return Image(CloudOf(builder->GetResult()).Convert());
}

// Points 0..a-1 go to builder A, the next b to builder B in a frame 1e5 away; even points carry
// every value, odd ones none, so a value a failed point left behind would show. C, empty, takes
// A's points, then B's; a box selects the upper half of A's points and the lower half of B's,
// and the selection is split and read in pieces.
struct Job
{
    struct Step
    {
        std::function<void()> run;
        int point = -1; // the point an AddPointData adds
        bool merge = false;
    };

    Fallible& fallible; // the consumer, the hint and the accessor
    const int a, b;
    const PointCloudDataBuilderFactory factory = JobFactory(false), wider = JobFactory(true);
    std::shared_ptr<IPointDataBuilder> builderA, builderB, builderC;
    std::shared_ptr<IPointDataProvider> merged;
    std::unique_ptr<IPointDataProvider> selected;
    std::shared_ptr<IPointDataIterable> whole;
    std::vector<std::unique_ptr<IPointDataIterable>> parts; // split off `whole` and each other
    std::vector<std::uint64_t> read;                        // per piece: points, checksum
    std::optional<std::vector<std::uint64_t>> beforeMerge;  // C's image while a merge runs
    int addedA = 0, addedB = 0;
    bool firstPoint = false; // the last AddPointData was its builder's first
    std::vector<Step> steps;

    Job(Fallible& f, int pointsA, int pointsB, int skip) : fallible(f), a(pointsA), b(pointsB)
    {
        Other([this] { builderA = factory.CreatePointDataBuilder(fallible); });
        Other([this] { builderB = wider.CreatePointDataBuilder(fallible); });
        Other([this] { builderC = factory.CreatePointDataBuilder(fallible); });
        for (int k = 0; k < a + b; ++k)
            if (k != skip)
                steps.push_back({[this, k] { Add(k); }, k});
        steps.push_back({[this] { MergeIntoC(*builderA); }, -1, true});
        steps.push_back({[this] { MergeIntoC(*builderB); }, -1, true});
        Other([this] { merged = builderC->GetResult(); });
        Other(
            [this]
            {
                selected = dynamic_cast<const PointCloudDataProvider&>(*merged).GetPoints(
                    orv::DataProxy::InsideAxisAlignedBoxQuery{{0.25 * a, -1, -1},
                                                              {1e5 + 0.5 * a + 0.25 * b, 100, 100}},
                    false);
            });
        Other(
            [this]
            {
                whole = selected->GetIterable(fallible);
                parts.clear();
                parts.reserve(std::size_t(a + b)); // so that no push_back loses a piece split off
            });
        // Done again after a fault, the splitting goes on from the pieces it left.
        Other(
            [this]
            {
                for (std::size_t i = 0; i <= parts.size(); ++i)
                {
                    IPointDataIterable& piece = i == 0 ? *whole : *parts[i - 1];
                    while (piece.IsDivisible(fallible))
                        parts.push_back(piece.Split());
                }
            });
        Other(
            [this]
            {
                read.clear();
                for (std::size_t i = 0; i <= parts.size(); ++i)
                {
                    const Totals totals = ReadAll(i == 0 ? *whole : *parts[i - 1]);
                    read.insert(read.end(), {totals.points, totals.checksum});
                }
                // Copies of what was built (copies share storage until written).
                const PointCloudDataBuilderFactory copy(factory);
                const PointCloudDataProvider provider(CloudOf(merged));
                read.insert(read.end(), {provider.Size(), copy.mapping.extraDataTypeByKey.size()});
            });
    }
    void Other(std::function<void()> run) { steps.push_back({std::move(run)}); }
    void Add(int k)
    {
        PointRecord& p = fallible.point;
        p.Clear();
        p.position = {(k < a ? 0.0 : 1e5) + 0.5 * k, double(k % 50), 1.0};
        if (k % 2 == 0)
        {
            Put(p, 0, std::uint64_t(1000 + k));
            Put(p, 1, std::uint64_t(7 + k));
            Put(p, 0, 0.25 * k);
            Put(p, 0, PointValues(std::uint64_t(k)).normal);
            Put(p, 0, RgbaColor{1.0, 0.5, 0.0, 1.0});
            Put(p, 0, std::int64_t{-k});
        }
        if (k % 2 == 0 && k >= 4) // the declined key's first value comes late
            Put(p, 1, 0.5 * k);
        firstPoint = (k < a ? addedA : addedB) == 0;
        (k < a ? builderA : builderB)->AddPointData(fallible);
        ++(k < a ? addedA : addedB);
    }
    void MergeIntoC(const IPointDataBuilder& source)
    {
        beforeMerge = ImageOf(builderC);
        dynamic_cast<PointCloudDataBuilder&>(*builderC).Merge(
            dynamic_cast<const PointCloudDataBuilder&>(source));
        beforeMerge.reset();
    }
    // What must hold right after a step failed: it left nothing half done.
    void CheckAfterFailure(const Step& step) const
    {
        if (step.point >= 0)
        {
            EXPECT_EQ(SizeOf(*builderA) + SizeOf(*builderB), std::uint64_t(addedA + addedB))
                << "a failed point was added, or an earlier one lost";
        }
        if (step.merge && beforeMerge) // colour mode included: a staging left behind shows
        {
            EXPECT_EQ(ImageOf(builderC), *beforeMerge) << "a failed merge changed the target";
        }
    }
    // Everything the job made: the three clouds bit for bit, then what was read.
    std::vector<std::uint64_t> Records() const
    {
        std::vector<std::uint64_t> records;
        for (const auto* builder : {&builderA, &builderB, &builderC})
        {
            const auto image = ImageOf(*builder);
            records.insert(records.end(), image.begin(), image.end());
        }
        records.insert(records.end(), read.begin(), read.end());
        return records;
    }
};

struct Outcome
{
    int failedStep = -1;
    int dropped = -1;       // the point of a failed AddPointData
    std::int64_t calls = 0; // of the source, in a run without fault
    std::vector<std::uint64_t> records;
};

// Runs the job with `source` failing at its call `n` (0: never), the job without point `skip`.
Outcome RunJob(Source source, std::int64_t n, int a, int b, int skip = -1)
{
    const bool allocation = source == Source::HostAllocation || source == Source::OperatorNew;
    Fallible fallible(source, allocation ? 0 : n);
    Job job(fallible, a, b, skip);
    std::optional<FailureSwitch> armed;
    if (allocation && n > 0)
        armed.emplace(source == Source::HostAllocation ? Allocator::Host : Allocator::Global,
                      n - 1);
    Outcome outcome;
    const std::uint64_t hostBefore = orv::Testing::AllocationCount();
    CountOperatorNew(n == 0);
    for (int step = 0; step < int(job.steps.size()); ++step)
    {
        try
        {
            const std::uint64_t before = CountedOperatorNew().adapter;
            job.steps[step].run();
            // After its first point a builder allocates nothing of its own; the count sees
            // the first point's staging being made.
            const std::uint64_t made = CountedOperatorNew().adapter - before;
            if (n == 0 && job.steps[step].point >= 0)
            {
                EXPECT_TRUE(job.firstPoint ? made > 0 : made == 0)
                    << "point " << job.steps[step].point;
            }
            continue;
        }
        catch (const InjectedFault& fault)
        {
            EXPECT_FALSE(allocation);
            EXPECT_EQ(fault.call, n) << "the exception did not pass through unchanged";
        }
        catch (const std::bad_alloc&)
        {
            EXPECT_TRUE(allocation);
        }
        AllocationWorks();
        fallible.failAt = 0;
        EXPECT_EQ(outcome.failedStep, -1) << "a second failure with the source switched off";
        outcome.failedStep = step;
        job.CheckAfterFailure(job.steps[step]);
        if (job.steps[step].point >= 0)
            outcome.dropped = job.steps[step].point;
        else
            job.steps[step].run();
    }
    CountOperatorNew(false);
    armed.reset();
    if (n == 0)
        outcome.calls =
            source == Source::HostAllocation
                ? std::int64_t(orv::Testing::AllocationCount() - hostBefore)
            : source == Source::OperatorNew
                ? std::int64_t(CountedOperatorNew().adapter + CountedOperatorNew().other)
                : fallible.calls;
    outcome.records = job.Records();
    return outcome;
}

struct Case
{
    const char* name;
    Source source;
    int a, b;
};

class FaultInjection : public ::testing::TestWithParam<Case>
{
};

TEST_P(FaultInjection, EveryCallFailsOnce)
{
    const Case& c = GetParam();
    (void)RunJob(c.source, 0, c.a, c.b); // type ids and registrations settle before the counts
    const Outcome withoutFault = RunJob(c.source, 0, c.a, c.b);
    const std::uint64_t liveBefore = orv::Testing::LiveBlockCount();
    std::map<int, std::vector<std::uint64_t>> clean{{-1, withoutFault.records}}; // by point dropped
    ASSERT_GT(withoutFault.calls, 10);
    for (std::int64_t n = 1; n <= withoutFault.calls + 1 && !HasFailure(); ++n)
    {
        const Outcome outcome = RunJob(c.source, n, c.a, c.b);
        EXPECT_EQ(orv::Testing::LiveBlockCount(), liveBefore) << "leak, call " << n;
        if (n > withoutFault.calls)
        {
            EXPECT_LT(outcome.failedStep, 0) << "more calls than in a run without fault";
            break;
        }
        ASSERT_GE(outcome.failedStep, 0) << "the fault at call " << n << " never surfaced";
        if (clean.count(outcome.dropped) == 0)
            clean[outcome.dropped] = RunJob(c.source, 0, c.a, c.b, outcome.dropped).records;
        EXPECT_EQ(outcome.records, clean[outcome.dropped])
            << "the job ended differently after a failure at call " << n << ", in step "
            << outcome.failedStep;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FaultInjection,
    ::testing::Values(Case{"Consumer", Source::Consumer, 40, 40},
                      Case{"Accessor", Source::Accessor, 40, 40},
                      Case{"Hint", Source::Hint, 40, 40},
                      Case{"HostAllocation", Source::HostAllocation, 40, 40},
                      // C's second merge crosses a table buffer's end (8192 elements).
                      Case{"HostAllocationAcrossBuffers", Source::HostAllocation, 8190, 10},
                      Case{"OperatorNew", Source::OperatorNew, 40, 40}),
    [](const ::testing::TestParamInfo<Case>& source) { return std::string(source.param.name); });

} // namespace

// The builder's value slots are 24 bytes (Vector3), 8 (integers, Real) and 4 (Color); the host
// copies its type's whole width from a registered slot at every point, so a key whose host type
// is wider than its slot stays out of the cloud and the host never reads past a slot. The
// factory refuses such widths up front; this is the case it cannot see: a type whose size
// becomes known to the host only after the builder was configured.
TEST(FoundFaults, ValueSlotWidth)
{
    struct LateWide
    {
    };
    struct LateColor
    {
    };
    const int unsignedTooWide = orv::General::IFactory::GetInstance().GetTypeId(typeid(LateWide));
    const int colorTooWide = orv::General::IFactory::GetInstance().GetTypeId(typeid(LateColor));
    const int realFits = WideType<double>();
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, unsignedTooWide, 8);
    factory.MapOptionalComponent(C::Color, colorTooWide, 0);
    factory.MapOptionalComponent(C::Real, realFits, 8);
    const WantAll consumer;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    using orv::Data::ExtraData::Details::RegisterCloudExtraDataConversionPolicy;
    const auto wide = RegisterCloudExtraDataConversionPolicy(
        unsignedTooWide, typeid(GVector3),
        eastl::allocate_shared<RawPolicy<GVector3>>(eastl::allocator()));
    const auto color = RegisterCloudExtraDataConversionPolicy(
        colorTooWide, typeid(std::uint64_t),
        eastl::allocate_shared<RawPolicy<std::uint64_t>>(eastl::allocator()));
    PointRecord point;
    for (int k = 0; k < 3; ++k)
    {
        point.position = {1.0 * k, 2.0, 3.0};
        Put(point, 0, std::uint64_t{0x1111111111111111} * std::uint64_t(k + 1));
        Put(point, 0, RgbaColor{1.0, 0.0, 0.0, 1.0});
        Put(point, 0, 0.5 * k);
        builder->AddPointData(point);
    }
    const PointCloud cloud = CloudOf(builder->GetResult());
    const std::vector<int> types = cloud.Convert().GetExtraDataTypes();
    ASSERT_EQ(cloud.Convert().GetStoredPointCount(), 3u);
    EXPECT_EQ(types, std::vector<int>{realFits}) << "only the type that fits its slot is held";
    for (std::uint64_t k = 0; k < 3; ++k)
        EXPECT_EQ(Stored<double>(cloud.Convert(), realFits, k), 0.5 * double(k));
}

// Moving a cloud is noexcept and needs no memory: with none left, the cloud moved to holds the
// points, and the one moved from is empty and usable (no std::terminate from an allocation).
TEST(FoundFaults, CloudMove)
{
    PointCloud a = BuildCloud(GridPoints(300), {64, {}, {3, 200}});
    PointCloud b;
    GCloud c;
    const std::uint64_t points = a.GetPointCount();
    {
        const FailureSwitch noMemory(Allocator::Global, 0);
        orv::Testing::FailAllocationsAfter(0);
        PointCloud moved(std::move(a));
        b = std::move(moved);
        c = std::move(b.Convert());
        b.Convert() = std::move(c);
    }
    EXPECT_EQ(b.GetPointCount(), points);
    for (const GCloud* empty : {&a.Convert(), &c})
    {
        EXPECT_EQ(empty->GetStoredPointCount(), 0u);
        EXPECT_EQ(empty->GetSubsetFirstOrdinal(0), 0u);
        // The box of a cloud without points (what that is, is the host's choice).
        const auto box = empty->ComputeBoundingBox(), none = GCloud().ComputeBoundingBox();
        EXPECT_EQ(std::memcmp(box.v, none.v, sizeof box.v), 0);
    }
    // Usable again: points go in, and a copy of b goes in after them.
    GPointDouble position{1.0, 2.0, 3.0};
    GCloudPointData record(&position);
    EXPECT_EQ(a.AddPoint(record, true), ExitCodeAddPoint::Ok);
    EXPECT_TRUE(a.AddCloud(b, nullptr));
    EXPECT_EQ(a.GetPointCount(), points + 1);
    EXPECT_EQ(a.Convert().GetSubsetFirstOrdinal(1), a.Convert().GetSubsetVisibleCount(0));
}

// Appending a cloud grows the last subset, adds subsets and may add types; memory running short
// half-way leaves the target as it was (nothing of the source appended, the tables of its last
// subset in step with each other), so appending again gives points whose positions and values
// belong together.
TEST(FoundFaults, AppendOutOfMemory)
{
    // Targets: subsets of 16, the last one part full and with a hidden point; and an empty cloud,
    // which adopts the source's frame on the reference host (a failure must take it back).
    // Source: another frame (normals rotate). Types the target lacks are the fault-injection
    // suite's merges'.
    const PointCloud source =
        BuildCloud(GridPoints(70, 650000.0), {16, RotationZ(M_PI / 2, 10.0, 20.0, 30.0)});
    int injected = 0;
    for (const PointCloud& target : {BuildCloud(GridPoints(37), {16, {}, {35}}), PointCloud()})
    {
        PointCloud reference = target;
        ASSERT_TRUE(reference.AddCloud(source, nullptr));
        const auto before = Image(target.Convert());
        const auto after = Image(reference.Convert());
        for (Allocator which : {Allocator::Host, Allocator::Global})
            for (std::int64_t n = 0;; ++n)
            {
                PointCloud cloud = target; // shares every subset: the append copies what it writes
                bool failed = false;
                try
                {
                    const FailureSwitch armed(which, n);
                    cloud.AddCloud(source, nullptr);
                }
                catch (const std::bad_alloc&)
                {
                    failed = true;
                    ++injected;
                    EXPECT_EQ(Image(cloud.Convert()), before)
                        << "allocation " << n << ": part left";
                    EXPECT_TRUE(cloud.AddCloud(source, nullptr));
                }
                EXPECT_EQ(Image(cloud.Convert()), after) << "allocation " << n;
                EXPECT_EQ(Image(target.Convert()), before) << "the shared original changed";
                if (!failed || HasFailure())
                    break;
            }
    }
    EXPECT_GT(injected, 10);
}

// Fault injection: a consumer, an accessor and a splitting hint that throw at the n-th call,
// and allocation failing at the n-th allocation (the host's orv::Alloc, and the global operator
// new of this executable), for every n up to the end of a small scenario. Each fault must pass
// through unchanged, leave the objects as the failure rules say and usable, and leak nothing;
// finishing the scenario afterwards must give exactly what a run without fault gives.
#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/reliability/AllocationSwitch.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

using namespace orv::TestSupport;
using orv::DataProxy::IPointDataBuilder;
using orv::DataProxy::IPointDataProvider;

namespace
{

// What every injected fault throws: the call it was thrown at, so a catch can tell that the
// exception arrived unchanged.
struct InjectedFault
{
    int call;
};

// Counts calls and throws InjectedFault at call number failAt (1-based; 0: never).
struct Countdown
{
    mutable std::atomic<int> calls{0};
    int failAt = 0;
    void Tick() const
    {
        if (const int call = ++calls; call == failAt)
            throw InjectedFault{call};
    }
};

struct FailingConsumer final : orv::DataProxy::IPointDataConsumer
{
    Countdown countdown;
    bool IsComponentRequested(C, unsigned char) const override { return countdown.Tick(), true; }
};

struct FailingAccessor final : orv::DataProxy::IPointDataAccessor
{
    PointRecord inner;
    Countdown countdown;
    GPointDouble GetPosition() const override { return countdown.Tick(), inner.GetPosition(); }
    std::uint64_t GetPointIndex() const override { return countdown.Tick(), 0; }
    std::optional<GVector3> GetVector3(unsigned char i) const override
    {
        return countdown.Tick(), inner.GetVector3(i);
    }
    std::optional<std::uint64_t> GetUnsignedInteger(unsigned char i) const override
    {
        return countdown.Tick(), inner.GetUnsignedInteger(i);
    }
    std::optional<std::int64_t> GetSignedInteger(unsigned char i) const override
    {
        return countdown.Tick(), inner.GetSignedInteger(i);
    }
    std::optional<double> GetReal(unsigned char i) const override
    {
        return countdown.Tick(), inner.GetReal(i);
    }
    std::optional<RgbaColor> GetColor(unsigned char i) const override
    {
        return countdown.Tick(), inner.GetColor(i);
    }
};

struct FailingHint final : orv::DataProxy::IPointDataSplitHint
{
    Countdown countdown;
    std::uint64_t GetConcurrency() const override { return 2; }
    std::uint64_t GetMinimumPieceSize() const override { return countdown.Tick(), 40; }
};

template <class F>
void ExpectFault(int call, F&& work)
{
    try
    {
        work();
        ADD_FAILURE() << "no fault at call " << call;
    }
    catch (const InjectedFault& fault)
    {
        EXPECT_EQ(fault.call, call) << "the exception did not pass through unchanged";
    }
}

// Five keys of every extra-data component but SignedInteger, plus a Position key (asked
// about, never stored): six consumer questions per staging, six accessor calls per point.
PointCloudDataBuilderFactory FiveKeyFactory()
{
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Scan(), 4);
    factory.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    factory.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    factory.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    factory.MapOptionalComponent(C::Color, Type::Intensity(), 0);
    factory.MapOptionalComponent(C::Position, Type::Scan(), 8);
    return factory;
}
constexpr int kCallsPerPoint = 6;

// Point k: even points carry every value, odd points none, so a value left behind by a point
// that failed half-way would show in the next one.
PointRecord ScenarioPoint(int k)
{
    PointRecord p;
    p.position = {10.0 + k, 20.0 - k, 0.5 * k};
    if (k % 2 == 0)
    {
        Put(p, 0, std::uint64_t(1000 + k));
        Put(p, 1, std::uint64_t(7 + k));
        Put(p, 0, 0.25 * k);
        Put(p, 0, PointValues(std::uint64_t(k)).normal);
        Put(p, 0, RgbaColor{1.0, 0.5, 0.0, 1.0});
    }
    return p;
}

std::vector<std::uint64_t> ImageOf(IPointDataBuilder& builder)
{
    return Image(CloudOf(builder.GetResult()).Convert());
}

// What a builder given `points` without any fault holds.
std::vector<std::uint64_t> CleanImage(const std::vector<int>& points)
{
    const WantAll consumer;
    const auto builder = FiveKeyFactory().CreatePointDataBuilder(consumer);
    for (int k : points)
        builder->AddPointData(ScenarioPoint(k));
    return ImageOf(*builder);
}

// Splits every piece of `all` as far as `hint` allows, new pieces appended.
void SplitAll(std::vector<std::shared_ptr<IPointDataIterable>>& all,
              const orv::DataProxy::IPointDataSplitHint& hint)
{
    for (std::size_t i = 0; i < all.size(); ++i)
        while (all[i]->IsDivisible(hint))
            all.push_back(all[i]->Split());
}

} // namespace

// A staging is created by the first point, or by a merge into a builder without points: a
// question that throws leaves none, and the next attempt asks every question again.
TEST(FaultInjection, ConsumerThrowingAtEveryQuestionLeavesNoStagingAndTheNextPointStartsAgain)
{
    const PointCloudDataBuilderFactory factory = FiveKeyFactory();
    for (int n = 1; n <= kCallsPerPoint; ++n)
    {
        FailingConsumer consumer;
        consumer.countdown.failAt = n;
        const auto builder = factory.CreatePointDataBuilder(consumer);
        PointRecord point = ScenarioPoint(0);
        ExpectFault(n, [&] { builder->AddPointData(point); });
        EXPECT_EQ(consumer.countdown.calls.load(), n) << "no question after the failing one";
        EXPECT_EQ(SizeOf(*builder), 0u);
        builder->AddPointData(point);
        EXPECT_EQ(consumer.countdown.calls.load(), n + kCallsPerPoint);
        point = ScenarioPoint(1);
        builder->AddPointData(point);
        EXPECT_EQ(ImageOf(*builder), CleanImage({0, 1}));

        FailingConsumer other;
        other.countdown.failAt = n;
        const auto target = factory.CreatePointDataBuilder(other);
        auto& concrete = dynamic_cast<PointCloudDataBuilder&>(*target);
        const auto& source = dynamic_cast<const PointCloudDataBuilder&>(*builder);
        ExpectFault(n, [&] { concrete.Merge(source); });
        EXPECT_EQ(SizeOf(*target), 0u);
        concrete.Merge(source);
        EXPECT_EQ(ImageOf(*target), CleanImage({0, 1}));
        EXPECT_EQ(ImageOf(*builder), CleanImage({0, 1})) << "the source is never touched";
    }
}

TEST(FaultInjection, ConsumerThrowingWhileACursorIsCreatedLeavesTheIterableUsable)
{
    const PointCloudDataProvider provider =
        MappedProvider(BuildCloud(GridPoints(700), CloudSetup(64, std::nullopt, {0, 97, 300})));
    const WantAll everything;
    const Totals expected = ReadAll(*provider.GetIterable(everything));
    const int questions = 5; // (Position, 0) and the four mapped keys
    for (int n = 1; n <= questions; ++n)
    {
        FailingConsumer consumer;
        consumer.countdown.failAt = n;
        const auto iterable = provider.GetIterable(consumer);
        ExpectFault(n, [&] { (void)iterable->CreateCursor(); });
        EXPECT_EQ(ReadAll(*iterable).checksum, expected.checksum) << "fault at question " << n;
        EXPECT_EQ(consumer.countdown.calls.load(), n + questions);
    }
}

TEST(FaultInjection, AccessorThrowingAtEveryCallDropsThatPointOnlyAndCarriesNothingOver)
{
    const PointCloudDataBuilderFactory factory = FiveKeyFactory();
    const WantAll consumer;
    constexpr int kPoints = 5;
    for (int n = 1; n <= kPoints * kCallsPerPoint; ++n)
    {
        const auto builder = factory.CreatePointDataBuilder(consumer);
        FailingAccessor accessor;
        accessor.countdown.failAt = n;
        std::vector<int> kept;
        for (int k = 0; k < kPoints; ++k)
        {
            accessor.inner = ScenarioPoint(k);
            if ((n - 1) / kCallsPerPoint == k)
                ExpectFault(n, [&] { builder->AddPointData(accessor); });
            else
                builder->AddPointData(accessor), kept.push_back(k);
        }
        EXPECT_EQ(ImageOf(*builder), CleanImage(kept)) << "fault at call " << n;
    }
}

TEST(FaultInjection, HintThrowingAtEveryCallLeavesEveryPieceWholeAndTheSplitCanGoOn)
{
    const PointCloudDataProvider provider =
        MappedProvider(BuildCloud(GridPoints(3000), CloudSetup(256, std::nullopt, {5, 500})));
    const WantAll consumer;
    FailingHint clean;
    std::vector<std::shared_ptr<IPointDataIterable>> reference{provider.GetIterable(consumer)};
    SplitAll(reference, clean);
    const int calls = clean.countdown.calls.load();
    const Totals expected = ReadAll(*provider.GetIterable(consumer));
    ASSERT_GT(reference.size(), 10u);
    for (int n = 1; n <= calls; ++n)
    {
        FailingHint hint;
        hint.countdown.failAt = n;
        std::vector<std::shared_ptr<IPointDataIterable>> pieces{provider.GetIterable(consumer)};
        ExpectFault(n, [&] { SplitAll(pieces, hint); });
        hint.countdown.failAt = 0;
        SplitAll(pieces, hint); // goes on where it stopped
        EXPECT_EQ(pieces.size(), reference.size()) << "fault at call " << n;
        Totals got;
        for (const auto& piece : pieces)
        {
            const Totals part = ReadAll(*piece);
            got.points += part.points;
            got.checksum += part.checksum;
        }
        EXPECT_EQ(got.points, expected.points);
        EXPECT_EQ(got.checksum, expected.checksum) << "fault at call " << n;
    }
}

namespace
{

// A job from builders to a query result read in split pieces, step by step: builder A gets
// `a` points, builder B `b` points elsewhere, B is merged into A, a box takes the upper half of
// A's points and the lower half of B's, its pieces are read, and what was built is copied.
struct Job
{
    int a, b;
    const WantAll consumer;
    const PointCloudDataBuilderFactory factory = FiveKeyFactory();
    std::shared_ptr<IPointDataBuilder> builderA, builderB;
    std::shared_ptr<IPointDataProvider> merged;
    std::unique_ptr<IPointDataProvider> selected;
    std::vector<std::shared_ptr<IPointDataIterable>> pieces;
    std::vector<std::uint64_t> records; // per piece: points, checksum; then the copies
    std::vector<std::function<void()>> steps;

    Job(int pointsA, int pointsB) : a(pointsA), b(pointsB)
    {
        steps.push_back([this] { builderA = factory.CreatePointDataBuilder(consumer); });
        steps.push_back([this] { builderB = factory.CreatePointDataBuilder(consumer); });
        for (int k = 0; k < a + b; ++k)
            steps.push_back([this, k] { Add(k); });
        steps.push_back([this] { Concrete(builderA).Merge(Concrete(builderB)); });
        steps.push_back([this] { merged = builderA->GetResult(); });
        steps.push_back(
            [this]
            {
                selected = dynamic_cast<const PointCloudDataProvider&>(*merged).GetPoints(
                    orv::DataProxy::InsideAxisAlignedBoxQuery{{0.25 * a, -1, -1},
                                                              {1e5 + 0.5 * a + 0.25 * b, 100, 100}},
                    false);
            });
        steps.push_back(
            [this] { pieces = SplitIntoPieces(selected->GetIterable(consumer), SIZE_MAX, 7); });
        steps.push_back([this] { Read(); });
    }
    static PointCloudDataBuilder& Concrete(const std::shared_ptr<IPointDataBuilder>& builder)
    {
        return dynamic_cast<PointCloudDataBuilder&>(*builder);
    }
    void Add(int k)
    {
        PointRecord point = ScenarioPoint(k);
        point.position = {(k < a ? 0.0 : 1e5) + 0.5 * k, double(k % 50), 1.0};
        (k < a ? builderA : builderB)->AddPointData(point);
    }
    void Read()
    {
        records.clear();
        for (const auto& piece : pieces)
        {
            const Totals totals = ReadAll(*piece);
            records.insert(records.end(), {totals.points, totals.checksum});
        }
        // Copies of what was built (copies share storage until written).
        const PointCloudDataBuilderFactory copy(factory);
        const PointCloudDataProvider provider(CloudOf(merged));
        records.insert(records.end(), {provider.Size(), copy.mapping.extraDataTypeByKey.size()});
    }
    // What must hold right after `step` failed: the step left nothing half done.
    void CheckAfterFailure(int step) const
    {
        const int k = step - 2;
        if (k >= 0 && k < a + b)
        {
            EXPECT_EQ(CloudOf(builderA->GetResult()).Convert().GetStoredPointCount() +
                          CloudOf(builderB->GetResult()).Convert().GetStoredPointCount(),
                      std::uint64_t(k))
                << "a failed point was added, or an earlier one lost";
        }
        else if (k == a + b)
        {
            EXPECT_EQ(SizeOf(*builderA), std::uint64_t(a)) << "a failed merge appended points";
        }
    }
};

struct JobOutcome
{
    int failedStep = -1;
    std::vector<std::uint64_t> records;
};

// Runs the job with `which` failing after `n` allocations (n < 0: never), counted over the
// whole job; after the first failure allocation works again and the failed step is retried.
JobOutcome RunJob(Allocator which, std::int64_t n, int a, int b)
{
    JobOutcome outcome;
    Job job(a, b);
    const FailureSwitch armed(which, n);
    for (int step = 0; step < int(job.steps.size()); ++step)
    {
        try
        {
            job.steps[step]();
        }
        catch (const std::bad_alloc&)
        {
            AllocationWorks();
            EXPECT_EQ(outcome.failedStep, -1) << "a second failure with allocation switched off";
            outcome.failedStep = step;
            job.CheckAfterFailure(step);
            job.steps[step]();
        }
    }
    AllocationWorks();
    outcome.records = job.records;
    return outcome;
}

void DriveEveryAllocation(Allocator which, int a, int b)
{
    (void)RunJob(which, -1, a, b); // type ids and registrations settle before the counts
    const std::uint64_t liveBefore = orv::Testing::LiveBlockCount();
    const JobOutcome clean = RunJob(which, -1, a, b);
    ASSERT_FALSE(clean.records.empty());
    std::int64_t n = 0;
    for (;; ++n)
    {
        const JobOutcome outcome = RunJob(which, n, a, b);
        EXPECT_EQ(orv::Testing::LiveBlockCount(), liveBefore) << "leak, allocation " << n;
        EXPECT_EQ(outcome.records, clean.records)
            << "the job ended differently after a failure at allocation " << n << ", in step "
            << outcome.failedStep;
        if (outcome.failedStep < 0 || ::testing::Test::HasFailure())
            break; // the job no longer reaches allocation n: every one has failed once
    }
    EXPECT_GT(n, 10);
}

} // namespace

TEST(FaultInjection, HostAllocationFailingAtEveryAllocationOfAJobLeavesNoTraceOnRetry)
{
    DriveEveryAllocation(Allocator::Host, 40, 40);
    // The merge appends across a table buffer's end (8192 elements): new buffers half-way.
    DriveEveryAllocation(Allocator::Host, 8190, 10);
}

TEST(FaultInjection, OperatorNewFailingAtEveryAllocationOfAJobLeavesNoTraceOnRetry)
{
    DriveEveryAllocation(Allocator::Global, 40, 40);
}

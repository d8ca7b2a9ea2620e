// Fault injection: a consumer, an accessor and a splitting hint that throw at the n-th call,
// and allocation failing at the n-th allocation (the host's orv::Alloc, and the global
// operator new of this executable), for every n up to the end of a small scenario. Each fault
// must pass through unchanged (the very exception thrown), leave the objects as the failure
// rules say and usable, and leak nothing; finishing the scenario afterwards must give exactly
// what a run without fault gives.
#include "AllocationSwitch.h"
#include "ReliabilitySupport.h"

#include "builder/PointCloudDataBuilder.h"
#include "builder/PointCloudDataBuilderFactory.h"
#include "host/base/Memory.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

using namespace orv::Reliability;
using orv::Data::Cloud::PointCloudDataBuilder;
using orv::Data::Cloud::PointCloudDataBuilderFactory;
using orv::DataProxy::IPointDataBuilder;
using orv::DataProxy::IPointDataIterable;
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
        const int call = ++calls;
        if (failAt != 0 && call == failAt)
            throw InjectedFault{call};
    }
};

class FailingConsumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    Countdown countdown;
    bool IsComponentRequested(EPointDataComponent, unsigned char) const override
    {
        countdown.Tick();
        return true;
    }
};

class FailingAccessor final : public ValuesAccessor
{
public:
    Countdown countdown;

private:
    void Called() const override { countdown.Tick(); }
};

class FailingHint final : public orv::DataProxy::IPointDataSplitHint
{
public:
    explicit FailingHint(std::uint64_t minimum) : m_minimum(minimum) {}
    Countdown countdown;
    std::uint64_t GetConcurrency() const override { return 2; }
    std::uint64_t GetMinimumPieceSize() const override
    {
        countdown.Tick();
        return m_minimum;
    }

private:
    std::uint64_t m_minimum;
};

// Runs `work` expecting exactly the injected fault number `call`.
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

int ScanIdType()
{
    return orv::Data::Cloud::CloudScanIDExtraData::TypeId();
}
int IntensityNewType()
{
    return orv::Data::Cloud::CloudIntensityNewExtraData::TypeId();
}
int NormalType()
{
    return orv::Data::Cloud::CloudNormalExtraData::TypeId();
}
int ClassificationType()
{
    return orv::Data::Cloud::CloudClassificationExtraData::TypeId();
}
int IntensityType()
{
    return orv::Data::Cloud::CloudIntensityExtraData::TypeId();
}

// Five keys of every extra-data component but SignedInteger, plus a Position key (asked
// about, never stored): six consumer questions per staging, six accessor calls per point.
PointCloudDataBuilderFactory FiveKeyFactory()
{
    PointCloudDataBuilderFactory factory;
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger, ScanIdType(), 4);
    factory.MapOptionalComponent(EPointDataComponent::Real, IntensityNewType(), 4);
    factory.MapOptionalComponent(EPointDataComponent::Vector3, NormalType(), 4);
    factory.MapOptionalComponent(EPointDataComponent::UnsignedInteger, ClassificationType(), 1);
    factory.MapOptionalComponent(EPointDataComponent::Color, IntensityType(), 0);
    factory.MapOptionalComponent(EPointDataComponent::Position, ScanIdType(), 8);
    return factory;
}
constexpr int kQuestionsPerStaging = 6;
constexpr int kCallsPerPoint = 6; // the position and five values

// Point k of the builder scenarios: even points carry every value, odd points none, so a value
// left behind by a point that failed half-way would show in the next one.
PointValues ScenarioPoint(int k)
{
    PointValues v;
    v.position = {10.0 + k, 20.0 - k, 0.5 * k};
    if (k % 2 == 0)
    {
        v.unsignedInteger[0] = 1000u + static_cast<unsigned>(k);
        v.unsignedInteger[1] = 7u + static_cast<unsigned>(k);
        v.real[0] = 0.25 * k;
        v.vector3[0] = NormalOf(static_cast<std::uint64_t>(k));
        v.color[0] = {1.0, 0.5, 0.0, 1.0};
    }
    return v;
}

orv::Data::Cloud::PointCloud CloudOf(IPointDataBuilder& builder)
{
    const auto result = builder.GetResult();
    return dynamic_cast<const PointCloudDataProvider&>(*result).GetPointCloud();
}

template <class T>
T StoredAs(const orv::Data::Cloud::GCloud& cloud, int type, std::uint64_t j)
{
    T value{};
    const void* element = cloud.GetExtraDataElement(type, j);
    EXPECT_NE(element, nullptr);
    if (element != nullptr)
        std::memcpy(&value, element, sizeof value);
    return value;
}

// The stored points of `builder` are exactly ScenarioPoint(k) for k in `points`, in order.
void ExpectScenarioPoints(IPointDataBuilder& builder, const std::vector<int>& points)
{
    const orv::Data::Cloud::PointCloud cloud = CloudOf(builder);
    const orv::Data::Cloud::GCloud& host = cloud.Convert();
    ASSERT_EQ(host.GetStoredPointCount(), points.size());
    for (std::size_t j = 0; j < points.size(); ++j)
    {
        const PointValues v = ScenarioPoint(points[j]);
        GPointDouble p{};
        ASSERT_TRUE(host.GetStoredPosition(j, p));
        EXPECT_EQ(p.x, v.position.x);
        EXPECT_EQ(p.y, v.position.y);
        EXPECT_EQ(p.z, v.position.z);
        const bool full = !v.real.empty();
        EXPECT_EQ(StoredAs<std::uint32_t>(host, ScanIdType(), j), full ? 1000u + points[j] : 0u)
            << "point " << j;
        EXPECT_EQ(StoredAs<std::uint8_t>(host, ClassificationType(), j),
                  full ? 7u + points[j] : 0u);
        EXPECT_EQ(StoredAs<float>(host, IntensityNewType(), j), full ? 0.25f * points[j] : 0.0f);
        const std::uint32_t normal =
            full ? orv::Math::Algebra::CompressedVector32Bits(v.vector3.at(0)).GetRaw() : 0u;
        EXPECT_EQ(StoredAs<std::uint32_t>(host, NormalType(), j), normal);
        EXPECT_EQ(StoredAs<std::uint32_t>(host, IntensityType(), j), full ? 0x0080FFu : 0u);
    }
}

} // namespace

// ---- a consumer that throws ------------------------------------------------------------

TEST(FaultInjection, ConsumerThrowingAtEveryQuestionLeavesNoStagingAndTheNextPointStartsAgain)
{
    const PointCloudDataBuilderFactory factory = FiveKeyFactory();
    int injected = 0;
    for (int n = 1; n <= kQuestionsPerStaging; ++n)
    {
        FailingConsumer consumer;
        consumer.countdown.failAt = n;
        const auto builder = factory.CreatePointDataBuilder(consumer);
        ValuesAccessor point;
        point.values = ScenarioPoint(0);
        ExpectFault(n, [&] { builder->AddPointData(point); });
        ++injected;
        EXPECT_EQ(consumer.countdown.calls.load(), n) << "no question after the failing one";
        EXPECT_EQ(CloudOf(*builder).Convert().GetType(), 1) << "no staging, so no colour cloud";
        EXPECT_EQ(CloudOf(*builder).GetPointCount(), 0u);

        // The next point creates the staging afresh and asks every question again.
        builder->AddPointData(point);
        EXPECT_EQ(consumer.countdown.calls.load(), n + kQuestionsPerStaging);
        point.values = ScenarioPoint(1);
        builder->AddPointData(point);
        ExpectScenarioPoints(*builder, {0, 1});
        EXPECT_EQ(CloudOf(*builder).Convert().GetType(), 2);

        // A merge into a builder without points creates a staging too: same rule.
        FailingConsumer other;
        other.countdown.failAt = n;
        const auto target = factory.CreatePointDataBuilder(other);
        auto& concrete = dynamic_cast<PointCloudDataBuilder&>(*target);
        const auto& source = dynamic_cast<const PointCloudDataBuilder&>(*builder);
        ExpectFault(n, [&] { concrete.Merge(source); });
        ++injected;
        EXPECT_EQ(CloudOf(*target).GetPointCount(), 0u);
        concrete.Merge(source);
        ExpectScenarioPoints(*target, {0, 1});
        ExpectScenarioPoints(*builder, {0, 1}); // the source is never touched
    }
    RecordProperty("injected_faults", std::to_string(injected));
}

TEST(FaultInjection, ConsumerThrowingWhileACursorIsCreatedLeavesTheIterableUsable)
{
    const PointCloudDataProvider provider = MappedProvider(GeneratedCloud(700, 64));
    const WantAll everything;
    std::uint64_t expected = 0;
    for (auto c = provider.GetIterable(everything)->CreateCursor(); c->IsValid(); c->MoveNext())
        expected += PointHash(*c);

    const int questions = 5; // (Position, 0) and the four mapped keys
    for (int n = 1; n <= questions; ++n)
    {
        FailingConsumer consumer;
        consumer.countdown.failAt = n;
        const auto iterable = provider.GetIterable(consumer);
        ExpectFault(n, [&] { (void)iterable->CreateCursor(); });
        std::uint64_t sum = 0;
        for (auto c = iterable->CreateCursor(); c->IsValid(); c->MoveNext())
            sum += PointHash(*c);
        EXPECT_EQ(sum, expected) << "fault at question " << n;
        EXPECT_EQ(consumer.countdown.calls.load(), n + questions);
    }
}

// ---- an accessor that throws, and a missing width ---------------------------------------

TEST(FaultInjection, AccessorThrowingAtEveryCallDropsThatPointOnlyAndCarriesNothingOver)
{
    const PointCloudDataBuilderFactory factory = FiveKeyFactory();
    const WantAll consumer;
    constexpr int kPoints = 5;
    int injected = 0;
    for (int n = 1; n <= kPoints * kCallsPerPoint; ++n)
    {
        const auto builder = factory.CreatePointDataBuilder(consumer);
        FailingAccessor accessor;
        accessor.countdown.failAt = n;
        std::vector<int> kept;
        for (int k = 0; k < kPoints; ++k)
        {
            accessor.values = ScenarioPoint(k);
            if ((n - 1) / kCallsPerPoint == k)
            {
                ExpectFault(n, [&] { builder->AddPointData(accessor); });
                ++injected;
                continue;
            }
            builder->AddPointData(accessor);
            kept.push_back(k);
        }
        ExpectScenarioPoints(*builder, kept);
    }
    RecordProperty("injected_faults", std::to_string(injected));
}

TEST(FaultInjection, MissingWidthFailsThePointBeforeItIsAddedAndTheBuilderGoesOn)
{
    PointCloudDataBuilderFactory factory = FiveKeyFactory();
    // Mapped behind the factory's back: a key without a width.
    const unsigned char index = factory.mapping.Map(EPointDataComponent::Real, IntensityNewType());
    const WantAll consumer;
    const auto builder = factory.CreatePointDataBuilder(consumer);
    ValuesAccessor accessor;
    accessor.values = ScenarioPoint(0);
    builder->AddPointData(accessor); // no value for the key: fine
    accessor.values = ScenarioPoint(2);
    accessor.values.real[index] = 1.0;
    try
    {
        builder->AddPointData(accessor);
        ADD_FAILURE() << "a value without a width was accepted";
    }
    catch (const std::out_of_range& e)
    {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
    accessor.values = ScenarioPoint(1);
    builder->AddPointData(accessor);
    accessor.values = ScenarioPoint(2);
    builder->AddPointData(accessor);
    ExpectScenarioPoints(*builder, {0, 1, 2});
}

// ---- a splitting hint that throws -------------------------------------------------------

namespace
{

// Splits every piece as far as `hint` allows (pieces appended to `all`), from piece `from` on.
void SplitToTheBottom(std::vector<std::shared_ptr<IPointDataIterable>>& all,
                      const orv::DataProxy::IPointDataSplitHint& hint)
{
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        while (all[i]->IsDivisible(hint))
            all.push_back(all[i]->Split());
    }
}

} // namespace

TEST(FaultInjection, HintThrowingAtEveryCallLeavesEveryPieceWholeAndTheSplitCanGoOn)
{
    const PointCloudDataProvider provider = MappedProvider(GeneratedCloud(3000, 256));
    const WantAll consumer;
    FailingHint clean(40);
    std::vector<std::shared_ptr<IPointDataIterable>> reference{provider.GetIterable(consumer)};
    SplitToTheBottom(reference, clean);
    const int calls = clean.countdown.calls.load();
    std::uint64_t expected = 0;
    for (const auto& piece : reference)
    {
        for (auto c = piece->CreateCursor(); c->IsValid(); c->MoveNext())
            expected += PointHash(*c);
    }

    for (int n = 1; n <= calls; ++n)
    {
        FailingHint hint(40);
        hint.countdown.failAt = n;
        std::vector<std::shared_ptr<IPointDataIterable>> pieces{provider.GetIterable(consumer)};
        ExpectFault(n, [&] { SplitToTheBottom(pieces, hint); });
        hint.countdown.failAt = 0;
        SplitToTheBottom(pieces, hint); // goes on where it stopped
        EXPECT_EQ(pieces.size(), reference.size()) << "fault at call " << n;
        std::uint64_t sum = 0;
        std::uint64_t points = 0;
        for (const auto& piece : pieces)
        {
            for (auto c = piece->CreateCursor(); c->IsValid(); c->MoveNext(), ++points)
                sum += PointHash(*c);
        }
        EXPECT_EQ(points, provider.Size());
        EXPECT_EQ(sum, expected) << "fault at call " << n;
    }
    RecordProperty("injected_faults", std::to_string(calls));
}

// ---- allocation failure -----------------------------------------------------------------

namespace
{

// A job from builders to a query result read in split pieces, run step by step: builder A
// gets `pointsA` points, builder B `pointsB` points elsewhere, B is merged into A, a box takes
// the upper half of A's points and the lower half of B's. A step that fails for want of memory
// is checked (nothing half done), then run again with allocation working; the job must end
// exactly as a job that never failed.
class Job
{
public:
    Job(int pointsA, int pointsB)
        : m_pointsA(pointsA), m_pointsB(pointsB), m_factory(FiveKeyFactory())
    {
    }

    int Steps() const { return 2 + m_pointsA + m_pointsB + 5; }

    void Run(int step)
    {
        const int added = m_pointsA + m_pointsB;
        if (step == 0)
            m_a = m_factory.CreatePointDataBuilder(m_consumer);
        else if (step == 1)
            m_b = m_factory.CreatePointDataBuilder(m_consumer);
        else if (step < 2 + added)
        {
            const int k = step - 2;
            const bool toA = k < m_pointsA;
            ValuesAccessor point;
            point.values = ScenarioPoint(k);
            point.values.position = {(toA ? 0.0 : 100000.0) + 0.5 * k, double(k % 50), 1.0};
            (toA ? m_a : m_b)->AddPointData(point);
        }
        else if (step == 2 + added)
            dynamic_cast<PointCloudDataBuilder&>(*m_a).Merge(
                dynamic_cast<const PointCloudDataBuilder&>(*m_b));
        else if (step == 3 + added)
            m_merged = m_a->GetResult();
        else if (step == 4 + added)
        {
            const orv::DataProxy::InsideAxisAlignedBoxQuery box{
                {0.25 * m_pointsA, -1, -1},
                {100000.0 + 0.5 * m_pointsA + 0.25 * m_pointsB, 100, 100}};
            m_selected =
                dynamic_cast<const PointCloudDataProvider&>(*m_merged).GetPoints(box, false);
        }
        else if (step == 5 + added)
        {
            m_pieces = {m_selected->GetIterable(m_consumer)};
            SplitToTheBottom(m_pieces, MinimumPiece(7));
        }
        else if (step == 6 + added)
        {
            m_records.clear();
            for (const auto& piece : m_pieces)
            {
                for (auto c = piece->CreateCursor(); c->IsValid(); c->MoveNext())
                {
                    const GPointDouble q = c->GetPosition();
                    m_records.push_back({q.x, q.y, q.z,
                                         static_cast<double>(c->GetUnsignedInteger(0).value()),
                                         c->GetReal(0).value()});
                }
            }
            // Copies of what was built (copies share storage until written).
            const PointCloudDataBuilderFactory copy(m_factory);
            const PointCloudDataProvider provider(
                dynamic_cast<const PointCloudDataProvider&>(*m_merged));
            m_copiedSize = provider.Size() + copy.mapping.extraDataTypeByKey.size();
        }
    }

    // What must hold right after `step` failed: the step left nothing half done.
    void CheckAfterFailure(int step)
    {
        const int added = m_pointsA + m_pointsB;
        if (step >= 2 && step < 2 + added)
        {
            const int k = step - 2;
            const bool toA = k < m_pointsA;
            EXPECT_EQ(CloudOf(*(toA ? m_a : m_b)).Convert().GetStoredPointCount(),
                      static_cast<std::uint64_t>(toA ? k : k - m_pointsA))
                << "a failed point was added, or an earlier one lost";
        }
        else if (step == 2 + added)
        {
            EXPECT_EQ(CloudOf(*m_a).GetPointCount(), static_cast<std::uint64_t>(m_pointsA))
                << "a failed merge appended points";
            EXPECT_EQ(CloudOf(*m_b).GetPointCount(), static_cast<std::uint64_t>(m_pointsB));
        }
    }

    std::vector<std::array<double, 5>> Records() const { return m_records; }
    std::uint64_t CopiedSize() const { return m_copiedSize; }

private:
    int m_pointsA;
    int m_pointsB;
    WantAll m_consumer;
    PointCloudDataBuilderFactory m_factory;
    std::shared_ptr<IPointDataBuilder> m_a;
    std::shared_ptr<IPointDataBuilder> m_b;
    std::shared_ptr<IPointDataProvider> m_merged;
    std::unique_ptr<IPointDataProvider> m_selected;
    std::vector<std::shared_ptr<IPointDataIterable>> m_pieces;
    std::vector<std::array<double, 5>> m_records;
    std::uint64_t m_copiedSize = 0;
};

struct JobOutcome
{
    bool failed = false;
    int failedStep = -1;
    std::vector<std::array<double, 5>> records;
    std::uint64_t copiedSize = 0;
};

// Runs the job with `which` failing after `n` allocations (n < 0: never), counted over the
// whole job; after the first failure allocation works again.
JobOutcome RunJob(Allocator which, std::int64_t n, int pointsA, int pointsB)
{
    JobOutcome outcome;
    Job job(pointsA, pointsB);
    const FailureSwitch armed(which, n);
    for (int step = 0; step < job.Steps(); ++step)
    {
        try
        {
            job.Run(step);
        }
        catch (const std::bad_alloc&)
        {
            FailureSwitch::Off();
            EXPECT_FALSE(outcome.failed) << "a second failure with allocation switched off";
            outcome.failed = true;
            outcome.failedStep = step;
            job.CheckAfterFailure(step);
            job.Run(step); // allocation works again: the same step must now succeed
        }
    }
    FailureSwitch::Off();
    outcome.records = job.Records();
    outcome.copiedSize = job.CopiedSize();
    return outcome;
}

void DriveEveryAllocation(Allocator which, int pointsA, int pointsB, const char* property)
{
    // Type ids and registrations settle before the counts are taken.
    (void)RunJob(which, -1, pointsA, pointsB);
    const std::uint64_t liveBefore = orv::Testing::LiveBlockCount();
    const JobOutcome clean = RunJob(which, -1, pointsA, pointsB);
    ASSERT_FALSE(clean.records.empty());
    ASSERT_EQ(orv::Testing::LiveBlockCount(), liveBefore);

    std::int64_t n = 0;
    for (;; ++n)
    {
        const JobOutcome outcome = RunJob(which, n, pointsA, pointsB);
        EXPECT_EQ(orv::Testing::LiveBlockCount(), liveBefore)
            << "host blocks leaked after a failure at allocation " << n;
        EXPECT_EQ(outcome.records, clean.records)
            << "the job ended differently after a failure at allocation " << n << ", in step "
            << outcome.failedStep << " of " << Job(pointsA, pointsB).Steps();
        EXPECT_EQ(outcome.copiedSize, clean.copiedSize);
        if (!outcome.failed || ::testing::Test::HasFailure())
            break; // the job no longer reaches allocation n: every one has failed once
    }
    EXPECT_GT(n, 10);
    ::testing::Test::RecordProperty(property, std::to_string(n));
}

} // namespace

TEST(FaultInjection, HostAllocationFailingAtEveryAllocationOfAJobLeavesNoTraceOnRetry)
{
    DriveEveryAllocation(Allocator::Host, 40, 40, "injected_host_allocation_failures");
    // The merge appends across a table buffer's end (8192 elements): new buffers half-way.
    DriveEveryAllocation(Allocator::Host, 8190, 10, "injected_host_allocation_failures_large");
}

TEST(FaultInjection, OperatorNewFailingAtEveryAllocationOfAJobLeavesNoTraceOnRetry)
{
    DriveEveryAllocation(Allocator::Global, 40, 40, "injected_operator_new_failures");
}

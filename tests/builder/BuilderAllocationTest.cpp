#include "builder/PointCloudDataBuilderFactory.h"
#include "tests/support/TestClouds.h"

#include <gtest/gtest.h>

#include "host/base/Memory.h"

#include <dlfcn.h>

#include <cstdlib>
#include <new>

// This executable replaces the global operator new. While counting is on, every call is
// attributed to the shared library whose code called it: the adapter library ("its own") or
// anything else (the host's containers, the test). The host's element tables grow through
// orv::Alloc, counted by the host itself.

namespace
{
std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_adapterAllocations{0};
std::atomic<std::uint64_t> g_otherAllocations{0};

void CountCaller(const void* caller)
{
    if (!g_counting.load(std::memory_order_relaxed))
        return;
    Dl_info info{};
    const bool adapter = dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
                         std::strstr(info.dli_fname, "libOrvDataProxyImplTzk") != nullptr;
    ++(adapter ? g_adapterAllocations : g_otherAllocations);
}

struct Counts
{
    std::uint64_t adapter;
    std::uint64_t other;
    std::uint64_t hostBlocks;
};

template <class F>
Counts Counted(F&& work)
{
    g_adapterAllocations = 0;
    g_otherAllocations = 0;
    const std::uint64_t hostBefore = orv::Testing::AllocationCount();
    g_counting = true;
    work();
    g_counting = false;
    return {g_adapterAllocations, g_otherAllocations, orv::Testing::AllocationCount() - hostBefore};
}
} // namespace

void* operator new(std::size_t size)
{
    CountCaller(__builtin_return_address(0));
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

// Not inlined: inlined into a caller, GCC would see free() meet a block from operator new.
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}

__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

using namespace orv::TestSupport;

TEST(BuilderAllocation, AfterTheFirstPointAddPointDataAllocatesNothingOfItsOwn)
{
    PointCloudDataBuilderFactory f;
    f.MapOptionalComponent(C::Vector3, Type::Normal(), 4);
    f.MapOptionalComponent(C::UnsignedInteger, Type::Class(), 1);
    f.MapOptionalComponent(C::SignedInteger, Type::SplitColor(), 2);
    f.MapOptionalComponent(C::Real, Type::IntensityNew(), 4);
    const Key declined = f.MapOptionalComponent(C::Real, WideType<double>(), 8);
    f.MapOptionalComponent(C::Color, Type::Intensity(), 0);
    TestConsumer consumer({declined});
    const auto builder = f.CreatePointDataBuilder(consumer);

    PointRecord point; // the first point has no value at all
    EXPECT_GT(Counted([&] { builder->AddPointData(point); }).adapter, 0u)
        << "the attribution sees the staging being created";
    // Values come and go (slots written and cleared), the declined key gets its first value
    // late, and the host's tables grow past a buffer (8192 elements) on the way.
    const Counts loop = Counted(
        [&]
        {
            for (int i = 1; i < 20000; ++i)
            {
                point = PointRecord{};
                if (i % 3 != 0)
                {
                    Put(point, 0, GVector3{1.0, i * 1.0, 2.0});
                    Put(point, 0, std::uint64_t(i));
                    Put(point, 0, std::int64_t{-i});
                    Put(point, 0, i * 0.125);
                    Put(point, declined.index, i * 2.0);
                    Put(point, 0, RgbaColor{0.25, 0.5, 0.75, 1.0});
                }
                point.position = {i * 0.5, -i * 0.25, 3.0};
                builder->AddPointData(point);
            }
        });
    EXPECT_EQ(loop.adapter, 0u);
    EXPECT_GT(loop.hostBlocks, 0u) << "the host's own growth happened and is counted apart";
    RecordProperty("host_operator_new_calls", std::to_string(loop.other));
    EXPECT_EQ(SizeOf(*builder), 20000u);
}

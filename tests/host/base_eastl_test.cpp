#include "host/eastl/allocator.h"
#include "host/eastl/function.h"
#include "host/eastl/shared_ptr.h"
#include "host/eastl/string.h"
#include "tests/host/base_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>

namespace
{

// Counts live instances so tests see exactly when objects are built and destroyed.
struct Counted
{
    static int alive;
    static int built;
    Counted() { ++alive, ++built; }
    virtual ~Counted() { --alive; }
    virtual int Kind() const { return 1; }
};
int Counted::alive = 0;
int Counted::built = 0;

struct Derived final : Counted
{
    int Kind() const override { return 2; }
};

struct Throwing
{
    Throwing() { throw std::runtime_error("no"); }
};

struct Bytes17
{
    char bytes[17];
};

struct LiveBlocksUnchanged
{
    uint64_t before = orv::Testing::LiveBlockCount();
    ~LiveBlocksUnchanged() { EXPECT_EQ(orv::Testing::LiveBlockCount(), before); }
};

TEST(HostSharedPtr, AllocateSharedUsesOneBlockOfTheDocumentedSize)
{
    // A class with only a vtable pointer: 16 bytes of counts, 8 of object, rounded to 32.
    static_assert(eastl::allocate_shared_block_size<Counted> == 32);
    static_assert(eastl::allocate_shared_block_size<char> == 32);
    static_assert(eastl::allocate_shared_block_size<Bytes17> == 48);

    LiveBlocksUnchanged noLeak;
    const uint64_t made = orv::Testing::AllocationCount();
    eastl::shared_ptr<Counted> p = eastl::allocate_shared<Counted>(eastl::allocator());
    ASSERT_TRUE(p);
    EXPECT_EQ(orv::Testing::AllocationCount(), made + 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p.get()) % 16, 0u);
    // Use and weak count sit in the 8 bytes just before the object.
    int counts[2];
    std::memcpy(counts, reinterpret_cast<const char*>(p.get()) - 8, sizeof(counts));
    EXPECT_EQ(counts[0], 1);
    EXPECT_EQ(counts[1], 1);
}

TEST(HostSharedPtr, AllocateSharedGivesEmptyPointerWhenMemoryIsShort)
{
    LiveBlocksUnchanged noLeak;
    const int built = Counted::built;
    {
        FailAllocationsScope failing(0);
        eastl::shared_ptr<Counted> p = eastl::allocate_shared<Counted>(eastl::allocator());
        EXPECT_FALSE(p);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(p.use_count(), 0);
    }
    EXPECT_EQ(Counted::built, built);
    // A constructor that throws gives the block back.
    EXPECT_THROW(eastl::allocate_shared<Throwing>(eastl::allocator()), std::runtime_error);
}

TEST(HostSharedPtr, CountsFollowCopiesMovesAndConversions)
{
    LiveBlocksUnchanged noLeak;
    const int alive = Counted::alive;
    {
        auto derived = eastl::allocate_shared<Derived>(eastl::allocator());
        eastl::shared_ptr<Counted> base = derived; // converting copy
        EXPECT_EQ(derived.use_count(), 2);
        EXPECT_EQ(base, derived);
        EXPECT_EQ(base->Kind(), 2);

        eastl::shared_ptr<Counted> moved = std::move(base);
        EXPECT_EQ(base, nullptr);
        EXPECT_EQ(moved.use_count(), 2);

        eastl::shared_ptr<Counted> copy;
        copy = moved;
        eastl::shared_ptr<Counted>& alias = copy;
        copy = alias; // self-assignment keeps the count
        EXPECT_EQ(copy.use_count(), 3);

        auto back = eastl::dynamic_pointer_cast<Derived>(copy);
        EXPECT_EQ(back.use_count(), 4);
        auto plain = eastl::allocate_shared<Counted>(eastl::allocator());
        EXPECT_FALSE(eastl::dynamic_pointer_cast<Derived>(plain));
        EXPECT_EQ(plain.use_count(), 1);

        derived.reset();
        moved.reset();
        back = nullptr;
        EXPECT_TRUE(copy.unique());
        EXPECT_EQ(Counted::alive, alive + 2);
    }
    EXPECT_EQ(Counted::alive, alive);
}

TEST(HostSharedPtr, OwningARawPointerDeletesItWhenTheCountBlockFails)
{
    LiveBlocksUnchanged noLeak;
    const int alive = Counted::alive;
    Counted* raw = new Counted;
    FailAllocationsScope failing(0);
    EXPECT_THROW(eastl::shared_ptr<Counted>{raw}, std::bad_alloc);
    EXPECT_EQ(Counted::alive, alive);
}

TEST(HostString, ValueSemanticsAndFailure)
{
    LiveBlocksUnchanged noLeak;
    eastl::string empty(static_cast<const char*>(nullptr));
    EXPECT_TRUE(empty.empty());
    EXPECT_STREQ(empty.c_str(), "");

    eastl::string a("normal");
    eastl::string b = a;
    b[0] = 'N';
    EXPECT_EQ(a, "normal");
    EXPECT_NE(a, b);
    EXPECT_NE(a, eastl::string("norma")); // a prefix is not equal

    eastl::string c = std::move(b);
    EXPECT_TRUE(b.empty());
    c += c; // appending itself across a reallocation
    c += "!";
    EXPECT_EQ(c, "NormalNormal!");
    EXPECT_EQ(c.c_str()[c.size()], '\0');

    FailAllocationsScope failing(0);
    EXPECT_THROW(eastl::string("x"), std::bad_alloc);
    EXPECT_THROW(a += "defghijklmnop", std::bad_alloc);
    EXPECT_EQ(a, "normal");
}

TEST(HostFunction, EmptyCopyMoveAndOwnershipOfTheCallable)
{
    LiveBlocksUnchanged noLeak;
    eastl::function<int(int)> none;
    EXPECT_FALSE(none);
    EXPECT_THROW(none(1), std::bad_function_call);

    auto captured = eastl::allocate_shared<Counted>(eastl::allocator());
    int calls = 0;
    eastl::function<int(int)> f = [captured, &calls](int x)
    { return x + captured->Kind() + ++calls; };
    EXPECT_EQ(captured.use_count(), 2);
    eastl::function<int(int)> g = f; // copies the callable and its capture
    EXPECT_EQ(captured.use_count(), 3);
    EXPECT_EQ(g(10), 12);
    EXPECT_EQ(f(10), 13);

    eastl::function<int(int)> h = std::move(f);
    EXPECT_FALSE(f);
    EXPECT_EQ(captured.use_count(), 3);
    g = nullptr;
    h = nullptr;
    EXPECT_EQ(captured.use_count(), 1);
}

} // namespace

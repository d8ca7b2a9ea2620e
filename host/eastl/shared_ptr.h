#pragma once

#include "host/base/Memory.h"
#include "host/eastl/allocator.h"

#include <atomic>
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

// The host's shared pointer. Reference counts are atomic, so copies of one pointer may be
// made and dropped on several threads at once (one shared_ptr object itself is not to be
// written by two threads at the same time).
//
// Control block: a vtable pointer, the use count and the weak count (two ints), 16 bytes on a
// 64-bit host. The weak count is 1 while any use remains. When the use count drops to 0 the
// object is destroyed; when the weak count drops to 0 the control block (and, for
// allocate_shared, the object's storage with it) goes back through orv::Free.
//
// allocate_shared puts the control block and the object in ONE block of
// allocate_shared_block_size<T> bytes (16 + sizeof(T), rounded up to a multiple of 16), taken
// with allocator::allocate(size, 16, 0, 0). When the allocator has no memory it returns an
// empty pointer and constructs nothing; an exception from T's constructor releases the block
// and passes through.

namespace eastl
{

namespace internal
{

class ref_count_sp
{
public:
    ref_count_sp() noexcept = default;
    ref_count_sp(const ref_count_sp&) = delete;
    ref_count_sp& operator=(const ref_count_sp&) = delete;
    virtual ~ref_count_sp() = default;

    // Destroys the managed object (use count reached 0).
    virtual void free_value() noexcept = 0;
    // Releases the control block itself (weak count reached 0); `this` is gone afterwards.
    virtual void free_ref_count_sp() noexcept = 0;

    void addref() noexcept { m_refCount.fetch_add(1, std::memory_order_relaxed); }
    void release() noexcept
    {
        if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        {
            free_value();
            weakrelease();
        }
    }
    void weakrelease() noexcept
    {
        if (m_weakRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            free_ref_count_sp();
    }
    int use_count() const noexcept { return m_refCount.load(std::memory_order_relaxed); }
    int weak_count() const noexcept { return m_weakRefCount.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_refCount{1};
    std::atomic<int> m_weakRefCount{1};
};

static_assert(sizeof(void*) != 8 || sizeof(ref_count_sp) == 16,
              "the control block is a vtable pointer and two ints");

// Control block and object in one block (allocate_shared).
template <class T>
class ref_count_sp_inline final : public ref_count_sp
{
public:
    T* value() noexcept { return std::launder(reinterpret_cast<T*>(m_storage)); }
    void free_value() noexcept override { value()->~T(); }
    void free_ref_count_sp() noexcept override
    {
        void* block = this;
        this->~ref_count_sp_inline();
        orv::Free(block);
    }

    alignas(16) alignas(T) unsigned char m_storage[sizeof(T)];
};

// Control block for an object created elsewhere, released with a deleter.
template <class T, class Deleter>
class ref_count_sp_pointer final : public ref_count_sp
{
public:
    ref_count_sp_pointer(T* p, Deleter d) : m_value(p), m_deleter(std::move(d)) {}
    void free_value() noexcept override
    {
        m_deleter(m_value);
        m_value = nullptr;
    }
    void free_ref_count_sp() noexcept override
    {
        void* block = this;
        this->~ref_count_sp_pointer();
        orv::Free(block);
    }

private:
    T* m_value;
    Deleter m_deleter;
};

template <class T>
struct default_delete_sp
{
    void operator()(T* p) const noexcept { delete p; }
};

} // namespace internal

template <class T>
class shared_ptr;

template <class T, class... Args>
shared_ptr<T> allocate_shared(const allocator& a, Args&&... args);

template <class T>
class shared_ptr
{
    template <class U>
    using enable_if_convertible = std::enable_if_t<std::is_convertible<U*, T*>::value>;

public:
    using element_type = T;

    constexpr shared_ptr() noexcept = default;
    constexpr shared_ptr(std::nullptr_t) noexcept {}

    // Takes ownership of p (deleted with `delete`). If the control block cannot be allocated,
    // p is deleted and std::bad_alloc is thrown.
    template <class U, class = enable_if_convertible<U>>
    explicit shared_ptr(U* p) : shared_ptr(p, internal::default_delete_sp<U>())
    {
    }

    template <class U, class Deleter, class = enable_if_convertible<U>>
    shared_ptr(U* p, Deleter d)
    {
        if (p == nullptr)
            return;
        using Block = internal::ref_count_sp_pointer<U, Deleter>;
        void* mem = orv::Alloc(sizeof(Block), alignof(Block));
        if (mem == nullptr)
        {
            d(p);
            throw std::bad_alloc();
        }
        m_control = ::new (mem) Block(p, std::move(d));
        m_value = p;
    }

    shared_ptr(const shared_ptr& other) noexcept
        : m_value(other.m_value), m_control(other.m_control)
    {
        if (m_control)
            m_control->addref();
    }
    template <class U, class = enable_if_convertible<U>>
    shared_ptr(const shared_ptr<U>& other) noexcept
        : m_value(other.m_value), m_control(other.m_control)
    {
        if (m_control)
            m_control->addref();
    }
    shared_ptr(shared_ptr&& other) noexcept : m_value(other.m_value), m_control(other.m_control)
    {
        other.m_value = nullptr;
        other.m_control = nullptr;
    }
    template <class U, class = enable_if_convertible<U>>
    shared_ptr(shared_ptr<U>&& other) noexcept : m_value(other.m_value), m_control(other.m_control)
    {
        other.m_value = nullptr;
        other.m_control = nullptr;
    }
    // Aliasing: shares ownership with `owner` but points at `p` (used by the pointer casts).
    template <class U>
    shared_ptr(const shared_ptr<U>& owner, T* p) noexcept : m_value(p), m_control(owner.m_control)
    {
        if (m_control)
            m_control->addref();
    }

    ~shared_ptr()
    {
        if (m_control)
            m_control->release();
    }

    shared_ptr& operator=(const shared_ptr& other) noexcept
    {
        shared_ptr(other).swap(*this);
        return *this;
    }
    template <class U, class = enable_if_convertible<U>>
    shared_ptr& operator=(const shared_ptr<U>& other) noexcept
    {
        shared_ptr(other).swap(*this);
        return *this;
    }
    shared_ptr& operator=(shared_ptr&& other) noexcept
    {
        shared_ptr(std::move(other)).swap(*this);
        return *this;
    }
    template <class U, class = enable_if_convertible<U>>
    shared_ptr& operator=(shared_ptr<U>&& other) noexcept
    {
        shared_ptr(std::move(other)).swap(*this);
        return *this;
    }
    shared_ptr& operator=(std::nullptr_t) noexcept
    {
        reset();
        return *this;
    }

    void reset() noexcept { shared_ptr().swap(*this); }
    template <class U, class = enable_if_convertible<U>>
    void reset(U* p)
    {
        shared_ptr(p).swap(*this);
    }

    void swap(shared_ptr& other) noexcept
    {
        std::swap(m_value, other.m_value);
        std::swap(m_control, other.m_control);
    }

    T* get() const noexcept { return m_value; }
    std::add_lvalue_reference_t<T> operator*() const noexcept { return *m_value; }
    T* operator->() const noexcept { return m_value; }
    int use_count() const noexcept { return m_control ? m_control->use_count() : 0; }
    bool unique() const noexcept { return use_count() == 1; }
    explicit operator bool() const noexcept { return m_value != nullptr; }

private:
    template <class U>
    friend class shared_ptr;
    template <class U, class... Args>
    friend shared_ptr<U> allocate_shared(const allocator& a, Args&&... args);

    T* m_value = nullptr;
    internal::ref_count_sp* m_control = nullptr;
};

// Size of the single block allocate_shared<T> asks the allocator for.
template <class T>
inline constexpr size_t allocate_shared_block_size = sizeof(internal::ref_count_sp_inline<T>);

template <class T, class... Args>
shared_ptr<T> allocate_shared(const allocator& a, Args&&... args)
{
    using Block = internal::ref_count_sp_inline<T>;
    allocator alloc(a);
    void* mem = alloc.allocate(sizeof(Block), alignof(Block), 0, 0);
    if (mem == nullptr)
        return shared_ptr<T>();
    Block* block = ::new (mem) Block; // no value-initialisation: T is constructed next
    try
    {
        ::new (static_cast<void*>(block->m_storage)) T(std::forward<Args>(args)...);
    }
    catch (...)
    {
        block->~Block();
        orv::Free(mem);
        throw;
    }
    shared_ptr<T> result;
    result.m_value = block->value();
    result.m_control = block;
    return result;
}

// allocate_shared with a default allocator: also gives an empty pointer when memory is short.
template <class T, class... Args>
shared_ptr<T> make_shared(Args&&... args)
{
    return allocate_shared<T>(allocator(), std::forward<Args>(args)...);
}

template <class T, class U>
shared_ptr<T> static_pointer_cast(const shared_ptr<U>& p) noexcept
{
    return shared_ptr<T>(p, static_cast<T*>(p.get()));
}

// Empty when the cast fails (the result then shares nothing).
template <class T, class U>
shared_ptr<T> dynamic_pointer_cast(const shared_ptr<U>& p) noexcept
{
    T* cast = dynamic_cast<T*>(p.get());
    return cast ? shared_ptr<T>(p, cast) : shared_ptr<T>();
}

template <class T, class U>
bool operator==(const shared_ptr<T>& a, const shared_ptr<U>& b) noexcept
{
    return a.get() == b.get();
}
template <class T, class U>
bool operator!=(const shared_ptr<T>& a, const shared_ptr<U>& b) noexcept
{
    return a.get() != b.get();
}
template <class T>
bool operator==(const shared_ptr<T>& a, std::nullptr_t) noexcept
{
    return !a;
}
template <class T>
bool operator==(std::nullptr_t, const shared_ptr<T>& a) noexcept
{
    return !a;
}
template <class T>
bool operator!=(const shared_ptr<T>& a, std::nullptr_t) noexcept
{
    return static_cast<bool>(a);
}
template <class T>
bool operator!=(std::nullptr_t, const shared_ptr<T>& a) noexcept
{
    return static_cast<bool>(a);
}

} // namespace eastl

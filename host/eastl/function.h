#pragma once

#include "host/base/Memory.h"

#include <functional>
#include <new>
#include <type_traits>
#include <utility>

// The host's type-erased callable. Empty by default; copying copies the callable; a moved-from
// function is empty. The callable lives in a block from orv::Alloc (std::bad_alloc when memory
// is short). Calling an empty function throws std::bad_function_call.

namespace eastl
{

template <class Signature>
class function;

template <class R, class... Args>
class function<R(Args...)>
{
    class callable_base
    {
    public:
        virtual ~callable_base() = default;
        virtual R invoke(Args... args) = 0;
        virtual callable_base* clone() const = 0;
    };

    template <class F>
    class callable final : public callable_base
    {
    public:
        explicit callable(F f) : m_functor(std::move(f)) {}
        R invoke(Args... args) override
        {
            return static_cast<R>(std::invoke(m_functor, std::forward<Args>(args)...));
        }
        callable_base* clone() const override { return create(m_functor); }

        static callable* create(const F& f) { return create_from(f); }
        static callable* create(F&& f) { return create_from(std::move(f)); }

    private:
        template <class G>
        static callable* create_from(G&& f)
        {
            void* mem = orv::Alloc(sizeof(callable), alignof(callable));
            if (mem == nullptr)
                throw std::bad_alloc();
            try
            {
                return ::new (mem) callable(std::forward<G>(f));
            }
            catch (...)
            {
                orv::Free(mem);
                throw;
            }
        }

        F m_functor;
    };

    static void destroy(callable_base* c) noexcept
    {
        if (c != nullptr)
        {
            c->~callable_base();
            orv::Free(c);
        }
    }

    template <class F>
    using enable_if_callable =
        std::enable_if_t<!std::is_same<std::decay_t<F>, function>::value &&
                         std::is_invocable_r<R, std::decay_t<F>&, Args...>::value>;

public:
    function() noexcept = default;
    function(std::nullptr_t) noexcept {}

    template <class F, class = enable_if_callable<F>>
    function(F&& f)
    {
        using Stored = std::decay_t<F>;
        if constexpr (std::is_pointer<Stored>::value || std::is_member_pointer<Stored>::value)
        {
            if (f == nullptr)
                return;
        }
        m_callable = callable<Stored>::create(Stored(std::forward<F>(f)));
    }

    function(const function& other)
        : m_callable(other.m_callable ? other.m_callable->clone() : nullptr)
    {
    }
    function(function&& other) noexcept : m_callable(other.m_callable)
    {
        other.m_callable = nullptr;
    }
    ~function() { destroy(m_callable); }

    function& operator=(const function& other)
    {
        function(other).swap(*this);
        return *this;
    }
    function& operator=(function&& other) noexcept
    {
        function(std::move(other)).swap(*this);
        return *this;
    }
    function& operator=(std::nullptr_t) noexcept
    {
        destroy(m_callable);
        m_callable = nullptr;
        return *this;
    }
    template <class F, class = enable_if_callable<F>>
    function& operator=(F&& f)
    {
        function(std::forward<F>(f)).swap(*this);
        return *this;
    }

    void swap(function& other) noexcept { std::swap(m_callable, other.m_callable); }

    explicit operator bool() const noexcept { return m_callable != nullptr; }

    R operator()(Args... args) const
    {
        if (m_callable == nullptr)
            throw std::bad_function_call();
        return m_callable->invoke(std::forward<Args>(args)...);
    }

private:
    callable_base* m_callable = nullptr;
};

template <class R, class... Args>
bool operator==(const function<R(Args...)>& f, std::nullptr_t) noexcept
{
    return !f;
}
template <class R, class... Args>
bool operator!=(const function<R(Args...)>& f, std::nullptr_t) noexcept
{
    return static_cast<bool>(f);
}

} // namespace eastl

#pragma once

#include "host/base/Memory.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

// The host's string. The characters live in one heap buffer from orv::Alloc (released with
// orv::Free, from whichever library drops the string), always followed by a terminating C().
// An empty string owns no buffer. Allocation failure throws std::bad_alloc; a moved-from
// string is empty and usable. A null `const C*` is read as an empty string.

namespace eastl
{

template <class C>
class basic_string
{
public:
    using value_type = C;
    using size_type = size_t;
    using iterator = C*;
    using const_iterator = const C*;
    static constexpr size_type npos = static_cast<size_type>(-1);

    basic_string() noexcept = default;
    basic_string(const C* s) { assign(s, length_of(s)); }
    basic_string(const C* s, size_type n) { assign(s, s ? n : 0); }
    basic_string(size_type n, C c)
    {
        reserve(n);
        for (size_type i = 0; i < n; ++i)
            m_begin[i] = c;
        set_size(n);
    }
    basic_string(const basic_string& other) { assign(other.data(), other.size()); }
    basic_string(basic_string&& other) noexcept { swap(other); }
    ~basic_string() { orv::Free(m_heap); }

    basic_string& operator=(const basic_string& other)
    {
        if (this != &other)
            assign(other.data(), other.size());
        return *this;
    }
    basic_string& operator=(basic_string&& other) noexcept
    {
        basic_string(std::move(other)).swap(*this);
        return *this;
    }
    basic_string& operator=(const C* s) { return assign(s, length_of(s)); }

    basic_string& assign(const C* s, size_type n)
    {
        if (n > m_capacity)
        {
            // Copy first: `s` may point into our own buffer.
            basic_string copy;
            copy.reserve(n);
            std::memcpy(copy.m_begin, s, n * sizeof(C));
            copy.set_size(n);
            swap(copy);
            return *this;
        }
        if (n != 0)
            std::memmove(m_begin, s, n * sizeof(C));
        set_size(n);
        return *this;
    }

    basic_string& append(const C* s, size_type n)
    {
        if (s == nullptr || n == 0)
            return *this;
        if (m_size + n > m_capacity)
        {
            basic_string grown;
            grown.reserve(grow_to(m_size + n));
            std::memcpy(grown.m_begin, m_begin, m_size * sizeof(C));
            std::memcpy(grown.m_begin + m_size, s, n * sizeof(C));
            grown.set_size(m_size + n);
            swap(grown);
            return *this;
        }
        std::memmove(m_begin + m_size, s, n * sizeof(C));
        set_size(m_size + n);
        return *this;
    }
    basic_string& operator+=(const basic_string& s) { return append(s.data(), s.size()); }
    basic_string& operator+=(const C* s) { return append(s, length_of(s)); }
    basic_string& operator+=(C c) { return append(&c, 1); }
    void push_back(C c) { append(&c, 1); }

    void reserve(size_type n)
    {
        if (n <= m_capacity)
            return;
        if (n >= static_cast<size_type>(-1) / sizeof(C))
            throw std::bad_alloc();
        C* buffer = static_cast<C*>(orv::Alloc((n + 1) * sizeof(C), 16));
        if (buffer == nullptr)
            throw std::bad_alloc();
        std::memcpy(buffer, m_begin, (m_size + 1) * sizeof(C));
        orv::Free(m_heap);
        m_heap = buffer;
        m_begin = buffer;
        m_capacity = n;
    }
    void clear() noexcept { set_size(0); }

    void swap(basic_string& other) noexcept
    {
        std::swap(m_heap, other.m_heap);
        std::swap(m_begin, other.m_begin);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    const C* c_str() const noexcept { return m_begin; }
    const C* data() const noexcept { return m_begin; }
    size_type size() const noexcept { return m_size; }
    size_type length() const noexcept { return m_size; }
    size_type capacity() const noexcept { return m_capacity; }
    bool empty() const noexcept { return m_size == 0; }

    C& operator[](size_type i) noexcept { return m_begin[i]; }
    const C& operator[](size_type i) const noexcept { return m_begin[i]; }
    iterator begin() noexcept { return m_begin; }
    iterator end() noexcept { return m_begin + m_size; }
    const_iterator begin() const noexcept { return m_begin; }
    const_iterator end() const noexcept { return m_begin + m_size; }

    // <0, 0, >0 as this string orders before, equal to, after `other` (by character value).
    int compare(const C* s, size_type n) const noexcept
    {
        const size_type common = m_size < n ? m_size : n;
        for (size_type i = 0; i < common; ++i)
        {
            if (m_begin[i] != s[i])
                return m_begin[i] < s[i] ? -1 : 1;
        }
        return m_size == n ? 0 : (m_size < n ? -1 : 1);
    }
    int compare(const basic_string& other) const noexcept
    {
        return compare(other.data(), other.size());
    }

    static size_type length_of(const C* s) noexcept
    {
        size_type n = 0;
        if (s != nullptr)
        {
            while (s[n] != C())
                ++n;
        }
        return n;
    }

private:
    void set_size(size_type n) noexcept
    {
        m_size = n;
        if (m_heap != nullptr)
            m_begin[n] = C();
    }
    size_type grow_to(size_type needed) const noexcept
    {
        return needed < 2 * m_capacity ? 2 * m_capacity : needed;
    }

    static C* empty_text() noexcept
    {
        static C terminator = C();
        return &terminator;
    }

    C* m_heap = nullptr;       // owned buffer (capacity + 1 characters), or null
    C* m_begin = empty_text(); // m_heap, or a shared terminator while nothing is owned
    size_type m_size = 0;
    size_type m_capacity = 0;
};

template <class C>
bool operator==(const basic_string<C>& a, const basic_string<C>& b) noexcept
{
    return a.size() == b.size() && a.compare(b) == 0;
}
template <class C>
bool operator!=(const basic_string<C>& a, const basic_string<C>& b) noexcept
{
    return !(a == b);
}
template <class C>
bool operator<(const basic_string<C>& a, const basic_string<C>& b) noexcept
{
    return a.compare(b) < 0;
}
template <class C>
bool operator==(const basic_string<C>& a, const C* b) noexcept
{
    return a.compare(b, basic_string<C>::length_of(b)) == 0;
}
template <class C>
bool operator==(const C* a, const basic_string<C>& b) noexcept
{
    return b == a;
}
template <class C>
bool operator!=(const basic_string<C>& a, const C* b) noexcept
{
    return !(a == b);
}
template <class C>
bool operator!=(const C* a, const basic_string<C>& b) noexcept
{
    return !(b == a);
}

using string = basic_string<char>;

} // namespace eastl

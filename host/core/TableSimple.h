#pragma once

#include "host/base/Memory.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace orv::Collection
{

// A plain contiguous table of trivially copyable elements in one block from orv::Alloc (host
// cursor objects hold such tables by value). Growing may move the elements, unlike
// TableCluster. Allocation failure throws std::bad_alloc and leaves the table unchanged.
// Copies are deep; a moved-from table is empty. Not synchronised.
template <class T>
class TableSimple
{
    static_assert(std::is_trivially_copyable<T>::value, "TableSimple copies its elements as bytes");

public:
    TableSimple() noexcept = default;
    explicit TableSimple(size_t n, const T& value = T()) { Resize(n, value); }
    TableSimple(const TableSimple& other)
    {
        Reserve(other.m_size);
        if (other.m_size != 0)
            std::memcpy(m_data, other.m_data, other.m_size * sizeof(T));
        m_size = other.m_size;
    }
    TableSimple(TableSimple&& other) noexcept { Swap(other); }
    ~TableSimple() { orv::Free(m_data); }

    TableSimple& operator=(const TableSimple& other)
    {
        if (this != &other)
            TableSimple(other).Swap(*this);
        return *this;
    }
    TableSimple& operator=(TableSimple&& other) noexcept
    {
        TableSimple(std::move(other)).Swap(*this);
        return *this;
    }

    void Reserve(size_t n)
    {
        if (n <= m_capacity)
            return;
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        T* data = static_cast<T*>(orv::Alloc(n * sizeof(T), alignof(T) < 16 ? 16 : alignof(T)));
        if (data == nullptr)
            throw std::bad_alloc();
        if (m_size != 0)
            std::memcpy(data, m_data, m_size * sizeof(T));
        orv::Free(m_data);
        m_data = data;
        m_capacity = n;
    }

    // New elements take `value`.
    void Resize(size_t n, const T& value = T())
    {
        Reserve(n);
        for (size_t i = m_size; i < n; ++i)
            m_data[i] = value;
        m_size = n;
    }

    void PushBack(const T& value)
    {
        if (m_size == m_capacity)
        {
            const T copy = value; // `value` may live in the block about to move
            Reserve(m_capacity < 8 ? 8 : m_capacity * 2);
            m_data[m_size++] = copy;
            return;
        }
        m_data[m_size++] = value;
    }

    void Clear() noexcept { m_size = 0; }
    void Swap(TableSimple& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    size_t Size() const noexcept { return m_size; }
    size_t Capacity() const noexcept { return m_capacity; }
    bool Empty() const noexcept { return m_size == 0; }
    T* Data() noexcept { return m_data; }
    const T* Data() const noexcept { return m_data; }
    T& operator[](size_t i) noexcept { return m_data[i]; }
    const T& operator[](size_t i) const noexcept { return m_data[i]; }
    T* begin() noexcept { return m_data; }
    T* end() noexcept { return m_data + m_size; }
    const T* begin() const noexcept { return m_data; }
    const T* end() const noexcept { return m_data + m_size; }

private:
    T* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

} // namespace orv::Collection

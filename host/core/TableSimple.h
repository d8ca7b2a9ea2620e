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
        Reserve(other.mSize);
        if (other.mSize != 0)
            std::memcpy(mData, other.mData, other.mSize * sizeof(T));
        mSize = other.mSize;
    }
    TableSimple(TableSimple&& other) noexcept { Swap(other); }
    ~TableSimple() { orv::Free(mData); }

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
        if (n <= mCapacity)
            return;
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        T* data = static_cast<T*>(orv::Alloc(n * sizeof(T), alignof(T) < 16 ? 16 : alignof(T)));
        if (data == nullptr)
            throw std::bad_alloc();
        if (mSize != 0)
            std::memcpy(data, mData, mSize * sizeof(T));
        orv::Free(mData);
        mData = data;
        mCapacity = n;
    }

    // New elements take `value`.
    void Resize(size_t n, const T& value = T())
    {
        Reserve(n);
        for (size_t i = mSize; i < n; ++i)
            mData[i] = value;
        mSize = n;
    }

    void PushBack(const T& value)
    {
        if (mSize == mCapacity)
        {
            const T copy = value; // `value` may live in the block about to move
            Reserve(mCapacity < 8 ? 8 : mCapacity * 2);
            mData[mSize++] = copy;
            return;
        }
        mData[mSize++] = value;
    }

    void Clear() noexcept { mSize = 0; }
    void Swap(TableSimple& other) noexcept
    {
        std::swap(mData, other.mData);
        std::swap(mSize, other.mSize);
        std::swap(mCapacity, other.mCapacity);
    }

    size_t Size() const noexcept { return mSize; }
    size_t Capacity() const noexcept { return mCapacity; }
    bool Empty() const noexcept { return mSize == 0; }
    T* Data() noexcept { return mData; }
    const T* Data() const noexcept { return mData; }
    T& operator[](size_t i) noexcept { return mData[i]; }
    const T& operator[](size_t i) const noexcept { return mData[i]; }
    T* begin() noexcept { return mData; }
    T* end() noexcept { return mData + mSize; }
    const T* begin() const noexcept { return mData; }
    const T* end() const noexcept { return mData + mSize; }

private:
    T* mData = nullptr;
    size_t mSize = 0;
    size_t mCapacity = 0;
};

} // namespace orv::Collection

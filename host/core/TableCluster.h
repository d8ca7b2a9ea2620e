#pragma once

#include "host/core/CoreExport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::Collection
{

// A table of fixed-size elements kept in equally sized buffers (clusters) that are never
// moved: an element's address stays valid while the table grows, until Clear, assignment or
// destruction. Buffers come from orv::Alloc and are filled in order; element i lives in buffer
// i / elementsPerBuffer at slot i % elementsPerBuffer.
//
// `count` is public and read directly by callers (it is the table's only notion of size).
// A table is not synchronised: one writer, or any number of readers, at a time.
//
// Degenerate shapes are promoted rather than refused: an element size of 0 is stored as 1 and
// 0 elements per buffer as 1.
class ORV_CORE_API TableCluster
{
public:
    static constexpr uint32_t kDefaultElementsPerBuffer = 8192;

    explicit TableCluster(uint32_t elementSize,
                          uint32_t elementsPerBuffer = kDefaultElementsPerBuffer);
    // Copies hold their own buffers with the same elements (capacity is not copied).
    TableCluster(const TableCluster& other);
    TableCluster& operator=(const TableCluster& other);
    // A moved-from table is empty and keeps its shape.
    TableCluster(TableCluster&& other) noexcept;
    TableCluster& operator=(TableCluster&& other) noexcept;
    ~TableCluster();

    // Appends one element and gives its address. New(true) zero-fills it; New(false) leaves
    // the fresh-fill byte (SetFreshFill; 0 on the reference host, kAlternateFillByte on the
    // alternate one) in every byte of it, so callers that do not write a New(false) element
    // must not expect zeros. Throws std::bad_alloc when no buffer
    // can be obtained and std::length_error when count would pass 2^32 - 1.
    void* New(bool zeroFill);

    // Address of element i, or nullptr when i >= count.
    void* GetElm(unsigned int i) const
    {
        if (i >= count)
            return nullptr;
        return m_buffers[BufferOf(i)] + SlotOf(i) * m_elementSize;
    }

    uint32_t count = 0;

    // Where an appender writes: buffer b (b < GetBufferCount()), and how a position splits into
    // its buffer and its slot there (every table of one buffer length splits it alike).
    uint8_t* GetBuffer(size_t b) const { return m_buffers[b]; }
    void Locate(uint32_t i, uint32_t& buffer, uint32_t& slot) const
    {
        buffer = uint32_t(BufferOf(i));
        slot = uint32_t(SlotOf(i));
    }

    uint32_t GetElementSize() const { return m_elementSize; }
    uint32_t GetElementsPerBuffer() const { return m_elementsPerBuffer; }
    size_t GetBufferCount() const { return m_buffers.size(); }
    // Elements that fit in the buffers already obtained.
    uint64_t GetCapacity() const { return uint64_t(m_buffers.size()) * m_elementsPerBuffer; }

    // Obtains buffers until at least n elements (at most 2^32 - 1) fit; throws std::bad_alloc.
    void Reserve(uint64_t n);
    // Drops every element and returns every buffer.
    void Clear();

    // The byte New(false) leaves in a new element. Tests set it to something other than 0 to
    // see the elements a caller did not write.
    void SetFreshFill(uint8_t byte) { m_freshFill = byte; }
    uint8_t GetFreshFill() const { return m_freshFill; }

    class Iterator;

private:
    uint64_t BufferOf(uint64_t i) const
    {
        return m_shift != kNoShift ? i >> m_shift : i / m_elementsPerBuffer;
    }
    uint64_t SlotOf(uint64_t i) const
    {
        return m_shift != kNoShift ? i & (m_elementsPerBuffer - 1) : i % m_elementsPerBuffer;
    }
    void AddBuffer();
    void Release() noexcept;

    static constexpr uint32_t kNoShift = 0xFFFFFFFFu;

    uint32_t m_elementSize;
    uint32_t m_elementsPerBuffer;
    uint32_t m_shift; // log2(elements per buffer) when that is a power of two, else kNoShift
    size_t m_bufferBytes;
    uint8_t m_freshFill;
    std::vector<uint8_t*> m_buffers;
};

// A position in a TableCluster that walks it element by element, buffer by buffer.
//
// The fields are public: cursors read and step them inline. `ptr` is the current element,
// `bufEnd` one past the last slot of the current buffer (its capacity, not the element count),
// `stride` the element size, `pos` the element counter.
//
// End convention: an iterator at a position whose buffer does not exist has
// ptr = bufEnd = nullptr. Built at `count`, or stepped off the last element with Next, an
// iterator reads the same (ptr, pos), also when count is a multiple of the buffer size (both
// then stand at null) and for an empty table. A position >= count inside an existing buffer
// gives that slot's address, as stepping there does. A default iterator has ptr = bufEnd =
// nullptr and so reads as "at the end of its buffer", i.e. no value.
//
// Positions are 32-bit: positions beyond 2^32 - 1 and below 0 are clamped to those bounds.
// The iterator borrows the table: it must not outlive it, and a table that drops buffers
// (Clear, assignment) invalidates its iterators.
class ORV_CORE_API TableCluster::Iterator
{
public:
    Iterator() = default;
    Iterator(const TableCluster* tbl, uint64_t position) { Seek(tbl, position); }

    uint8_t* ptr = nullptr;
    uint8_t* bufEnd = nullptr;
    uint32_t stride = 0;
    uint32_t pos = 0;
    const TableCluster* table = nullptr;

    void* Get() const { return ptr; }
    bool AtBufferEnd() const { return ptr >= bufEnd; }

    // One element on. Precondition: !AtBufferEnd().
    void Next()
    {
        ptr += stride;
        ++pos;
        if (ptr == bufEnd)
            FirstOfNextBuf();
    }

    // Moves to the first element of the buffer after the current one (from Next: the buffer
    // after the one just used up); past the last buffer ptr = bufEnd = nullptr, and pos is the
    // first position of that missing buffer. At ptr == nullptr it changes nothing.
    void FirstOfNextBuf();

    // Moves n elements at once, in either direction, across buffers.
    Iterator& operator+=(int64_t n)
    {
        constexpr int64_t kFar = int64_t(1) << 40; // beyond every 32-bit position
        int64_t target = n >= kFar ? kFar : (n <= -kFar ? 0 : int64_t(pos) + n);
        Seek(table, target < 0 ? 0 : uint64_t(target));
        return *this;
    }

    bool operator==(const Iterator& other) const { return ptr == other.ptr && pos == other.pos; }
    bool operator!=(const Iterator& other) const { return !(*this == other); }

private:
    void Seek(const TableCluster* tbl, uint64_t position)
    {
        table = tbl;
        pos = position > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(position);
        ptr = bufEnd = nullptr;
        if (tbl == nullptr)
        {
            stride = 0;
            return;
        }
        stride = tbl->m_elementSize;
        const uint64_t buffer = tbl->BufferOf(position);
        if (position <= 0xFFFFFFFFu && buffer < tbl->m_buffers.size())
        {
            uint8_t* base = tbl->m_buffers[size_t(buffer)];
            ptr = base + tbl->SlotOf(position) * stride;
            bufEnd = base + tbl->m_bufferBytes;
        }
    }
};

} // namespace orv::Collection

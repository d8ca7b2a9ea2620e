#include "host/core/TableCluster.h"

#include "host/base/HostVariant.h"
#include "host/base/Memory.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace orv::Collection
{

namespace
{
uint32_t ShiftOf(uint32_t n)
{
    if ((n & (n - 1)) != 0)
        return 0xFFFFFFFFu;
    uint32_t shift = 0;
    while ((uint32_t(1) << shift) != n)
        ++shift;
    return shift;
}
} // namespace

TableCluster::TableCluster(uint32_t elementSize, uint32_t elementsPerBuffer)
    : m_elementSize(elementSize == 0 ? 1 : elementSize),
      m_elementsPerBuffer(elementsPerBuffer == 0 ? 1 : elementsPerBuffer),
      m_shift(ShiftOf(m_elementsPerBuffer)),
      m_bufferBytes(size_t(m_elementSize) * m_elementsPerBuffer),
      m_freshFill(IsAlternateHost() ? kAlternateFillByte : 0)
{
}

TableCluster::TableCluster(const TableCluster& other)
    : m_elementSize(other.m_elementSize), m_elementsPerBuffer(other.m_elementsPerBuffer),
      m_shift(other.m_shift), m_bufferBytes(other.m_bufferBytes), m_freshFill(other.m_freshFill)
{
    try
    {
        Reserve(other.count);
    }
    catch (...)
    {
        Release();
        throw;
    }
    // Buffers are filled in order, so every buffer but the last is full.
    uint64_t left = uint64_t(other.count) * m_elementSize;
    for (size_t b = 0; left != 0; ++b)
    {
        const size_t bytes = left < m_bufferBytes ? size_t(left) : m_bufferBytes;
        std::memcpy(m_buffers[b], other.m_buffers[b], bytes);
        left -= bytes;
    }
    count = other.count;
}

TableCluster& TableCluster::operator=(const TableCluster& other)
{
    if (this != &other)
    {
        TableCluster copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TableCluster::TableCluster(TableCluster&& other) noexcept
    : count(other.count), m_elementSize(other.m_elementSize),
      m_elementsPerBuffer(other.m_elementsPerBuffer), m_shift(other.m_shift),
      m_bufferBytes(other.m_bufferBytes), m_freshFill(other.m_freshFill),
      m_buffers(std::move(other.m_buffers))
{
    other.m_buffers.clear();
    other.count = 0;
}

TableCluster& TableCluster::operator=(TableCluster&& other) noexcept
{
    if (this != &other)
    {
        Release();
        count = other.count;
        m_elementSize = other.m_elementSize;
        m_elementsPerBuffer = other.m_elementsPerBuffer;
        m_shift = other.m_shift;
        m_bufferBytes = other.m_bufferBytes;
        m_freshFill = other.m_freshFill;
        m_buffers = std::move(other.m_buffers);
        other.m_buffers.clear();
        other.count = 0;
    }
    return *this;
}

TableCluster::~TableCluster()
{
    Release();
}

void TableCluster::Release() noexcept
{
    for (uint8_t* buffer : m_buffers)
        orv::Free(buffer);
    m_buffers.clear();
    count = 0;
}

void TableCluster::AddBuffer()
{
    m_buffers.reserve(m_buffers.size() + 1); // may throw; nothing obtained yet
    void* buffer = orv::Alloc(m_bufferBytes, 16);
    if (buffer == nullptr)
        throw std::bad_alloc();
    m_buffers.push_back(static_cast<uint8_t*>(buffer));
}

void* TableCluster::New(bool zeroFill)
{
    if (count == 0xFFFFFFFFu)
        throw std::length_error("TableCluster holds 2^32 - 1 elements");
    if (count >= GetCapacity())
        AddBuffer();
    uint8_t* element = m_buffers[BufferOf(count)] + SlotOf(count) * m_elementSize;
    std::memset(element, zeroFill ? 0 : m_freshFill, m_elementSize);
    ++count;
    return element;
}

void TableCluster::Reserve(uint64_t n)
{
    if (n > 0xFFFFFFFFu)
        n = 0xFFFFFFFFu;
    while (GetCapacity() < n)
        AddBuffer();
}

void TableCluster::Clear()
{
    Release();
}

void TableCluster::Iterator::FirstOfNextBuf()
{
    if (ptr == nullptr || table == nullptr)
    {
        ptr = bufEnd = nullptr;
        return;
    }
    // Stepping with Next leaves ptr == bufEnd with pos already on the next buffer's first
    // position; otherwise pos is inside the current buffer.
    const uint64_t current = table->BufferOf(ptr < bufEnd ? uint64_t(pos) : uint64_t(pos) - 1);
    const uint64_t next = current + 1;
    const uint64_t first = next * table->m_elementsPerBuffer;
    pos = first > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(first);
    if (next < table->m_buffers.size() && first <= 0xFFFFFFFFu)
    {
        ptr = table->m_buffers[size_t(next)];
        bufEnd = ptr + table->m_bufferBytes;
    }
    else
    {
        ptr = bufEnd = nullptr;
    }
}

} // namespace orv::Collection

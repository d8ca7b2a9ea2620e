#include "host/core/LightTableOfBit.h"

namespace orv::Collection
{

namespace
{
constexpr uint64_t kAllOnes = ~uint64_t(0);

size_t WordsFor(uint32_t bits)
{
    return (size_t(bits) + 63) / 64;
}

unsigned LowestSetBit(uint64_t word) // word != 0
{
    return unsigned(__builtin_ctzll(word));
}
} // namespace

LightTableOfBit::LightTableOfBit(uint32_t size, bool value)
{
    Resize(size, value);
}

void LightTableOfBit::Resize(uint32_t n, bool value)
{
    const uint32_t old = m_size;
    m_words.resize(WordsFor(n), 0);
    m_size = n;
    if (value && n > old)
    {
        // Partial word holding the first new position, then whole words.
        uint32_t i = old;
        if ((i & 63) != 0)
        {
            m_words[i >> 6] |= kAllOnes << (i & 63);
            i = (i | 63) + 1;
        }
        for (size_t w = i >> 6; w < m_words.size(); ++w)
            m_words[w] = kAllOnes;
    }
    ClearTail();
}

void LightTableOfBit::ClearTail()
{
    if ((m_size & 63) != 0)
        m_words.back() &= ~(kAllOnes << (m_size & 63));
}

void LightTableOfBit::Set(uint32_t i, bool v)
{
    if (i >= m_size)
        return;
    const uint64_t bit = uint64_t(1) << (i & 63);
    if (v)
        m_words[i >> 6] |= bit;
    else
        m_words[i >> 6] &= ~bit;
}

uint32_t LightTableOfBit::CountSet() const
{
    uint32_t n = 0;
    for (uint64_t word : m_words)
        n += uint32_t(__builtin_popcountll(word));
    return n;
}

uint32_t LightTableOfBit::FindNextSet(uint32_t from) const
{
    if (from >= m_size)
        return m_size;
    size_t w = from >> 6;
    uint64_t word = m_words[w] & (kAllOnes << (from & 63));
    while (word == 0)
    {
        if (++w == m_words.size())
            return m_size;
        word = m_words[w];
    }
    return uint32_t(w * 64 + LowestSetBit(word)); // bits past m_size are clear
}

uint64_t LightTableOfBit::Iterator::Increment()
{
    if (m_table == nullptr || m_position >= m_table->Size())
        return 0;
    const uint32_t next = m_table->FindNextSet(m_position + 1);
    if (next >= m_table->Size())
        return 0;
    const uint64_t distance = next - m_position;
    m_position = next;
    return distance;
}

} // namespace orv::Collection

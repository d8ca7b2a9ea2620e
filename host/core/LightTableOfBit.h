#pragma once

#include "host/core/CoreExport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::Collection
{

// One bit per position (e.g. per stored point of a subset: set = selected). Bits past Size()
// are kept clear, so searches can work a 64-bit word at a time. Out-of-range positions read as
// clear and writes to them are ignored. Not synchronised: one writer or many readers.
class ORV_CORE_API LightTableOfBit
{
public:
    explicit LightTableOfBit(uint32_t size = 0, bool value = false);

    // New positions take `value`; existing ones keep theirs.
    void Resize(uint32_t n, bool value);
    void Set(uint32_t i, bool v);
    bool Get(uint32_t i) const { return i < m_size && ((m_words[i >> 6] >> (i & 63)) & 1u) != 0; }
    uint32_t Size() const { return m_size; }
    uint32_t CountSet() const;

    // First set position >= from, or Size() when there is none.
    uint32_t FindNextSet(uint32_t from) const;

    // Walks the set positions. The iterator borrows the table, which must outlive it.
    class ORV_CORE_API Iterator
    {
    public:
        Iterator() = default;
        // Stands on `position` whether or not that bit is set; Increment looks beyond it.
        Iterator(const LightTableOfBit* table, uint32_t position)
            : m_table(table), m_position(position)
        {
        }

        // Moves to the next set position after the current one and gives the distance moved;
        // gives 0 and stays when no set position is left (and for a default iterator).
        uint64_t Increment();
        uint32_t Position() const { return m_position; }

    private:
        const LightTableOfBit* m_table = nullptr;
        uint32_t m_position = 0;
    };

private:
    void ClearTail();

    std::vector<uint64_t> m_words;
    uint32_t m_size = 0;
};

} // namespace orv::Collection

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
    const uint32_t old = mSize;
    mWords.resize(WordsFor(n), 0);
    mSize = n;
    if (value && n > old)
    {
        // Partial word holding the first new position, then whole words.
        uint32_t i = old;
        if ((i & 63) != 0)
        {
            mWords[i >> 6] |= kAllOnes << (i & 63);
            i = (i | 63) + 1;
        }
        for (size_t w = i >> 6; w < mWords.size(); ++w)
            mWords[w] = kAllOnes;
    }
    ClearTail();
}

void LightTableOfBit::ClearTail()
{
    if ((mSize & 63) != 0)
        mWords.back() &= ~(kAllOnes << (mSize & 63));
}

void LightTableOfBit::Set(uint32_t i, bool v)
{
    if (i >= mSize)
        return;
    const uint64_t bit = uint64_t(1) << (i & 63);
    if (v)
        mWords[i >> 6] |= bit;
    else
        mWords[i >> 6] &= ~bit;
}

uint32_t LightTableOfBit::CountSet() const
{
    uint32_t n = 0;
    for (uint64_t word : mWords)
        n += uint32_t(__builtin_popcountll(word));
    return n;
}

uint32_t LightTableOfBit::FindNextSet(uint32_t from) const
{
    if (from >= mSize)
        return mSize;
    size_t w = from >> 6;
    uint64_t word = mWords[w] & (kAllOnes << (from & 63));
    while (word == 0)
    {
        if (++w == mWords.size())
            return mSize;
        word = mWords[w];
    }
    return uint32_t(w * 64 + LowestSetBit(word)); // bits past mSize are clear
}

uint64_t LightTableOfBit::Iterator::Increment()
{
    if (mTable == nullptr || mPosition >= mTable->Size())
        return 0;
    const uint32_t next = mTable->FindNextSet(mPosition + 1);
    if (next >= mTable->Size())
        return 0;
    const uint64_t distance = next - mPosition;
    mPosition = next;
    return distance;
}

} // namespace orv::Collection

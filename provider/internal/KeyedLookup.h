#pragma once

#include <stdexcept>

namespace orv::DataProxy
{

// The keyed look-up of the library's tables: the element under `key`, or std::out_of_range
// with the message "invalid unordered_map<K, T> key" when the table lacks it. Standard
// library implementations word their own `at` failure differently; callers rely on this
// exact text.
template <class Map, class Key>
auto& AtOrThrow(Map& map, const Key& key)
{
    const auto found = map.find(key);
    if (found == map.end())
    {
        throw std::out_of_range("invalid unordered_map<K, T> key");
    }
    return found->second;
}

} // namespace orv::DataProxy

#pragma once

#include <stdexcept>

namespace orv::DataProxy
{

// The failure of the library's keyed look-ups (a cursor's getter asked for an index it has no
// reader for): std::out_of_range with the message "invalid unordered_map<K, T> key". Standard
// library implementations word their own `at` failure differently; callers rely on this exact
// text.
[[noreturn]] inline void ThrowMissingKey()
{
    throw std::out_of_range("invalid unordered_map<K, T> key");
}

} // namespace orv::DataProxy

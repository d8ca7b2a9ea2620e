#pragma once

#include "host/base/BaseExport.h"

#include <cstdint>

// Which of two sets of free choices this reference host makes.
//
// Wherever the host application's interface leaves a behaviour open (the order and start of
// type ids, subset sizes, the frame of a new cloud, what memory the host did not write holds,
// which conversion policies the host registers itself, the normal codec, ...), the reference
// host makes one firm choice. Code tested against only those choices can come to depend on them
// without noticing. The alternate host makes the other legal choice in each place, so a test
// suite that passes on both relies on nothing the real host may do differently.
//
// The variant is read once, when OrvBase loads: the environment variable ORV_HOST_VARIANT set to
// "alternate" selects the alternate host; anything else (or nothing) the reference host. Tests
// may switch it in-process before any cloud exists (orv::Testing::UseHostVariant, OrvGeometry).
// The choices themselves are listed in host/README.md.

namespace orv
{

enum class HostVariant : int
{
    Reference = 0,
    Alternate = 1,
};

ORV_BASE_API HostVariant CurrentHostVariant();

inline bool IsAlternateHost()
{
    return CurrentHostVariant() == HostVariant::Alternate;
}

// The byte the alternate host leaves in memory it hands out without writing it (New(false)
// elements) and in the elements a point lacks: a pattern no one would take for a real value
// (205 as a byte, 52685 as 16 bits, about -4.3e8 as a float).
constexpr uint8_t kAlternateFillByte = 0xCD;

namespace Details
{
// Sets the variant. Only orv::Testing::UseHostVariant calls it, after checking that no cloud
// exists; anything else would mix the two sets of choices in one cloud.
ORV_BASE_API void SetHostVariant(HostVariant variant);
} // namespace Details

} // namespace orv

#pragma once

#include "contract/Interfaces.h"
#include "las/LasExport.h"
#include "las/LasFields.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orv::DataProxy::Las
{

// The public header block as the reader understood it.
struct ORV_LAS_API LasHeader
{
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint16_t headerSize = 0;
    std::uint32_t offsetToPointData = 0;
    std::uint32_t vlrCount = 0;
    std::uint8_t pointFormat = 0;
    std::uint16_t recordLength = 0;
    // The legacy 32-bit count, or the 64-bit count of a 1.4 file whose legacy count is 0.
    std::uint64_t pointCount = 0;
    // Points by return number 1 to 15 as recorded (five legacy entries before 1.4; in a 1.4
    // file the 64-bit ones unless all of them are 0). Informative only: never checked.
    std::array<std::uint64_t, 15> pointsByReturn{};
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    // Bounds as recorded by the writer; nothing guarantees they match the points.
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    std::string systemIdentifier;
    std::string generatingSoftware;

    bool HasRgb() const;
};

enum class LasColorDepth : std::uint8_t
{
    // 16-bit colours unless no channel of any point exceeds 255: many writers put 8-bit
    // colours in the 16-bit fields. Costs a pass over the colours before the points are
    // delivered, which stops at the first value above 255.
    Detect,
    Bits16, // channel / 65535, as the format defines
    Bits8,  // channel / 255
};

struct LasReadOptions
{
    LasColorDepth colorDepth = LasColorDepth::Detect;
    // Bytes of point records read at once (at least one record): the reader's memory.
    std::size_t chunkBytes = std::size_t{4} << 20;
    // Called after every chunk with the points delivered so far and the total.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

struct LasSource;

// Reads uncompressed LAS files, versions 1.0 to 1.4, point formats 0 to 10 (the waveform
// packet descriptors of 4, 5, 9 and 10 are skipped, as is any waveform data).
//
// The constructor reads the header and the variable-length record headers, and checks every
// field it uses against the real size of the input: a truncated or inconsistent file, or a
// compressed (LAZ) one, gives a LasError naming the file and the fault, never a read out of
// range or an allocation sized by an unchecked field. ReadInto then streams the point records
// chunk by chunk, so memory stays at one chunk whatever the file's size.
//
// One thread at a time per reader; separate readers share nothing.
class ORV_LAS_API LasReader
{
public:
    explicit LasReader(const std::string& path);
    // A file held in memory by the caller for the reader's life; `name` starts every message.
    // `data` may be null only when `size` is 0.
    LasReader(const std::uint8_t* data, std::size_t size, const std::string& name);
    ~LasReader();
    LasReader(const LasReader&) = delete;
    LasReader& operator=(const LasReader&) = delete;

    const LasHeader& Header() const;

    // Hands every point, in file order, to the builder, a block of up to 256 at a time through
    // AppendBlock (the same as AddPointData per point for any builder): the position (scaled
    // and offset, world coordinates), the record's ordinal as point index, and the value of
    // `fields` under their keys; a key of no field, or a field the point format lacks, has no
    // value. Returns the number of points delivered. May be
    // called again: it reads from the start. Throws LasError when the file cannot be read,
    // std::invalid_argument for an unusable `fields`; the builder's exceptions pass through.
    std::uint64_t ReadInto(orv::DataProxy::IPointDataBuilder& builder, const LasFieldMap& fields,
                           const LasReadOptions& options = {}) const;

    // The usual whole load: a builder of `factory`, whose consumer asks for the position and
    // the keys of `fields`, receives every point; its result is returned. Throws as ReadInto.
    std::shared_ptr<orv::DataProxy::IPointDataProvider>
    ReadAll(const orv::DataProxy::IPointDataBuilderFactory& factory, const LasFieldMap& fields,
            const LasReadOptions& options = {}) const;

private:
    std::unique_ptr<LasSource> m_source;
    LasHeader m_header;
};

} // namespace orv::DataProxy::Las

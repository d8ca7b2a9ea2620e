#pragma once

#include "contract/Interfaces.h"
#include "las/LasExport.h"
#include "las/LasFields.h"
#include "las/LasHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::DataProxy::Las
{

// How the 16-bit colour channels of the file become the contract's [0, 1].
enum class LasColorDepth : std::uint8_t
{
    // For a store of 8 bits per channel, such as the host's colour clouds: a file whose
    // channels are all at most 255 (many writers put 8-bit colours in the 16-bit fields) is
    // read as it is, channel / 255; any other file gives its channels' high byte,
    // (channel >> 8) / 255, which the host keeps exactly (channel / 65535 rounded to 8 bits
    // would turn c * 256 into c - 1 for c >= 129). The writer puts the host's 8 bits back
    // times 257, and restores the file's own 16 bits through the record copy. Costs a pass
    // over the colours before the points are delivered, which stops at the first value above
    // 255 (done once per reader).
    Detect,
    Bits16, // channel / 65535, as the format defines: for consumers that keep 16 bits
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

    // The name the messages start with: the path, or the name given with the memory.
    const std::string& Name() const;
    // Whether every colour channel of the file is at most 255 (false without colours).
    bool EightBitColors() const;
    // Copies `count` bytes at `at` of the file (inside it, as the header's records say) to
    // `sink`, in pieces: for the writer, which copies records and extended records.
    void ReadBytes(std::uint64_t at, std::uint64_t count,
                   const std::function<void(const std::uint8_t*, std::size_t)>& sink) const;
    // The `count` bytes at `at` of the file (inside it, as the header's records say): a pointer
    // into the caller's memory for a reader over memory (valid while it is), else into `buffer`,
    // read from the file (valid until `buffer` changes). For the writer's record copy.
    const std::uint8_t* Bytes(std::uint64_t at, std::size_t count,
                              std::vector<std::uint8_t>& buffer) const;
    // Whether `path` names this reader's file (same device and inode): the writer refuses to
    // write over the file it copies from.
    bool IsFile(const std::string& path) const;

    // Hands every point, in file order, to the builder, a block of up to 256 at a time through
    // AppendBlock (the same as AddPointData per point for any builder): the position (scaled
    // and offset, world coordinates), the record's ordinal as point index, and the value of
    // `fields` under their keys; a key of no field, or a field the point format lacks, has no
    // value. ELasField::RecordNumber gives the record's ordinal, for files of at most 2^32
    // points (LasError for larger ones, whose ordinals a 4-byte host value cannot hold).
    // Fields not in `fields` are not decoded at all: leave out what you do not use (an RGB
    // never used made a read 70 % slower). Returns the number of points delivered. May be
    // called again: it reads from the start. Throws LasError when the file cannot be read,
    // std::invalid_argument for an unusable `fields`; the builder's exceptions pass through.
    std::uint64_t ReadInto(orv::DataProxy::IPointDataBuilder& builder, const LasFieldMap& fields,
                           const LasReadOptions& options = {}) const;

    // The usual whole load: a builder of `factory`, whose consumer asks for the position and
    // the keys of `fields`, receives every point; its result is returned. Throws as ReadInto.
    //
    // Into host clouds, give a factory whose new clouds have their frame at the data: a
    // PrototypedBuilderFactory whose prototype is an empty cloud framed at
    // Header().FrameOrigin(). A builder cannot choose its cloud's frame, and a host that keeps
    // the identity frame stores projected coordinates (hundreds of kilometres) as floats in
    // steps of centimetres, which the builder refuses with std::range_error. The caller builds
    // the prototype with its host's own means (on the real host, its own frame call); on our
    // hosts LasBuilderFactory (las/LasPrototype.h) gives such a factory.
    std::shared_ptr<orv::DataProxy::IPointDataProvider>
    ReadAll(const orv::DataProxy::IPointDataBuilderFactory& factory, const LasFieldMap& fields,
            const LasReadOptions& options = {}) const;

private:
    std::unique_ptr<LasSource> m_source;
    LasHeader m_header;
    mutable int m_eightBit = -1; // EightBitColors, once known
};

} // namespace orv::DataProxy::Las

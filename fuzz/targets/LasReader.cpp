// The LAS library's reader over arbitrary bytes: either a LasError naming the input when the
// reader is constructed, or a header that fits the bytes and a read that delivers exactly the
// points it announces, with every field in its format's range, never another exception.
// Reading is deterministic, also with chunks of a few records.

#include "las/LasReader.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace orv::Fuzz
{
namespace
{

using namespace orv::DataProxy::Las;
using C = orv::DataProxy::EPointDataComponent;

const char kName[] = "fuzz-input.las";

// Every field under a key of its own.
const LasFieldMap kFields = {
    {ELasField::Intensity, {C::UnsignedInteger, 0}},
    {ELasField::ReturnNumber, {C::UnsignedInteger, 1}},
    {ELasField::NumberOfReturns, {C::UnsignedInteger, 2}},
    {ELasField::Classification, {C::UnsignedInteger, 3}},
    {ELasField::UserData, {C::UnsignedInteger, 4}},
    {ELasField::Nir, {C::UnsignedInteger, 5}},
    {ELasField::PointSourceId, {C::SignedInteger, 0}},
    {ELasField::ScanAngle, {C::Real, 0}},
    {ELasField::GpsTime, {C::Real, 1}},
    {ELasField::Rgb, {C::Color, 0}},
};

// Checks every point as it arrives and keeps a checksum of the positions.
class CheckingBuilder final : public orv::DataProxy::IPointDataBuilder
{
public:
    explicit CheckingBuilder(const LasHeader& read) : header(read) {}
    std::uint64_t count = 0;
    std::uint64_t checksum = 0;

    void Reserve(std::uint64_t n) override { ORV_FUZZ_CHECK(n == header.pointCount); }
    void AddPointData(const orv::DataProxy::IPointDataAccessor& point) override
    {
        const unsigned format = header.pointFormat;
        const bool extended = format >= 6;
        ORV_FUZZ_CHECK(point.GetPointIndex() == count);
        const auto p = point.GetPosition();
        for (const double v : {p.x, p.y, p.z})
        {
            // A 32-bit integer times a checked scale plus a checked offset stays finite.
            ORV_FUZZ_CHECK(std::isfinite(v)) << v;
            std::uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            checksum = checksum * 1099511628211ull + bits;
        }
        ORV_FUZZ_CHECK(*point.GetUnsignedInteger(0) <= 65535);
        ORV_FUZZ_CHECK(*point.GetUnsignedInteger(1) <= (extended ? 15u : 7u));
        ORV_FUZZ_CHECK(*point.GetUnsignedInteger(2) <= (extended ? 15u : 7u));
        ORV_FUZZ_CHECK(*point.GetUnsignedInteger(3) <= (extended ? 255u : 31u));
        ORV_FUZZ_CHECK(*point.GetUnsignedInteger(4) <= 255);
        ORV_FUZZ_CHECK(point.GetUnsignedInteger(5).has_value() == (format == 8 || format == 10));
        ORV_FUZZ_CHECK(*point.GetSignedInteger(0) >= 0 && *point.GetSignedInteger(0) <= 65535);
        ORV_FUZZ_CHECK(std::abs(*point.GetReal(0)) <= (extended ? 32768 * 0.006 : 128.0));
        ORV_FUZZ_CHECK(point.GetReal(1).has_value() == (format != 0 && format != 2));
        const auto color = point.GetColor(0);
        ORV_FUZZ_CHECK(color.has_value() == header.HasRgb());
        if (color)
            for (const double c : {color->r, color->g, color->b})
                ORV_FUZZ_CHECK(c >= 0.0 && c <= 1.0 && color->a == 1.0) << c;
        // Keys of no field have no value.
        ORV_FUZZ_CHECK(!point.GetUnsignedInteger(6) && !point.GetReal(2) && !point.GetVector3(0));
        ++count;
    }
    std::shared_ptr<orv::DataProxy::IPointDataProvider> GetResult() override { return nullptr; }

private:
    const LasHeader& header;
};

std::unique_ptr<LasReader> Open(const std::uint8_t* data, std::size_t size)
{
    try
    {
        return std::make_unique<LasReader>(data, size, kName);
    }
    catch (const LasError& error)
    {
        const std::string message = error.what();
        ORV_FUZZ_CHECK(message.rfind(std::string(kName) + ": ", 0) == 0) << message;
        ORV_FUZZ_CHECK(message.size() > sizeof kName + 1) << "the error says what is wrong";
        return nullptr;
    }
}

} // namespace

void RunLasReader(const std::uint8_t* data, std::size_t size)
{
    const std::unique_ptr<LasReader> reader = Open(data, size);
    if (!reader)
        return;
    const LasHeader& h = reader->Header();
    // Every record lies inside the input: nothing was read, or allocated, beyond it.
    ORV_FUZZ_CHECK(h.versionMajor == 1 && h.versionMinor <= 4 && h.pointFormat <= 10);
    ORV_FUZZ_CHECK(h.headerSize <= h.offsetToPointData && h.offsetToPointData <= size);
    ORV_FUZZ_CHECK(h.recordLength >= 20);
    ORV_FUZZ_CHECK(h.pointCount <= (size - h.offsetToPointData) / h.recordLength);
    for (std::size_t axis = 0; axis < 3; ++axis)
        ORV_FUZZ_CHECK(std::isfinite(h.scale[axis]) && h.scale[axis] != 0.0 &&
                       std::isfinite(h.offset[axis]));

    // Chunks of two records, then the default: the same points either way.
    CheckingBuilder small(h);
    LasReadOptions options;
    options.chunkBytes = 3 * std::size_t{h.recordLength} - 1;
    ORV_FUZZ_CHECK(reader->ReadInto(small, kFields, options) == h.pointCount);
    ORV_FUZZ_CHECK(small.count == h.pointCount) << small.count << " vs " << h.pointCount;
    CheckingBuilder whole(h);
    reader->ReadInto(whole, kFields);
    ORV_FUZZ_CHECK(whole.count == small.count && whole.checksum == small.checksum);
}

} // namespace orv::Fuzz

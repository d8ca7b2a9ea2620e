#pragma once

// What the fuzz targets share: a reader that turns arbitrary bytes into decisions and values,
// and the failure every target reports when an invariant does not hold.
//
// Every target is a plain function over a byte string. It returns normally when the input
// kept every invariant and throws FuzzFailure when one broke; any other exception escaping a
// target is a failure too. The libFuzzer entry point (entry/Fuzzer.cpp) turns a failure into an
// abort (a crash report with the input saved); the replay tests turn it into a test failure
// naming the corpus file.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

namespace orv::Fuzz
{

struct FuzzFailure : std::logic_error
{
    using std::logic_error::logic_error;
};

// Throws FuzzFailure naming the place and the broken condition, with optional detail streamed
// after the macro: ORV_FUZZ_CHECK(a == b) << "a " << a;
class FailureMessage
{
public:
    FailureMessage(const char* file, int line, const char* condition)
    {
        text << file << ':' << line << ": " << condition;
    }
    template <class T>
    FailureMessage& operator<<(const T& value)
    {
        text << (first ? " (" : "") << value;
        first = false;
        return *this;
    }
    // Thrown from the destructor of the temporary, once the detail has been streamed in.
    ~FailureMessage() noexcept(false)
    {
        if (!first)
            text << ')';
        throw FuzzFailure(text.str());
    }

private:
    std::ostringstream text;
    bool first = true;
};

// A loop rather than an if: the macro may be the body of an unbraced if/else. The body
// throws, so it never runs twice.
#define ORV_FUZZ_CHECK(condition)                                                                  \
    while (!(condition))                                                                           \
    ::orv::Fuzz::FailureMessage(__FILE__, __LINE__, #condition)

// Consumes the input from the front. Past the end every read gives zero, so any input,
// however short, decodes to a complete (if dull) run.
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t* bytes, std::size_t count) : data(bytes), size(count) {}

    bool Empty() const { return position >= size; }

    std::uint8_t U8() { return Empty() ? 0 : data[position++]; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | std::uint32_t{U16()} << 16; }
    std::uint64_t U64() { return static_cast<std::uint64_t>(U32()) | std::uint64_t{U32()} << 32; }
    bool Bool() { return (U8() & 1) != 0; }

    // A value in [0, n) for n >= 1.
    std::size_t Below(std::size_t n) { return n <= 256 ? U8() % n : U16() % n; }

    // Any bit pattern: NaNs with payloads, infinities, denormals, negative zero.
    double RawDouble() { return Raw<double>(U64()); }
    float RawFloat() { return Raw<float>(U32()); }

    template <class T, std::size_t N>
    const T& Pick(const T (&choices)[N])
    {
        return choices[Below(N)];
    }

private:
    template <class T, class Bits>
    static T Raw(Bits bits)
    {
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

// The four targets (fuzz/README.md says what each drives and checks); each throws FuzzFailure
// when an invariant breaks.
void RunBuilderSequences(const std::uint8_t* data, std::size_t size);
void RunQueryRecords(const std::uint8_t* data, std::size_t size);
void RunPolicyBytes(const std::uint8_t* data, std::size_t size);
void RunLasReader(const std::uint8_t* data, std::size_t size);

} // namespace orv::Fuzz

// Replays the committed seed corpus of every fuzz target, then a fixed-seed batch of mutated
// inputs derived from it (bit flips, byte changes, insertions, truncations, splices), so the
// targets' invariants are checked in every build and under the sanitizer presets too.
#include "examples/las/LasReader.h"
#include "fuzz/FuzzSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Target = void (*)(const std::uint8_t*, std::size_t);

struct Corpus
{
    std::vector<std::string> names;
    std::vector<Bytes> inputs;
};

Corpus Load(const std::string& target)
{
    Corpus corpus;
    const std::filesystem::path folder = std::filesystem::path(ORV_FUZZ_CORPUS_DIR) / target;
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(folder))
    {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
        {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files)
    {
        std::ifstream in(file, std::ios::binary);
        corpus.names.push_back(file.filename().string());
        corpus.inputs.emplace_back(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
    }
    return corpus;
}

// Runs one input; a failure names the input and the broken invariant.
void Replay(Target target, const Bytes& input, const std::string& name)
{
    try
    {
        target(input.data(), input.size());
    }
    catch (const std::exception& e)
    {
        ADD_FAILURE() << name << ": " << e.what();
    }
}

Bytes Mutate(const Corpus& corpus, std::mt19937& random)
{
    Bytes bytes = corpus.inputs[random() % corpus.inputs.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e)
    {
        const std::size_t at = bytes.empty() ? 0 : random() % bytes.size();
        switch (random() % 5)
        {
        case 0:
            if (!bytes.empty())
                bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            break;
        case 1:
            if (!bytes.empty())
                bytes[at] = static_cast<std::uint8_t>(random());
            break;
        case 2:
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         static_cast<std::uint8_t>(random()));
            break;
        case 3:
            bytes.resize(at);
            break;
        default:
        {
            const Bytes& other = corpus.inputs[random() % corpus.inputs.size()];
            if (!other.empty())
            {
                const std::size_t from = random() % other.size();
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
            }
            break;
        }
        }
    }
    return bytes;
}

struct TargetCase
{
    const char* name;
    Target target;
    int mutations; // per run; the slow targets get fewer
};

void PrintTo(const TargetCase& c, std::ostream* out)
{
    *out << c.name;
}

class FuzzReplay : public ::testing::TestWithParam<TargetCase>
{
};

TEST_P(FuzzReplay, SeedCorpusAndFixedSeedMutationsKeepEveryInvariant)
{
    const TargetCase& c = GetParam();
    const Corpus corpus = Load(c.name);
    // A missing corpus must not pass as an empty one.
    ASSERT_GE(corpus.inputs.size(), 5u) << "seed corpus of " << c.name;
    for (std::size_t i = 0; i < corpus.inputs.size(); ++i)
    {
        EXPECT_LE(corpus.inputs[i].size(), 4096u) << corpus.names[i] << ": keep seeds small";
        Replay(c.target, corpus.inputs[i], corpus.names[i]);
    }
    std::mt19937 random(20240611u);
    for (int m = 0; m < c.mutations && !HasFailure(); ++m)
        Replay(c.target, Mutate(corpus, random), std::string("mutation ") + std::to_string(m));
    // The empty input and a lone byte decode too.
    Replay(c.target, {}, "empty input");
    Replay(c.target, {0xFF}, "one byte");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, FuzzReplay,
    ::testing::Values(TargetCase{"builder_sequences", orv::Fuzz::RunBuilderSequences, 1500},
                      TargetCase{"query_records", orv::Fuzz::RunQueryRecords, 800},
                      TargetCase{"policy_bytes", orv::Fuzz::RunPolicyBytes, 10000},
                      TargetCase{"las_reader", orv::Fuzz::RunLasReader, 10000}),
    [](const ::testing::TestParamInfo<TargetCase>& target)
    { return std::string(target.param.name); });

// The LAS seeds are meant to reach the reader's record loop: every one of them must load.
TEST(FuzzReplayLasSeeds, EverySeedIsAWellFormedFile)
{
    const Corpus corpus = Load("las_reader");
    std::size_t loaded = 0;
    for (std::size_t i = 0; i < corpus.inputs.size(); ++i)
    {
        if (corpus.names[i].rfind("las_1", 0) != 0)
            continue; // inputs the fuzzer found, kept for coverage
        const Bytes& bytes = corpus.inputs[i];
        EXPECT_NO_THROW(orv::Demo::Las::ReadLasBuffer(bytes.data(), bytes.size(), corpus.names[i]))
            << corpus.names[i];
        ++loaded;
    }
    EXPECT_GE(loaded, 10u);
}

} // namespace

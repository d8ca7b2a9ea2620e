// Replays the committed seed corpus of every fuzz target, then a fixed-seed batch of mutated
// inputs derived from it (bit flips, byte changes, insertions, truncations, splices), so the
// targets' invariants are checked in every build and under the sanitizer presets too.
#include "fuzz/FuzzSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

struct TargetCase
{
    const char* name;
    void (*target)(const std::uint8_t*, std::size_t);
};

constexpr int kMutations = 10000;

class FuzzReplay : public ::testing::TestWithParam<TargetCase>
{
protected:
    // Runs one input; a failure names the input and the broken invariant.
    void Replay(const Bytes& input, const std::string& name)
    {
        try
        {
            GetParam().target(input.data(), input.size());
        }
        catch (const std::exception& e)
        {
            ADD_FAILURE() << name << ": " << e.what();
        }
    }
};

TEST_P(FuzzReplay, SeedsAndMutations)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(ORV_FUZZ_CORPUS_DIR) / GetParam().name))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 5u) << "seed corpus of " << GetParam().name; // not an empty one
    std::vector<Bytes> corpus;
    for (const auto& file : files)
    {
        std::ifstream in(file, std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        EXPECT_LE(corpus.back().size(), 4096u) << file << ": keep seeds small";
        Replay(corpus.back(), file.filename().string());
    }
    std::mt19937 random(20240611u);
    for (int m = 0; m < kMutations && !HasFailure(); ++m)
    {
        Bytes bytes = corpus[random() % corpus.size()];
        for (int e = 1 + int(random() % 4); e > 0; --e)
        {
            const std::size_t at = bytes.empty() ? 0 : random() % bytes.size();
            const auto where = bytes.begin() + std::ptrdiff_t(at);
            const Bytes& other = corpus[random() % corpus.size()];
            const int op = int(random() % 4);
            if (op == 0 && !bytes.empty())
                bytes[at] ^= std::uint8_t(random() % 2 ? 1u << (random() % 8) : random());
            else if (op == 1)
                bytes.insert(where, std::uint8_t(random()));
            else if (op == 2)
                bytes.resize(at);
            else if (op == 3 && !other.empty())
                bytes.insert(where, other.begin() + std::ptrdiff_t(random() % other.size()),
                             other.end());
        }
        Replay(bytes, "mutation " + std::to_string(m));
    }
    Replay({}, "empty input");
    Replay({0xFF}, "one byte");
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(TargetCase{"builder_sequences",
                                                      orv::Fuzz::RunBuilderSequences},
                                           TargetCase{"query_records", orv::Fuzz::RunQueryRecords},
                                           TargetCase{"policy_bytes", orv::Fuzz::RunPolicyBytes},
                                           TargetCase{"las_reader", orv::Fuzz::RunLasReader}),
                         [](const ::testing::TestParamInfo<TargetCase>& target)
                         { return std::string(target.param.name); });

} // namespace

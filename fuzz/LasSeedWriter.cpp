// Writes the seed files of the LAS reader's fuzz target: small synthetic files of every version
// (1.0 to 1.4) and point format (0 to 10) the reader supports, a few with a variable-length
// record before the points, extra bytes per record or no points at all, made by the LAS tests'
// own writer (tests/support/LasFiles.h).
// Usage: orv_fuzz_las_seeds <folder>

#include "tests/support/LasFiles.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    using orv::TestSupport::Recipe;
    const Recipe recipes[] = {
        {0, 0, 3, 0, true},  {1, 1, 2, 0, false}, {2, 0, 3, 0, false}, {2, 1, 3, 0, true},
        {2, 2, 2, 0, false}, {2, 3, 3, 4, false}, {3, 1, 2, 0, false}, {3, 3, 0, 0, true},
        {3, 4, 2, 0, false}, {3, 5, 2, 0, true},  {4, 0, 2, 0, false}, {4, 6, 3, 0, false},
        {4, 7, 2, 2, true},  {4, 8, 3, 0, false}, {4, 9, 2, 0, false}, {4, 10, 2, 3, false},
    };
    for (const Recipe& r : recipes)
    {
        const auto bytes = orv::TestSupport::MakeLas(r);
        const std::string path = std::string(argv[1]) + "/las_1" + std::to_string(r.minor) +
                                 "_format" + std::to_string(r.format) + ".las";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return 0;
}

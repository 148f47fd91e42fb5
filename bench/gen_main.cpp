// talvo_gen <file> <N> <K> <missing rate> [seed]: writes a synthetic data
// file (missing values written as -99).
#include <cstdio>
#include <cstdlib>

#include "generate.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: talvo_gen <file> <N> <K> <missing rate> [seed]\n");
        return 2;
    }
    talvo::bench::DataShape shape;
    shape.N = std::atoll(argv[2]);
    shape.K = std::atoi(argv[3]);
    shape.missing = std::atof(argv[4]);
    if (argc > 5) shape.seed = std::strtoull(argv[5], nullptr, 10);
    std::uint64_t bytes = talvo::bench::write_data(argv[1], shape);
    std::printf("%s: %lld cases, %d variables, %llu bytes\n", argv[1], static_cast<long long>(shape.N), shape.K,
                static_cast<unsigned long long>(bytes));
    return bytes ? 0 : 1;
}

#include "generate.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace talvo::bench {

std::uint64_t write_data(const std::string& path, const DataShape& shape) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::mt19937_64 gen(shape.seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> x(static_cast<size_t>(shape.K));
    std::vector<char> line;
    std::uint64_t bytes = 0;
    char buf[64];
    for (std::int64_t i = 0; i < shape.N; ++i) {
        // A common factor makes the variables correlated.
        double common = normal(gen);
        line.clear();
        for (int j = 0; j < shape.K; ++j) {
            double v = 50.0 + 10.0 * (0.6 * common + 0.8 * normal(gen)) + j;
            int n = uniform(gen) < shape.missing ? std::snprintf(buf, sizeof buf, "%d", shape.code)
                                                 : std::snprintf(buf, sizeof buf, "%.4f", v);
            if (j) line.push_back(' ');
            line.insert(line.end(), buf, buf + n);
        }
        line.push_back('\n');
        bytes += std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
    return bytes;
}

}  // namespace talvo::bench

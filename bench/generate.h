// Synthetic data files for benchmarks: N cases of K correlated variables,
// each value missing (written as the code) with a given probability.
#pragma once

#include <cstdint>
#include <string>

namespace talvo::bench {

struct DataShape {
    std::int64_t N = 1000;
    int K = 10;
    double missing = 0.2;  // probability that a value is missing
    std::uint64_t seed = 12345;
    int code = -99;  // the missing-value code written
};

// Writes the data file; returns its size in bytes.
std::uint64_t write_data(const std::string& path, const DataShape& shape);

}  // namespace talvo::bench

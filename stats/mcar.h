// Little's test of missing completely at random, and what the data say
// about each pair of variables.
#pragma once

#include <cstdint>
#include <vector>

#include "estimate/ml.h"

namespace talvo::stats {

// One pattern's share of the test: its cases, its observed variables
// (1-based), their observed means, and n (ybar - mu)' S^-1 (ybar - mu).
struct McarPattern {
    std::int32_t pattern = 0;  // row of the pattern table
    std::int32_t cases = 0;
    std::vector<std::int32_t> observed;
    std::vector<double> means;
    double d2 = 0.0;
};

// d2 = the sum over the patterns j of n_j (ybar_j - mu_j)' S_j^-1 (ybar_j -
// mu_j), mu and S the maximum-likelihood estimates restricted to the
// variables pattern j observes; chi-square with sum_j k_j - K degrees of
// freedom under MCAR. The effect size is sqrt(d2 / N).
struct McarTest {
    double d2 = 0.0;
    std::int64_t df = 0;
    double p = 1.0;
    double effect = 0.0;
    std::vector<McarPattern> patterns;  // in the order of the pattern table, those with cases
};
McarTest little_test(const Run& run, const PatternCases& groups, const Normal& theta);

// The cases observing each pair of variables (both observed), K x K row
// after row; its smallest off-diagonal value and the harmonic mean of the
// off-diagonal values (0 when a pair is never observed together).
struct Coverage {
    std::vector<std::int64_t> pairs;
    std::int64_t complete = 0;  // cases observing every variable
    std::int64_t fewest = 0;
    double harmonic = 0.0;
};
Coverage coverage(const Run& run, const PatternCases& groups);

}  // namespace talvo::stats

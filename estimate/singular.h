// Whether a covariance matrix can carry the regressions: the check for a
// constant variable and for a variable that is a linear function of others.
// It only reads; the estimates do not change by a bit whether it is made.
#pragma once

#include <cstdint>
#include <vector>

#include "state/run.h"

namespace talvo {

// A variance below this fraction of the variable's mean square is lost in
// the rounding of the mean square (a few units of 2^-52 of it, the noise of
// a variance formed from moments): the variable counts as constant.
inline constexpr double kConstantTol = 1e-13;

// A weight in a dependency is named when its standardised size is at least
// this fraction of the largest one, and at least 10 times the square root
// of the part of the variance left (below that it is the noise of a near
// dependency).
inline constexpr double kNamedWeight = 1e-3;

// What the sweep of a covariance matrix in variable order found.
struct Singularity {
    // The variable (1..K) found constant or dependent, 0 when none is.
    std::int32_t variable = 0;
    bool constant = false;
    // Dependent: the earlier variables with a non-negligible weight in its
    // regression on them, ascending.
    std::vector<std::int32_t> related;
    // The variable's pivot over its variance (1 - R squared on the variables
    // before it); constant: its variance over its mean square.
    double ratio = 1.0;
    // With no variable found: the smallest pivot ratio over the variables,
    // and the variable that has it (1.0 and 0 for K = 1 or non-finite values).
    double smallest = 1.0;
    std::int32_t smallest_at = 0;
};

// The covariance C(1..K, 1..K) (lower triangle read) with the mean squares
// M(1..K) of the variables: each variable with a variance at or below
// kConstantTol times its mean square is constant; otherwise the matrix is
// swept in variable order and the first variable whose pivot is below
// tol times its variance is dependent. Non-finite values are passed over.
Singularity find_singularity(const Mat& C, const std::vector<double>& meansq, double tol);

// The covariance the regressions of the next pass use, from SS with divisor
// N and the ridge of run.EST, checked with tol.
Singularity check_sums(const Run& run, double tol);

// The estimate in COV checked with tol (the ratios are the same for any
// divisor).
Singularity check_estimate(const Run& run, double tol);

// Ends the run with a Degenerate RunEnd for what was found at pass `pass`
// (0: the start values).
[[noreturn]] void end_degenerate(const Run& run, const Singularity& s, std::int32_t pass);

}  // namespace talvo

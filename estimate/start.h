// Start values: the first sums matrix SS, scaled to N cases, from the
// complete cases (listwise), from every case observing the variables
// concerned (pairwise) or from given means and covariances.
#pragma once

#include "state/run.h"

namespace talvo {

// RN = N, CN = N/(N-1) and CN1 = (N-1)/N; N = 1 ends the run with the
// division-by-zero fault.
void set_sample_constants(Run& run);

// After set_sample_constants. SVC holds the given start values when SIV is
// File: SVC(0, 1..K) the means, SVC(1..K, 1..K) the covariances with
// divisor N - 1, of which the lower triangle is read.
void start_values(Run& run, const Mat& SVC);

}  // namespace talvo

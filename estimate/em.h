// The EM iteration: passes of completion (from the second on), regressions
// by sweeping, the convergence test with its log line, and the
// conditional-covariance correction for the next pass.
#pragma once

#include "state/run.h"

namespace talvo {

void em(Run& run);

// G from SS with divisor N: G(0,0) = 1, means in row and column 0, mean
// products in the rest.
void build_moments(Run& run);

// For each variable Q, its regression on the others into row Q of B, by
// sweeping with Q moved last; the convergence test and the log line on the
// way, after pivot 0 of the last regression.
void regressions(Run& run);

}  // namespace talvo

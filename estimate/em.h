// The EM iteration: passes of completion (from the second on), regressions
// by sweeping, the convergence test with its log line, and the
// conditional-covariance correction for the next pass.
#pragma once

#include "app/storage.h"

namespace talvo {

void em(Run& run);

// G from SS with divisor N: G(0,0) = 1, means in row and column 0, mean
// products in the rest.
void build_moments(Run& run);

}  // namespace talvo

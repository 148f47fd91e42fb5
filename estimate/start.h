// Start values: the first sums matrix SS, scaled to N cases, from the
// complete cases (listwise), from every case observing the variables
// concerned (pairwise) or from a covariance matrix file.
#pragma once

#include "state/run.h"

namespace talvo {

void start_values(Run& run);

}  // namespace talvo

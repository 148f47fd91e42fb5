// Missing-value coding and the complete-case and pairwise sums.
#pragma once

#include "state/run.h"

namespace talvo {

// Clears the sums and the later matrices, then makes one pass over the
// cases: codes each value observed or missing in X itself, counts the
// observed variables, adds the case to CS (complete) or to PS and PSN
// (incomplete), and writes its row of PA.
void code_and_sum(Run& run);

}  // namespace talvo

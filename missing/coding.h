// Missing-value coding, the complete-case and pairwise sums, and each
// case's missingness pattern.
#pragma once

#include "state/run.h"

namespace talvo {

// Clears the sums and the later matrices, then makes one pass over the
// cases: codes each value observed or missing (a missing one is stored as
// 0), adds the case to CS (complete) or to PS and PSN (incomplete), and
// finds its row in the pattern table (PATT), opening a new row for a new
// set of observed variables.
void code_and_classify(Run& run);

}  // namespace talvo

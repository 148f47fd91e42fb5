// Missing-value coding, the complete-case and pairwise sums, and each
// case's missingness pattern.
#pragma once

#include "state/run.h"

namespace talvo {

// One pass over the cases, the sums starting from zero: codes each value
// observed or missing (its whole-number part equal to the code MVI, or not
// a number; stored as 0), adds the case to CS (complete) or to PS and PSN (incomplete), and
// finds its row in the pattern table (PATT), opening a new row for a new
// set of observed variables.
void code_and_classify(Run& run);

}  // namespace talvo
